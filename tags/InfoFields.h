// The RIFF INFO list of a WAV file and the neutral fields. Internal to velox_tags.
#pragma once

#include <map>
#include <string>

#include <infotag.h>
#include <tpropertymap.h>

namespace tagcopy::detail {

// INFO text is read as UTF-8 when it is valid UTF-8, else as Latin-1 (older writers), and written as
// UTF-8, as the media libraries write it. Installed once for the process, before any INFO is read.
void UseInfoTextHandler();

// The carried keys an INFO list holds, under their neutral names.
TagLib::PropertyMap InfoProperties(const TagLib::RIFF::Info::Tag &info);

// Sets the INFO entries of the fields INFO can hold (no album artist, no disc); an empty value
// removes the entry.
void WriteInfo(const std::map<std::string, std::string> &fields, TagLib::RIFF::Info::Tag &info);

} // namespace tagcopy::detail
