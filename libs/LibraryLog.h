// Process-wide log threshold of the media libraries, shared by every engine.
#pragma once

namespace avlib {

// Library log level (AV_LOG_*) up to which the process-wide log callback passes lines on.
int LogThreshold();
void SetLogThreshold(int level);

// Library log level for an engine verbosity: -1 quiet, 0 errors, 1 information, 2 debug, 3 all.
int LibraryLogLevel(int verbose);

} // namespace avlib
