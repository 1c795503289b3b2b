// Tagged sources and the read-back of outputs for the tag tests, through TagLib itself and not
// through the code under test.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <tpropertymap.h>

namespace tagtest {

struct TTestPicture {
    int type = 3; // the ID3 and FLAC numbering: 0 other, 3 front cover, 4 back cover
    std::string mimeType;
    std::vector<unsigned char> data;
};

enum class TSource { Mp3Id3v2, Mp3Id3v1, Flac, OggVorbis, Opus, M4a, WavId3v2, WavInfo };

// The encoder a source of this kind needs.
const char *SourceEncoder(TSource kind);

// A one-second tone of this kind at path (its name ends as the kind's files do).
void MakeSource(TSource kind, const std::string &path);

// Writes the fields (neutral keys) and pictures into the source; ID3v1 and INFO take no pictures.
// Throws std::runtime_error when TagLib cannot.
void TagSource(TSource kind, const std::string &path, const TagLib::PropertyMap &fields,
               const std::vector<TTestPicture> &pictures);

// What an MP3 or WAV output holds.
struct TOutputTags {
    int id3v2Version = 0; // 0: no ID3v2 tag
    bool id3v1 = false;
    TagLib::PropertyMap id3v2;
    std::vector<TTestPicture> pictures;      // of the ID3v2 tag, in order
    std::map<std::string, std::string> info; // INFO entries, id to text
};
TOutputTags ReadOutput(const std::string &path);

std::string FileBytes(const std::string &path);

} // namespace tagtest
