// printf-style formatting into a std::string, always with "." as the decimal separator.
#pragma once

#include <cstdarg>
#include <string>

namespace avlib {

std::string FormatText(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char *format, va_list args);

} // namespace avlib
