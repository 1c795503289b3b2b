// Between TagLib's property maps and the neutral fields of a TTagSet. Internal to velox_tags.
#pragma once

#include <map>
#include <string>

#include <tpropertymap.h>
#include <tstring.h>

namespace tagcopy::detail {

std::string ToUtf8(const TagLib::String &text);
TagLib::String FromUtf8(const std::string &text);

// Adds the carried keys of map that fields does not have yet, so that a tag read earlier wins.
// Separate totals (TRACKTOTAL, DISCTOTAL and their aliases) join their number as "n/total".
void AddCarried(const TagLib::PropertyMap &map, std::map<std::string, std::string> &fields);

// Sets fields in map, removing those with an empty value.
void ApplyFields(const std::map<std::string, std::string> &fields, TagLib::PropertyMap &map);

// "3/12" -> "3"; "" when the text does not start with a number.
std::string NumberPart(const std::string &numberAndTotal);

} // namespace tagcopy::detail
