#include "component/LogRouting.h"
#include "component/FFmpegList.h"
#include "component/VeloxConverter.h"
#include "libs/AVEntryPoints.h"
#include "libs/FFmpegIncludes.h"
#include "tests/component/EventRecorder.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <future>
#include <thread>

using namespace testing_support;

namespace {

const char *FakeItemName(void *) { return "fakeitem"; }

// A library context as the callback sees it: its first field is its class record.
struct FakeContext {
    const AVClass *avClass;
};

const AVClass fakeClass = [] {
    AVClass c{};
    c.class_name = "fake";
    c.item_name = FakeItemName;
    c.version = LIBAVUTIL_VERSION_INT;
    return c;
}();

std::string FakePrefix()
{
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "[fakeitem @ %08" PRIXPTR "]", reinterpret_cast<uintptr_t>(&fakeClass));
    return prefix;
}

// Leaves out what opening an input logs.
std::vector<LogLine> ErrorLines(const EventRecorder &recorder)
{
    std::vector<LogLine> errors;
    for (const LogLine &line : recorder.Lines())
        if (line.level == llError)
            errors.push_back(line);
    return errors;
}

class LogRoutingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureLibrariesLoaded();
        ASSERT_TRUE(converter.LoadAVLib(LibraryDir(), true)) << converter.LastErrMsg();
    }
    void TearDown() override
    {
        converter.SetLogLevel(llInfo);
        avlib::avutil.av_log_set_callback(avlib::avutil.av_log_default_callback);
    }

    TempDir dir;
    TVeloxConverter converter;
    EventRecorder events{converter};
};

} // namespace

TEST_F(LogRoutingTest, AMessageInTwoCallsIsOneLineWithOnePrefix)
{
    FakeContext context{&fakeClass};
    avlib::avutil.av_log(&context, AV_LOG_ERROR, "first %d ", 1);
    EXPECT_TRUE(events.Lines().empty());
    avlib::avutil.av_log(&context, AV_LOG_ERROR, "second\nthird ");
    avlib::avutil.av_log(&context, AV_LOG_ERROR, "part\n");
    EXPECT_EQ(events.Lines(),
              (std::vector<LogLine>{{-1, llError, FakePrefix() + "first 1 second"}, {-1, llError, "third part"}}));
    // The address of the class record, in upper-case hexadecimal, at least eight digits.
    const std::string prefix = FakePrefix(), address = prefix.substr(12, prefix.size() - 13);
    EXPECT_EQ(prefix.substr(0, 12), "[fakeitem @ ");
    EXPECT_GE(address.size(), 8u);
    EXPECT_EQ(address.find_first_not_of("0123456789ABCDEF"), std::string::npos) << address;
    EXPECT_EQ(std::stoull(address, nullptr, 16), reinterpret_cast<uintptr_t>(&fakeClass));
}

TEST_F(LogRoutingTest, ALineOfAThreadWithoutATaskReachesEveryListedComponentOnceWithoutAnIndex)
{
    TVeloxConverter second, designed;
    designed.SetDesigning(true); // not listed
    EventRecorder secondEvents(second), designedEvents(designed);
    std::thread([] { avlib::avutil.av_log(nullptr, AV_LOG_ERROR, "from a thread\n"); }).join();
    const std::vector<LogLine> expected = {{-1, llError, "from a thread"}};
    EXPECT_EQ(events.Lines(), expected);
    EXPECT_EQ(secondEvents.Lines(), expected);
    EXPECT_TRUE(designedEvents.Lines().empty());
}

TEST_F(LogRoutingTest, TheLogLevelIsTheThresholdAndLibraryLevelsMapToTheComponents)
{
    struct Case {
        TLogLevel setting;
        int libraryLevel;
        bool passes;
        TLogLevel arrives;
    };
    const Case cases[] = {
        {llError, AV_LOG_PANIC, true, llError},    {llError, AV_LOG_ERROR, true, llError},
        {llError, AV_LOG_WARNING, false, llError}, {llError, AV_LOG_INFO, false, llError},
        {llAll, AV_LOG_WARNING, true, llInfo},     {llAll, AV_LOG_INFO, true, llInfo},
        {llAll, AV_LOG_VERBOSE, true, llDebug},    {llAll, AV_LOG_DEBUG, true, llDebug},
        {llAll, AV_LOG_TRACE, true, llAll},        {llQuiet, AV_LOG_ERROR, false, llError},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.libraryLevel);
        converter.SetLogLevel(c.setting);
        const size_t before = events.Lines().size();
        avlib::avutil.av_log(nullptr, c.libraryLevel, "level %d\n", c.libraryLevel);
        const std::vector<LogLine> lines = events.Lines();
        ASSERT_EQ(lines.size(), before + (c.passes ? 1 : 0));
        if (c.passes) {
            EXPECT_EQ(lines.back(), (LogLine{-1, c.arrives, "level " + std::to_string(c.libraryLevel)}));
        }
    }
}

TEST_F(LogRoutingTest, ALineEndsAtTheBufferSizeAndTheNextLineIsNotHeldUp)
{
    FakeContext context{&fakeClass};
    const std::string longText(5000, 'x');
    avlib::avutil.av_log(&context, AV_LOG_ERROR, "%s", longText.c_str()); // no line break
    avlib::avutil.av_log(nullptr, AV_LOG_ERROR, "next\n");
    const std::vector<LogLine> lines = events.Lines();
    ASSERT_EQ(lines.size(), 2u);
    const std::string prefix = FakePrefix();
    EXPECT_EQ(lines[0].text, prefix + longText.substr(0, log_routing::kLineBufferSize - 1 - prefix.size()));
    EXPECT_EQ(lines[1].text, "next");
}

TEST_F(LogRoutingTest, EachThreadKeepsItsOwnUnfinishedLineAndStartDropsThem)
{
    std::promise<void> firstHalf, secondHalf;
    std::future<void> secondHalfGiven = secondHalf.get_future();
    std::thread other([&] {
        avlib::avutil.av_log(nullptr, AV_LOG_ERROR, "other 1 ");
        firstHalf.set_value();
        secondHalfGiven.wait();
        avlib::avutil.av_log(nullptr, AV_LOG_ERROR, "other 2\n");
    });
    firstHalf.get_future().wait();
    avlib::avutil.av_log(nullptr, AV_LOG_ERROR, "main 1 ");
    secondHalf.set_value();
    other.join();
    avlib::avutil.av_log(nullptr, AV_LOG_ERROR, "main 2\n");
    avlib::avutil.av_log(nullptr, AV_LOG_ERROR, "dropped ");
    converter.Start(0); // an empty list: only the queue is emptied
    avlib::avutil.av_log(nullptr, AV_LOG_ERROR, "alone\n");
    EXPECT_EQ(events.Lines(),
              (std::vector<LogLine>{
                  {-1, llError, "other 1 other 2"}, {-1, llError, "main 1 main 2"}, {-1, llError, "alone"}}));
}

TEST_F(LogRoutingTest, ALineFromATasksThreadCarriesItsIndexAtItsComponentOnly)
{
    const std::string wav = dir.File("in.wav");
    WriteSineWav(wav, 0.1);
    // Thread mode: the worker of task 0. Main-thread mode: every task has the main thread's id,
    // so the first task in the list takes the line.
    struct Case {
        int threads;
        int loggingTask;
    };
    for (const Case c : {Case{1, 0}, Case{0, 1}}) {
        SCOPED_TRACE(c.threads);
        TVeloxConverter owner, other;
        ASSERT_TRUE(owner.LoadAVLib(LibraryDir(), true));
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(owner.AddInput(wav, nullptr), i) << owner.LastErrMsg();
            ASSERT_TRUE(owner.AddOutput(i, dir.File("out" + std::to_string(i) + ".wav"), nullptr));
        }
        EventRecorder ownerEvents(owner), otherEvents(other);
        ownerEvents.onEnd = [&](const TaskEnd &end) {
            if (end.index == c.loggingTask) // on the task's thread; routed once the lock is let go
                avlib::avutil.av_log(nullptr, AV_LOG_ERROR, "end of %d\n", end.index);
        };
        owner.Start(c.threads);
        ASSERT_TRUE(WaitUntil([&] { return ownerEvents.Finals() > 0; }));
        owner.ClearTasks();
        const std::string text = "end of " + std::to_string(c.loggingTask);
        auto count = [&](const EventRecorder &recorder, int index) {
            int n = 0;
            for (const LogLine &line : recorder.Lines())
                n += line.text == text && line.index == index;
            return n;
        };
        EXPECT_EQ(count(ownerEvents, 0), 1);
        EXPECT_EQ(count(otherEvents, -1), 1);
        EXPECT_EQ(count(events, -1), 1);
    }
}

TEST_F(LogRoutingTest, ALineLoggedUnderAComponentsLockWaitsWhileAnotherThreadRoutes)
{
    const std::string wav = dir.File("in.wav");
    WriteSineWav(wav, 0.1);
    TVeloxConverter second; // listed after converter
    ASSERT_EQ(second.AddInput(wav, nullptr), 0) << second.LastErrMsg();
    EventRecorder secondEvents(second);
    std::promise<void> reachedFirst;
    events.onLine = [&](const LogLine &line) {
        if (line.text == "from the other thread")
            reachedFirst.set_value();
    };
    std::thread other;
    second.OnProgress = [&](int, int, int, int, float, float, int64_t, int) {
        // Under second's lock: the other thread takes the instance list and waits for this lock.
        other = std::thread([] { avlib::avutil.av_log(nullptr, AV_LOG_ERROR, "from the other thread\n"); });
        reachedFirst.get_future().wait();
        avlib::avutil.av_log(nullptr, AV_LOG_ERROR, "from the handler\n"); // waiting here would never end
    };
    TFFmpeg &task = second.Tasks().Items(0);
    task.ProgressCallback(&task, 0, 0, 0, 0.0f, 0.0f, 0, 0);
    other.join();
    const std::vector<LogLine> expected = {{-1, llError, "from the other thread"}, {-1, llError, "from the handler"}};
    EXPECT_EQ(ErrorLines(events), expected);
    EXPECT_EQ(ErrorLines(secondEvents), expected);
}
