#include "tests/tags/FormatOutputs.h"

#include "libs/AVEntryPoints.h"
#include "tags/TagCopy.h"
#include "tests/tags/PictureFixtures.h"
#include "tests/tags/SourceTagging.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

namespace tagtest {

using testing_support::DecodedAudio;

std::map<std::string, std::string> FieldsTitled(const std::string &title)
{
    return {{"TITLE", title},           {"ARTIST", "The Testers"}, {"ALBUM", "Fixtures"},
            {"ALBUMARTIST", "Various"}, {"TRACKNUMBER", "3/12"},   {"DISCNUMBER", "1/2"},
            {"DATE", "2024"},           {"GENRE", "Jazz"},         {"COMMENT", "made at test time"}};
}

void TagTitled(TSource kind, const std::string &path, const std::string &title,
               const std::vector<TTestPicture> &pictures)
{
    TagLib::PropertyMap map;
    for (const auto &[key, value] : FieldsTitled(title))
        map[key] = TagLib::StringList(TagLib::String(value, TagLib::String::UTF8));
    TagSource(kind, path, map, pictures);
}

TFormatSource MakeFormatSource(const std::string &path)
{
    testing_support::MediaRecipe recipe;
    recipe.seconds = 2.0;
    recipe.audio = testing_support::AudioTrack{"flac", 48000, 2};
    recipe.audio->music = true;
    testing_support::WriteMediaFile(path, recipe);
    TagTitled(TSource::Flac, path, "Über Song", {{3, "image/png", EncodePicture("png")}});
    TFormatSource source{path, {}, testing_support::DecodeAudio(path)};
    std::string error;
    if (!tagcopy::ReadTags(path, source.tags, error) || source.tags.fields.size() != 9 || !source.tags.frontCover)
        throw std::runtime_error("the source's tags do not read back: " + error);
    return source;
}

void ExpectMadeOf(const batch::OutputFormat &format, const batch::FormatQuality &quality, const TFormatSource &source,
                  const std::string &output)
{
    const DecodedAudio made = testing_support::DecodeAudio(output);
    if (format.encoder) {
        const AVCodec *encoder = avlib::avcodec.avcodec_find_encoder_by_name(format.encoder);
        ASSERT_NE(encoder, nullptr);
        EXPECT_EQ(made.codec, avlib::avcodec.avcodec_get_name(encoder->id));
    }
    const bool rate =
        !format.ladders.empty() && format.ladders[quality.ladder].meaning == batch::QualityMeaning::BitRateKbps;
    if (rate && made.bitRate > 0) {
        EXPECT_NEAR(static_cast<double>(made.bitRate), quality.value * 1000.0, quality.value * 30.0);
    }
    // Raw AAC, AC3 and MP2 have no place for the delay and padding; the libraries' WMA decoder drops
    // its first frame.
    static const std::set<std::string> inexact = {"aac", "ac3", "mp2", "wma"};
    const auto wanted = static_cast<int64_t>(source.audio.Frames());
    const auto got = static_cast<int64_t>(made.Frames());
    if (inexact.count(format.name)) {
        EXPECT_LE(std::llabs(got - wanted), 2048) << got;
    } else if (format.name == std::string("m4a")) {
        EXPECT_EQ(made.statedFrames, wanted);
        EXPECT_TRUE(got >= wanted && got < wanted + 1024) << got;
    } else {
        EXPECT_EQ(got, wanted);
    }
    EXPECT_TRUE(!format.lossless || made.samples == source.audio.samples);
    if (!format.HoldsTags())
        return;
    tagcopy::TTagSet read;
    std::string error;
    ASSERT_TRUE(tagcopy::ReadTags(output, read, error)) << error;
    EXPECT_EQ(read.fields, source.tags.fields);
    ASSERT_TRUE(read.frontCover.has_value());
    EXPECT_TRUE(read.frontCover->data == source.tags.frontCover->data);
}

} // namespace tagtest
