// Tags and the cover of a file as the media libraries read them, for the containers TagLib does
// not know (Matroska, WebM and others).
#pragma once

#include "tags/TagSet.h"

#include <string>

namespace batch {

// The carried fields and the first cover picture of the file; false when the libraries cannot
// open it or it holds neither. The libraries must be loaded.
bool ReadLibraryTags(const std::string &path, tagcopy::TTagSet &tags);

} // namespace batch
