// Between TagLib's property maps and the neutral fields of a TTagSet. Internal to velox_tags.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>

#include <tpropertymap.h>
#include <tstring.h>

namespace tagcopy::detail {

bool ValidUtf8(const char *bytes, size_t size);
// The length of the UTF-8 sequence the bytes start with; 0 when they start with none.
size_t Utf8SequenceLength(const char *bytes, size_t size);

std::string ToUtf8(const TagLib::String &text);
// Text that is not valid UTF-8 is taken as Latin-1: TagLib would make it an empty string.
TagLib::String FromUtf8(const std::string &text);

// Adds the carried keys of map that fields does not have yet, so that a tag read earlier wins.
// Separate totals (TRACKTOTAL, DISCTOTAL and their aliases) join their number as "n/total".
// Keys whose text TagLib read as nothing (bytes it took for broken UTF-8) go into unread.
void AddCarried(const TagLib::PropertyMap &map, std::map<std::string, std::string> &fields,
                std::set<std::string> &unread);

// Sets fields in map, removing those with an empty value; a field named like the source record is passed over.
void ApplyFields(const std::map<std::string, std::string> &fields, TagLib::PropertyMap &map);

// "3/12" -> "3"; "" when the text does not start with a number.
std::string NumberPart(const std::string &numberAndTotal);

} // namespace tagcopy::detail
