// Tags and covers carried from every source kind into MP3 and WAV outputs, read back through TagLib.
#include "tags/TagCopy.h"

#include "libs/AVEntryPoints.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TestSupport.h"
#include "tests/tags/PictureFixtures.h"
#include "tests/tags/SourceTagging.h"

#include <flacfile.h>
#include <id3v1tag.h>
#include <mpegfile.h>

#include <gtest/gtest.h>

using namespace tagtest;
using testing_support::TempDir;

namespace {

using TFields = std::map<std::string, std::string>;

// Letters outside Latin-1 show every encoding step that would lose them.
const TFields kFullFields = {{"TITLE", "Ωμέγα – tëst title 日本"},
                             {"ARTIST", "Ärtist Ünïcode"},
                             {"ALBUM", "Album «Ünïcode»"},
                             {"ALBUMARTIST", "Vãrious Ärtists"},
                             {"TRACKNUMBER", "3/12"},
                             {"DISCNUMBER", "1/2"},
                             {"DATE", "2021-05-04"},
                             {"GENRE", "Jazz"},
                             {"COMMENT", "Ä comment, with ünïcode"}};
// What ID3v1 holds: Latin-1, a year, a track without total.
const TFields kId3v1Fields = {{"TITLE", "Latin-1 títle"}, {"ARTIST", "Ärtist"}, {"ALBUM", "Album"},
                              {"TRACKNUMBER", "3"},       {"DATE", "2021"},     {"GENRE", "Jazz"},
                              {"COMMENT", "A comment"}};
// What INFO holds: no album artist, no disc, a plain track number.
const TFields kInfoFields = {{"TITLE", "Ωμέγα – tëst title 日本"},
                             {"ARTIST", "Ärtist Ünïcode"},
                             {"ALBUM", "Album «Ünïcode»"},
                             {"TRACKNUMBER", "3"},
                             {"DATE", "2021-05-04"},
                             {"GENRE", "Jazz"},
                             {"COMMENT", "Ä comment, with ünïcode"}};

struct TCopyCase {
    const char *name;
    TSource kind;
    const char *fileName; // spaces and letters beyond ASCII
    const TFields *fields;
    bool pictures;      // the kind holds pictures
    bool typedPictures; // they say which is the front cover (MP4's do not)
    bool splitTotals;   // totals in fields of their own, as Vorbis comments keep them
};

const TCopyCase kCases[] = {
    {"Mp3Id3v2", TSource::Mp3Id3v2, "Quelle – ñame.mp3", &kFullFields, true, true, false},
    {"Mp3Id3v1", TSource::Mp3Id3v1, "Quelle – ñame v1.mp3", &kId3v1Fields, false, false, false},
    {"Flac", TSource::Flac, "Quelle – ñame.flac", &kFullFields, true, true, true},
    {"OggVorbis", TSource::OggVorbis, "Quelle – ñame.ogg", &kFullFields, true, true, true},
    {"Opus", TSource::Opus, "Quelle – ñame.opus", &kFullFields, true, true, true},
    {"M4a", TSource::M4a, "Quelle – ñame.m4a", &kFullFields, true, false, false},
    {"WavId3v2", TSource::WavId3v2, "Quelle – ñame.wav", &kFullFields, true, true, false},
    {"WavInfo", TSource::WavInfo, "Quelle – ñame info.wav", &kInfoFields, false, false, false},
};

enum class TOutput { Mp3, Wav };

void PrintTo(const TCopyCase &c, std::ostream *out) { *out << c.name; }

TagLib::PropertyMap SourceFields(const TCopyCase &c)
{
    TagLib::PropertyMap map;
    for (const auto &[key, value] : *c.fields) {
        const size_t slash = value.find('/');
        const bool split = c.splitTotals && slash != std::string::npos;
        map.insert(key, TagLib::String(split ? value.substr(0, slash) : value, TagLib::String::UTF8));
        if (split)
            map.insert(key == "TRACKNUMBER" ? "TRACKTOTAL" : "DISCTOTAL", TagLib::String(value.substr(slash + 1)));
    }
    return map;
}

std::string Text(const TagLib::StringList &values) { return values.toString("|").to8Bit(true); }

// An output as the conversion leaves it: with the tags the muxer wrote in its own way.
void MakeOutput(TOutput kind, const std::string &path)
{
    testing_support::MediaRecipe recipe;
    recipe.tags = {{"title", "Old title"},    {"artist", "Old artist"},
                   {"album", "Old album"},    {"track", "7/7"},
                   {"disc", "9/9"},           {"date", "1999"},
                   {"genre", "Old genre"},    {"album_artist", "Old album artist"},
                   {"comment", "Old comment"}};
    recipe.audio = kind == TOutput::Mp3 ? testing_support::AudioTrack{"libmp3lame", 44100, 2, 440.0, 0.5, 128000}
                                        : testing_support::AudioTrack{};
    testing_support::WriteMediaFile(path, recipe);
}

class TagCopyTest : public ::testing::TestWithParam<std::tuple<TCopyCase, TOutput>> {
protected:
    void SetUp() override
    {
        testing_support::EnsureLibrariesLoaded();
        png = EncodePicture("png");
        jpeg = EncodePicture("mjpeg");
    }

    std::vector<unsigned char> png, jpeg;
    TempDir dir;
};

TEST_P(TagCopyTest, CarriesFieldsAndCover)
{
    const auto &[c, output] = GetParam();
    if (!avlib::avcodec.avcodec_find_encoder_by_name(SourceEncoder(c.kind)))
        GTEST_SKIP() << "the media libraries have no " << SourceEncoder(c.kind) << " encoder";
    const std::string source = dir.File(c.fileName);
    MakeSource(c.kind, source);
    // The back cover comes first: a source that marks its front cover must have that one chosen.
    TagSource(c.kind, source, SourceFields(c), {{4, "image/png", png}, {3, "image/jpeg", jpeg}});
    const std::string target = dir.File(output == TOutput::Mp3 ? "Ziel – ñame.mp3" : "Ziel – ñame.wav");
    MakeOutput(output, target);
    const size_t frames = testing_support::DecodeAudio(target).Frames();
    const TOutputTags old = ReadOutput(target);

    std::string error;
    ASSERT_TRUE(tagcopy::CopyTags(source, target, error)) << error;

    const TOutputTags tags = ReadOutput(target);
    EXPECT_EQ(tags.id3v2Version, 3);
    EXPECT_FALSE(tags.id3v1);
    // One value each: the muxer's own way of writing a field must not stay beside the new one.
    // What the source lacks stays as the output had it.
    for (const std::string &key : tagcopy::CarriedFields()) {
        const auto expected = c.fields->find(key);
        EXPECT_EQ(Text(tags.id3v2[key]), expected == c.fields->end() ? Text(old.id3v2[key]) : expected->second) << key;
    }
    if (c.pictures) {
        ASSERT_EQ(tags.pictures.size(), 1u);
        EXPECT_EQ(tags.pictures[0].type, 3);
        EXPECT_EQ(tags.pictures[0].mimeType, c.typedPictures ? "image/jpeg" : "image/png");
        EXPECT_TRUE(tags.pictures[0].data == (c.typedPictures ? jpeg : png));
    } else {
        EXPECT_TRUE(tags.pictures.empty());
    }
    if (output == TOutput::Wav) {
        const std::pair<const char *, const char *> entries[] = {{"INAM", "TITLE"}, {"IART", "ARTIST"},
                                                                 {"IPRD", "ALBUM"}, {"IGNR", "GENRE"},
                                                                 {"ICRD", "DATE"},  {"ICMT", "COMMENT"}};
        for (const auto &[id, key] : entries)
            EXPECT_EQ(tags.info.count(id) ? tags.info.at(id) : "(none)", c.fields->at(key)) << id;
        for (const char *id : {"ITRK", "IPRT"})
            EXPECT_EQ(tags.info.count(id) ? tags.info.at(id) : "(none)", "3") << id;
        EXPECT_TRUE(tags.info.count("ISFT")) << "the muxer's own entry is kept";
    } else {
        EXPECT_TRUE(tags.id3v2.contains("ENCODING")) << "the muxer's own frame is kept";
    }
    EXPECT_EQ(testing_support::DecodeAudio(target).Frames(), frames) << "the sound is untouched";
}

INSTANTIATE_TEST_SUITE_P(AllSources, TagCopyTest,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Values(TOutput::Mp3, TOutput::Wav)),
                         [](const ::testing::TestParamInfo<TagCopyTest::ParamType> &info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) == TOutput::Mp3 ? "ToMp3" : "ToWav");
                         });

class TagWriteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::EnsureLibrariesLoaded();
        jpeg = EncodePicture("mjpeg");
    }

    std::string TaggedMp3(const std::string &name, const std::vector<TTestPicture> &pictures)
    {
        const std::string path = dir.File(name);
        MakeSource(TSource::Mp3Id3v2, path);
        TagSource(TSource::Mp3Id3v2, path, SourceFields(kCases[0]), pictures);
        return path;
    }

    std::vector<unsigned char> jpeg;
    TempDir dir;
};

// ID3v2.4 when asked; an other picture becomes the front cover in place of the old one.
TEST_F(TagWriteTest, Id3v24OnRequestAndAnOtherPictureBecomesTheFrontCover)
{
    const std::string source = TaggedMp3("in.mp3", {{0, "image/jpeg", jpeg}}), target = dir.File("out.mp3");
    MakeOutput(TOutput::Mp3, target);
    TagSource(TSource::Mp3Id3v2, target, {}, {{3, "image/png", EncodePicture("png")}});
    std::string error;
    ASSERT_TRUE(tagcopy::CopyTags(source, target, error, {4})) << error;
    const TOutputTags tags = ReadOutput(target);
    EXPECT_EQ(tags.id3v2Version, 4);
    EXPECT_EQ(Text(tags.id3v2["DATE"]), "2021-05-04");
    EXPECT_EQ(Text(tags.id3v2["TITLE"]), kFullFields.at("TITLE"));
    ASSERT_EQ(tags.pictures.size(), 1u);
    EXPECT_EQ(tags.pictures[0].type, 3);
    EXPECT_TRUE(tags.pictures[0].data == jpeg);
}

// An empty value removes the field, others stay, and an ID3v1 tag the output has follows.
TEST_F(TagWriteTest, AnEmptyValueRemovesTheFieldAndAnId3v1TagIsKeptInStep)
{
    const std::string target = TaggedMp3("out.mp3", {});
    {
        TagLib::MPEG::File file(target.c_str(), false);
        file.ID3v1Tag(true)->setTitle("Old title");
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripNone));
    }
    tagcopy::TTagSet tags;
    tags.fields = {{"TITLE", ""}, {"ARTIST", "Someone else"}};
    std::string error;
    ASSERT_TRUE(tagcopy::WriteTags(target, tags, error)) << error;
    const TOutputTags read = ReadOutput(target);
    EXPECT_FALSE(read.id3v2.contains("TITLE"));
    EXPECT_EQ(Text(read.id3v2["ARTIST"]), "Someone else");
    EXPECT_EQ(Text(read.id3v2["ALBUM"]), kFullFields.at("ALBUM"));
    TagLib::MPEG::File file(target.c_str(), false);
    ASSERT_TRUE(file.hasID3v1Tag());
    EXPECT_EQ(file.ID3v1Tag()->title().to8Bit(true), "");
    EXPECT_EQ(file.ID3v1Tag()->artist().to8Bit(true), "Someone else");
}

// Each cover moves the sound up, down, up, by less than its length: in the wrong order it would be lost.
TEST_F(TagWriteTest, TagsThatGrowAndShrinkMoveTheSoundWhole)
{
    const std::string target = dir.File("out.mp3");
    testing_support::WriteSineMp3(target, 10.0);
    const std::vector<int16_t> sound = testing_support::DecodeAudio(target).samples;
    tagcopy::TTagSet tags;
    tags.fields = {{"TITLE", "Moved"}};
    const std::pair<size_t, bool> coversAndGrowth[] = {{100000, true}, {4096, false}, {30000, true}};
    for (const auto &[cover, grows] : coversAndGrowth) {
        SCOPED_TRACE(cover);
        const uintmax_t before = std::filesystem::file_size(target);
        tags.frontCover = tagcopy::TPicture{"image/png", "", PaddedPng(cover)};
        std::string error;
        ASSERT_TRUE(tagcopy::WriteTags(target, tags, error)) << error;
        EXPECT_EQ(std::filesystem::file_size(target) > before, grows);
        tagcopy::TTagSet read;
        ASSERT_TRUE(tagcopy::ReadTags(target, read, error)) << error;
        EXPECT_EQ(read.fields, tags.fields);
        EXPECT_TRUE(read.frontCover && read.frontCover->data == tags.frontCover->data);
        EXPECT_TRUE(testing_support::DecodeAudio(target).samples == sound);
    }
}

// What a source's fields read as: several values joined, INFO text as UTF-8 or else as Latin-1 (an
// older writer's single byte for "é"), a Vorbis description as the comment.
TEST_F(TagWriteTest, SourceFieldsReadAsOneTextEach)
{
    const struct {
        TSource kind;
        const char *file;
        std::vector<std::pair<const char *, std::vector<const char *>>> fields;
        TFields expected;
    } cases[] = {{TSource::Flac, "several.flac", {{"ARTIST", {"One", "Two"}}}, {{"ARTIST", "One; Two"}}},
                 {TSource::WavInfo,
                  "info.wav",
                  {{"TITLE", {"Ωμέγα"}}, {"ALBUM", {"Cafe au lait"}}},
                  {{"TITLE", "Ωμέγα"}, {"ALBUM", "Café au lait"}}},
                 {TSource::Flac,
                  "described.flac",
                  {{"DESCRIPTION", {"said in a description"}}},
                  {{"COMMENT", "said in a description"}}}};
    for (const auto &c : cases) {
        const std::string source = dir.File(c.file);
        MakeSource(c.kind, source);
        TagLib::PropertyMap fields;
        for (const auto &[key, values] : c.fields)
            for (const char *value : values)
                fields.insert(key, TagLib::String(value, TagLib::String::UTF8));
        TagSource(c.kind, source, fields, {});
        if (c.kind == TSource::WavInfo)
            testing_support::PatchBytes(source, "Cafe", "Caf\xe9");
        tagcopy::TTagSet tags;
        std::string error;
        ASSERT_TRUE(tagcopy::ReadTags(source, tags, error)) << error;
        EXPECT_EQ(tags.fields, c.expected) << c.file;
    }
}

} // namespace

// Every kind that holds tags records the source in its own way, the second record replacing the first
// even with nothing else to write; a copy of a recorded file's tags never takes its record along.
// Kinds without a place for it say so, naming the file. Over the muxer's own fields, each then takes
// every field and the front cover, read back field by field and byte for byte.
TEST_F(TagWriteTest, EveryKindThatHoldsTagsRecordsTheSourceAndTakesFieldsAndCover)
{
    const struct {
        const char *extension, *encoder;
        bool holds;
    } kinds[] = {{".mp3", "libmp3lame", true}, {".wav", "pcm_s16le", true}, {".aiff", "pcm_s16be", true},
                 {".flac", "flac", true},      {".ogg", "libvorbis", true}, {".opus", "libopus", true},
                 {".m4a", "aac", true},        {".m4a", "alac", true},      {".wv", "wavpack", true},
                 {".wma", "wmav2", true},      {".ac3", "ac3", false},      {".mp2", "mp2", true},
                 {".aac", "aac", false}};
    // A '%' and a byte that is not UTF-8 (a Latin-1 é): the text records must give back the very bytes.
    const std::string names[] = {"Quelle – 50%41 ñame.flac", "sub/caf\xe9.ogg"};
    for (const auto &kind : kinds) {
        const std::string stem = dir.File(std::string(kind.encoder) + "-");
        SCOPED_TRACE(stem + kind.extension);
        const std::string out = stem + "out" + kind.extension, copy = stem + "copy" + kind.extension;
        testing_support::MediaRecipe recipe{.audio = testing_support::AudioTrack{kind.encoder, 48000}};
        testing_support::WriteMediaFile(out, recipe);
        recipe.tags = {{"title", "Old title"}, {"genre", "Old genre"}};
        testing_support::WriteMediaFile(copy, recipe);
        std::string name = "unread", error;
        ASSERT_EQ(tagcopy::ReadSourceName(out, name, error), kind.holds) << error;
        EXPECT_EQ(name, "");
        if (!kind.holds) {
            EXPECT_NE(error.find("'" + out + "'"), std::string::npos) << error;
            continue;
        }
        tagcopy::TTagSet tags, read;
        for (const std::string &source : names) {
            tags.sourceName = source;
            ASSERT_TRUE(tagcopy::WriteTags(out, tags, error)) << error;
            ASSERT_TRUE(tagcopy::ReadSourceName(out, name, error)) << error;
            EXPECT_EQ(name, source);
            tags.fields = {{"TITLE", "Recorded"}};
        }
        ASSERT_TRUE(tagcopy::ReadTags(out, read, error)) << error;
        EXPECT_EQ(read.fields, tags.fields);
        ASSERT_TRUE(tagcopy::ReadTags(copy, read, error)) << error;
        TFields kept = read.fields; // the muxer's own, where it writes any
        kept["TITLE"] = "Recorded";
        ASSERT_TRUE(tagcopy::CopyTags(out, copy, error)) << error;
        ASSERT_TRUE(tagcopy::ReadSourceName(copy, name, error)) << error;
        EXPECT_EQ(name, "");
        ASSERT_TRUE(tagcopy::ReadTags(copy, read, error)) << error;
        EXPECT_EQ(read.fields, kept);
        tags.fields = kFullFields;
        tags.frontCover = tagcopy::TPicture{"image/jpeg", "front", jpeg};
        ASSERT_TRUE(tagcopy::WriteTags(copy, tags, error)) << error;
        ASSERT_TRUE(tagcopy::ReadTags(copy, read, error)) << error;
        EXPECT_EQ(read.fields, kFullFields);
        EXPECT_TRUE(read.frontCover && read.frontCover->data == jpeg);
    }
}
