#include "tests/support/TestSupport.h"

#include "libs/AVLibLoader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <unistd.h>

namespace testing_support {

TempDir::TempDir()
{
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        path_ = base / ("velox-test-" + std::to_string(getpid()) + "-" + std::to_string(random()));
        if (std::filesystem::create_directory(path_))
            break;
    }
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string LibraryDir() { return avlib::DefaultLibraryDir(); }

void LinkLibraries(const std::filesystem::path &folder, const std::vector<std::string> &fileNames)
{
    for (const std::string &name : fileNames)
        LinkFile(folder, name, (std::filesystem::path(LibraryDir()) / name).string());
}

void LinkFile(const std::filesystem::path &folder, const std::string &name, const std::string &target)
{
    std::filesystem::create_symlink(target, folder / name);
}

void EnsureLibrariesLoaded()
{
    if (!avlib::LoadAll(LibraryDir(), true))
        FAIL() << "cannot load the media libraries: " << avlib::LastErrorText();
}

std::filesystem::path CurrentDir() { return std::filesystem::current_path(); }

std::string ReadText(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

} // namespace testing_support
