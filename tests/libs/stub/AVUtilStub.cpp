// Stand-in for libavutil with every entry point of the binding's table as an empty function,
// and a version function that reports STUB_MAJOR. Never called beyond the version.
#include "libs/AVEntryPointNames.h"

#define avutil_version avutil_version_placeholder
#define STUB_FUNCTION(name) \
    extern "C" void name(void) {}
VELOX_AVUTIL_ENTRY_POINTS(STUB_FUNCTION)
#undef avutil_version

extern "C" unsigned avutil_version(void) { return STUB_MAJOR << 16; }
