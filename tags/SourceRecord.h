// The record of the input an output was converted from, kept in the output's ID3v2 tag. Internal to
// velox_tags.
#pragma once

#include <string>

#include <id3v2tag.h>

namespace tagcopy::detail {

// Replaces the tag's record by one of this file name.
void PutSourceName(const std::string &name, TagLib::ID3v2::Tag &tag);

// The recorded file name; "" when the tag holds none.
std::string SourceName(const TagLib::ID3v2::Tag &tag);

} // namespace tagcopy::detail
