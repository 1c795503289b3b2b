#include "MediaFixtures.h"
#include "PictureFixtures.h"
#include "SourceTagging.h"
#include "TagCopy.h"
#include "VeloxcRunner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace testing_support;
using tagcopy::TPicture;
using tagcopy::TTagSet;
namespace fs = std::filesystem;

namespace {

// The files below a folder, relative and sorted.
std::vector<std::string> Tree(const fs::path &folder)
{
    std::vector<std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files.push_back(entry.path().lexically_relative(folder).string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string LastLine(const std::string &text)
{
    const size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos)
        return {};
    const size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

class BatchTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureLibrariesLoaded(); }

    Result Batch(std::vector<std::string> arguments, const RunOptions &options = {})
    {
        arguments.insert(arguments.begin(), "batch");
        return RunVeloxc(arguments, logs, options);
    }

    std::string Media(const std::string &relative, const MediaRecipe &recipe)
    {
        const fs::path path = dir.Path() / relative;
        fs::create_directories(path.parent_path());
        WriteMediaFile(path.string(), recipe);
        return path.string();
    }

    static MediaRecipe Sound(const std::string &codec, int rate, int channels, double seconds = 0.5)
    {
        MediaRecipe recipe;
        recipe.seconds = seconds;
        recipe.audio = AudioTrack{codec, rate, channels};
        return recipe;
    }

    static std::map<std::string, std::string> SourceFields(const std::string &title)
    {
        return {{"TITLE", title},          {"ARTIST", "The Testers"}, {"ALBUM", "Fixtures"},
                {"ALBUMARTIST", "Various"}, {"TRACKNUMBER", "3/12"},   {"DISCNUMBER", "1/2"},
                {"DATE", "2024"},          {"GENRE", "Jazz"},         {"COMMENT", "made at test time"}};
    }
    static void Tag(tagtest::TSource kind, const std::string &path, const std::string &title,
                    const std::vector<tagtest::TTestPicture> &pictures = {})
    {
        TagLib::PropertyMap fields;
        for (const auto &[key, value] : SourceFields(title))
            fields[key] = TagLib::StringList(TagLib::String(value, TagLib::String::UTF8));
        tagtest::TagSource(kind, path, fields, pictures);
    }

    TempDir dir;
    TempDir logs;
};

} // namespace

TEST_F(BatchTest, AFolderTreeBecomesTaggedMp3sAndASecondRunSkipsThem)
{
    const std::string song = Media("music/rock/a song.mp3", Sound("libmp3lame", 44100, 2));
    const std::string hiRes = Media("music/rock/Ünïcode 96k.flac", Sound("flac", 96000, 2));
    const std::string vorbis = Media("music/jazz/take 1.ogg", Sound("libvorbis", 48000, 2));
    Media("music/surround.wav", Sound("pcm_s16le", 48000, 6));
    MediaRecipe clip = Sound("mp2", 44100, 2);
    clip.video = VideoTrack{};
    Media("music/clip.avi", clip);
    std::ofstream(dir.File("music/readme.txt")) << "not a recording\n";
    // A WAV header over sound that cannot be decoded: media by its look, a failure to convert.
    const std::string broken = Media("music/broken.wav", [] {
        MediaRecipe recipe = Sound("libmp3lame", 44100, 2);
        recipe.format = "wav";
        return recipe;
    }());
    {
        std::fstream file(broken, std::ios::in | std::ios::out | std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        for (size_t i = bytes.find("data") + 8; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>((i * 7919) >> 3);
        file.seekp(0);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    const tagtest::TTestPicture front{3, "image/png", tagtest::EncodePicture("png")};
    Tag(tagtest::TSource::Mp3Id3v2, song, "A Song", {front});
    Tag(tagtest::TSource::Flac, hiRes, "Hi Res");
    Tag(tagtest::TSource::OggVorbis, vorbis, "Take One");

    const std::string out = dir.File("out");
    const Result first = Batch({"-o", out, "-j", "2", dir.File("music")});
    EXPECT_EQ(first.status, 1) << first.errors;
    EXPECT_EQ(LastLine(first.errors), "converted 5, skipped 0, failed 1, not media 1") << first.errors;
    EXPECT_NE(first.errors.find("FAIL " + broken + ": no audio could be decoded from"), std::string::npos)
        << first.errors;
    EXPECT_EQ(Tree(out), (std::vector<std::string>{"clip.mp3", "jazz/take 1.mp3", "rock/a song.mp3",
                                                   "rock/Ünïcode 96k.mp3", "surround.mp3"}));
    for (const std::string &name : Tree(out)) {
        const DecodedAudio audio = DecodeAudio((fs::path(out) / name).string());
        EXPECT_EQ(audio.channels, 2) << name;
        EXPECT_NEAR(static_cast<double>(audio.Frames()) / audio.sampleRate, 0.5, 0.08) << name;
    }
    EXPECT_EQ(DecodeAudio(dir.File("out/rock/Ünïcode 96k.mp3")).sampleRate, 48000);
    const struct {
        const char *output;
        const char *title;
        bool cover;
    } tagged[] = {{"out/rock/a song.mp3", "A Song", true},
                  {"out/rock/Ünïcode 96k.mp3", "Hi Res", false},
                  {"out/jazz/take 1.mp3", "Take One", false}};
    std::string error;
    for (const auto &t : tagged) {
        TTagSet read;
        ASSERT_TRUE(tagcopy::ReadTags(dir.File(t.output), read, error)) << error;
        for (const auto &[key, value] : SourceFields(t.title))
            EXPECT_EQ(read.fields.count(key) ? read.fields.at(key) : "(none)", value) << t.output << " " << key;
        EXPECT_EQ(read.frontCover.has_value(), t.cover) << t.output;
        if (t.cover && read.frontCover) {
            EXPECT_EQ(read.frontCover->data, front.data);
        }
    }

    // Mended or removed, the broken file no longer fails: everything else is there already.
    fs::remove(broken);
    const Result second = Batch({"-o", out, "-j", "2", dir.File("music")});
    EXPECT_EQ(second.status, 0) << second.errors;
    EXPECT_EQ(LastLine(second.errors), "converted 0, skipped 5, failed 0, not media 1");

    const Result renamed =
        Batch({"-o", dir.File("out/rock"), "--on-exists", "rename", "--no-tags", dir.File("music/rock")});
    EXPECT_EQ(renamed.status, 0) << renamed.errors;
    EXPECT_EQ(LastLine(renamed.errors), "converted 2, skipped 0, failed 0");
    EXPECT_EQ(Tree(dir.File("out/rock")), (std::vector<std::string>{"a song (1).mp3", "a song.mp3",
                                                                     "Ünïcode 96k (1).mp3", "Ünïcode 96k.mp3"}));
    TTagSet untagged;
    ASSERT_TRUE(tagcopy::ReadTags(dir.File("out/rock/a song (1).mp3"), untagged, error)) << error;
    EXPECT_EQ(untagged.fields.count("TITLE"), 0u);
}

TEST_F(BatchTest, AStopLeavesNoPartialFileUnderAFinalName)
{
    for (int i = 0; i < 4; ++i)
        Media("long/part " + std::to_string(i) + ".wav", Sound("pcm_s16le", 44100, 2, 40.0));
    const std::string out = dir.File("out");
    // The stop comes once the first file is kept, so some are whole and some are cut short however
    // fast the machine converts.
    const auto stopAfterFirst = During([&](pid_t pid) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        const auto keptOne = [&] {
            std::error_code ec; // the folder is made by veloxc, after a while
            for (fs::directory_iterator it(out, ec), end; !ec && it != end; it.increment(ec)) {
                const std::string name = it->path().filename().string();
                if (name.ends_with(".mp3") && name.find(".partial-") == std::string::npos)
                    return true;
            }
            return false;
        };
        while (!keptOne() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Interrupt(pid, SIGINT);
    });
    const Result stopped = Batch({"-o", out, "-j", "1", dir.File("long")}, stopAfterFirst);
    EXPECT_EQ(stopped.status, 130) << stopped.errors;
    EXPECT_NE(LastLine(stopped.errors).find(", stopped "), std::string::npos) << stopped.errors;
    // What is there under a final name is whole; nothing else is left.
    for (const std::string &name : Tree(out)) {
        EXPECT_EQ(name.find(".partial-"), std::string::npos) << name;
        EXPECT_NEAR(static_cast<double>(DecodeAudio((fs::path(out) / name).string()).Frames()), 40.0 * 44100, 2000)
            << name;
    }
}

TEST_F(BatchTest, ADryRunShowsThePlanAndWavKeepsTheInputsShape)
{
    Media("in/surround.wav", Sound("pcm_s16le", 48000, 6));
    Media("in/hi.flac", Sound("flac", 96000, 2));
    const std::string out = dir.File("out");
    const Result plan = Batch({"--dry-run", "-f", "wav", "-o", out, dir.File("in")});
    EXPECT_EQ(plan.status, 0) << plan.errors;
    EXPECT_NE(plan.output.find(dir.File("in/hi.flac") + " -> " + dir.File("out/hi.wav")), std::string::npos)
        << plan.output;
    EXPECT_NE(plan.output.find("would convert 2, skip 0, fail 0"), std::string::npos) << plan.output;
    EXPECT_FALSE(fs::exists(out));

    const Result run = Batch({"-f", "wav", "-o", out, "--quiet", dir.File("in")});
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors, "converted 2, skipped 0, failed 0\n"); // quiet: the summary alone
    const DecodedAudio surround = DecodeAudio(dir.File("out/surround.wav"));
    EXPECT_EQ(surround.channels, 6);
    EXPECT_EQ(surround.sampleRate, 48000);
    EXPECT_EQ(DecodeAudio(dir.File("out/hi.wav")).sampleRate, 96000);
}

// The rate choices reach the encoder: a constant rate gives its size, and the variable scale's
// best end spends more than its worst.
TEST_F(BatchTest, BitrateAndQualityReachTheEncoder)
{
    const double seconds = 3.0;
    Media("tone/a.wav", Sound("pcm_s16le", 44100, 2, seconds));
    const struct {
        const char *option, *value, *folder;
    } runs[] = {{"-b", "64", "b64"}, {"-q", "0", "q0"}, {"-q", "9", "q9"}};
    std::map<std::string, double> kbits;
    for (const auto &run : runs) {
        const std::string out = dir.File(run.folder);
        const Result result = Batch({run.option, run.value, "-o", out, dir.File("tone")});
        ASSERT_EQ(result.status, 0) << result.errors;
        const std::string mp3 = out + "/a.mp3";
        EXPECT_NEAR(static_cast<double>(DecodeAudio(mp3).Frames()), seconds * 44100, 2000) << run.folder;
        kbits[run.folder] = static_cast<double>(fs::file_size(mp3)) * 8 / 1000 / seconds;
    }
    EXPECT_NEAR(kbits["b64"], 64, 8);
    EXPECT_GT(kbits["q0"], kbits["q9"] * 1.3) << kbits["q0"] << " against " << kbits["q9"];
}
