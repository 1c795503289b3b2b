// Tag and cover-art carry-over through TagLib: read from MP3, FLAC, Ogg, M4A and WAV (and any other
// file TagLib knows), written to every output whose kind holds tags. Errors are false and a plain reason that names
// the file. Safe to call from several threads for different files.
#pragma once

#include "tags/TagSet.h"

#include <string>

namespace tagcopy {

struct TWriteOptions {
    int id3v2Version = 3; // 3 or 4: ID3v2.3 is what most players and devices read
};

// The carried fields and the front cover (else the first picture) of a file. A file without tags
// gives an empty set and true; a file TagLib cannot read gives false. A cover left behind for its
// size is told in leftOut.
bool ReadTags(const std::string &path, TTagSet &tags, std::string &error);

// Sets the given fields in the file and makes the picture its front cover; other tags of the file
// stay. A field with an empty value is removed. MP3: ID3v2 (an ID3v1 tag the file already has is
// kept in step; none is added). WAV: an ID3v2 chunk and the RIFF INFO list. FLAC, Ogg Vorbis and
// Opus: the Vorbis comment and a picture block; M4A: MP4 atoms with "covr"; AIFF: ID3v2; WavPack:
// APEv2; WMA: ASF attributes. An empty set writes nothing. The source name is recorded in each of
// them, replacing an earlier record: a private ID3v2 frame (MP3, WAV, AIFF), the Vorbis comment field
// VELOX_SOURCE, the MP4 freeform atom "----:velox:source", the APEv2 item and the ASF attribute
// VELOX_SOURCE. A field of the set named like the record is not written.
// damaged, when given, tells whether a failure came once writing had begun: the file can then no
// longer be trusted. Failures found before (the picture, the kind of file) leave the file as it was.
bool WriteTags(const std::string &path, const TTagSet &tags, std::string &error, const TWriteOptions &options = {},
               bool *damaged = nullptr);

// ReadTags(from) then WriteTags(to). A source without tags leaves the output untouched and is no error.
bool CopyTags(const std::string &from, const std::string &to, std::string &error, const TWriteOptions &options = {},
              bool *damaged = nullptr);

// The source name WriteTags recorded in a file of any kind it writes; empty (and true) when there is
// none. False, with a reason that names the file, when the file cannot be read or its kind holds no
// record (AC3, for one).
bool ReadSourceName(const std::string &path, std::string &name, std::string &error);

} // namespace tagcopy
