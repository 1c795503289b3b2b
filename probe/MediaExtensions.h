// The file name extensions of the media the loaded libraries read, for a file dialog's filter.
#pragma once

#include <string>
#include <vector>

namespace probe {

// Lower-case extensions without the dot, sorted and unique: those the libraries' readers name,
// and the usual names of formats they tell by content (WAV, AIFF, Ogg, ASF, MPEG ...). Readers of
// text, subtitles and single pictures are left out: they never hold sound. Needs the libraries.
std::vector<std::string> MediaFileExtensions();

} // namespace probe
