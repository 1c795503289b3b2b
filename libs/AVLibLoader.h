// Process-wide run-time binding of the media libraries and the runtime shim:
// all units load together or none stays loaded.
#pragma once

#include <array>
#include <stdexcept>
#include <string>

namespace avlib {

// Binding units in load order.
enum class Unit { AVCodec, AVFilter, AVFormat, AVUtil, SwScale, SwResample, MyUtil };
inline constexpr std::array<Unit, 7> AllUnits = {Unit::AVCodec, Unit::AVFilter,   Unit::AVFormat, Unit::AVUtil,
                                                 Unit::SwScale, Unit::SwResample, Unit::MyUtil};

// Raised by CheckProbeLibraries.
class LibraryNotLoadedError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "libavcodec.so.59" when versioned (the major of the installed headers), "libavcodec.so" otherwise.
std::string UnitFileName(Unit unit, bool versioned);

// Loads and resolves every unit from folder (empty: the system's default search, then
// DefaultLibraryDir() for a unit the system does not have, such as the shim), in order,
// stopping at the first failure and unloading everything then. A second call after success
// returns true at once, whatever its arguments.
bool LoadAll(const std::string &folder, bool versioned);
void UnloadAll();

bool AllLoaded();
// Text of the last failed LoadAll.
std::string LastErrorText();

// One unit on its own: loads it from folder when it has no handle yet, then resolves its
// table. On failure outText gets the unit's error text and the handle stays loaded.
bool ResolveUnit(Unit unit, std::string &outText, const std::string &folder, bool versioned);
void UnloadUnit(Unit unit);

// A unit's loaded flag: every entry point of its table was found.
bool UnitLoaded(Unit unit);
bool UnitHasHandle(Unit unit);
std::string UnitErrorText(Unit unit);

// Throws LibraryNotLoadedError for the first of avcodec, avformat, avutil, swscale not loaded.
void CheckProbeLibraries();

// Folder of the running executable.
std::string ExecutableDir();
// Where the program's libraries live: its "LibAV" subfolder in a build, lib/velox/LibAV of the
// prefix once installed (whichever exists; the first when neither does).
std::string DefaultLibraryDir();

} // namespace avlib
