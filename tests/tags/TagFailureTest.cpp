// Sources and outputs that cannot give or take tags: no crash, no harm to the output, a reason that
// names the file.
#include "tags/TagCopy.h"

#include "libs/AVEntryPoints.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TestSupport.h"
#include "tests/tags/PictureFixtures.h"
#include "tests/tags/SourceTagging.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/inotify.h>
#include <unistd.h>

using namespace tagtest;
using testing_support::TempDir;

namespace {

namespace fs = std::filesystem;

// Root may write any file: for the length of a check the test then acts as "nobody".
class TUnprivileged {
public:
    TUnprivileged() : switched_(geteuid() == 0 && seteuid(65534) == 0) {}
    ~TUnprivileged()
    {
        if (switched_ && seteuid(0) != 0)
            std::abort(); // the rest of the run would not be root
    }
    TUnprivileged(const TUnprivileged &) = delete;
    TUnprivileged &operator=(const TUnprivileged &) = delete;
    bool Unprivileged() const { return geteuid() != 0; }

private:
    bool switched_;
};

void WriteBytes(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

TagLib::PropertyMap Fields()
{
    TagLib::PropertyMap map;
    map.insert("TITLE", TagLib::String("Títle", TagLib::String::UTF8));
    map.insert("ARTIST", TagLib::String("Ärtist", TagLib::String::UTF8));
    map.insert("ALBUM", TagLib::String("Album"));
    map.insert("TRACKNUMBER", TagLib::String("3/12"));
    return map;
}

tagcopy::TTagSet SomeTags()
{
    tagcopy::TTagSet tags;
    tags.fields = {{"TITLE", "New title"}};
    return tags;
}

class TagFailureTest : public ::testing::Test {
protected:
    void SetUp() override { testing_support::EnsureLibrariesLoaded(); }

    std::string Mp3Output(const std::string &name = "out.mp3")
    {
        const std::string path = dir.File(name);
        testing_support::WriteSineMp3(path);
        return path;
    }

    std::string TaggedSource(TSource kind, const std::string &name, const std::vector<TTestPicture> &pictures = {})
    {
        const std::string path = dir.File(name);
        MakeSource(kind, path);
        TagSource(kind, path, Fields(), pictures);
        return path;
    }

    TempDir dir;
};

struct TKindCase {
    TSource kind;
    const char *fileName;
};

const TKindCase kKinds[] = {{TSource::Mp3Id3v2, "a.mp3"},
                            {TSource::Flac, "a.flac"},
                            {TSource::OggVorbis, "a.ogg"},
                            {TSource::M4a, "a.m4a"},
                            {TSource::WavId3v2, "a.wav"}};

TEST_F(TagFailureTest, AnUntaggedSourceLeavesTheOutputAlone)
{
    const std::string target = Mp3Output();
    const std::string before = FileBytes(target);
    for (const TKindCase &c : kKinds) {
        SCOPED_TRACE(c.fileName);
        const std::string source = dir.File(c.fileName);
        MakeSource(c.kind, source); // with the muxer's own tags, none of them carried
        tagcopy::TTagSet tags;
        std::string error;
        ASSERT_TRUE(tagcopy::ReadTags(source, tags, error)) << error;
        EXPECT_TRUE(tags.Empty());
        EXPECT_TRUE(tagcopy::CopyTags(source, target, error)) << error;
        EXPECT_TRUE(FileBytes(target) == before);
    }
}

TEST_F(TagFailureTest, SourcesAreOpenedForReadingOnly)
{
    const std::string target = Mp3Output();
    for (const TKindCase &c : kKinds) {
        SCOPED_TRACE(c.fileName);
        const std::string source = TaggedSource(c.kind, c.fileName);
        // A file opened for writing reports IN_CLOSE_WRITE when closed, written to or not.
        const int watch = inotify_init1(IN_NONBLOCK);
        ASSERT_GE(watch, 0);
        ASSERT_GE(inotify_add_watch(watch, source.c_str(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE), 0);
        std::string error;
        EXPECT_TRUE(tagcopy::CopyTags(source, target, error)) << error;
        uint32_t seen = 0;
        alignas(inotify_event) char events[4096];
        for (ssize_t got; (got = read(watch, events, sizeof events)) > 0;)
            for (ssize_t at = 0; at < got;) {
                const auto *event = reinterpret_cast<const inotify_event *>(events + at);
                seen |= event->mask;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        close(watch);
        EXPECT_TRUE(seen & IN_CLOSE_NOWRITE);
        EXPECT_FALSE(seen & IN_CLOSE_WRITE);
    }
}

TEST_F(TagFailureTest, AnUnreadableSourceIsAnErrorThatNamesIt)
{
    const struct {
        const char *name;
        std::string content; // "" with folder false: an empty file
        bool folder;
        bool exists;
        const char *reason;
    } cases[] = {
        {"missing – ñ.flac", "", false, false, "No such file or directory"},
        {"folder.flac", "", true, true, "not a regular file"},
        {"empty – ñ.flac", "", false, true, "not a kind of file whose tags can be read"},
        {"pattern.flac", std::string(4096, 'x'), false, true, "not a kind of file whose tags can be read"},
        {"pattern.m4a", std::string(4096, 'x'), false, true, "not a kind of file whose tags can be read"},
        {"pattern.ogg", std::string(4096, 'x'), false, true, "not a kind of file whose tags can be read"},
        {"pattern.wav", std::string(4096, 'x'), false, true, "not a kind of file whose tags can be read"},
    };
    const std::string target = Mp3Output();
    const std::string before = FileBytes(target);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string source = dir.File(c.name);
        if (c.folder)
            fs::create_directory(source);
        else if (c.exists)
            WriteBytes(source, c.content);
        std::string error;
        EXPECT_FALSE(tagcopy::CopyTags(source, target, error));
        EXPECT_NE(error.find("'" + source + "'"), std::string::npos) << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_TRUE(FileBytes(target) == before);
    }
}

// Every fourth byte of the tag areas (the ends of the file) and some of the middle, overwritten with
// sizes and markers a hostile file would hold. Whatever is read must be writable and the output's
// sound must stay whole.
TEST_F(TagFailureTest, DamagedSourcesNeitherCrashNorHarmTheOutput)
{
    const std::vector<unsigned char> png = EncodePicture("png");
    const std::string target = Mp3Output();
    const size_t frames = testing_support::DecodeAudio(target).Frames();
    const std::string patterns[] = {std::string("\xff\xff\xff\xff", 4), std::string(4, '\0'),
                                    std::string("\x7f\xff\xff\xff", 4), std::string("\x00\x00\x10\x00", 4)};
    size_t readable = 0, tried = 0;
    for (const TKindCase &c : kKinds) {
        SCOPED_TRACE(c.fileName);
        const std::string source = TaggedSource(c.kind, c.fileName, {{3, "image/png", png}});
        const std::string intact = FileBytes(source);
        const std::string damaged = dir.File(std::string("damaged-") + c.fileName);
        std::vector<size_t> places;
        for (size_t at = 0; at < intact.size(); at += (at < 3072 || at + 3072 > intact.size()) ? 4 : 1999)
            places.push_back(at);
        for (size_t n = 0; n < places.size(); ++n) {
            std::string bytes = intact;
            bytes.replace(places[n], 4, patterns[n % 4]);
            WriteBytes(damaged, bytes.substr(0, intact.size()));
            tagcopy::TTagSet tags;
            std::string error;
            ++tried;
            if (!tagcopy::ReadTags(damaged, tags, error))
                continue;
            ++readable;
            if (tags.frontCover) {
                EXPECT_LE(tags.frontCover->data.size(), tagcopy::kMaxPictureBytes);
            }
            EXPECT_TRUE(tagcopy::WriteTags(target, tags, error)) << "at " << places[n] << ": " << error;
        }
        // And cut short at points through the file.
        for (size_t cut = 1; cut < 16; ++cut) {
            WriteBytes(damaged, intact.substr(0, intact.size() * cut / 16));
            tagcopy::TTagSet tags;
            std::string error;
            if (tagcopy::ReadTags(damaged, tags, error) && !tags.Empty()) {
                EXPECT_TRUE(tagcopy::WriteTags(target, tags, error)) << "cut " << cut << ": " << error;
            }
        }
    }
    EXPECT_GT(readable, tried / 2) << "most damage lies in the sound, which does not stop the tags";
    EXPECT_EQ(testing_support::DecodeAudio(target).Frames(), frames);
}

TEST_F(TagFailureTest, AnOversizedPictureIsLeftBehind)
{
    std::vector<unsigned char> huge(tagcopy::kMaxPictureBytes + 1, 0);
    huge[0] = 0xff, huge[1] = 0xd8, huge[2] = 0xff;
    const std::vector<unsigned char> png = EncodePicture("png");
    const std::string source =
        TaggedSource(TSource::Mp3Id3v2, "big cover.mp3", {{3, "image/jpeg", huge}, {4, "image/png", png}});
    tagcopy::TTagSet tags;
    std::string error;
    ASSERT_TRUE(tagcopy::ReadTags(source, tags, error)) << error;
    ASSERT_TRUE(tags.frontCover);
    EXPECT_TRUE(tags.frontCover->data == png) << "the one picture of a sensible size";
    EXPECT_EQ(tags.fields.at("TITLE"), "Títle");

    // Nor is one written when a caller hands it over.
    tags.frontCover->data = huge;
    const std::string target = Mp3Output();
    const std::string before = FileBytes(target);
    EXPECT_FALSE(tagcopy::WriteTags(target, tags, error));
    EXPECT_NE(error.find("larger than 16 MiB"), std::string::npos) << error;
    EXPECT_TRUE(FileBytes(target) == before);
}

TEST_F(TagFailureTest, AnOnlyCoverLeftBehindForItsSizeIsTold)
{
    const std::string source = dir.File("big cover.mp3");
    MakeSource(TSource::Mp3Id3v2, source);
    TagSource(TSource::Mp3Id3v2, source, {}, {{3, "image/png", PaddedPng(17u << 20)}});
    tagcopy::TTagSet tags;
    std::string error;
    ASSERT_TRUE(tagcopy::ReadTags(source, tags, error)) << error;
    EXPECT_FALSE(tags.frontCover);
    EXPECT_TRUE(tags.Empty()) << "what was left out is nothing to write";
    EXPECT_EQ(tags.leftOut, std::vector<std::string>{"a picture larger than 16 MiB"});
}

TEST_F(TagFailureTest, AnOutputThatCannotTakeTheTagsIsRefusedAndLeftAlone)
{
    const struct {
        const char *name;
        bool readOnly;
        const char *reason;
    } cases[] = {
        {"read-only – ñ.mp3", true, "Permission denied"},
        {"missing – ñ.mp3", false, "No such file or directory"},
        {"folder.mp3", false, "not a regular file"},
        {"out.ac3", false, "not a kind of file whose tags can be read"},
        {"pattern.wav", false, "not a kind of file whose tags can be read"},
        {"rf64.wav", false, "a 64-bit WAV file"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target = dir.File(c.name);
        const std::string name = c.name;
        if (name.find("read-only") == 0) {
            testing_support::WriteSineMp3(target);
            fs::permissions(target, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        } else if (name == "folder.mp3") {
            fs::create_directory(target);
        } else if (name == "out.ac3") {
            testing_support::MediaRecipe ac3;
            ac3.audio = testing_support::AudioTrack{"ac3"};
            testing_support::WriteMediaFile(target, ac3);
        } else if (name == "pattern.wav") {
            WriteBytes(target, std::string(4096, 'x'));
        } else if (name == "rf64.wav") {
            testing_support::WriteSineWav(target);
            testing_support::PatchBytes(target, "RIFF", "RF64");
        }
        const std::string before = fs::is_regular_file(target) ? FileBytes(target) : "";
        std::string error;
        bool damaged = true;
        if (c.readOnly) {
            TUnprivileged user;
            ASSERT_TRUE(user.Unprivileged());
            EXPECT_FALSE(tagcopy::WriteTags(target, SomeTags(), error, {}, &damaged));
        } else {
            EXPECT_FALSE(tagcopy::WriteTags(target, SomeTags(), error, {}, &damaged));
        }
        EXPECT_NE(error.find("'" + target + "'"), std::string::npos) << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_FALSE(damaged) << "found before anything was written";
        if (fs::is_regular_file(target)) {
            EXPECT_TRUE(FileBytes(target) == before);
        }
    }
}

TEST_F(TagFailureTest, PicturesAndVersionsThatCannotBeWrittenAreRefused)
{
    const std::string target = Mp3Output();
    const std::string before = FileBytes(target);
    tagcopy::TTagSet unknown = SomeTags();
    unknown.frontCover = tagcopy::TPicture{"", "", {1, 2, 3, 4}};
    tagcopy::TTagSet empty = SomeTags();
    empty.frontCover = tagcopy::TPicture{"image/png", "", {}};
    const struct {
        const char *name;
        tagcopy::TTagSet tags;
        int version;
        const char *reason;
    } cases[] = {
        {"picture of no known type", unknown, 3, "no known type"},
        {"empty picture", empty, 3, "the picture is empty"},
        {"ID3v2.2", SomeTags(), 2, "ID3v2 version 2"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        bool damaged = true;
        EXPECT_FALSE(tagcopy::WriteTags(target, c.tags, error, {c.version}, &damaged));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_FALSE(damaged);
        EXPECT_TRUE(FileBytes(target) == before);
    }
}

} // namespace
