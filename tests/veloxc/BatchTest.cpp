#include "batch/FolderAt.h"
#include "batch/OutputFormats.h"
#include "batch/TemporaryName.h"
#include "tags/TagCopy.h"
#include "tests/support/MediaFixtures.h"
#include "tests/tags/FormatOutputs.h"
#include "tests/tags/PictureFixtures.h"
#include "tests/tags/SourceTagging.h"
#include "tests/veloxc/VeloxcRunner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
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

std::string LastLine(std::string text)
{
    text.erase(text.find_last_not_of('\n') + 1);
    return text.substr(text.rfind('\n') + 1); // npos + 1: from the start
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
        return {.seconds = seconds, .audio = AudioTrack{codec, rate, channels}};
    }

    TempDir dir, logs;
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
    MediaRecipe mp3InWav = Sound("libmp3lame", 44100, 2);
    mp3InWav.format = "wav";
    const std::string broken = Media("music/broken.wav", mp3InWav);
    std::string bytes = ReadFile(broken);
    for (size_t i = bytes.find("data") + 8; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7919) >> 3);
    std::ofstream(broken, std::ios::binary) << bytes;
    const tagtest::TTestPicture front{3, "image/png", tagtest::EncodePicture("png")};
    tagtest::TagTitled(tagtest::TSource::Mp3Id3v2, song, "A Song", {front});
    tagtest::TagTitled(tagtest::TSource::Flac, hiRes, "Hi Res");
    tagtest::TagTitled(tagtest::TSource::OggVorbis, vorbis, "Take One");

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
        EXPECT_EQ(read.fields, tagtest::FieldsTitled(t.title)) << t.output;
        EXPECT_TRUE(t.cover ? read.frontCover && read.frontCover->data == front.data : !read.frontCover) << t.output;
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
    EXPECT_EQ(Tree(dir.File("out/rock")),
              (std::vector<std::string>{"a song (1).mp3", "a song.mp3", "Ünïcode 96k (1).mp3", "Ünïcode 96k.mp3"}));
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
    // A depth asked for: the WAV's format chunk says so (bits per sample 22 bytes on).
    ASSERT_EQ(Batch({"-f", "wav", "--bits", "24", "-o", dir.File("out24"), "--quiet", dir.File("in")}).status, 0);
    const std::string wav = ReadFile(dir.File("out24/hi.wav"));
    EXPECT_EQ(wav.at(wav.find("fmt ") + 22), 24);
}

// The rate choices reach the encoder: a constant rate gives its size, and the variable scale's
// best end spends more than its worst.
TEST_F(BatchTest, BitrateAndQualityReachTheEncoder)
{
    const double seconds = 3.0;
    Media("tone/a.wav", Sound("pcm_s16le", 44100, 2, seconds));
    // A rate the encoder cannot write at the file's sample rate is told on its line with the one used.
    const struct {
        const char *option, *value, *folder, *told;
    } runs[] = {{"-b", "64", "b64", "a.mp3\n"},
                {"-b", "144", "b144", "a.mp3 (144 kbit/s is not an MP3 rate at 44100 Hz; 128 used)\n"},
                {"-q", "0", "q0", "a.mp3\n"},
                {"-q", "9", "q9", "a.mp3\n"}};
    std::map<std::string, double> kbits;
    for (const auto &run : runs) {
        const std::string out = dir.File(run.folder);
        const Result result = Batch({run.option, run.value, "-o", out, dir.File("tone")});
        ASSERT_EQ(result.status, 0) << result.errors;
        EXPECT_NE(result.errors.find(run.told), std::string::npos) << result.errors;
        const std::string mp3 = out + "/a.mp3";
        EXPECT_NEAR(static_cast<double>(DecodeAudio(mp3).Frames()), seconds * 44100, 2000) << run.folder;
        kbits[run.folder] = static_cast<double>(fs::file_size(mp3)) * 8 / 1000 / seconds;
    }
    EXPECT_NEAR(kbits["b64"], 64, 8);
    EXPECT_GT(kbits["q0"], kbits["q9"] * 1.3) << kbits["q0"] << " against " << kbits["q9"];
    // A rate the format's encoder never takes is refused before anything is written.
    const Result refused = Batch({"-f", "opus", "-r", "44100", "-o", dir.File("opus"), dir.File("tone")});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.errors.find("--rate 44100 is no opus rate (48000, 24000, 16000, 12000, 8000)"), std::string::npos)
        << refused.errors;
    EXPECT_FALSE(fs::exists(dir.File("opus")));
}

// Bare names are files, however much they look like addresses: each converts to its own output and
// nothing reads standard input or writes standard output.
TEST_F(BatchTest, NamesThatLookLikeAddressesAreFiles)
{
    const std::vector<std::string> names = {"pipe:0.wav", "file:y.wav", "concat:a.wav", "http:x.wav"};
    for (const std::string &name : names)
        WriteSineWav(dir.File(name), 0.2, 8000, 1);
    RunOptions inDir;
    inDir.workingDir = dir.Path();
    std::vector<std::string> arguments = {"-j", "2"};
    arguments.insert(arguments.end(), names.begin(), names.end());
    const Result result = Batch(arguments, inDir);
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(LastLine(result.errors), "converted 4, skipped 0, failed 0") << result.errors;
    EXPECT_EQ(result.output, "");
    for (const std::string &name : names)
        EXPECT_NEAR(DecodeAudio(dir.File(fs::path(name).replace_extension(".mp3"))).Frames(), 0.2 * 8000, 1200) << name;
    EXPECT_FALSE(fs::exists(dir.File("y.mp3")));
}

// What cannot be written fails that file, names it, and leaves nothing under its name or beside it.
TEST_F(BatchTest, AnOutputThatCannotBeWrittenWholeFailsAndLeavesNothing)
{
    const std::string song = Media("in/song.mp3", Sound("libmp3lame", 44100, 2));
    std::vector<unsigned char> cover = tagtest::EncodePicture("png");
    cover.resize(1 << 20); // a large picture: the tags need more room than the limit leaves
    tagtest::TagTitled(tagtest::TSource::Mp3Id3v2, song, "A Song", {{3, "image/png", cover}});
    fs::create_directories(dir.File("fifo"));
    ASSERT_EQ(mkfifo(dir.File("fifo/song.mp3").c_str(), 0600), 0);
    RunOptions smallFiles;
    smallFiles.limits = {"--fsize=" + std::to_string(256 << 10)}; // the sound fits, the cover does not
    const struct {
        std::vector<std::string> arguments;
        RunOptions options;
        std::string failure;
    } cases[] = {
        {{"-o", dir.File("full"), dir.File("in")},
         smallFiles,
         "cannot write the tags of '" + dir.File("full/song.mp3") + "': File too large"},
        {{"-o", dir.File("fifo"), "--on-exists", "overwrite", dir.File("in")},
         {},
         "'" + dir.File("fifo/song.mp3") + "' is not a regular file; it is left as it was"},
    };
    for (const auto &c : cases) {
        const Result result = Batch(c.arguments, c.options);
        EXPECT_EQ(result.status, 1) << result.errors;
        EXPECT_NE(result.errors.find("FAIL " + song + ": " + c.failure), std::string::npos) << result.errors;
        EXPECT_EQ(LastLine(result.errors), "converted 0, skipped 0, failed 1");
    }
    EXPECT_EQ(Tree(dir.File("full")), std::vector<std::string>{});
    EXPECT_TRUE(fs::is_fifo(dir.File("fifo/song.mp3")));
}

// Low open-file limits at any number of jobs, and a hang-up that nohup asked to ignore: every file
// converts.
TEST_F(BatchTest, LowOpenFileLimitsAndAnIgnoredHangUpLoseNoFile)
{
    fs::create_directories(dir.File("many"));
    for (int i = 0; i < 120; ++i)
        WriteSineWav(dir.File("many/" + std::to_string(i) + ".wav"), 0.05, 8000, 1);
    RunOptions limited = During([](pid_t pid) { kill(pid, SIGHUP); });
    limited.limits = {"--nofile=64"};
    limited.hangupIgnored = true;
    for (const char *jobs : {"2", "64"}) {
        const Result result =
            Batch({"-j", jobs, "--quiet", "-o", dir.File(std::string("out") + jobs), dir.File("many")}, limited);
        EXPECT_EQ(result.status, 0) << result.errors;
        EXPECT_EQ(LastLine(result.errors), "converted 120, skipped 0, failed 0") << jobs;
    }
}

// Each input keeps its output's name from run to run, and only outputs that record their input are
// replaced: a file of the user's under an output's name never is.
TEST_F(BatchTest, NamesStayWithTheirInputsFromRunToRun)
{
    Media("music/song.flac", Sound("flac", 44100, 2));
    WriteSineMp3(dir.File("music/user.mp3"));
    Media("music/user.flac", Sound("flac", 44100, 2));
    const std::string users = ReadFile(dir.File("music/user.mp3"));
    const struct {
        const char *add, *onExists, *summary;
        std::vector<std::string> tree;
    } runs[] = {
        {nullptr, "skip", "converted 1, skipped 2, failed 0", {"song.flac", "song.mp3", "user.flac", "user.mp3"}},
        {"music/song.wav",
         "skip",
         "converted 1, skipped 4, failed 0",
         {"song (wav).mp3", "song.flac", "song.mp3", "song.wav", "user.flac", "user.mp3"}},
        {nullptr,
         "overwrite",
         "converted 3, skipped 3, failed 0",
         {"song (wav).mp3", "song.flac", "song.mp3", "song.wav", "user (flac).mp3", "user.flac", "user.mp3"}},
    };
    for (const auto &run : runs) {
        if (run.add)
            Media(run.add, Sound("pcm_s16le", 44100, 2));
        const Result result = Batch({"--on-exists", run.onExists, dir.File("music")});
        EXPECT_EQ(LastLine(result.errors), run.summary) << result.errors;
        EXPECT_EQ(Tree(dir.File("music")), run.tree);
    }
    EXPECT_TRUE(ReadFile(dir.File("music/user.mp3")) == users); // the user's file, untouched
}

// The smallest MP3s the batch makes, tags and record included, are media to the next run.
TEST_F(BatchTest, ItsOwnSmallestMp3sAreMediaAgain)
{
    for (const int samples : {1153, 2000, 4000})
        Media("tiny/" + std::to_string(samples) + ".wav", Sound("pcm_s16le", 8000, 1, samples / 8000.0));
    ASSERT_EQ(Batch({"--quiet", "-o", dir.File("mp3"), dir.File("tiny")}).status, 0);
    const Result again = Batch({"--quiet", "-f", "wav", "-o", dir.File("wav"), dir.File("mp3")});
    EXPECT_EQ(LastLine(again.errors), "converted 3, skipped 0, failed 0") << again.errors;
}

// Nothing the run was given, nor anything it cannot prove it made, is removed: inputs named like
// temporary files, a person's look-alikes of any length, a name whose check is wrong, one held open. A killed run's
// temporary file beside the file a linked output leads to goes; an output another run is converting is left to it.
TEST_F(BatchTest, TheCleanUpRemovesOnlyWhatItProvablyMade)
{
    const std::string take = dir.File(".take.wav.partial-Take01.wav"), longWav = dir.File("long.wav"),
                      busyWav = dir.File("busy.wav");
    for (const std::string &input : {take, longWav, busyWav})
        WriteSineWav(input, 0.5);
    fs::create_directories(dir.File("out"));
    fs::create_directories(dir.File("target"));
    fs::create_symlink("../target/t.mp3", dir.File("out/long.mp3"));
    const std::string killed = dir.File("target/" + batch::TemporaryNameOf("t.mp3", ".mp3")),
                      held = dir.File("out/" + batch::TemporaryNameOf("held.mp3", ".mp3")),
                      busy = dir.File("out/" + batch::TemporaryNameOf("busy.mp3", ".mp3"));
    std::string forged = batch::TemporaryNameOf("forged.mp3", ".mp3");
    forged[forged.size() - 5] ^= 1; // one letter of its check changed
    const std::vector<std::string> lookAlikes = {".holiday.partial-photos",
                                                 ".notes.partial-draft1",
                                                 ".song.partial-ABCDEF",
                                                 ".x.mp3.partial-BBBBBB.mp3",
                                                 "." + std::string(236, 'x') + ".partial-AbC123",
                                                 forged};
    for (const std::string &name : lookAlikes)
        std::ofstream(dir.File("out/" + name)) << "the user's";
    for (const std::string &file : {killed, held, busy, dir.File("target/t.mp3")})
        std::ofstream(file) << "not the user's";
    const batch::UniqueFd holding(open(held.c_str(), O_RDONLY)), locked(open(busy.c_str(), O_RDONLY));
    ASSERT_EQ(flock(locked.Get(), LOCK_EX), 0); // another run at work on busy.mp3

    const Result result = Batch({"-o", dir.File("out"), "--on-exists", "overwrite", take, longWav, busyWav});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(LastLine(result.errors), "converted 2, skipped 1, failed 0") << result.errors;
    EXPECT_NE(result.errors.find("skip " + busyWav + " (being converted by another run)"), std::string::npos)
        << result.errors;
    const std::string note = "'" + held + "' looks like a temporary file of a stopped run, but a program holds it open";
    EXPECT_NE(result.errors.find(note), std::string::npos) << result.errors;
    EXPECT_EQ(result.errors.find(note), result.errors.rfind(note)) << "told once";
    EXPECT_TRUE(fs::exists(take));
    EXPECT_FALSE(fs::exists(killed));
    EXPECT_TRUE(fs::is_symlink(dir.File("out/long.mp3")));
    EXPECT_GT(DecodeAudio(dir.File("target/t.mp3")).Frames(), 0);
    for (const std::string &kept : lookAlikes)
        EXPECT_EQ(ReadFile(dir.File("out/" + kept)), "the user's") << kept;
    EXPECT_TRUE(fs::exists(busy) && !fs::exists(dir.File("out/busy.mp3")));

    // One file converted alone keeps its input too, though the input is open when the clean-up runs.
    const std::string mix = dir.File(".demo.partial-mix001");
    fs::rename(longWav, mix);
    EXPECT_EQ(RunVeloxc({"convert", mix, dir.File("demo.mp3")}, logs).status, 0);
    EXPECT_TRUE(fs::exists(mix) && fs::exists(dir.File("demo.mp3")));
}

// Every format of the table from one tagged FLAC with a cover, at its default quality; a format
// without tags says so once a run.
TEST_F(BatchTest, EveryFormatKeepsTagsCoverLengthAndSamples)
{
    fs::create_directories(dir.File("in"));
    fs::create_directories(dir.File("more"));
    const tagtest::TFormatSource source = tagtest::MakeFormatSource(dir.File("in/song.flac"));
    fs::copy_file(source.path, dir.File("more/other.flac"));
    for (const batch::OutputFormat &format : batch::OutputFormats()) {
        SCOPED_TRACE(format.name);
        const std::string out = dir.File(std::string("out-") + format.name);
        const Result run = Batch({"-f", format.name, "-o", out, dir.File("in"), dir.File("more")});
        ASSERT_EQ(run.status, 0) << run.errors;
        const std::string note = std::string("tags are not kept in ") + format.displayName + " files";
        const size_t told = run.errors.find(note);
        EXPECT_EQ(told != std::string::npos, !format.HoldsTags()) << run.errors;
        EXPECT_TRUE(told == std::string::npos || run.errors.find(note, told + 1) == std::string::npos);
        tagtest::ExpectMadeOf(format, format.DefaultQuality(), source, out + "/song" + format.extension);
    }
}
