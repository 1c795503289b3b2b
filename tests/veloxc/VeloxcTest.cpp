#include "batch/TemporaryName.h"
#include "libs/AVDeleters.h"
#include "libs/AVEntryPoints.h"
#include "tags/TagCopy.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TestSupport.h"
#include "tests/tags/PictureFixtures.h"
#include "tests/tags/SourceTagging.h"
#include "tests/veloxc/FolderContent.h"
#include "tests/veloxc/VeloxcRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace testing_support;
namespace fs = std::filesystem;

extern char **environ;

namespace {

size_t Count(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::string TitleOf(const std::string &path)
{
    AVFormatContext *opened = nullptr;
    if (avlib::avformat.avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0)
        return "(cannot open)";
    const avlib::InputFormatContextPtr input(opened);
    const AVDictionaryEntry *title = avlib::avutil.av_dict_get(input->metadata, "title", nullptr, 0);
    return title ? title->value : "(none)";
}

class VeloxcTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureLibrariesLoaded(); }

    Result Run(const std::vector<std::string> &arguments, const RunOptions &options = {})
    {
        return RunVeloxc(arguments, logs, options);
    }

    // An older output that a run must leave alone unless it finishes.
    std::string OlderOutput(const std::string &name)
    {
        const std::string path = dir.File(name);
        std::ofstream(path) << "keep\n";
        fs::permissions(path, fs::perms(0640));
        return path;
    }

    TempDir dir;  // the media, and nothing else
    TempDir logs; // what veloxc printed
};

} // namespace

TEST_F(VeloxcTest, HelpVersionAndUsageErrors)
{
    EXPECT_EQ(Run({"--help"}).status, 0);
    for (const auto &words : {std::vector<std::string>{"--version"}, {"convert", "--version"}}) {
        const Result version = Run(words);
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.output, "veloxc " VELOX_VERSION "\n");
    }
    const Result wrong = Run({"convert", "only-one"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.errors.find("veloxc: convert needs an input and an output"), std::string::npos) << wrong.errors;
    // The reason stays in sight: a pointer to the help follows it, not the whole text.
    EXPECT_TRUE(wrong.errors.ends_with("convert needs an input and an output\nTry 'veloxc convert --help'.\n"))
        << wrong.errors;
    const struct {
        std::vector<std::string> arguments;
        std::string error;
    } usageErrors[] = {
        {{}, "Usage: veloxc COMMAND"},
        {{"transmogrify"}, "veloxc: unknown command 'transmogrify'"},
        {{"convert", "a", "b", "--verbose", "2x"}, "veloxc: --verbose needs a number from -1 to 3, not '2x'"},
    };
    for (const auto &c : usageErrors) {
        const Result result = Run(c.arguments);
        EXPECT_EQ(result.status, 2) << c.error;
        EXPECT_NE(result.errors.find(c.error), std::string::npos) << result.errors;
    }
}

TEST_F(VeloxcTest, AFinishedRunReplacesTheOlderOutputKeepingItsMode)
{
    WriteSineMp3(dir.File("in.mp3"), 2.0);
    const std::string old = OlderOutput("out.mp3");
    std::ofstream(dir.File(batch::TemporaryNameOf("song.wav", ".wav"))) << "left by a killed run of another output";
    const Result result = Run({"convert", dir.File("in.mp3"), old, "--out", "acodec=copy"});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_GT(fs::file_size(old), 20000u);
    EXPECT_EQ(fs::status(old).permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"in.mp3", "out.mp3"}));
    EXPECT_NE(result.errors.find("Stream mapping:"), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("muxing overhead"), std::string::npos) << result.errors;
    // The libraries' own lines name the output, not its temporary file.
    EXPECT_NE(result.errors.find("Output #0, mp3, to '" + old + "'"), std::string::npos) << result.errors;
    EXPECT_EQ(result.errors.find(".partial-"), std::string::npos) << result.errors;

    // "-" is standard output, never a file of that name.
    RunOptions inDir;
    inDir.workingDir = dir.Path();
    const Result piped = Run({"convert", dir.File("in.mp3"), "-", "--out", "f=mp3", "--out", "acodec=copy"}, inDir);
    EXPECT_EQ(piped.status, 0) << piped.errors;
    EXPECT_EQ(piped.output.substr(0, 3), "ID3");
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"in.mp3", "out.mp3"}));
}

TEST_F(VeloxcTest, NamesAfterDoubleDashAndValuesWithEqualSigns)
{
    WriteSineWav(dir.File("--name.wav"), 0.5, 8000, 1);
    RunOptions inDir;
    inDir.workingDir = dir.Path().string();
    const Result result = Run({"convert", "--out", "title=a=b c", "--", "--name.wav", "out.mp3"}, inDir);
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(TitleOf(dir.File("out.mp3")), "a=b c");
}

TEST_F(VeloxcTest, OptionsTheEngineLeavesOutAreUsageErrors)
{
    WriteSineWav(dir.File("in.wav"), 0.5, 8000, 1);
    const struct {
        const char *where, *option, *error;
    } cases[] = {
        {"--out", "bitrate=192000", "veloxc: unknown option 'bitrate'"},
        {"--out", "bogus=1", "veloxc: unknown option 'bogus'"},
        {"--in", "bogus=1", "veloxc: unknown option 'bogus'"},
        {"--out", "ab=abc", "veloxc: invalid value 'abc' for option 'ab'"},
        {"--out", "ab=192kbps", "veloxc: invalid value '192kbps' for option 'ab'"},
        {"--out", "fs=-1", "veloxc: invalid value '-1' for option 'fs'"},
        {"--out", "pass=3", "veloxc: option 'pass': pass number can be only 1 or 2"},
        {"--out", "ar=nan", "veloxc: option 'ar': 'nan' is not a valid integer value"},
        {"--out", "vol=-1000", "veloxc: invalid value '-1000' for option 'vol'"},
        {"--out", "t=0", "veloxc: invalid value '0' for option 't'"},
    };
    for (const auto &c : cases) {
        const Result result = Run({"convert", dir.File("in.wav"), dir.File("out.mp3"), c.where, c.option});
        EXPECT_EQ(result.status, 2) << c.option << "\n" << result.errors;
        EXPECT_NE(result.errors.find(c.error), std::string::npos) << result.errors;
        EXPECT_EQ(Entries(dir), std::vector<std::string>{"in.wav"}) << c.option;
    }
}

TEST_F(VeloxcTest, SetUpFailuresExitWithTheirMessage)
{
    WriteSineMp3(dir.File("in.mp3"), 0.5);
    const Result missing = Run({"convert", dir.File("missing.mp3"), dir.File("out.mp3")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.errors.find("veloxc: " + dir.File("missing.mp3") + ": no such file or directory"),
              std::string::npos)
        << missing.errors;
    // The engine is given a hidden name; the message names the output as the user wrote it.
    const Result badOutput = Run({"convert", dir.File("in.mp3"), dir.File("out.xyz")});
    EXPECT_EQ(badOutput.status, 1);
    EXPECT_NE(
        badOutput.errors.find("veloxc: Unable to find a suitable output format for '" + dir.File("out.xyz") + "'"),
        std::string::npos)
        << badOutput.errors;
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"in.mp3"});
}

TEST_F(VeloxcTest, AFailedRunLeavesTheOlderOutputAndTellsTheFailureOnce)
{
    WriteSineWav(dir.File("in.wav"), 1.0, 8000, 1);
    // A number in a name is no reason to write it in place: one MP3 is one file.
    for (const char *name : {"keep.mp3", "keep%d.mp3"})
        // The first fails as the output is set up; the second once its file is open (no MP3 in MP3).
        for (const char *option : {"ac=6", "acodec=pcm_s16le"}) {
            const std::string old = OlderOutput(name);
            const Result result = Run({"convert", dir.File("in.wav"), old, "--out", option});
            EXPECT_EQ(result.status, 1) << option << "\n" << result.errors;
            EXPECT_EQ(ReadFile(old), "keep\n") << option;
            EXPECT_EQ(Entries(dir), (std::vector<std::string>{"in.wav", name}));
            fs::remove(old);
            // The last line is veloxc's, and what it tells is told nowhere else.
            const size_t lastLine = result.errors.rfind('\n', result.errors.size() - 2) + 1;
            ASSERT_EQ(result.errors.compare(lastLine, 8, "veloxc: "), 0) << result.errors;
            const std::string message = result.errors.substr(lastLine + 8);
            EXPECT_EQ(Count(result.errors, message.substr(0, message.size() - 1)), 1u) << result.errors;
        }
}

TEST_F(VeloxcTest, AnOutputThatIsTheInputIsRefused)
{
    WriteSineWav(dir.File("in.wav"), 0.5, 8000, 1);
    const std::string before = ReadFile(dir.File("in.wav"));
    const Result result = Run({"convert", dir.File("in.wav"), "file:" + dir.File("in.wav")});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("veloxc: Output file 'file:" + dir.File("in.wav") + "' would overwrite input file '" +
                                 dir.File("in.wav") + "'"),
              std::string::npos)
        << result.errors;
    EXPECT_EQ(ReadFile(dir.File("in.wav")), before);
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"in.wav"});
}

TEST_F(VeloxcTest, AStopLeavesTheOlderOutputAndExitsWithTheSignal)
{
    WriteSineMp3(dir.File("in.mp3"), 30.0);
    const std::string old = OlderOutput("out.mp3");
    const struct {
        int signal, status;
        const char *name;
    } stops[] = {{SIGINT, 130, "SIGINT"}, {SIGTERM, 143, "SIGTERM"}, {SIGHUP, 129, "SIGHUP"}};
    for (const auto &[signal, status, name] : stops) {
        const Result result = Run({"convert", dir.File("in.mp3"), old, "--in", "re=", "--out", "acodec=copy"},
                                  InterruptAfter(700, signal));
        EXPECT_EQ(result.status, status) << result.errors;
        EXPECT_NE(result.errors.find("muxing overhead"), std::string::npos) << result.errors; // the end still ran
        // The summary is not the last word: the stop is.
        const std::string last = "veloxc: stopped by " + std::string(name) + "; '" + old + "' is left as it was\n";
        EXPECT_EQ(result.errors.substr(result.errors.size() - std::min(result.errors.size(), last.size())), last);
        EXPECT_EQ(ReadFile(old), "keep\n");
        EXPECT_EQ(Entries(dir), (std::vector<std::string>{"in.mp3", "out.mp3"}));
    }
}

TEST_F(VeloxcTest, AReaderOfTheLogThatGoesAwayDoesNotEndTheRun)
{
    WriteSineWav(dir.File("in.wav"), 1.0, 8000, 1);
    RunOptions brokenErrors;
    brokenErrors.brokenErrors = true;
    const Result result = Run({"convert", dir.File("in.wav"), dir.File("out.mp3")}, brokenErrors);
    EXPECT_EQ(result.status, 0);
    EXPECT_GT(DecodeAudio(dir.File("out.mp3")).Frames(), 7000u);
}

TEST_F(VeloxcTest, CtrlCGivesUpWaitingForAnInputThatNeverAnswers)
{
    // A server that accepts the connection and never answers.
    const int server = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(server, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(server, 1), 0);
    socklen_t length = sizeof address;
    getsockname(server, reinterpret_cast<sockaddr *>(&address), &length);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/tone.wav";

    int connection = -1;
    const auto answerNever = [server, &connection](pid_t pid) {
        pollfd waiting{server, POLLIN, 0};
        if (poll(&waiting, 1, 20000) != 1) {
            ADD_FAILURE() << "veloxc never connected";
            return;
        }
        connection = accept(server, nullptr, nullptr);
        Interrupt(pid);
    };
    const Result result = Run({"convert", url, dir.File("out.wav")}, During(answerNever));
    if (connection >= 0)
        close(connection); // only now: the stop request alone has to end the wait
    close(server);
    EXPECT_EQ(result.status, 130) << result.errors;
    EXPECT_TRUE(Entries(dir).empty());
}

TEST_F(VeloxcTest, ASecondCtrlCEndsVeloxcAtOnceAndLeavesNoPartialFile)
{
    // Opening a named pipe nobody writes to waits in the kernel, where no stop request reaches.
    const std::string pipe = dir.File("never.wav");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string old = OlderOutput("out.wav");
    const Result result = Run({"convert", pipe, old}, During([](pid_t pid) {
                                  std::this_thread::sleep_for(std::chrono::milliseconds(300));
                                  Interrupt(pid);
                                  Interrupt(pid);
                              }));
    EXPECT_EQ(result.signal, SIGINT) << result.errors; // killed, not an orderly exit with 130
    EXPECT_EQ(ReadFile(old), "keep\n");
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"never.wav", "out.wav"}));
}

TEST_F(VeloxcTest, AFailureWhileStoppingIsAFailure)
{
    // Stopped after half a second, the output still has to be finished, and a full disk refuses that.
    WriteSineWav(dir.File("in.wav"), 5.0, 8000, 1);
    const Result result =
        Run({"convert", dir.File("in.wav"), "/dev/full", "--in", "re=", "--out", "f=wav"}, InterruptAfter(500));
    EXPECT_EQ(result.status, 1) << result.errors;
    EXPECT_NE(result.errors.find("veloxc: Could not write to '/dev/full': No space left on device"), std::string::npos)
        << result.errors;
}

TEST_F(VeloxcTest, AFailedSetUpEndsCleanlyUnderTheLeakChecker)
{
    // In a sanitizer build the leak checker runs at exit, and whether its walk over thread-local
    // blocks trips depends on where the heap puts the block a library makes while shutting down.
    // Each tag of the input moves that block by a few heap blocks; 128 inputs move it across a
    // whole page. A build without the checker needs the one run.
#if defined(__SANITIZE_ADDRESS__)
    const int inputs = 128;
#else
    const int inputs = 1;
#endif
    const std::string input = dir.File("tone.mp3");
    std::map<std::string, std::string> tags;
    for (int count = 0; count < inputs; ++count) {
        if (count > 0)
            tags["k" + std::to_string(1000 + count)] = "a value longer than sixteen";
        WriteSineMp3(input, 0.1, tags);
        const Result result = Run({"convert", "--in", "f=wav", input, dir.File("x.mp3")});
        ASSERT_EQ(result.status, 1) << count << " tags: " << result.errors;
        ASSERT_NE(result.errors.find("veloxc: " + input + ": Unknown format"), std::string::npos) << result.errors;
        ASSERT_EQ(result.errors.find("Sanitizer"), std::string::npos) << count << " tags: " << result.errors;
        ASSERT_EQ(result.errors.find("Tracer caught"), std::string::npos) << count << " tags: " << result.errors;
    }
}

TEST_F(VeloxcTest, ClosedStandardFilesNeverBecomeTheOutput)
{
    WriteSineWav(dir.File("in.wav"), 0.5, 8000, 1);
    RunOptions closed;
    closed.closedStandardFiles = true;
    const Result result = Run({"convert", dir.File("in.wav"), dir.File("out.wav")}, closed);
    EXPECT_EQ(result.status, 0);
    // The log went nowhere, not into the file: it is a whole WAV of the input's length.
    EXPECT_EQ(ReadFile(dir.File("out.wav")).substr(0, 4), "RIFF");
    EXPECT_EQ(DecodeAudio(dir.File("out.wav")).Frames(), 4000u);
}

TEST_F(VeloxcTest, AnOutputTheUserCouldNotOpenIsRefusedBeforeAnyWork)
{
    WriteSineWav(dir.File("in.wav"), 0.5, 8000, 1);
    // Another's file the user may not write: renaming over it would replace it all the same.
    RunOptions unprivileged;
    unprivileged.asUnprivilegedUser = true;
    if (geteuid() == 0 && !fs::exists(kSetpriv))
        GTEST_SKIP() << "no way to run as another user";
    fs::permissions(dir.Path(), fs::perms::all); // a shared folder
    fs::permissions(dir.File("in.wav"), fs::perms(0644));
    const std::string theirs = OlderOutput("theirs.mp3");
    fs::permissions(theirs, fs::perms(0444));
    const Result refused = Run({"convert", dir.File("in.wav"), theirs}, unprivileged);
    EXPECT_EQ(refused.status, 1) << refused.errors;
    EXPECT_NE(refused.errors.find("veloxc: Could not open '" + theirs + "': Permission denied"), std::string::npos)
        << refused.errors;
    EXPECT_EQ(ReadFile(theirs), "keep\n");

    // A name longer than the file system takes fails before the conversion, not at its end.
    const std::string tooLong = dir.File(std::string(260, 'n') + ".mp3");
    const Result longName = Run({"convert", dir.File("in.wav"), tooLong});
    EXPECT_EQ(longName.status, 1);
    EXPECT_NE(longName.errors.find("': File name too long"), std::string::npos) << longName.errors;
    EXPECT_EQ(longName.errors.find("Output #0"), std::string::npos) << "the conversion was set up";
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"in.wav", "theirs.mp3"}));
}

TEST_F(VeloxcTest, AVideoWithSoundConvertsToVideoSoundOnlyAndDiscFormats)
{
    MediaRecipe recipe;
    recipe.seconds = 2.0;
    recipe.video = VideoTrack{};
    recipe.video->width = 320;
    recipe.video->height = 240;
    recipe.audio = AudioTrack{"aac", 48000, 2};
    const std::string input = dir.File("clip with sound.mp4");
    WriteMediaFile(input, recipe);
    // A cover of another size and rate, which is no video to convert.
    tagtest::TagSource(tagtest::TSource::M4a, input, {}, {{3, "image/png", tagtest::EncodePicture("png", 64, 64)}});
    struct Case {
        const char *output;
        std::vector<std::string> options;
        int width, height; // 0: no picture expected
        const char *format;
    };
    const Case cases[] = {
        {"clip.avi", {}, 320, 240, "avi"},
        {"clip.mp3", {}, 0, 0, "mp3"},
        {"clip.mpg", {"--out", "target=pal-vcd"}, 352, 288, "mpeg"},
        {"clip-svcd.mpg", {"--out", "target=pal-svcd"}, 480, 576, "mpeg"},
        {"clip.vob", {"--out", "target=ntsc-dvd"}, 720, 480, "mpeg"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.output);
        std::vector<std::string> arguments{"convert", input, dir.File(c.output)};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const Result result = Run(arguments);
        ASSERT_EQ(result.status, 0) << result.errors;
        AVFormatContext *opened = nullptr;
        ASSERT_GE(avlib::avformat.avformat_open_input(&opened, dir.File(c.output).c_str(), nullptr, nullptr), 0);
        const avlib::InputFormatContextPtr file(opened);
        ASSERT_GE(avlib::avformat.avformat_find_stream_info(opened, nullptr), 0);
        EXPECT_STREQ(opened->iformat->name, c.format);
        bool sound = false, picture = false;
        for (unsigned i = 0; i < opened->nb_streams; ++i) {
            const AVCodecParameters *stream = opened->streams[i]->codecpar;
            sound = sound || stream->codec_type == AVMEDIA_TYPE_AUDIO;
            // The MP3 carries the cover as a tag, which the libraries show as a picture.
            if (stream->codec_type == AVMEDIA_TYPE_VIDEO &&
                !(opened->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
                picture = true;
                EXPECT_EQ(stream->width, c.width);
                EXPECT_EQ(stream->height, c.height);
            }
        }
        EXPECT_TRUE(sound);
        EXPECT_EQ(picture, c.width > 0);
        EXPECT_NEAR(static_cast<double>(opened->duration) / AV_TIME_BASE, 2.0, 0.2);
    }
}

// Tags and the cover of a container TagLib does not read come along through the libraries, into
// an MP3 and a WAV alike.
TEST_F(VeloxcTest, TagsAndTheCoverComeAlongFromMatroska)
{
    MediaRecipe recipe;
    recipe.format = "matroska";
    recipe.audio = AudioTrack{"flac", 44100, 2};
    recipe.attachedJpeg = tagtest::EncodePicture("mjpeg");
    recipe.tags = {{"title", "Live at Home"}, {"artist", "The Testers"}, {"date", "2024"}};
    WriteMediaFile(dir.File("live.mka"), recipe);
    for (const char *output : {"live.mp3", "live.wav"}) {
        const Result result = Run({"convert", dir.File("live.mka"), dir.File(output)});
        ASSERT_EQ(result.status, 0) << result.errors;
        tagcopy::TTagSet tags;
        std::string error;
        ASSERT_TRUE(tagcopy::ReadTags(dir.File(output), tags, error)) << error;
        EXPECT_EQ(tags.fields, (std::map<std::string, std::string>{
                                   {"ARTIST", "The Testers"}, {"DATE", "2024"}, {"TITLE", "Live at Home"}}))
            << output;
        EXPECT_TRUE(tags.frontCover && tags.frontCover->mimeType == "image/jpeg") << output;
    }
}
