#include "SafeOutput.h"

#include "AVEntryPoints.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace veloxc {

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

// The path the output's bytes end up in: symbolic links are followed so that a link stays a link.
// False when the output is to be written directly.
bool ResolveDestination(const std::string &path, fs::path &destination)
{
    destination = path;
    for (int hop = 0;; ++hop) {
        if (InSystemFolder(destination))
            return false;
        struct stat link {};
        if (lstat(destination.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
            break;
        std::error_code ec;
        const fs::path target = fs::read_symlink(destination, ec);
        if (ec || hop == kSymlinkHops)
            return false; // a loop or an unreadable link: the engine reports what opening it gives
        destination = target.is_absolute() ? target : destination.parent_path() / target;
    }
    struct stat existing {};
    return stat(destination.c_str(), &existing) != 0 || S_ISREG(existing.st_mode);
}

// The local path a plain or "file:" output names; false for what the engine writes directly.
bool LocalPath(const std::string &output, std::string &path, bool &filePrefix)
{
    filePrefix = output.rfind("file:", 0) == 0;
    if (filePrefix) {
        path = output.substr(5);
    } else {
        const char *protocol = avlib::avformat.avio_find_protocol_name(output.c_str());
        if (output == "-" || (protocol && std::strcmp(protocol, "file") != 0))
            return false;
        path = output;
    }
    // A numbered image name stands for many files, made by the image muxer itself.
    return !path.empty() && !avlib::avformat.av_filename_number_test(path.c_str());
}

// What the engine guesses the muxer from: the name's last dot on.
std::string Extension(const std::string &path)
{
    const std::string name = fs::path(path).filename().string();
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

// base cut to at most size bytes, not inside a UTF-8 sequence.
std::string CutName(const std::string &base, size_t size)
{
    if (base.size() <= size)
        return base;
    while (size > 0 && (static_cast<unsigned char>(base[size]) & 0xC0) == 0x80)
        --size;
    return base.substr(0, size);
}

constexpr const char *kMarker = ".partial-";
constexpr size_t kRandomLetters = 6;

// What every temporary name of an output starts with: ".NAME.partial-", NAME cut so that the whole
// name, random letters and extension included, fits the file system.
std::string TemporaryHead(const fs::path &destination, const std::string &extension)
{
    const std::string marker = kMarker;
    const size_t fixed = 1 + marker.size() + kRandomLetters + extension.size();
    return "." + CutName(destination.filename().string(), kNameMax > fixed ? kNameMax - fixed : 0) + marker;
}

std::string RandomLetters(size_t count)
{
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    // Seeded once per thread: the exclusive creation, not the letters, is what keeps names apart.
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
    std::string letters;
    for (size_t i = 0; i < count; ++i)
        letters += kLetters[pick(random)];
    return letters;
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

SafeOutput::SafeOutput(const std::string &output) : output_(output), engineName_(output)
{
    std::string path;
    bool filePrefix = false;
    fs::path destination;
    if (!LocalPath(output, path, filePrefix) || !ResolveDestination(path, destination))
        return;
    destination_ = destination.string();
    // What opening the output itself would refuse is refused before any work: a rename would not.
    const fs::path folder = destination.parent_path().empty() ? fs::path(".") : destination.parent_path();
    const long nameMax = pathconf(folder.c_str(), _PC_NAME_MAX);
    if (destination.filename().string().size() > static_cast<size_t>(nameMax > 0 ? nameMax : kNameMax))
        throw std::runtime_error("Could not open '" + output + "': " + ErrnoText(ENAMETOOLONG));
    struct stat existing {};
    if (stat(destination_.c_str(), &existing) == 0 && access(destination_.c_str(), W_OK) != 0)
        throw std::runtime_error("Could not open '" + output + "': " + ErrnoText(errno));

    const std::string extension = Extension(path); // the user's name decides the muxer, as it would have
    const std::string head = TemporaryHead(destination, extension);
    // Made under the registry's lock, so that an abrupt end cannot come between making and registering.
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.lock);
    if (registry.abandoned)
        throw std::runtime_error("'" + output + "' is left as it was: veloxc is ending");
    int error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate =
            (destination.parent_path() / (head + RandomLetters(kRandomLetters) + extension)).string();
        // Exclusive creation: never a file or a link someone else put there.
        fd_ = open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            flock(fd_, LOCK_EX | LOCK_NB); // held while it lives: one nobody holds is stale
            temporary_ = candidate;
            break;
        }
        error = errno;
        if (error != EEXIST)
            break;
    }
    if (fd_ < 0)
        throw std::runtime_error("cannot create a temporary file beside '" + output + "': " + ErrnoText(error));
    struct stat created {};
    if (fstat(fd_, &created) != 0) {
        error = errno;
        unlink(temporary_.c_str());
        CloseFile();
        throw std::runtime_error("cannot create a temporary file beside '" + output + "': " + ErrnoText(error));
    }
    device_ = created.st_dev;
    inode_ = created.st_ino;
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
    CloseFile();
}

void SafeOutput::RemoveTemporary() const
{
    // Only the file made here: the engine may have removed it, and another may carry the name now.
    struct stat now {};
    if (lstat(temporary_.c_str(), &now) == 0 && now.st_dev == device_ && now.st_ino == inode_)
        unlink(temporary_.c_str());
}

void SafeOutput::CloseFile()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
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
        error = "'" + output_ + "' is left as it was: veloxc is ending";
        return false;
    }
    struct stat now {};
    if (lstat(temporary_.c_str(), &now) != 0 || now.st_dev != device_ || now.st_ino != inode_) {
        error = "nothing was written to '" + output_ + "'; it is left as it was";
        return false;
    }
    struct stat older {};
    const mode_t mode = stat(destination_.c_str(), &older) == 0 ? older.st_mode & 0777 : NewFileMode();
    const auto failed = [&](const char *what) {
        const int code = errno;
        error = std::string(what) + " '" + output_ + "': " + ErrnoText(code);
        return false;
    };
    if (fchmod(fd_, mode) != 0)
        return failed("cannot set the permissions of");
    // The data is on disk before the name points at it, so a crash leaves the old file or the new one.
    if (fsync(fd_) != 0)
        return failed("cannot write");
    if (!replace) {
        // Never over a file another run put there since the start: the kernel checks atomically.
        if (renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, destination_.c_str(), RENAME_NOREPLACE) != 0) {
            if (errno == EEXIST) {
                error = "'" + output_ + "' appeared while it was converted; it is left as it is";
                return false;
            }
            if (errno != EINVAL && errno != ENOSYS)
                return failed("cannot write");
            // A file system without the flag: a new link fails just the same on an existing name.
            if (link(temporary_.c_str(), destination_.c_str()) != 0) {
                if (errno == EEXIST) {
                    error = "'" + output_ + "' appeared while it was converted; it is left as it is";
                    return false;
                }
                return failed("cannot write");
            }
            unlink(temporary_.c_str());
        }
    } else if (rename(temporary_.c_str(), destination_.c_str()) != 0) {
        return failed("cannot replace");
    }
    committed_ = true;
    CloseFile();
    return true;
}

std::string SafeOutput::ShowingOutputName(std::string text) const
{
    if (Direct())
        return text;
    for (const std::string *name : {&engineName_, &temporary_})
        for (size_t at = text.find(*name); at != std::string::npos; at = text.find(*name, at + output_.size()))
            text.replace(at, name->size(), output_);
    return text;
}

int SafeOutput::RemoveStaleTemporaries(const std::string &output)
{
    return RemoveStaleTemporaries(std::vector<std::string>{output});
}

int SafeOutput::RemoveStaleTemporaries(const std::vector<std::string> &outputs)
{
    // The temporary names each output is given, ".NAME.partial-XXXXXX.EXT" (NAME cut to fit), by
    // folder: each folder is read once, however many outputs it holds.
    struct Pattern {
        std::string head, extension;
    };
    std::map<fs::path, std::vector<Pattern>> folders;
    for (const std::string &output : outputs) {
        std::string path;
        bool filePrefix = false;
        fs::path destination;
        if (!LocalPath(output, path, filePrefix) || !ResolveDestination(path, destination))
            continue;
        const std::string extension = Extension(path);
        folders[destination.parent_path().empty() ? fs::path(".") : destination.parent_path()].push_back(
            {TemporaryHead(destination, extension), extension});
    }
    int removed = 0;
    for (const auto &[folder, patterns] : folders) {
        std::error_code ec;
        for (fs::directory_iterator entry(folder, ec), end; !ec && entry != end; entry.increment(ec)) {
            const std::string name = entry->path().filename().string();
            const bool ours = std::any_of(patterns.begin(), patterns.end(), [&](const Pattern &p) {
                return name.size() == p.head.size() + kRandomLetters + p.extension.size() &&
                       name.rfind(p.head, 0) == 0 &&
                       name.compare(p.head.size() + kRandomLetters, p.extension.size(), p.extension) == 0;
            });
            if (!ours)
                continue;
            const int fd = open(entry->path().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
            if (fd < 0)
                continue;
            struct stat info {};
            // Nobody holds its lock: the run that made it is gone.
            if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                unlink(entry->path().c_str()) == 0)
                ++removed;
            close(fd);
        }
    }
    return removed;
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

} // namespace veloxc
