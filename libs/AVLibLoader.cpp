#include "libs/AVLibLoader.h"

#include "libs/AVEntryPoints.h"
#include "libs/CurrentDirectoryScope.h"
#include "libs/LibraryLog.h"
#include "libs/TextFormat.h"

#include <atomic>
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <vector>

namespace avlib {

AVCodecEntryPoints avcodec;
AVFilterEntryPoints avfilter;
AVFormatEntryPoints avformat;
AVUtilEntryPoints avutil;
SwScaleEntryPoints swscale;
SwResampleEntryPoints swresample;
MyUtilEntryPoints myutil;

namespace {

struct EntryPoint {
    const char *name;
    void (*store)(void *address);
};

#define VELOX_ENTRY_POINT(table, name) \
    EntryPoint{#name, [](void *address) { table.name = reinterpret_cast<decltype(table.name)>(address); }},
#define VELOX_AVCODEC_ENTRY(name) VELOX_ENTRY_POINT(avcodec, name)
#define VELOX_AVFILTER_ENTRY(name) VELOX_ENTRY_POINT(avfilter, name)
#define VELOX_AVFORMAT_ENTRY(name) VELOX_ENTRY_POINT(avformat, name)
#define VELOX_AVUTIL_ENTRY(name) VELOX_ENTRY_POINT(avutil, name)
#define VELOX_SWSCALE_ENTRY(name) VELOX_ENTRY_POINT(swscale, name)
#define VELOX_SWRESAMPLE_ENTRY(name) VELOX_ENTRY_POINT(swresample, name)
#define VELOX_MYUTIL_ENTRY(name) VELOX_ENTRY_POINT(myutil, name)

const std::vector<EntryPoint> &EntryPointsOf(Unit unit)
{
    static const std::vector<EntryPoint> tables[] = {
        {VELOX_AVCODEC_ENTRY_POINTS(VELOX_AVCODEC_ENTRY)},   {VELOX_AVFILTER_ENTRY_POINTS(VELOX_AVFILTER_ENTRY)},
        {VELOX_AVFORMAT_ENTRY_POINTS(VELOX_AVFORMAT_ENTRY)}, {VELOX_AVUTIL_ENTRY_POINTS(VELOX_AVUTIL_ENTRY)},
        {VELOX_SWSCALE_ENTRY_POINTS(VELOX_SWSCALE_ENTRY)},   {VELOX_SWRESAMPLE_ENTRY_POINTS(VELOX_SWRESAMPLE_ENTRY)},
        {VELOX_MYUTIL_ENTRY_POINTS(VELOX_MYUTIL_ENTRY)},
    };
    return tables[static_cast<int>(unit)];
}

// What the headers this program was compiled with expect of each library.
struct UnitInfo {
    const char *baseName;
    int headerMajor;             // -1: no versioned name (the shim)
    unsigned (*loadedVersion)(); // the loaded library's own version, or none
};

const UnitInfo &InfoOf(Unit unit)
{
    static const UnitInfo infos[] = {
        {"libavcodec", LIBAVCODEC_VERSION_MAJOR, [] { return avcodec.avcodec_version(); }},
        {"libavfilter", LIBAVFILTER_VERSION_MAJOR, [] { return avfilter.avfilter_version(); }},
        {"libavformat", LIBAVFORMAT_VERSION_MAJOR, [] { return avformat.avformat_version(); }},
        {"libavutil", LIBAVUTIL_VERSION_MAJOR, [] { return avutil.avutil_version(); }},
        {"libswscale", LIBSWSCALE_VERSION_MAJOR, [] { return swscale.swscale_version(); }},
        {"libswresample", LIBSWRESAMPLE_VERSION_MAJOR, [] { return swresample.swresample_version(); }},
        {"libmyutil", -1, nullptr},
    };
    return infos[static_cast<int>(unit)];
}

struct UnitState {
    bool versioned = false;
    void *handle = nullptr;
    std::atomic<bool> resolved{false};
    std::string errorText;
};

UnitState unitStates[AllUnits.size()];
std::atomic<bool> allLoaded{false};
std::string loadErrorText;

UnitState &StateOf(Unit unit) { return unitStates[static_cast<int>(unit)]; }

std::string PlatformMessage()
{
    const char *message = dlerror();
    return message ? message : "unknown error";
}

// The libraries' own dependencies register exit handlers and keep process-wide allocations
// from their initialisers; unmapping them on unload would leave those dangling. Unloading
// gives the handle back, the code stays mapped.
constexpr int kLoadFlags = RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE;

// Loads one library file; the folder is the current directory while the loader runs,
// so that the library's own dependencies next to it are found as on the original platform.
void *LoadLibraryFile(const std::string &folder, const std::string &fileName, std::string &message)
{
    void *handle = nullptr;
    if (folder.empty()) {
        handle = dlopen(fileName.c_str(), kLoadFlags);
    } else {
        std::error_code ec;
        std::filesystem::path dir = std::filesystem::absolute(folder, ec);
        if (ec)
            dir = folder;
        CurrentDirectoryScope scope(dir);
        std::string path = dir.string();
        if (path.back() != '/')
            path += '/';
        path += fileName;
        handle = dlopen(path.c_str(), kLoadFlags);
    }
    if (!handle)
        message = PlatformMessage();
    return handle;
}

bool Load(Unit unit, const std::string &folder)
{
    UnitState &state = StateOf(unit);
    if (state.handle)
        return true;
    const std::string fileName = UnitFileName(unit, state.versioned);
    std::string message;
    state.handle = LoadLibraryFile(folder, fileName, message);
    // The system does not know the shim, nor the libraries of an install under its own prefix:
    // what its search misses is taken from the program's own folder.
    if (!state.handle && folder.empty()) {
        std::string ignored;
        state.handle = LoadLibraryFile(DefaultLibraryDir(), fileName, ignored);
    }
    if (!state.handle) {
        state.errorText = FormatText("Load libraray %s error: %s", fileName.c_str(), message.c_str());
        return false;
    }
    return true;
}

void ClearTable(Unit unit)
{
    for (const EntryPoint &entry : EntryPointsOf(unit))
        entry.store(nullptr);
}

// A library of another major version than the headers has other structure layouts:
// calling it would corrupt memory, so it is refused like a file that does not load.
bool CheckVersion(Unit unit)
{
    const UnitInfo &info = InfoOf(unit);
    if (!info.loadedVersion)
        return true;
    const unsigned version = info.loadedVersion();
    if (static_cast<int>(version >> 16) == info.headerMajor)
        return true;
    StateOf(unit).errorText = FormatText("Load libraray %s error: version %u.%u.%u found, %d required",
                                         UnitFileName(unit, StateOf(unit).versioned).c_str(), version >> 16,
                                         (version >> 8) & 0xFF, version & 0xFF, info.headerMajor);
    return false;
}

} // namespace

bool ResolveUnit(Unit unit, std::string &outText, const std::string &folder, bool versioned)
{
    UnitState &state = StateOf(unit);
    state.versioned = versioned;
    bool ok = Load(unit, folder);
    if (ok && !state.resolved) {
        for (const EntryPoint &entry : EntryPointsOf(unit)) {
            dlerror();
            void *address = dlsym(state.handle, entry.name);
            if (!address) {
                state.errorText = FormatText("Load function %s@%s error: %s", entry.name,
                                             UnitFileName(unit, state.versioned).c_str(), PlatformMessage().c_str());
                ok = false;
                break;
            }
            entry.store(address);
        }
        ok = ok && CheckVersion(unit);
        if (ok)
            state.resolved = true;
        else
            ClearTable(unit);
    }
    if (!ok)
        outText = state.errorText;
    return ok;
}

std::string UnitFileName(Unit unit, bool versioned)
{
    const UnitInfo &info = InfoOf(unit);
    std::string name = std::string(info.baseName) + ".so";
    if (versioned && info.headerMajor >= 0)
        name += "." + std::to_string(info.headerMajor);
    return name;
}

bool LoadAll(const std::string &folder, bool versioned)
{
    if (allLoaded)
        return true;
    loadErrorText.clear();
    bool ok = true;
    for (Unit unit : AllUnits) {
        if (!ResolveUnit(unit, loadErrorText, folder, versioned)) {
            ok = false;
            break;
        }
    }
    allLoaded = ok;
    if (ok)
        SetLogThreshold(avutil.av_log_get_level());
    else
        UnloadAll();
    return allLoaded;
}

void UnloadAll()
{
    allLoaded = false;
    for (Unit unit : AllUnits)
        UnloadUnit(unit);
}

void UnloadUnit(Unit unit)
{
    UnitState &state = StateOf(unit);
    if (!state.handle)
        return;
    state.resolved = false;
    ClearTable(unit);
    dlclose(state.handle);
    state.handle = nullptr;
}

bool AllLoaded() { return allLoaded; }

std::string LastErrorText() { return loadErrorText; }

bool UnitLoaded(Unit unit) { return StateOf(unit).resolved; }

bool UnitHasHandle(Unit unit) { return StateOf(unit).handle != nullptr; }

std::string UnitErrorText(Unit unit) { return StateOf(unit).errorText; }

void CheckProbeLibraries()
{
    static const std::pair<Unit, const char *> checks[] = {
        {Unit::AVCodec, "LibAVCodec not loaded."},
        {Unit::AVFormat, "LibAVFormat not loaded."},
        {Unit::AVUtil, "LibAVUtil not loaded."},
        {Unit::SwScale, "LibSwScale not loaded."},
    };
    for (const auto &[unit, message] : checks)
        if (!UnitLoaded(unit))
            throw LibraryNotLoadedError(message);
}

std::string ExecutableDir()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

std::string DefaultLibraryDir()
{
    namespace fs = std::filesystem;
    const fs::path programDir = ExecutableDir();
    // A build puts the folder beside the program; an install puts it under lib/, found from bin/.
    for (const fs::path &folder : {programDir / "LibAV", programDir / VELOX_INSTALLED_LIBAV_FROM_BIN}) {
        std::error_code ec;
        if (fs::is_directory(folder, ec))
            return folder.lexically_normal().string();
    }
    return (programDir / "LibAV").string();
}

} // namespace avlib
