// Files reached one folder at a time, so that a path longer than the kernel takes in one piece
// still works, as it does for a shell that changes into each folder in turn.
#pragma once

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <utility>

namespace batch {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void Reset();

private:
    int fd_ = -1;
};

// The folder ("" is the current one), opened one name at a time from the root or the current
// folder; with make, each missing folder is made on the way. Invalid with errno set when it fails.
UniqueFd OpenFolder(const std::filesystem::path &folder, bool make);

// A path that opens the file in one call however long it is: the path itself, or the file's name
// under its folder's descriptor, which folder then holds.
std::string OneCallPath(const std::filesystem::path &path, UniqueFd &folder);

// stat (followLinks) or lstat of a path of any length; false with errno set.
bool StatAt(const std::filesystem::path &path, struct stat &info, bool followLinks);

} // namespace batch
