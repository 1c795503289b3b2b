// Tag and cover-art carry-over through TagLib: read from MP3, FLAC, Ogg, M4A and WAV (and any other
// file TagLib knows), written to MP3 and WAV outputs. Errors are false and a plain reason that names
// the file. Safe to call from several threads for different files.
#pragma once

#include "TagSet.h"

#include <string>

namespace tagcopy {

struct TWriteOptions {
    int id3v2Version = 3; // 3 or 4: ID3v2.3 is what most players and devices read
};

// The carried fields and the front cover (else the first picture) of a file. A file without tags
// gives an empty set and true; a file TagLib cannot read gives false.
bool ReadTags(const std::string &path, TTagSet &tags, std::string &error);

// Sets the given fields in the file and makes the picture its front cover; other tags of the file
// stay. A field with an empty value is removed. MP3: ID3v2 (an ID3v1 tag the file already has is
// kept in step; none is added). WAV: an ID3v2 chunk and the RIFF INFO list. An empty set writes
// nothing.
bool WriteTags(const std::string &path, const TTagSet &tags, std::string &error, const TWriteOptions &options = {});

// ReadTags(from) then WriteTags(to). A source without tags leaves the output untouched and is no error.
bool CopyTags(const std::string &from, const std::string &to, std::string &error, const TWriteOptions &options = {});

} // namespace tagcopy
