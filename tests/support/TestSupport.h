// Helpers shared by the test binaries: temporary folders and the media libraries.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with its content at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &Path() const { return path_; }
    std::string File(const std::string &name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// The LibAV folder beside the test executables.
std::string LibraryDir();

// Links the named files of the LibAV folder into folder (the files keep their names),
// or links target under name.
void LinkLibraries(const std::filesystem::path &folder, const std::vector<std::string> &fileNames);
void LinkFile(const std::filesystem::path &folder, const std::string &name, const std::string &target);

// Loads every library from the LibAV folder; fails the test when that is impossible.
void EnsureLibrariesLoaded();

std::filesystem::path CurrentDir();

// The whole content of a file; empty when it cannot be read.
std::string ReadText(const std::string &path);

} // namespace testing_support
