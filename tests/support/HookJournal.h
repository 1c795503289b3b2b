// Reads the journal of the recording test plug-in; empty while the hook loader has not loaded it.
#pragma once

#include <dlfcn.h>
#include <string>

inline std::string RecordingHookJournal()
{
    void *library = dlopen(RECORDING_HOOK, RTLD_NOW | RTLD_NOLOAD);
    if (!library)
        return "";
    auto journal = reinterpret_cast<const char *(*)()>(dlsym(library, "HookJournal"));
    std::string text = journal ? journal() : "<no journal>";
    dlclose(library);
    return text;
}
