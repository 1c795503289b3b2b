#include "libs/HookLoader.h"

#include "libs/AVEntryPoints.h"
#include "libs/AVLibLoader.h"
#include "libs/CurrentDirectoryScope.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <dlfcn.h>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>

namespace avlib {

namespace {

// Process-wide cache of plug-in libraries, keyed by file name without regard to letter case.
// The libraries are never unloaded: running jobs and later jobs keep using their code.
struct HeldCommandLine {
    std::unique_ptr<char[]> text;
    size_t size = 0; // bytes of text, its terminating NUL included
};

struct HookLibraryCache {
    std::mutex mutex;
    std::map<std::string, void *> handles;
    std::deque<HeldCommandLine> commandLines; // the words handed to plug-ins
};

HookLibraryCache &Cache()
{
    static HookLibraryCache cache;
    return cache;
}

std::string CacheKey(const std::string &fileName)
{
    std::string key = fileName;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    return key;
}

void LogHookError(const char *format, const char *text)
{
    if (UnitLoaded(Unit::AVUtil))
        avutil.av_log(nullptr, AV_LOG_ERROR, format, text);
}

// Loads the plug-in file with its folder as the current directory, or takes it from the cache.
void *LoadHookLibrary(const std::string &fileName)
{
    HookLibraryCache &cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    const std::filesystem::path folder = std::filesystem::path(fileName).parent_path();
    // A name with a folder is taken from that folder as seen from here, before the directory changes,
    // and is cached under that place: the same relative name elsewhere is another plug-in.
    std::string path = fileName;
    if (!folder.empty()) {
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(fileName, ec);
        if (!ec)
            path = absolute.string();
    }
    const std::string key = CacheKey(path);
    if (auto it = cache.handles.find(key); it != cache.handles.end())
        return it->second;

    void *handle = nullptr;
    {
        std::optional<CurrentDirectoryScope> scope;
        if (!folder.empty())
            scope.emplace(folder);
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!handle) {
        const char *message = dlerror();
        LogHookError("%s\n", message ? message : "unknown error");
        return nullptr;
    }
    cache.handles.emplace(key, handle);
    return handle;
}

// Lets go of the copy that word points into: no plug-in has seen its words.
void ForgetCommandLine(const char *word)
{
    HookLibraryCache &cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    const std::less<const char *> before;
    // The newest copies are the likeliest.
    for (auto it = cache.commandLines.rbegin(); it != cache.commandLines.rend(); ++it) {
        const char *text = it->text.get();
        if (!before(word, text) && before(word, text + it->size)) {
            cache.commandLines.erase(std::next(it).base());
            return;
        }
    }
}

} // namespace

std::vector<char *> SplitHookCommandLine(const std::string &commandLine)
{
    HookLibraryCache &cache = Cache();
    char *copy;
    {
        std::lock_guard<std::mutex> lock(cache.mutex);
        cache.commandLines.push_back({std::make_unique<char[]>(commandLine.size() + 1), commandLine.size() + 1});
        copy = cache.commandLines.back().text.get();
    }
    std::memcpy(copy, commandLine.c_str(), commandLine.size() + 1);

    const char separator = commandLine.find('|') != std::string::npos ? '|' : ' ';
    std::vector<char *> words;
    char *p = copy;
    while (static_cast<int>(words.size()) < kMaxHookWords) {
        while (*p == separator)
            ++p;
        if (!*p)
            break;
        words.push_back(p);
        while (*p && *p != separator)
            ++p;
        if (*p)
            *p++ = '\0';
    }
    if (words.empty())
        ForgetCommandLine(copy);
    return words;
}

int THookList::AddHook(int argc, char *argv[])
{
    if (argc <= 0)
        return -2;
    // Until Configure has seen the words, a failure lets go of them; after it they stay.
    void *library = LoadHookLibrary(argv[0]);
    if (!library) {
        ForgetCommandLine(argv[0]);
        return -1;
    }

    THookEntry entry;
    entry.Configure = reinterpret_cast<THookConfigure>(dlsym(library, "Configure"));
    entry.Process = reinterpret_cast<THookProcess>(dlsym(library, "Process"));
    entry.Release = reinterpret_cast<THookRelease>(dlsym(library, "Release"));
    if (!entry.Process) {
        LogHookError("Failed to find Process entrypoint in %s\n", argv[0]);
        ForgetCommandLine(argv[0]);
        return -2;
    }
    if (!entry.Configure && argc > 1) {
        LogHookError("Failed to find Configure entrypoint in %s\n", argv[0]);
        ForgetCommandLine(argv[0]);
        return -2;
    }
    if (entry.Configure && entry.Configure(&entry.Ctx, argc, argv) != 0) {
        LogHookError("Failed to Configure %s\n", argv[0]);
        return -22;
    }
    try {
        entries_.push_back(entry);
    } catch (const std::bad_alloc &) {
        if (entry.Release)
            entry.Release(entry.Ctx);
        return -12;
    }
    return 0;
}

void THookList::RunHooks(THookPicture *picture, int pixFmt, int width, int height, int64_t pts) const
{
    for (const THookEntry &entry : entries_)
        entry.Process(entry.Ctx, picture, pixFmt, width, height, pts);
}

void THookList::ReleaseHooks()
{
    for (const THookEntry &entry : entries_)
        if (entry.Release)
            entry.Release(entry.Ctx);
    entries_.clear();
}

size_t HeldHookCommandLineCount()
{
    HookLibraryCache &cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    return cache.commandLines.size();
}

size_t LoadedHookLibraryCount()
{
    HookLibraryCache &cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    return cache.handles.size();
}

} // namespace avlib
