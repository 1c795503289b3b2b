// A test plug-in that lacks "Process", the one entry point every plug-in needs.
#include "libs/VideoHook.h"

extern "C" __attribute__((visibility("default"))) int Configure(void **, int, char **) { return 0; }
