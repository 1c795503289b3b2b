#include "batch/SafeOutput.h"

#include "batch/CaseFolding.h"
#include "batch/StaleTemporaries.h"
#include "batch/TemporaryName.h"
#include "libs/AVEntryPoints.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace batch {

namespace {

constexpr size_t kNameMax = 255; // bytes in one file name on the usual Linux file systems
constexpr int kSymlinkHops = 40;

// Every SafeOutput with a temporary file, for the abrupt end that has no time for destructors.
struct Registry {
    std::mutex lock;
    std::vector<const SafeOutput *> live;
    bool abandoned = false;
};

Registry &TheRegistry()
{
    static Registry registry;
    return registry;
}

std::string ErrnoText(int error) { return std::strerror(error); }

// Devices, processes and kernel settings are written as they are, never replaced.
bool InSystemFolder(const fs::path &path)
{
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec).lexically_normal();
    if (ec)
        return false;
    auto top = absolute.begin(); // the root, then the first folder under it
    if (top == absolute.end() || ++top == absolute.end())
        return false;
    return *top == "dev" || *top == "proc" || *top == "sys";
}

// Where the bytes of a name end up: links are followed so that a link stays a link, and a link
// that leads nowhere is itself the place, to be replaced.
struct Destination {
    UniqueFd folder;
    fs::path folderPath;
    std::string name;
    bool regular = true; // a regular file, or nothing yet
};

// 0, or the errno of what failed; destination.folderPath tells where when its folder failed.
int Resolve(const fs::path &path, bool makeFolders, Destination &destination)
{
    fs::path at = path;
    for (int hop = 0; hop <= kSymlinkHops; ++hop) {
        destination.folderPath = at.parent_path();
        destination.name = at.filename().string();
        destination.folder = OpenFolder(destination.folderPath, makeFolders);
        if (!destination.folder)
            return errno;
        if (destination.name.empty() || destination.name == "." || destination.name == "..") {
            destination.regular = false; // a folder
            return 0;
        }
        const int folder = destination.folder.Get();
        struct stat info {};
        if (fstatat(folder, destination.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(info.st_mode)) {
            destination.regular = S_ISREG(info.st_mode);
            return 0;
        }
        if (fstatat(folder, destination.name.c_str(), &info, 0) != 0)
            return errno == ENOENT ? 0 : errno;
        if (!S_ISREG(info.st_mode)) {
            destination.regular = false;
            return 0;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t size = readlinkat(folder, destination.name.c_str(), target.data(), target.size());
        if (size < 0)
            return errno;
        target.resize(static_cast<size_t>(size));
        at = fs::path(target).is_absolute() ? fs::path(target) : destination.folderPath / target;
        makeFolders = false;
    }
    return ELOOP;
}

// The local path an engine name stands for; false for what the engine writes directly.
bool LocalPath(const std::string &output, const AVOutputFormat *format, std::string &path, bool &filePrefix)
{
    filePrefix = output.rfind("file:", 0) == 0;
    if (filePrefix) {
        path = output.substr(5);
    } else {
        const char *protocol = avlib::avformat.avio_find_protocol_name(output.c_str());
        if (protocol && std::strcmp(protocol, "file") != 0)
            return false;
        path = output;
    }
    if (path.empty() || InSystemFolder(path))
        return false;
    // A muxer that makes its files itself (playlists and their parts, several outputs at once, a
    // numbered series of pictures) writes them where they go; a single picture is one file.
    const AVOutputFormat *muxer = format ? format : avlib::avformat.av_guess_format(nullptr, path.c_str(), nullptr);
    if (!muxer || !(muxer->flags & AVFMT_NOFILE))
        return true;
    return std::strcmp(muxer->name, "image2") == 0 && !avlib::avformat.av_filename_number_test(path.c_str());
}

// What the engine guesses the muxer from: the name's last dot on.
std::string Extension(const std::string &path)
{
    const std::string name = fs::path(path).filename().string();
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

// The mode a new file gets from the process's file mode mask, read without changing it.
mode_t NewFileMode()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    return 0644;
}

} // namespace

SafeOutput::SafeOutput(const std::string &output, const AVOutputFormat *format) : output_(output), engineName_(output)
{
    if (output == "-") {
        if (isatty(STDOUT_FILENO))
            throw std::runtime_error(
                "standard output is a terminal: name an output file, or send the output elsewhere");
        engineName_ = "pipe:1";
        return;
    }
    std::string path;
    bool filePrefix = false;
    if (!LocalPath(output, format, path, filePrefix))
        return;
    Destination destination;
    const int error = Resolve(path, false, destination);
    if (error == ELOOP || (error == 0 && !destination.regular))
        return; // devices, FIFOs, folders, link loops: the engine reports what opening them gives
    if (error != 0)
        throw std::runtime_error("cannot create a temporary file beside '" + output + "': " + ErrnoText(error));
    folder_ = std::move(destination.folder);
    name_ = destination.name;
    MakeTemporary(destination.folderPath, Extension(path), filePrefix);
}

SafeOutput::SafeOutput(PlainFile, const std::string &path) : output_(path), engineName_(path)
{
    Destination destination;
    const int error = Resolve(path, true, destination);
    if (error != 0 && !destination.folder)
        throw std::runtime_error("cannot make the folder '" + destination.folderPath.string() +
                                 "': " + ErrnoText(error));
    if (error != 0)
        throw std::runtime_error("cannot write '" + path + "': " + ErrnoText(error));
    if (!destination.regular)
        throw std::runtime_error("'" + path + "' is not a regular file; it is left as it was");
    folder_ = std::move(destination.folder);
    name_ = destination.name;
    MakeTemporary(destination.folderPath, Extension(path), false);
}

void SafeOutput::MakeTemporary(const fs::path &folderPath, const std::string &extension, bool filePrefix)
{
    // What opening the output itself would refuse is refused before any work: a rename would not.
    const long nameMax = fpathconf(folder_.Get(), _PC_NAME_MAX);
    if (name_.size() > static_cast<size_t>(nameMax > 0 ? nameMax : kNameMax))
        throw std::runtime_error("Could not open '" + output_ + "': " + ErrnoText(ENAMETOOLONG));
    struct stat existing {};
    if (fstatat(folder_.Get(), name_.c_str(), &existing, 0) == 0 &&
        faccessat(folder_.Get(), name_.c_str(), W_OK, 0) != 0)
        throw std::runtime_error("Could not open '" + output_ + "': " + ErrnoText(errno));
    nameTaken_ = fstatat(folder_.Get(), name_.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;

    const size_t nameBytes = static_cast<size_t>(nameMax > 0 ? nameMax : kNameMax);
    const std::string candidate = TemporaryNameOf(name_, extension, nameBytes);
    // Made under the registry's lock, so that an abrupt end cannot come between making and registering.
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.lock);
    if (registry.abandoned)
        throw std::runtime_error("'" + output_ + "' is left as it was: the program is ending");
    // Made nameless and locked first where the file system allows, so that no other run's clean-up
    // can ever see it unlocked; named at once then, never over a file or a link already there.
    UniqueFd nameless(openat(folder_.Get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (nameless)
        flock(nameless.Get(), LOCK_EX | LOCK_NB);
    const std::string opened = "/proc/self/fd/" + std::to_string(nameless.Get());
    int error = 0;
    for (int attempt = 0; attempt < 3 && !file_; ++attempt) {
        if (nameless) {
            if (linkat(AT_FDCWD, opened.c_str(), folder_.Get(), candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                file_ = std::move(nameless);
            } else if (errno != EEXIST) { // no way to name it: made with its name instead
                nameless.Reset();
                continue;
            }
        } else {
            file_ = UniqueFd(
                openat(folder_.Get(), candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (file_)
                flock(file_.Get(), LOCK_EX | LOCK_NB); // held while it lives: one nobody holds is stale
        }
        if (file_) {
            temporaryName_ = candidate;
            break;
        }
        error = errno;
        if (error != EEXIST)
            break;
        // Every run names this output's temporary file alike: one held is another run's at work.
        if (const Stale stale = RemoveIfStale(folder_.Get(), candidate, OpenFiles());
            stale != Stale::Removed && stale != Stale::Gone)
            throw BeingConverted("'" + output_ + "' is being converted by another run; it is left to that run");
    }
    if (!file_)
        throw std::runtime_error("cannot create a temporary file beside '" + output_ + "': " + ErrnoText(error));
    struct stat created {};
    if (fstat(file_.Get(), &created) != 0) {
        error = errno;
        unlinkat(folder_.Get(), temporaryName_.c_str(), 0);
        throw std::runtime_error("cannot create a temporary file beside '" + output_ + "': " + ErrnoText(error));
    }
    device_ = created.st_dev;
    inode_ = created.st_ino;
    foldsCase_ = OwnNameFoldsCase(folder_.Get(), temporaryName_);
    temporary_ = (folderPath / temporaryName_).string();
    // Too long a path for the kernel in one piece: reached through the folder's descriptor instead,
    // its name kept for the muxer to be told from.
    if (temporary_.size() >= PATH_MAX)
        temporary_ = "/proc/self/fd/" + std::to_string(folder_.Get()) + "/" + temporaryName_;
    // A name the libraries could read as a protocol keeps the "file:" that makes it a path.
    engineName_ = filePrefix || temporary_.find(':') != std::string::npos ? "file:" + temporary_ : temporary_;
    registry.live.push_back(this);
}

SafeOutput::~SafeOutput()
{
    if (Direct())
        return;
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.lock);
    if (!committed_)
        RemoveTemporary();
    registry.live.erase(std::remove(registry.live.begin(), registry.live.end(), this), registry.live.end());
}

void SafeOutput::RemoveTemporary() const
{
    // Only the file made here: the engine may have removed it, and another may carry the name now.
    struct stat now {};
    if (fstatat(folder_.Get(), temporaryName_.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == device_ &&
        now.st_ino == inode_)
        unlinkat(folder_.Get(), temporaryName_.c_str(), 0);
}

bool SafeOutput::Commit(std::string &error, bool replace)
{
    if (Direct())
        return true;
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.lock);
    if (committed_)
        return true;
    if (registry.abandoned) {
        error = "'" + output_ + "' is left as it was: the program is ending";
        return false;
    }
    const int folder = folder_.Get();
    const char *temporary = temporaryName_.c_str(), *name = name_.c_str();
    struct stat now {};
    if (fstatat(folder, temporary, &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != device_ || now.st_ino != inode_) {
        error = "nothing was written to '" + output_ + "'; it is left as it was";
        return false;
    }
    struct stat older {};
    const mode_t mode = fstatat(folder, name, &older, 0) == 0 ? older.st_mode & 0777 : NewFileMode();
    const auto failed = [&](const char *what) {
        const int code = errno;
        error = std::string(what) + " '" + output_ + "': " + ErrnoText(code);
        return false;
    };
    // Volumes without permissions (FAT, exFAT) may refuse any change; the file is theirs to show.
    if (fchmod(file_.Get(), mode) != 0 && errno != EPERM && errno != EOPNOTSUPP)
        return failed("cannot set the permissions of");
    // The data is on disk before the name points at it, so a crash leaves the old file or the new one.
    if (fsync(file_.Get()) != 0)
        return failed("cannot write");
    if (!replace) {
        if (!PlaceWithoutReplacing(error))
            return false;
    } else if (renameat(folder, temporary, folder, name) != 0) {
        return failed("cannot replace");
    }
    committed_ = true;
    file_.Reset();
    return true;
}

bool SafeOutput::PlaceWithoutReplacing(std::string &error)
{
    const int folder = folder_.Get();
    const char *temporary = temporaryName_.c_str(), *name = name_.c_str();
    const auto failed = [&](int code) {
        if (code == EEXIST) {
            appeared_ = true;
            error = "'" + output_ + "' appeared while it was converted; it is left as it is";
        } else {
            error = "cannot write '" + output_ + "': " + ErrnoText(code);
        }
        return false;
    };
    // Never over a file another run put there since the start: the kernel checks atomically.
    if (renameat2(folder, temporary, folder, name, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return failed(errno);
    // A file system without the flag: a new link fails just the same on an existing name.
    if (linkat(folder, temporary, folder, name, 0) == 0) {
        unlinkat(folder, temporary, 0);
        return true;
    }
    if (errno == EEXIST)
        return failed(errno);
    // Nor links (FAT, exFAT, many shares): the name is taken first by an empty file of ours, made
    // only where nothing is, and the finished file renamed over that one while it is still ours.
    const UniqueFd placeholder(openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!placeholder)
        return failed(errno);
    struct stat held {
    }, now{};
    if (fstat(placeholder.Get(), &held) != 0 || fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        now.st_dev != held.st_dev || now.st_ino != held.st_ino)
        return failed(EEXIST); // replaced meanwhile: what is there now is not ours
    if (renameat(folder, temporary, folder, name) != 0) {
        const int code = errno;
        unlinkat(folder, name, 0);
        return failed(code);
    }
    if (fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != device_ || now.st_ino != inode_)
        return failed(EEXIST);
    return true;
}

std::string SafeOutput::DestinationKey() const
{
    struct stat folder {};
    if (Direct() || fstat(folder_.Get(), &folder) != 0)
        return {};
    // On a volume that ignores case, names that differ in case alone are one file.
    return std::to_string(folder.st_dev) + ":" + std::to_string(folder.st_ino) + "/" +
           (foldsCase_ ? FoldCase(name_) : name_);
}

std::string SafeOutput::ShowingOutputName(std::string text) const
{
    // The temporary file's names, or the address "-" stands for.
    for (const std::string *name : {&engineName_, &temporary_}) {
        if (name->empty() || *name == output_)
            continue;
        for (size_t at = text.find(*name); at != std::string::npos; at = text.find(*name, at + output_.size()))
            text.replace(at, name->size(), output_);
    }
    return text;
}

CleanUp SafeOutput::RemoveStaleTemporaries(const std::vector<std::string> &keep) const
{
    CleanUp cleanUp;
    if (!Direct())
        RemoveStaleIn(folder_.Get(), fs::path(temporary_).parent_path().string(), FileIdsOf(keep), cleanUp);
    return cleanUp;
}

CleanUp SafeOutput::RemoveStaleTemporaries(const std::vector<std::string> &outputs,
                                           const std::vector<std::string> &keep)
{
    CleanUp cleanUp;
    const std::set<FileId> kept = FileIdsOf(keep);
    std::set<FileId> cleaned;
    const auto clean = [&](const UniqueFd &folder, const fs::path &shown) {
        struct stat info {};
        if (folder && fstat(folder.Get(), &info) == 0 && cleaned.insert({info.st_dev, info.st_ino}).second)
            RemoveStaleIn(folder.Get(), shown.string(), kept, cleanUp);
    };
    for (const std::string &output : std::set<std::string>(outputs.begin(), outputs.end())) {
        const fs::path named = fs::path(output).parent_path();
        clean(OpenFolder(named, false), named);
        // A link's temporary file is made beside the file it leads to.
        Destination destination;
        if (Resolve(output, false, destination) == 0)
            clean(destination.folder, destination.folderPath);
    }
    return cleanUp;
}

void SafeOutput::DiscardAllBeforeAbruptEnd()
{
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.lock);
    registry.abandoned = true;
    for (const SafeOutput *output : registry.live)
        if (!output->committed_)
            output->RemoveTemporary();
}

} // namespace batch
