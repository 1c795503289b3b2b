#include "batch/StaleTemporaries.h"

#include "batch/FolderAt.h"
#include "batch/TemporaryName.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace batch {

namespace {

bool IsNumber(const char *name)
{
    if (!*name)
        return false;
    for (; *name; ++name)
        if (!std::isdigit(static_cast<unsigned char>(*name)))
            return false;
    return true;
}

} // namespace

std::set<FileId> OpenFiles()
{
    std::set<FileId> open;
    DIR *processes = opendir("/proc");
    if (!processes)
        return open;
    while (const dirent *process = readdir(processes)) {
        if (!IsNumber(process->d_name))
            continue;
        const std::string fds = std::string("/proc/") + process->d_name + "/fd";
        DIR *listing = opendir(fds.c_str());
        if (!listing)
            continue;
        while (const dirent *fd = readdir(listing)) {
            struct stat info {};
            if (IsNumber(fd->d_name) && stat((fds + "/" + fd->d_name).c_str(), &info) == 0 && S_ISREG(info.st_mode))
                open.insert({info.st_dev, info.st_ino});
        }
        closedir(listing);
    }
    closedir(processes);
    return open;
}

std::set<FileId> FileIdsOf(const std::vector<std::string> &paths)
{
    std::set<FileId> ids;
    for (const std::string &path : paths) {
        struct stat info {};
        if (StatAt(path, info, true))
            ids.insert({info.st_dev, info.st_ino});
    }
    return ids;
}

Stale RemoveIfStale(int folder, const std::string &name, const std::set<FileId> &open, const std::set<FileId> &keep)
{
    const UniqueFd file(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!file)
        return errno == ENOENT ? Stale::Gone : Stale::Kept;
    struct stat info {};
    if (fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode) || keep.count({info.st_dev, info.st_ino}))
        return Stale::Kept;
    if (flock(file.Get(), LOCK_EX | LOCK_NB) != 0)
        return Stale::Locked; // a run at work on it
    if (open.count({info.st_dev, info.st_ino}))
        return Stale::HeldOpen;
    return unlinkat(folder, name.c_str(), 0) == 0 ? Stale::Removed : Stale::Failed;
}

void RemoveStaleIn(int folder, const std::string &shownFolder, const std::set<FileId> &keep, CleanUp &cleanUp)
{
    DIR *listing = fdopendir(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listing)
        return;
    std::vector<std::string> candidates;
    while (const dirent *entry = readdir(listing))
        if (IsTemporaryName(entry->d_name))
            candidates.emplace_back(entry->d_name);
    closedir(listing);
    if (candidates.empty())
        return;
    const std::set<FileId> open = OpenFiles();
    for (const std::string &name : candidates) {
        const std::string shown = "'" + (fs::path(shownFolder) / name).string() + "'";
        switch (RemoveIfStale(folder, name, open, keep)) {
        case Stale::Removed:
            ++cleanUp.removed;
            break;
        case Stale::HeldOpen:
            cleanUp.notes.push_back(shown + " looks like a temporary file of a stopped run, but a program holds it "
                                            "open; it is left as it is");
            break;
        case Stale::Failed:
            cleanUp.notes.push_back(shown +
                                    ", a temporary file of a stopped run, cannot be removed: " + std::strerror(errno));
            break;
        default:
            break;
        }
    }
}

} // namespace batch
