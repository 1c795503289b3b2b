#include "component/VeloxConverter.h"
#include "component/FFmpegList.h"
#include "libs/AVEntryPoints.h"
#include "libs/AVLibLoader.h"
#include "libs/LibraryLog.h"
#include "libs/OpenError.h"
#include "probe/AVProbe.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QPointer>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace testing_support;

namespace {

class VeloxConverterTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureLibrariesLoaded(); }

    std::string Wav(const std::string &name, double seconds = 0.5)
    {
        WriteSineWav(dir.File(name), seconds);
        return dir.File(name);
    }
    std::string VideoWithSound(const std::string &name)
    {
        MediaRecipe recipe;
        recipe.seconds = 0.5;
        recipe.video = VideoTrack{};
        recipe.audio = AudioTrack{"mp2", 44100, 2};
        WriteMediaFile(dir.File(name), recipe);
        return dir.File(name);
    }
    // The message of the std::out_of_range that f raises.
    template <typename F>
    static std::string IndexError(F f)
    {
        try {
            f();
        } catch (const std::out_of_range &e) {
            return e.what();
        }
        return "nothing raised";
    }

    TempDir dir;
    TVeloxConverter converter;
};

// Tests that unload the libraries load them again afterwards for the tests that follow.
class VeloxConverterLoadTest : public VeloxConverterTest {
protected:
    void SetUp() override { avlib::UnloadAll(); }
    void TearDown() override
    {
        EnsureLibrariesLoaded();
        converter.SetLogLevel(llInfo);
    }
};

struct Terminated {
    int index;
    bool finished, exception;
    std::string message;
};

} // namespace

TEST_F(VeloxConverterTest, CreateGivesTheDefaultsAndTheOwnerOwnsTheComponent)
{
    EXPECT_EQ(converter.NextTaskIndex(), -1);
    EXPECT_EQ(converter.ThreadCount(), 0);
    EXPECT_EQ(converter.LogLevel(), llInfo);
    EXPECT_EQ(converter.ProgressInterval(), 500);
    EXPECT_EQ(converter.ThreadPriority(), tpNormal);
    EXPECT_EQ(TVeloxConverter::Version(), "2.2a");
    EXPECT_EQ(converter.Tasks().Count(), 0);
    EXPECT_FALSE(converter.Designing());
    EXPECT_EQ(converter.AVProbe().StreamCount, -1);

    QPointer<TVeloxConverter> owned;
    {
        QObject owner;
        owned = new TVeloxConverter(&owner); // the owner deletes it
        owned->setObjectName("VeloxConverter1");
        EXPECT_EQ(owner.findChild<TVeloxConverter *>("VeloxConverter1"), owned.data());
    }
    EXPECT_TRUE(owned.isNull());
}

TEST_F(VeloxConverterTest, ProgressIntervalIsAtLeast100Milliseconds)
{
    const std::pair<int, int> cases[] = {{50, 100}, {100, 100}, {101, 101}, {-1, 100}, {2000, 2000}};
    for (const auto &[written, read] : cases) {
        converter.SetProgressInterval(written);
        EXPECT_EQ(converter.ProgressInterval(), read) << written;
    }
}

TEST_F(VeloxConverterLoadTest, DesignModeLoadsNothing)
{
    converter.SetDesigning(true);
    EXPECT_TRUE(converter.LoadAVLib(dir.Path().string(), true));
    EXPECT_FALSE(avlib::AllLoaded());
    EXPECT_EQ(converter.LastErrMsg(), "");
}

TEST_F(VeloxConverterLoadTest, AFolderWithoutTheLibrariesGivesTheLoadersTextUntilTheNextFailure)
{
    const std::string codec = avlib::UnitFileName(avlib::Unit::AVCodec, true);
    EXPECT_FALSE(converter.LoadAVLib(dir.Path().string(), true));
    const std::string expected = "Load libraray " + codec + " error: " + dir.File(codec) +
                                 ": cannot open shared object file: No such file or directory";
    EXPECT_EQ(converter.LastErrMsg(), expected);
    EXPECT_FALSE(avlib::AllLoaded());

    EXPECT_TRUE(converter.LoadAVLib(LibraryDir(), true));
    EXPECT_TRUE(avlib::AllLoaded());
    EXPECT_EQ(converter.LastErrMsg(), expected); // a success does not clear it
    // Loaded already: the folder is not read, the level is given again.
    avlib::avutil.av_log_set_level(AV_LOG_DEBUG);
    EXPECT_TRUE(converter.LoadAVLib(dir.Path().string(), true));
    EXPECT_EQ(avlib::avutil.av_log_get_level(), AV_LOG_INFO);
}

TEST_F(VeloxConverterLoadTest, WithoutTheLibrariesNoTaskIsMade)
{
    EXPECT_EQ(converter.AddInput(dir.File("in.wav"), nullptr), -1);
    EXPECT_EQ(converter.LastErrMsg(), "The media libraries are not loaded");
    EXPECT_EQ(converter.Tasks().Count(), 0);
}

TEST_F(VeloxConverterLoadTest, LogLevelReachesTheLibrariesWhenTheyAreLoaded)
{
    converter.SetLogLevel(llError); // stored only: nothing is loaded
    EXPECT_EQ(converter.LogLevel(), llError);
    ASSERT_TRUE(converter.LoadAVLib(LibraryDir(), true)) << converter.LastErrMsg();
    EXPECT_EQ(avlib::avutil.av_log_get_level(), AV_LOG_ERROR);
    EXPECT_EQ(avlib::LogThreshold(), AV_LOG_ERROR);

    const std::pair<TLogLevel, int> cases[] = {{llQuiet, AV_LOG_QUIET},
                                               {llError, AV_LOG_ERROR},
                                               {llInfo, AV_LOG_INFO},
                                               {llDebug, AV_LOG_DEBUG},
                                               {llAll, AV_LOG_TRACE}};
    for (const auto &[level, libraryLevel] : cases) {
        converter.SetLogLevel(level);
        EXPECT_EQ(avlib::avutil.av_log_get_level(), libraryLevel) << level;
        EXPECT_EQ(avlib::LogThreshold(), libraryLevel) << level;
    }
}

TEST_F(VeloxConverterTest, AddInputFillsAnEmptyFileNameAndCopiesTheRecord)
{
    const std::string wav = Wav("in.wav");
    TInputOptions empty, named;
    named.FileName = "elsewhere.wav";
    named.StartTime = 100;
    struct Case {
        TInputOptions *record;
        std::string recordNameAfter;
    };
    const Case cases[] = {{&empty, wav}, {&named, "elsewhere.wav"}, {nullptr, ""}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.recordNameAfter);
        const int index = converter.AddInput(wav, c.record);
        ASSERT_EQ(index, converter.Tasks().Count() - 1) << converter.LastErrMsg();
        TFFmpeg &task = converter.Tasks().Items(index);
        EXPECT_EQ(task.TaskIndex, index);
        EXPECT_EQ(task.Probe.FileName(), wav); // the argument is what opens
        EXPECT_EQ(task.InputOptions.FileName, c.recordNameAfter);
        if (c.record) {
            EXPECT_EQ(c.record->FileName, c.recordNameAfter);
            EXPECT_EQ(task.InputOptions.StartTime, c.record->StartTime);
        } else {
            EXPECT_EQ(task.InputOptions.StartTime, -1);
            EXPECT_EQ(task.InputOptions.ProgramID, -1);
        }
    }
}

TEST_F(VeloxConverterTest, AFailedAddInputLeavesTheListAsItWas)
{
    const std::string wav = Wav("in.wav"), missing = dir.File("missing.wav");
    ASSERT_EQ(converter.AddInput(wav, nullptr), 0);
    TInputOptions unknownFormat;
    unknownFormat.FileFormat = "nosuchformat";
    struct Case {
        std::string file;
        TInputOptions *record;
        std::string message;
    };
    const Case cases[] = {{missing, nullptr, PrintOpenError(missing, AVERROR(ENOENT))},
                          {wav, &unknownFormat, "Unknown input format: nosuchformat"}};
    for (const Case &c : cases) {
        EXPECT_EQ(converter.AddInput(c.file, c.record), -1);
        EXPECT_EQ(converter.LastErrMsg(), c.message);
        EXPECT_EQ(converter.Tasks().Count(), 1);
    }
    EXPECT_EQ(converter.AddInput(wav, nullptr), 1);
    EXPECT_EQ(converter.LastErrMsg(), "Unknown input format: nosuchformat"); // kept by a success

    converter.ClearTasks();
    EXPECT_EQ(converter.Tasks().Count(), 0);
    EXPECT_EQ(converter.LastErrMsg(), "");
}

TEST_F(VeloxConverterTest, AFailedAddOutputSaysWhyAndKeepsTheTask)
{
    const std::string wav = Wav("in.wav");
    struct Case {
        void (*set)(TOutputOptions &);
        std::string message;
    };
    const Case cases[] = {
        {[](TOutputOptions &o) { o.FileFormat = "nosuchformat"; }, "Unknown output format: nosuchformat"},
        {[](TOutputOptions &o) { o.AudioTag = "abc"; }, "audio tag parameter must be 4 chars"},
        {[](TOutputOptions &o) { o.FrameSize = "wide"; }, "Incorrect frame size"},
    };
    for (const Case &c : cases) {
        const int index = converter.AddInput(wav, nullptr);
        ASSERT_GE(index, 0) << converter.LastErrMsg();
        TOutputOptions record;
        c.set(record);
        EXPECT_FALSE(converter.AddOutput(index, dir.File("out.mp3"), &record));
        EXPECT_EQ(converter.LastErrMsg(), c.message);
        EXPECT_EQ(converter.Tasks().Count(), index + 1);
    }
    EXPECT_EQ(IndexError([&] { converter.AddOutput(5, "x.mp3", nullptr); }), "task index 5 out of range (3 tasks)");
    EXPECT_EQ(IndexError([&] { converter.RemoveTask(-1); }), "task index -1 out of range (3 tasks)");
}

TEST_F(VeloxConverterTest, ATaskTakesOneOutputAndRunsOnce)
{
    const int index = converter.AddInput(Wav("in.wav"), nullptr);
    ASSERT_TRUE(converter.AddOutput(index, dir.File("out.wav"), nullptr)) << converter.LastErrMsg();
    TOutputOptions record;
    EXPECT_FALSE(converter.AddOutput(index, dir.File("second.wav"), &record));
    EXPECT_EQ(converter.LastErrMsg(), "task 0 already has its output");
    EXPECT_EQ(record.FileName, ""); // refused before the record is touched

    TFFmpeg &task = converter.Tasks().Items(index);
    TFFmpegThread *worker = task.Start(true, tpNormal); // running from here, held until resumed
    ASSERT_NE(worker, nullptr);
    EXPECT_FALSE(converter.AddOutput(index, dir.File("again.wav"), nullptr));
    EXPECT_EQ(converter.LastErrMsg(), "task 0 is running");
    worker->Resume();
    worker->WaitFor();
    EXPECT_TRUE(task.Finished) << task.ErrorMessage;
    EXPECT_FALSE(converter.AddOutput(index, dir.File("again.wav"), nullptr));
    EXPECT_EQ(converter.LastErrMsg(), "task 0 has already run");
    EXPECT_FALSE(std::filesystem::exists(dir.File("second.wav")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("again.wav")));
    EXPECT_EQ(DecodeAudio(dir.File("out.wav")).sampleRate, 44100);
}

TEST_F(VeloxConverterTest, RemovedTasksCloseTheGapAndLaterEventsCarryTheNewIndex)
{
    std::vector<std::string> inputs;
    for (int i = 0; i < 3; ++i) {
        inputs.push_back(Wav("in" + std::to_string(i) + ".wav", 0.2));
        ASSERT_EQ(converter.AddInput(inputs.back(), nullptr), i) << converter.LastErrMsg();
    }
    converter.RemoveTask(1);
    ASSERT_EQ(converter.Tasks().Count(), 2);
    EXPECT_EQ(converter.Tasks().Items(0).Probe.FileName(), inputs[0]);
    TFFmpeg &moved = converter.Tasks().Items(1);
    EXPECT_EQ(moved.Probe.FileName(), inputs[2]);
    EXPECT_EQ(moved.TaskIndex, 1);
    EXPECT_EQ(converter.Tasks().FindByThread(std::this_thread::get_id()), nullptr);
    converter.Tasks().Items(0).ThreadID = moved.ThreadID = std::this_thread::get_id();
    EXPECT_EQ(converter.Tasks().FindByThread(std::this_thread::get_id()), &converter.Tasks().Items(0));

    std::vector<Terminated> ends;
    std::vector<int> progressIndexes;
    converter.OnTerminate = [&](int i, bool f, bool e, const std::string &m) { ends.push_back({i, f, e, m}); };
    converter.OnProgress = [&](int i, int, int, int, float, float, int64_t, int) { progressIndexes.push_back(i); };
    ASSERT_TRUE(converter.AddOutput(1, dir.File("out.wav"), nullptr)) << converter.LastErrMsg();
    moved.Start(false, tpNormal);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].index, 1);
    EXPECT_TRUE(ends[0].finished) << ends[0].message;
    ASSERT_FALSE(progressIndexes.empty());
    EXPECT_EQ(progressIndexes, std::vector<int>(progressIndexes.size(), 1));
}

TEST_F(VeloxConverterTest, ATasksProbeShowsItsInputUntilTheRunReleasesIt)
{
    const std::string wav = Wav("in.wav");
    // Run here, run on a worker, and a start that fails for want of an output: each frees the input.
    for (const char *how : {"here", "worker", "no output"}) {
        SCOPED_TRACE(how);
        converter.ClearTasks();
        const int index = converter.AddInput(wav, nullptr);
        ASSERT_GE(index, 0) << converter.LastErrMsg();
        TFFmpeg &task = converter.Tasks().Items(index);
        EXPECT_EQ(task.Probe.AudioCount, 1);
        EXPECT_NE(task.Probe.GetInfoText().find("Format Name: wav"), std::string::npos);
        EXPECT_FALSE(task.Probe.OwnsContext());

        if (std::string(how) != "no output") {
            ASSERT_TRUE(converter.AddOutput(index, dir.File("out.mp3"), nullptr)) << converter.LastErrMsg();
        }
        if (std::string(how) == "worker") {
            TFFmpegThread *worker = task.Start(true, tpNormal);
            ASSERT_NE(worker, nullptr);
            worker->Resume();
            worker->WaitFor();
        } else {
            task.Start(false, tpNormal);
        }
        EXPECT_TRUE(task.Terminated);
        EXPECT_EQ(task.Probe.FormatContext(), nullptr);
        EXPECT_EQ(task.Probe.StreamCount, -1);
        EXPECT_EQ(task.Probe.GetInfoText(), "");
        TAVFormatInfo info;
        task.Probe.GetFormatInfo(info);
        EXPECT_EQ(info.Title, "");
    }
}

TEST_F(VeloxConverterTest, ThreeFilesConvertThroughTheirRecords)
{
    const std::string wav = Wav("tone.wav", 1.0), mp3 = dir.File("tone.mp3"), video = VideoWithSound("clip.avi");
    WriteSineMp3(mp3, 1.0);
    std::vector<Terminated> ends;
    std::vector<int> logIndexes;
    converter.OnTerminate = [&](int i, bool f, bool e, const std::string &m) { ends.push_back({i, f, e, m}); };
    converter.OnLog = [&](int i, TLogLevel, const std::string &) { logIndexes.push_back(i); };

    TOutputOptions toMp3, toWav, soundOnly;
    toMp3.AudioBitrate = 192000;
    toMp3.AudioChannels = 1;
    toWav.AudioSampleRate = 22050;
    soundOnly.DisableVideo = true;
    const std::pair<std::string, TOutputOptions *> jobs[] = {{wav, &toMp3}, {mp3, &toWav}, {video, &soundOnly}};
    const std::string outputs[] = {dir.File("a.mp3"), dir.File("b.wav"), dir.File("c.mp3")};
    for (int i = 0; i < 3; ++i) {
        TInputOptions input;
        ASSERT_EQ(converter.AddInput(jobs[i].first, &input), i) << converter.LastErrMsg();
        ASSERT_TRUE(converter.AddOutput(i, outputs[i], jobs[i].second)) << converter.LastErrMsg();
        EXPECT_EQ(jobs[i].second->FileName, outputs[i]);
        EXPECT_EQ(converter.Tasks().Items(i).OutputOptions.FileName, outputs[i]);
    }
    for (int i = 0; i < 3; ++i)
        converter.Tasks().Items(i).Start(false, tpNormal);

    ASSERT_EQ(ends.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ends[i].index, i);
        EXPECT_TRUE(ends[i].finished && !ends[i].exception) << ends[i].message;
    }
    for (int i : logIndexes)
        EXPECT_TRUE(i >= 0 && i < 3) << i;

    const DecodedAudio mono = DecodeAudio(outputs[0]);
    EXPECT_EQ(mono.channels, 1);
    EXPECT_NEAR(mono.Frames() / double(mono.sampleRate), 1.0, 0.1);
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(outputs[0])) << probe.LastErrMsg;
    TAVFormatInfo info;
    probe.GetFormatInfo(info);
    EXPECT_NEAR(info.BitRate, 192000, 8000);
    EXPECT_EQ(probe.FormatName(), "mp3");

    const DecodedAudio resampled = DecodeAudio(outputs[1]);
    EXPECT_EQ(resampled.sampleRate, 22050);
    EXPECT_EQ(resampled.channels, 2);
    EXPECT_NEAR(resampled.Frames() / 22050.0, 1.0, 0.1);

    ASSERT_TRUE(probe.LoadFile(outputs[2])) << probe.LastErrMsg;
    EXPECT_EQ(probe.FormatName(), "mp3");
    EXPECT_EQ(probe.VideoCount, 0);
    EXPECT_EQ(probe.AudioCount, 1);
    EXPECT_NEAR(DecodeAudio(outputs[2]).Frames() / 44100.0, 0.5, 0.1);
}

TEST_F(VeloxConverterTest, TheHookCallbacksReachTheEventsWithTheTasksIndexAndTheirAnswers)
{
    converter.OnCustomHook = [](int i, TBitmap24 *, int frame, int64_t pts, bool &update, bool &stop) {
        update = i == 1 && frame == 7;
        stop = pts == 40000;
    };
    converter.OnBeforeHook = [](int i, int64_t pts, THookAction &action) {
        action = i == 2 && pts == 40000 ? haIgnore : haStop;
    };
    const std::string wav = Wav("in.wav");
    TOutputOptions both, before;
    both.CustomHook = both.BeforeHook = true; // the custom hook wins
    before.BeforeHook = true;
    ASSERT_EQ(converter.AddInput(wav, nullptr), 0);
    for (TOutputOptions *record : {&both, &before}) {
        const int index = converter.AddInput(wav, nullptr);
        ASSERT_TRUE(converter.AddOutput(index, dir.File("out" + std::to_string(index) + ".wav"), record))
            << converter.LastErrMsg();
    }
    TFFmpeg &custom = converter.Tasks().Items(1), &beforeTask = converter.Tasks().Items(2);
    ASSERT_TRUE(custom.CustomHookCallback);
    EXPECT_FALSE(custom.BeforeHookCallback);
    bool update = false, stop = false;
    custom.CustomHookCallback(&custom, nullptr, 7, 40000, update, stop);
    EXPECT_TRUE(update);
    EXPECT_TRUE(stop);

    ASSERT_TRUE(beforeTask.BeforeHookCallback);
    EXPECT_FALSE(beforeTask.CustomHookCallback);
    THookAction action = haContinue;
    beforeTask.BeforeHookCallback(&beforeTask, action, 40000);
    EXPECT_EQ(action, haIgnore);
    converter.RemoveTask(1); // the task takes index 1 and its events with it
    beforeTask.BeforeHookCallback(&beforeTask, action, 40000);
    EXPECT_EQ(action, haStop);
}
