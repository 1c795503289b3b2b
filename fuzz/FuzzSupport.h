// Pieces the fuzz targets share: the media libraries, a folder for the files of each case, and the
// way a broken rule is reported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzz_support {

// Loads the media libraries from the LibAV folder beside the executable and sends their log lines
// to a sink that formats and drops them (VELOX_FUZZ_LOG=1 prints them instead). Aborts on failure.
void LoadLibraries();

// A folder of this process under the temporary folder, removed with its content at exit.
const std::filesystem::path &WorkDir();
std::string WorkFile(const std::string &name);
void WriteBytes(const std::string &path, const uint8_t *data, size_t size);
// Removes every entry of the work folder except those named in keep.
void ClearWorkDir(const std::vector<std::string> &keep = {});

// Reports a broken rule of the code under test and aborts, so that libFuzzer keeps the input.
[[noreturn]] void Finding(const std::string &what);

} // namespace fuzz_support
