// One tagged source converted to every sound format, and the checks of what a format made of it,
// shared by the command line's and the window's tests.
#pragma once

#include "batch/OutputFormats.h"
#include "tags/TagSet.h"
#include "tests/support/MediaFixtures.h"
#include "tests/tags/SourceTagging.h"

#include <string>

namespace tagtest {

struct TFormatSource {
    std::string path;
    tagcopy::TTagSet tags; // as TagLib reads the source: nine fields and the cover
    testing_support::DecodedAudio audio;
};

// The nine carried fields of the tests' tagged sources under that title, and writing them into one.
std::map<std::string, std::string> FieldsTitled(const std::string &title);
void TagTitled(TSource kind, const std::string &path, const std::string &title,
               const std::vector<TTestPicture> &pictures = {});

// Two seconds of music-like 48 kHz stereo FLAC at path, with the nine carried fields and a PNG front
// cover (48 kHz: Opus keeps the very samples' count).
TFormatSource MakeFormatSource(const std::string &path);

// What format made of source in output, at that quality: its codec; the bit rate the stream states,
// within 3%, where the quality is one; the source's length where the container keeps the encoder's
// delay and padding (M4A's as it states it; the libraries' reader plays its last frame whole), else
// within two frames; lossless ones sample for sample; every field and the cover's bytes where the
// format holds tags.
void ExpectMadeOf(const batch::OutputFormat &format, const batch::FormatQuality &quality, const TFormatSource &source,
                  const std::string &output);

} // namespace tagtest
