// What the carry brings from inputs whose tags the media libraries read, and what it says of them.
#include "batch/TagCarry.h"

#include "tags/TagSet.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TestSupport.h"
#include "tests/tags/PictureFixtures.h"
#include "tests/tags/SourceTagging.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace testing_support;

namespace {

using TFields = std::map<std::string, std::string>;

class TagCarryTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureLibrariesLoaded(); }

    // The input's tags carried into a fresh MP3 (or WAV) of that name: its carried fields, and the note.
    TFields Carry(const std::string &input, const std::string &outputName, std::string &note,
                  tagtest::TOutputTags *read = nullptr)
    {
        const std::string output = dir.File(outputName);
        outputName.ends_with(".wav") ? WriteSineWav(output) : WriteSineMp3(output);
        std::string error;
        note.clear();
        EXPECT_TRUE(batch::CarryTags(input, output, {}, note, error)) << error;
        const tagtest::TOutputTags tags = tagtest::ReadOutput(output);
        TFields fields;
        for (const std::string &key : tagcopy::CarriedFields())
            if (tags.id3v2.contains(key))
                fields[key] = tags.id3v2[key].toString("|").to8Bit(true);
        if (read)
            *read = tags;
        return fields;
    }

    // A source of that name: FLAC for ".flac", else PCM in Matroska.
    std::string Source(const TFields &tags, const std::vector<Attachment> &attachments = {},
                       const std::string &name = "in.mka")
    {
        MediaRecipe recipe;
        recipe.audio = AudioTrack{name.ends_with(".flac") ? "flac" : "pcm_s16le"};
        recipe.tags = tags;
        recipe.attachments = attachments;
        WriteMediaFile(dir.File(name), recipe);
        return dir.File(name);
    }

    TempDir dir;
};

// Matroska tags of a target type reach the libraries as "LEVEL/NAME" (their muxer writes such names
// as they are). Text that is not UTF-8 is read as Latin-1, also where TagLib reads a FLAC's Vorbis
// comment as nothing; an empty text is no field.
TEST_F(TagCarryTest, MatroskaTagsBecomeTheirFieldsWhateverTheirLevelOrBytes)
{
    const struct {
        TFields tags, expected;
        const char *file = "in.mka";
    } cases[] = {
        {{{"ALBUM/TITLE", "Best"}, {"ALBUM/ARTIST", "Various"}}, {{"ALBUM", "Best"}, {"ALBUMARTIST", "Various"}}},
        // The track's own over a plain one, a plain one over the album's.
        {{{"title", "mka"}, {"TRACK/TITLE", "T"}, {"TRACK/ARTIST", "S"}, {"TRACK/PART_NUMBER", "3"}, {"album", "P"}},
         {{"TITLE", "T"}, {"ARTIST", "S"}, {"TRACKNUMBER", "3"}, {"ALBUM", "P"}}},
        {{{"ALBUM/TITLE", "A"}, {"ALBUM/GENRE", "Pop"}, {"genre", "Jazz"}}, {{"ALBUM", "A"}, {"GENRE", "Jazz"}}},
        {{{"title", "Caf\xe9 Gr\xfc\xdf \xc3"}}, {{"TITLE", "Café Grüß Ã"}}},
        {{{"title", ""}, {"artist", "Someone"}}, {{"ARTIST", "Someone"}}},
        {{{"title", "Caf\xe9"}, {"artist", "S"}}, {{"TITLE", "Café"}, {"ARTIST", "S"}}, "in.flac"},
    };
    for (const auto &c : cases) {
        const std::string input = Source(c.tags, {}, c.file);
        std::string note;
        tagtest::TOutputTags wav;
        EXPECT_EQ(Carry(input, "out.mp3", note), c.expected);
        Carry(input, "out.wav", note, &wav);
        EXPECT_EQ(note, "");
        EXPECT_EQ(wav.info.count("INAM") ? wav.info.at("INAM") : "",
                  c.expected.count("TITLE") ? c.expected.at("TITLE") : "");
    }
}

// Kinds TagLib cannot open whose tags the libraries read as none have nothing to lose; a file
// neither can read is told.
TEST_F(TagCarryTest, OnlyTagsThatCouldNotBeReadAreTold)
{
    const std::pair<std::string, std::string> kinds[] = {
        {"song.au", "pcm_s16be"}, {"song.caf", "pcm_s16le"}, {"song.ac3", "ac3"}, {"noise.au", ""}};
    for (const auto &[file, codec] : kinds) {
        const std::string input = dir.File(file);
        MediaRecipe recipe;
        recipe.audio = AudioTrack{codec};
        codec.empty() ? void(std::ofstream(input, std::ios::binary) << std::string(4096, 'Z'))
                      : WriteMediaFile(input, recipe);
        std::string note;
        EXPECT_TRUE(Carry(input, "out.mp3", note).empty()) << file;
        EXPECT_EQ(note, codec.empty() ? " (tags not kept: cannot read the tags of '" + input +
                                            "': not a kind of file whose tags can be read, or a damaged one)"
                                      : "");
    }
}

// Matroska names its front cover "cover.jpg" or "cover.png", other sizes of it "small_cover"; a
// back cover is the last choice, else the first picture is taken. A picture too large to keep is
// told when it would have been the cover.
TEST_F(TagCarryTest, TheAttachmentNamedAsTheFrontCoverIsTheCover)
{
    const struct {
        std::vector<std::string> files;
        size_t chosen;
        int tooLarge = -1;
    } cases[] = {{{"back.png", "cover.jpg"}, 1},
                 {{"small_cover.png", "cover.png"}, 1},
                 {{"one.png", "two.jpg"}, 0},
                 {{"back.png", "cover.png"}, 0, 1}};
    for (const auto &c : cases) {
        std::vector<Attachment> attachments;
        for (size_t i = 0; i < c.files.size(); ++i) { // each of its own size, so that the bytes tell them apart
            const bool png = c.files[i].ends_with(".png");
            attachments.push_back({c.files[i], png ? "image/png" : "image/jpeg",
                                   static_cast<int>(i) == c.tooLarge
                                       ? tagtest::PaddedPng(tagcopy::kMaxPictureBytes + 1)
                                       : tagtest::EncodePicture(png ? "png" : "mjpeg", 16 + 8 * static_cast<int>(i))});
        }
        std::string note;
        tagtest::TOutputTags tags;
        Carry(Source({{"title", "Covered"}}, attachments), "out.mp3", note, &tags);
        EXPECT_EQ(note, c.tooLarge >= 0 ? " (not kept: a picture larger than 16 MiB)" : "") << c.files[c.chosen];
        ASSERT_EQ(tags.pictures.size(), 1u);
        EXPECT_EQ(tags.pictures[0].type, 3);
        EXPECT_TRUE(tags.pictures[0].data == attachments[c.chosen].data) << c.files[c.chosen];
    }
}

} // namespace
