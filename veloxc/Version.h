// The version veloxc reports; the number comes from the build (the project's version).
#pragma once

#ifndef VELOX_VERSION
#error "VELOX_VERSION must be defined by the build"
#endif

namespace veloxc {

constexpr const char *kVersionLine = "veloxc " VELOX_VERSION;

} // namespace veloxc
