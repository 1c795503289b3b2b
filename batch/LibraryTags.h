// Tags and the cover of a file as the media libraries read them, for the containers TagLib does
// not know (Matroska, WebM and others).
#pragma once

#include "tags/TagSet.h"

#include <string>

namespace batch {

// The carried fields of the file, text made UTF-8, and its cover: the attached picture named or
// marked as the front cover, else the first one. False when the libraries cannot open the file;
// true with an empty set when it holds nothing to carry. The libraries must be loaded.
bool ReadLibraryTags(const std::string &path, tagcopy::TTagSet &tags);

} // namespace batch
