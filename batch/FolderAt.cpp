#include "batch/FolderAt.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace batch {

void UniqueFd::Reset()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

UniqueFd OpenFolder(const fs::path &folder, bool make)
{
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (folder.native().size() < PATH_MAX) { // the usual case: one call
        UniqueFd opened(open(folder.empty() ? "." : folder.c_str(), kFlags));
        if (opened || errno != ENOENT || !make)
            return opened;
    }
    UniqueFd current(open(folder.is_absolute() ? "/" : ".", kFlags));
    for (const fs::path &part : folder.relative_path()) {
        if (!current)
            break;
        if (part.empty())
            continue; // a trailing separator
        int next = openat(current.Get(), part.c_str(), kFlags);
        if (next < 0 && errno == ENOENT && make) {
            if (mkdirat(current.Get(), part.c_str(), 0777) != 0 && errno != EEXIST)
                return UniqueFd();
            next = openat(current.Get(), part.c_str(), kFlags);
        }
        current = UniqueFd(next);
    }
    return current;
}

std::string OneCallPath(const fs::path &path, UniqueFd &folder)
{
    if (path.native().size() < PATH_MAX)
        return path.string();
    folder = OpenFolder(path.parent_path(), false);
    return folder ? "/proc/self/fd/" + std::to_string(folder.Get()) + "/" + path.filename().string() : path.string();
}

bool StatAt(const fs::path &path, struct stat &info, bool followLinks)
{
    if (path.native().size() < PATH_MAX)
        return (followLinks ? stat(path.c_str(), &info) : lstat(path.c_str(), &info)) == 0;
    const UniqueFd folder = OpenFolder(path.parent_path(), false);
    return folder && fstatat(folder.Get(), path.filename().c_str(), &info, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
}

} // namespace batch
