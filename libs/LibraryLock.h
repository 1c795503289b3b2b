// One process-wide lock around the library calls that must not run concurrently:
// reading stream information while an input is added, and every codec open and close.
#pragma once

#include <mutex>

std::recursive_mutex &LibraryLock();
