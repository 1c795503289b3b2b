#include "engine/FFmpeg.h"
#include "libs/AVLibLoader.h"
#include "tests/engine/ScriptedEngine.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace avlib;
using namespace std::chrono_literals;

namespace {

class JobControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::EnsureLibrariesLoaded();
        engine.InitializeJob();
        recorder.Attach(engine);
    }

    // One input and one output, as real (unopened) library objects the job owns and frees.
    void AddInputAndOutput(TCustomFFmpeg &e)
    {
        e.InputFiles[e.InputFileCount++].reset(avformat.avformat_alloc_context());
        e.OutputFiles[e.OutputFileCount++].reset(avformat.avformat_alloc_context());
    }

    CallbackRecorder recorder; // outlives the engine, whose threads report to it
    TScriptedEngine engine;
};

} // namespace

TEST_F(JobControlTest, StartWithoutFilesIsRefusedWithItsMessageAndOneNotification)
{
    struct Case {
        bool input;
        bool output;
        const char *message;
    };
    const Case cases[] = {
        {false, false, "Must supply at least one output file"},
        {true, false, "Must supply at least one output file"},
        {false, true, "Must supply at least one input file"},
    };
    for (const Case &c : cases) {
        CallbackRecorder r;
        TScriptedEngine e;
        e.InitializeJob();
        r.Attach(e);
        bool ran = false;
        e.Script = [&](TScriptedEngine &) { ran = true; };
        if (c.input)
            e.InputFiles[e.InputFileCount++].reset(avformat.avformat_alloc_context());
        if (c.output)
            e.OutputFiles[e.OutputFileCount++].reset(avformat.avformat_alloc_context());

        EXPECT_EQ(e.Start(true, tpNormal), nullptr);

        EXPECT_EQ(r.Lines(), (std::vector<LogLine>{{-1, c.message}}));
        EXPECT_EQ(e.ErrorOccurred, 1);
        EXPECT_EQ(e.ErrorMessage, c.message);
        EXPECT_EQ(r.TerminateCount(), 1u);
        EXPECT_EQ(r.TerminateThreads()[0], std::this_thread::get_id());
        EXPECT_EQ(e.Running, 0);
        EXPECT_EQ(e.Terminated, 1);
        EXPECT_FALSE(ran);
        // The refused job was released.
        EXPECT_EQ(e.InputFileCount, 0);
        EXPECT_EQ(e.OutputFileCount, 0);
        EXPECT_EQ(e.FormatDefaults, nullptr);
    }
}

TEST_F(JobControlTest, ASecondStartAfterTheEndDoesNothing)
{
    AddInputAndOutput(engine);
    int runs = 0;
    engine.Script = [&](TScriptedEngine &) { ++runs; };
    EXPECT_EQ(engine.Start(false, tpNormal), nullptr);
    ASSERT_EQ(runs, 1);
    ASSERT_EQ(recorder.TerminateCount(), 1u);

    AddInputAndOutput(engine);
    EXPECT_EQ(engine.Start(false, tpNormal), nullptr);
    EXPECT_EQ(engine.Start(true, tpNormal), nullptr);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(recorder.TerminateCount(), 1u);
    EXPECT_TRUE(recorder.Lines().empty());
    engine.ReleaseJob();
}

TEST_F(JobControlTest, AnEngineRunsAgainAfterANewJob)
{
    int runs = 0;
    engine.Script = [&](TScriptedEngine &) { ++runs; };
    for (int job = 0; job < 2; ++job) {
        engine.InitializeJob();
        AddInputAndOutput(engine);
        TFFmpegThread *worker = engine.Start(true, tpNormal);
        ASSERT_NE(worker, nullptr);
        worker->Resume();
        ASSERT_TRUE(recorder.WaitForTerminate(job + 1));
    }
    EXPECT_EQ(runs, 2);
}

TEST_F(JobControlTest, ExecuteRecordsTheFailureClosesCodecsReleasesAndTerminatesOnce)
{
    AddInputAndOutput(engine);
    engine.Script = [&](TScriptedEngine &e) {
        e.OpenEncoders.Add(AVCodecContextPtr(avcodec.avcodec_alloc_context3(nullptr)));
        e.OpenDecoders.Add(AVCodecContextPtr(avcodec.avcodec_alloc_context3(nullptr)));
        throw FFMpegException("Error while opening codec for output stream #0.0");
    };
    EXPECT_EQ(engine.Start(false, tpNormal), nullptr);

    EXPECT_EQ(recorder.Lines(), (std::vector<LogLine>{{-1, "Error while opening codec for output stream #0.0"}}));
    EXPECT_EQ(engine.ErrorOccurred, 1);
    EXPECT_EQ(engine.ErrorMessage, "Error while opening codec for output stream #0.0");
    EXPECT_EQ(engine.Finished, 0);
    EXPECT_EQ(engine.Running, 0);
    EXPECT_EQ(engine.Terminated, 1);
    EXPECT_EQ(recorder.TerminateCount(), 1u);
    EXPECT_TRUE(engine.OpenEncoders.Empty());
    EXPECT_TRUE(engine.OpenDecoders.Empty());
    EXPECT_EQ(engine.InputFileCount, 0);
    EXPECT_EQ(engine.OutputFileCount, 0);
}

TEST_F(JobControlTest, ARunOfAnOutputWithoutStreamsFails)
{
    AddInputAndOutput(engine);
    engine.Start(false, tpNormal);
    EXPECT_EQ(engine.ErrorOccurred, 1);
    EXPECT_EQ(engine.ErrorMessage, "Output file does not contain any stream");
    EXPECT_EQ(engine.Finished, 0);
    EXPECT_EQ(recorder.TerminateCount(), 1u);
}

TEST_F(JobControlTest, AThreadedStartReturnsASuspendedWorkerThatRunsWhenResumed)
{
    AddInputAndOutput(engine);
    std::atomic<bool> ran{false};
    std::thread::id runThread;
    engine.Script = [&](TScriptedEngine &e) {
        runThread = std::this_thread::get_id();
        ran = true;
        e.Finished = !e.StopRequested;
    };
    TFFmpegThread *worker = engine.Start(true, tpNormal);
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(worker->Engine, &engine);
    EXPECT_EQ(engine.Worker(), worker);
    EXPECT_EQ(engine.Running, 1);
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(ran); // created suspended

    EXPECT_TRUE(worker->Resume());
    ASSERT_TRUE(recorder.WaitForTerminate(1));
    EXPECT_TRUE(ran);
    EXPECT_NE(runThread, std::this_thread::get_id());
    EXPECT_EQ(recorder.TerminateThreads()[0], runThread);
    EXPECT_EQ(engine.Worker(), nullptr);
    EXPECT_EQ(engine.Finished, 1);
    EXPECT_EQ(engine.ErrorOccurred, 0);
}

TEST_F(JobControlTest, TheWorkerRunsAtTheRequestedPriority)
{
    struct Case {
        TThreadPriority priority;
        int niceOffset;
        bool idleClass;
    };
    const Case cases[] = {{tpNormal, 0, false}, {tpLower, 5, false}, {tpLowest, 10, false}, {tpIdle, 0, true}};
    const int ownNice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    for (const Case &c : cases) {
        CallbackRecorder r;
        TScriptedEngine e;
        e.InitializeJob();
        r.Attach(e);
        AddInputAndOutput(e);
        int nice = 0;
        int policy = -1;
        e.Script = [&](TScriptedEngine &) {
            nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
            policy = sched_getscheduler(0);
        };
        e.Start(true, c.priority)->Resume();
        ASSERT_TRUE(r.WaitForTerminate(1));
        if (c.idleClass) {
            EXPECT_EQ(policy, SCHED_IDLE);
        } else {
            EXPECT_EQ(policy, SCHED_OTHER);
            EXPECT_EQ(nice, std::min(ownNice + c.niceOffset, 19)) << c.priority;
        }
    }
}

TEST_F(JobControlTest, PauseHoldsTheRunAtASafePointAndResumeReleasesIt)
{
    AddInputAndOutput(engine);
    std::atomic<int> steps{0};
    engine.Script = [&](TScriptedEngine &e) {
        while (!e.StopRequested) {
            e.WaitWhilePaused();
            ++steps;
            std::this_thread::sleep_for(1ms);
        }
        e.Finished = !e.StopRequested;
    };
    engine.Start(true, tpNormal)->Resume();
    ASSERT_TRUE(WaitUntil([&] { return steps > 3; }));

    engine.Pause();
    EXPECT_TRUE(engine.Paused());
    ASSERT_TRUE(WaitUntil([&] { return engine.HeldAtSafePoint(); }));
    const int held = steps;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(steps, held);

    engine.ResumeRun();
    EXPECT_FALSE(engine.Paused());
    ASSERT_TRUE(WaitUntil([&] { return steps > held + 3; }));

    // A stop request releases a paused run, which then ends.
    engine.Pause();
    engine.RequestStop();
    ASSERT_TRUE(recorder.WaitForTerminate(1));
    EXPECT_EQ(engine.Finished, 0);
    EXPECT_EQ(engine.ErrorOccurred, 0);
}

TEST_F(JobControlTest, PauseWithoutAWorkerDoesNothing)
{
    AddInputAndOutput(engine);
    bool passed = false;
    engine.Script = [&](TScriptedEngine &e) {
        e.Pause(); // a run on the calling thread cannot be held
        e.WaitWhilePaused();
        passed = !e.Paused();
    };
    engine.Start(false, tpNormal);
    EXPECT_TRUE(passed);
    EXPECT_EQ(recorder.TerminateCount(), 1u);
}

TEST_F(JobControlTest, CancelBeforeAnyStartNotifiesOnceFromAnotherThread)
{
    engine.CancelJob();
    engine.CancelJob(); // a second cancel before the notification arrived adds nothing
    ASSERT_TRUE(recorder.WaitForTerminate(1));
    std::this_thread::sleep_for(50ms);
    engine.CancelJob(); // terminated now
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(recorder.TerminateCount(), 1u);
    EXPECT_NE(recorder.TerminateThreads()[0], std::this_thread::get_id());
    EXPECT_EQ(engine.Terminated, 1);
    EXPECT_EQ(engine.Running, 0);
    EXPECT_EQ(engine.ErrorOccurred, 0);
    EXPECT_TRUE(recorder.Lines().empty());
}

TEST_F(JobControlTest, CancelWhileRunningRequestsTheStop)
{
    AddInputAndOutput(engine);
    std::atomic<bool> started{false};
    engine.Script = [&](TScriptedEngine &e) {
        started = true;
        while (!e.StopRequested)
            e.WaitWhilePaused();
        e.Finished = !e.StopRequested;
    };
    engine.Start(true, tpNormal)->Resume();
    ASSERT_TRUE(WaitUntil([&] { return started.load(); }));
    engine.CancelJob();
    ASSERT_TRUE(recorder.WaitForTerminate(1));
    EXPECT_EQ(engine.StopRequested, 1);
    EXPECT_EQ(engine.Finished, 0);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(recorder.TerminateCount(), 1u);
}

TEST_F(JobControlTest, DestroyWaitsForARunningWorker)
{
    auto e = std::make_unique<TScriptedEngine>();
    e->InitializeJob();
    CallbackRecorder r;
    r.Attach(*e);
    AddInputAndOutput(*e);
    std::atomic<bool> started{false};
    e->Script = [&](TScriptedEngine &self) {
        started = true;
        while (!self.StopRequested)
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(50ms); // a slow end: the engine must still be there
        self.Log(1, "ended");
    };
    e->Start(true, tpNormal)->Resume();
    ASSERT_TRUE(WaitUntil([&] { return started.load(); }));
    e.reset();
    EXPECT_EQ(r.TerminateCount(), 1u);
    EXPECT_EQ(r.Lines(), (std::vector<LogLine>{{1, "ended"}}));
}

TEST_F(JobControlTest, DestroyRunsAWorkerThatWasNeverResumedToItsEnd)
{
    auto e = std::make_unique<TScriptedEngine>();
    e->InitializeJob();
    CallbackRecorder r;
    r.Attach(*e);
    AddInputAndOutput(*e);
    bool sawStop = false;
    e->Script = [&](TScriptedEngine &self) { sawStop = self.StopRequested != 0; };
    ASSERT_NE(e->Start(true, tpNormal), nullptr);
    e.reset();
    EXPECT_TRUE(sawStop);
    EXPECT_EQ(r.TerminateCount(), 1u);
}

TEST_F(JobControlTest, ATerminateHandlerMayFreeItsEngine)
{
    auto owned = std::make_unique<TScriptedEngine>();
    TScriptedEngine *e = owned.get();
    e->InitializeJob();
    AddInputAndOutput(*e);
    std::atomic<bool> freed{false};
    e->Script = [](TScriptedEngine &) {};
    e->TerminateCallback = [&](TCustomFFmpeg *) {
        owned.reset();
        freed = true;
    };
    e->Start(true, tpNormal)->Resume();
    ASSERT_TRUE(WaitUntil([&] { return freed.load(); }));
}

TEST_F(JobControlTest, AStartAfterACancelDoesNotRun)
{
    AddInputAndOutput(engine);
    bool ran = false;
    engine.Script = [&](TScriptedEngine &) { ran = true; };
    engine.CancelJob();
    EXPECT_EQ(engine.Start(false, tpNormal), nullptr);
    ASSERT_TRUE(recorder.WaitForTerminate(1));
    EXPECT_EQ(engine.Start(false, tpNormal), nullptr);
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(ran);
    EXPECT_EQ(recorder.TerminateCount(), 1u);
    engine.ReleaseJob();
}

TEST_F(JobControlTest, ACancelAfterTheEndAddsNoNotification)
{
    // After a refused start.
    engine.Start(false, tpNormal);
    ASSERT_EQ(recorder.TerminateCount(), 1u);
    engine.CancelJob();

    // After a threaded run.
    CallbackRecorder r;
    TScriptedEngine e;
    e.InitializeJob();
    r.Attach(e);
    AddInputAndOutput(e);
    e.Script = [](TScriptedEngine &) {};
    e.Start(true, tpNormal)->Resume();
    ASSERT_TRUE(r.WaitForTerminate(1));
    e.CancelJob();

    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder.TerminateCount(), 1u);
    EXPECT_EQ(r.TerminateCount(), 1u);
}

TEST_F(JobControlTest, DestroyEndsAPausedRun)
{
    CallbackRecorder r;
    auto e = std::make_unique<TScriptedEngine>();
    e->InitializeJob();
    r.Attach(*e);
    AddInputAndOutput(*e);
    e->Script = [](TScriptedEngine &self) {
        while (!self.StopRequested)
            self.WaitWhilePaused();
    };
    e->Start(true, tpNormal)->Resume();
    e->Pause();
    ASSERT_TRUE(WaitUntil([&] { return e->HeldAtSafePoint(); }));
    e.reset();
    EXPECT_EQ(r.TerminateCount(), 1u);
}

TEST_F(JobControlTest, ANewJobWaitsUntilTheRunningOneEnds)
{
    AddInputAndOutput(engine);
    std::atomic<bool> started{false};
    engine.Script = [&](TScriptedEngine &e) {
        started = true;
        while (!e.StopRequested)
            std::this_thread::sleep_for(1ms);
    };
    engine.Start(true, tpNormal)->Resume();
    ASSERT_TRUE(WaitUntil([&] { return started.load(); }));
    engine.AudioChannels = 6;
    engine.InitializeJob(); // refused: the run still uses the job
    EXPECT_EQ(engine.AudioChannels, 6);
    EXPECT_EQ(engine.Running, 1);
    engine.RequestStop();
    ASSERT_TRUE(recorder.WaitForTerminate(1));
    engine.InitializeJob();
    EXPECT_EQ(engine.AudioChannels, 2);
    EXPECT_EQ(engine.Terminated, 0);
}

TEST_F(JobControlTest, ARaisingLogHandlerDoesNotKeepTheJobFromItsEnd)
{
    AddInputAndOutput(engine);
    int terminations = 0;
    engine.LogCallback = [](TCustomFFmpeg *, int, const std::string &) { throw std::runtime_error("handler"); };
    engine.TerminateCallback = [&](TCustomFFmpeg *) { ++terminations; };
    engine.Script = [](TScriptedEngine &) { throw 42; };
    EXPECT_EQ(engine.Start(false, tpNormal), nullptr);
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(engine.ErrorOccurred, 1);
    EXPECT_EQ(engine.ErrorMessage, "Unknown error");
    EXPECT_EQ(engine.Running, 0);
    EXPECT_EQ(engine.InputFileCount, 0);
}

TEST_F(JobControlTest, AWorkerReportsItsThreadId)
{
    AddInputAndOutput(engine);
    std::thread::id inside;
    engine.Script = [&](TScriptedEngine &e) { inside = e.Worker()->ThreadID(); };
    TFFmpegThread *worker = engine.Start(true, tpNormal);
    EXPECT_EQ(worker->ThreadID(), std::thread::id());
    worker->Resume();
    ASSERT_TRUE(recorder.WaitForTerminate(1));
    EXPECT_EQ(inside, recorder.TerminateThreads()[0]);
}
