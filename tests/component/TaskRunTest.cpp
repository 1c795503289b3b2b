#include "batch/TemporaryName.h"
#include "component/FFmpegList.h"
#include "component/VeloxConverter.h"
#include "libs/AVEntryPoints.h"
#include "tags/TagCopy.h"
#include "tests/component/EventRecorder.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>

using namespace testing_support;

namespace {

class TaskRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureLibrariesLoaded();
        ASSERT_TRUE(converter.LoadAVLib(LibraryDir(), true)) << converter.LastErrMsg();
        converter.SetProgressInterval(100);
    }
    void TearDown() override { avlib::avutil.av_log_set_callback(avlib::avutil.av_log_default_callback); }

    std::string Wav(double seconds)
    {
        const std::string name = dir.File("in" + std::to_string(seconds) + ".wav");
        WriteSineWav(name, seconds);
        return name;
    }
    // count tasks converting input into out<first + i>.<ext>.
    void AddTasks(TVeloxConverter &c, const std::string &input, int count, const std::string &ext, int first = 0)
    {
        for (int i = 0; i < count; ++i) {
            const int index = c.AddInput(input, nullptr);
            ASSERT_GE(index, 0) << c.LastErrMsg();
            ASSERT_TRUE(c.AddOutput(index, Output(first + i, ext), nullptr)) << c.LastErrMsg();
        }
    }
    std::string Output(int i, const std::string &ext) { return dir.File("out" + std::to_string(i) + "." + ext); }

    TempDir dir;
    TVeloxConverter converter;
    const std::thread::id mainThread = std::this_thread::get_id();
};

bool Started(const TFFmpeg &task) { return task.ThreadID.load() != std::thread::id(); }

} // namespace

TEST_F(TaskRunTest, MainThreadModeRunsOneTaskAfterAnotherFromTheTimerThenTheFinalEvent)
{
    const std::string wav = Wav(0.2);
    for (int threads : {0, -2}) { // a negative count behaves like 0
        SCOPED_TRACE(threads);
        TVeloxConverter c;
        ASSERT_TRUE(c.LoadAVLib(LibraryDir(), true));
        AddTasks(c, wav, 3, "wav");
        EventRecorder events(c);
        std::vector<bool> nextStillWaiting;
        events.onEnd = [&](const TaskEnd &end) {
            if (end.index >= 0 && end.index < 2) {
                const TFFmpeg &next = c.Tasks().Items(end.index + 1);
                nextStillWaiting.push_back(!Started(next) && !next.Terminated);
            }
        };
        c.Start(threads);
        EXPECT_TRUE(events.Ends().empty()); // the first task waits for the timer
        EXPECT_EQ(c.NextTaskIndex(), 1);
        EXPECT_EQ(c.ThreadCount(), threads);
        ASSERT_TRUE(WaitUntil([&] { return events.Finals() > 0; }));

        const std::vector<TaskEnd> ends = events.Ends();
        ASSERT_EQ(ends.size(), 4u);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(ends[i].index, i);
            EXPECT_TRUE(ends[i].finished && !ends[i].exception) << ends[i].message;
            EXPECT_EQ(ends[i].thread, mainThread);
            EXPECT_EQ(c.Tasks().Items(i).ThreadID.load(), mainThread);
        }
        EXPECT_EQ(ends[3].index, -1);
        EXPECT_TRUE(ends[3].finished && !ends[3].exception && ends[3].message.empty());
        EXPECT_EQ(ends[3].thread, mainThread);
        EXPECT_EQ(nextStillWaiting, (std::vector<bool>{true, true}));
    }
}

TEST_F(TaskRunTest, ThreadModeRunsAtMostTwoAndTheThirdStartsWhenTheFirstEnds)
{
    AddTasks(converter, Wav(1.0), 3, "mp3");
    EventRecorder events(converter);
    struct Seen {
        bool onItsWorker;
        int othersRunning;
        bool thirdStarted;
    };
    std::vector<Seen> seen; // handlers run under the component's lock, one at a time
    events.onEnd = [&](const TaskEnd &end) {
        if (end.index < 0)
            return;
        int running = 0;
        for (int i = 0; i < 3; ++i)
            running += i != end.index && Started(converter.Tasks().Items(i)) && !converter.Tasks().Items(i).Terminated;
        seen.push_back({end.thread == converter.Tasks().Items(end.index).ThreadID.load(), running,
                        Started(converter.Tasks().Items(2))});
    };
    converter.Start(2);
    EXPECT_EQ(converter.NextTaskIndex(), 2);
    ASSERT_TRUE(WaitUntil([&] { return events.Finals() > 0; }));
    converter.ClearTasks(); // waits for the workers

    const std::vector<TaskEnd> ends = events.Ends();
    ASSERT_EQ(ends.size(), 4u);
    EXPECT_EQ(ends.back().index, -1);
    ASSERT_EQ(seen.size(), 3u);
    for (const Seen &s : seen) {
        EXPECT_TRUE(s.onItsWorker);
        EXPECT_LE(s.othersRunning, 1);
    }
    EXPECT_FALSE(seen[0].thirdStarted); // started by the first end, right after its handler
    EXPECT_TRUE(seen[1].thirdStarted);
    std::vector<std::thread::id> threads;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(ends[i].finished) << ends[i].message;
        EXPECT_NE(ends[i].thread, mainThread);
        threads.push_back(ends[i].thread);
    }
    std::sort(threads.begin(), threads.end());
    EXPECT_EQ(std::unique(threads.begin(), threads.end()), threads.end()); // one worker each
}

// Tags come from TagLib's reading (FLAC) or the libraries' (Matroska), only when asked for.
TEST_F(TaskRunTest, CarryTagsBringsTheInputsTagsIntoEachFinishedOutput)
{
    MediaRecipe recipe;
    recipe.audio = AudioTrack{"flac", 44100, 2};
    recipe.tags = {{"title", "Side A"}, {"artist", "The Testers"}};
    WriteMediaFile(dir.File("tagged.flac"), recipe);
    recipe.format = "matroska";
    WriteMediaFile(dir.File("tagged.mka"), recipe);
    for (const bool carry : {false, true}) {
        TVeloxConverter c;
        ASSERT_TRUE(c.LoadAVLib(LibraryDir(), true));
        c.SetCarryTags(carry);
        const std::vector<std::string> outputs = {Output(carry * 10, "mp3"), Output(carry * 10 + 1, "wav")};
        for (size_t i = 0; i < outputs.size(); ++i) {
            const int index = c.AddInput(dir.File(i == 0 ? "tagged.flac" : "tagged.mka"), nullptr);
            ASSERT_TRUE(index >= 0 && c.AddOutput(index, outputs[i], nullptr)) << c.LastErrMsg();
        }
        EventRecorder events(c);
        c.Start(2);
        ASSERT_TRUE(WaitUntil([&] { return events.Finals() > 0; }));
        for (const std::string &output : outputs) {
            tagcopy::TTagSet tags;
            std::string error;
            tagcopy::ReadTags(output, tags, error);
            EXPECT_EQ(tags.fields["TITLE"], carry ? "Side A" : "") << output;
            EXPECT_EQ(tags.fields["ARTIST"], carry ? "The Testers" : "") << output;
        }
    }
}

// With SafeOutputs nothing is made before a task starts, and only a finished task's output gets
// its name: an older file survives a stop or a failure, and one that appears meanwhile is kept.
TEST_F(TaskRunTest, SafeOutputsGiveTheNameOnlyToAFinishedOutput)
{
    MediaRecipe film;
    film.video = VideoTrack{};
    WriteMediaFile(dir.File("film.mkv"), film);
    const std::string wav = Wav(20.0);
    enum Ending { finish, stop, fail, appear };
    const struct {
        Ending ending;
        const char *older; // what the output's name holds before the start; nullptr: nothing
        const char *after; // what it holds afterwards; nullptr: nothing, "mp3": a converted file
    } cases[] = {{finish, nullptr, "mp3"}, {finish, "older", "mp3"}, {stop, "older", "older"},
                 {stop, nullptr, nullptr}, {fail, "older", "older"}, {appear, nullptr, "appeared"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "ending " << c.ending << ", older " << (c.older ? c.older : "none"));
        TempDir out;
        const std::string output = out.File("out.mp3");
        if (c.older)
            std::ofstream(output) << c.older;
        std::ofstream(out.File(batch::TemporaryNameOf("out.mp3", ".mp3"))) << "left by a killed run: gone at the start";
        TVeloxConverter converter;
        ASSERT_TRUE(converter.LoadAVLib(LibraryDir(), true));
        converter.SetSafeOutputs(true);
        const int index = converter.AddInput(c.ending == fail ? dir.File("film.mkv") : wav, nullptr);
        ASSERT_TRUE(index >= 0 && converter.AddOutput(index, output, nullptr)) << converter.LastErrMsg();
        EXPECT_EQ(std::filesystem::exists(output), c.older != nullptr); // nothing made by the add
        EventRecorder events(converter);
        bool acted = false;
        converter.OnProgress = [&](int, int, int, int, float, float, int64_t, int) {
            if (acted)
                return;
            acted = true;
            if (c.ending == stop)
                converter.Stop();
            else if (c.ending == appear)
                std::ofstream(output) << "appeared";
        };
        converter.Start(1);
        ASSERT_TRUE(WaitUntil([&] { return events.Finals() > 0; }));
        EXPECT_EQ(events.Ends()[0].finished, c.ending == finish) << events.Ends()[0].message;
        if (!c.after)
            EXPECT_FALSE(std::filesystem::exists(output));
        else if (std::string(c.after) == "mp3")
            EXPECT_GT(DecodeAudio(output).Frames(), 44100u * 19);
        else
            EXPECT_EQ(ReadText(output), c.after);
        // Only the output's own name is left in its folder.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.Path()), {}), c.after ? 1 : 0);
    }
}

TEST_F(TaskRunTest, AnEmptyListRaisesNoEvent)
{
    EventRecorder events(converter);
    for (int threads : {0, 2}) {
        converter.Start(threads);
        bool sentinel = false; // fires after any start timer would have
        QTimer::singleShot(300, [&] { sentinel = true; });
        ASSERT_TRUE(WaitUntil([&] { return sentinel; }));
    }
    EXPECT_TRUE(events.Ends().empty());
}

TEST_F(TaskRunTest, StopWithTwoOfFiveRunningEndsAllFiveThenTheFinalEventOnce)
{
    AddTasks(converter, Wav(120.0), 5, "mp3");
    EventRecorder events(converter);
    std::mutex progressLock;
    std::map<int, int> lastProgressMs;
    converter.OnProgress = [&](int index, int, int, int currentMs, float, float, int64_t, int) {
        std::lock_guard<std::mutex> hold(progressLock);
        lastProgressMs[index] = currentMs;
    };
    converter.Start(2);
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> hold(progressLock);
        return lastProgressMs.size() == 2;
    }));
    converter.Stop();
    ASSERT_TRUE(WaitUntil([&] { return events.Finals() > 0; }));
    converter.ClearTasks(); // joins every thread: nothing more can come

    const std::vector<TaskEnd> ends = events.Ends();
    ASSERT_EQ(ends.size(), 6u);
    std::vector<int> indexes;
    for (size_t i = 0; i < 5; ++i) {
        indexes.push_back(ends[i].index);
        EXPECT_FALSE(ends[i].finished);
        EXPECT_FALSE(ends[i].exception) << ends[i].message;
        EXPECT_EQ(ends[i].message, "");
        EXPECT_NE(ends[i].thread, mainThread);
    }
    std::sort(indexes.begin(), indexes.end());
    EXPECT_EQ(indexes, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(ends[5].index, -1);
    EXPECT_EQ(events.Finals(), 1);

    // The stopped outputs are whole files holding what was converted before the stop.
    for (int i = 0; i < 2; ++i) {
        const DecodedAudio audio = DecodeAudio(Output(i, "mp3"));
        const double seconds = audio.Frames() / double(audio.sampleRate);
        EXPECT_GE(seconds, lastProgressMs[i] / 1000.0 - 0.1) << i;
        EXPECT_LT(seconds, 119.0) << i;
    }
}

TEST_F(TaskRunTest, PausedWorkersWaitAtTheirSafePointUntilResumeOrStop)
{
    const std::string wav = Wav(120.0);
    for (bool stop : {true, false}) {
        SCOPED_TRACE(stop ? "stop" : "resume");
        TVeloxConverter c;
        ASSERT_TRUE(c.LoadAVLib(LibraryDir(), true));
        AddTasks(c, wav, 2, "mp3");
        EventRecorder events(c);
        c.Start(2);
        c.Pause();
        ASSERT_TRUE(
            WaitUntil([&] { return c.Tasks().Items(0).HeldAtSafePoint() && c.Tasks().Items(1).HeldAtSafePoint(); }));
        EXPECT_TRUE(events.Ends().empty());
        stop ? c.Stop() : c.Resume();
        ASSERT_TRUE(WaitUntil([&] { return events.Finals() > 0; }));
        const std::vector<TaskEnd> ends = events.Ends();
        ASSERT_EQ(ends.size(), 3u);
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(ends[i].finished, !stop) << ends[i].message;
    }
}

TEST_F(TaskRunTest, PauseAndResumeDoNothingInMainThreadMode)
{
    AddTasks(converter, Wav(3.0), 2, "mp3");
    EventRecorder events(converter);
    std::vector<bool> pausedAfterPause;
    converter.OnProgress = [&](int index, int, int, int, float, float, int64_t, int) {
        converter.Pause(); // on the main thread, inside the job
        pausedAfterPause.push_back(converter.Tasks().Items(index).Paused());
        converter.Resume();
    };
    converter.Start(0);
    converter.Pause();
    ASSERT_TRUE(WaitUntil([&] { return events.Finals() > 0; }));
    const std::vector<TaskEnd> ends = events.Ends();
    ASSERT_EQ(ends.size(), 3u);
    EXPECT_TRUE(ends[0].finished && ends[1].finished);
    ASSERT_FALSE(pausedAfterPause.empty());
    EXPECT_EQ(pausedAfterPause, std::vector<bool>(pausedAfterPause.size(), false));
}

TEST_F(TaskRunTest, ARaisingTerminateHandlerIsReportedAndTheListGoesOn)
{
    const std::string wav = Wav(0.2);
    for (int threads : {0, 2}) {
        SCOPED_TRACE(threads);
        TVeloxConverter c;
        ASSERT_TRUE(c.LoadAVLib(LibraryDir(), true));
        AddTasks(c, wav, 3, "wav");
        EventRecorder events(c);
        events.onEnd = [](const TaskEnd &end) {
            if (end.index <= 0)
                throw std::runtime_error("boom " + std::to_string(end.index));
        };
        c.Start(threads);
        ASSERT_TRUE(WaitUntil([&] { return events.Finals() > 0; }));
        c.ClearTasks();
        const std::vector<TaskEnd> ends = events.Ends();
        ASSERT_EQ(ends.size(), 4u);
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(ends[i].finished) << ends[i].message;
        int reports = 0;
        for (const LogLine &line : events.Lines()) {
            if (line.text == "Event handler failed: boom 0") {
                EXPECT_EQ(line.index, 0);
                EXPECT_EQ(line.level, llQuiet);
                ++reports;
            }
            reports += line.text == "Event handler failed: boom -1";
        }
        EXPECT_EQ(reports, 2);
    }
}

TEST_F(TaskRunTest, ARaisingProgressHandlerFailsItsJob)
{
    AddTasks(converter, Wav(0.2), 1, "wav");
    EventRecorder events(converter);
    converter.OnProgress = [](int, int, int, int, float, float, int64_t, int) {
        throw std::runtime_error("progress boom");
    };
    converter.Start(1);
    ASSERT_TRUE(WaitUntil([&] { return events.Finals() > 0; }));
    const std::vector<TaskEnd> ends = events.Ends();
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_FALSE(ends[0].finished);
    EXPECT_TRUE(ends[0].exception);
    EXPECT_EQ(ends[0].message, "progress boom");
}

TEST_F(TaskRunTest, StressStopsAtRandomMomentsGiveEveryTaskOneEndAndOneFinalEvent)
{
    constexpr int kTasks = 50;
    const std::string wav = Wav(0.05);
    std::mt19937 rng(20240611);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        TVeloxConverter c;
        ASSERT_TRUE(c.LoadAVLib(LibraryDir(), true));
        AddTasks(c, wav, kTasks, "wav");
        EventRecorder events(c);
        const size_t stopAfter = round == 0 ? 0 : rng() % kTasks;
        c.Start(2);
        ASSERT_TRUE(WaitUntil([&] { return events.Ends().size() >= stopAfter; }));
        c.Stop();
        ASSERT_TRUE(WaitUntil([&] { return events.Finals() > 0; }));
        c.ClearTasks(); // joins every thread: nothing more can come

        std::vector<int> perTask(kTasks, 0);
        const std::vector<TaskEnd> ends = events.Ends();
        for (const TaskEnd &end : ends)
            if (end.index >= 0)
                ++perTask[end.index];
        EXPECT_EQ(perTask, std::vector<int>(kTasks, 1));
        EXPECT_EQ(events.Finals(), 1);
        EXPECT_EQ(ends.back().index, -1);
    }
}

// While no task waits, a long MP3 is encoded in segments on the idle worker too, unless the
// component is told not to; either way the file is whole.
TEST_F(TaskRunTest, ALongMp3BorrowsTheIdleWorkerUnlessToldNot)
{
    const std::string wav = Wav(33.0);
    for (bool share : {true, false}) {
        SCOPED_TRACE(share);
        TVeloxConverter c;
        ASSERT_TRUE(c.LoadAVLib(LibraryDir(), true));
        c.SetShareIdleWorkers(share);
        AddTasks(c, wav, 1, "mp3", share);
        EventRecorder events(c);
        c.Start(2);
        ASSERT_TRUE(WaitUntil([&] { return events.Finals() > 0; }));
        const std::vector<LogLine> lines = events.Lines();
        EXPECT_EQ(
            std::count_if(lines.begin(), lines.end(),
                          [](const LogLine &l) { return l.text.find("encoded in 3 segments") != std::string::npos; }),
            share ? 1 : 0);
        EXPECT_EQ(DecodeAudio(Output(share, "mp3")).Frames(), 33u * 44100);
    }
}
