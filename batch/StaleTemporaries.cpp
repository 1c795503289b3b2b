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

// Every file a process that can be read holds open, as /proc shows the descriptors.
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

} // namespace

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

bool HeldOpen(const FileId &file) { return OpenFiles().count(file) > 0; }

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
    const auto shown = [&](const std::string &name) { return (fs::path(shownFolder) / name).string(); };
    for (const std::string &name : candidates) {
        const UniqueFd file(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        struct stat info {};
        if (!file || fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode) || keep.count({info.st_dev, info.st_ino}))
            continue;
        if (flock(file.Get(), LOCK_EX | LOCK_NB) != 0)
            continue; // a run at work on it
        if (open.count({info.st_dev, info.st_ino})) {
            cleanUp.notes.push_back("'" + shown(name) +
                                    "' looks like a temporary file of a stopped run, but a program holds it open; "
                                    "it is left as it is");
            continue;
        }
        if (unlinkat(folder, name.c_str(), 0) == 0)
            ++cleanUp.removed;
        else
            cleanUp.notes.push_back("'" + shown(name) +
                                    "', a temporary file of a stopped run, cannot be removed: " + std::strerror(errno));
    }
}

} // namespace batch
