// The record of the input an output was converted from, kept by each kind of tag in its own way:
// ID3v2 (MP3, WAV, AIFF) in a private frame owned by "velox:source"; a Vorbis comment (FLAC, Ogg
// Vorbis, Opus) in its field VELOX_SOURCE; MP4 (AAC, ALAC) in the freeform atom "----:velox:source";
// APEv2 (WavPack) in its item VELOX_SOURCE; ASF (WMA) in its attribute VELOX_SOURCE. Internal to
// velox_tags.
#pragma once

#include <string>

#include <apetag.h>
#include <asftag.h>
#include <id3v2tag.h>
#include <mp4tag.h>
#include <tfile.h>
#include <xiphcomment.h>

namespace tagcopy::detail {

// The record's field in Vorbis comments, APEv2 and ASF: never one of the fields carried or written as such.
inline constexpr const char *kSourceField = "VELOX_SOURCE";

// Each replaces the tag's record by one of this file name.
void PutSourceName(const std::string &name, TagLib::ID3v2::Tag &tag);
void PutSourceName(const std::string &name, TagLib::Ogg::XiphComment &comment);
void PutSourceName(const std::string &name, TagLib::MP4::Tag &tag);
void PutSourceName(const std::string &name, TagLib::APE::Tag &tag);
void PutSourceName(const std::string &name, TagLib::ASF::Tag &tag);

// The file name the file's tags record, "" when they hold none; false for a kind with no place for it.
bool RecordedSourceName(TagLib::File &file, std::string &name);

} // namespace tagcopy::detail
