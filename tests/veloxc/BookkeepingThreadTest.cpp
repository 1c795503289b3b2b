#include "veloxc/BookkeepingThread.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <stdexcept>
#include <thread>

using veloxc::BookkeepingThread;

namespace {

int Policy()
{
    int policy = -1;
    sched_param param{};
    pthread_getschedparam(pthread_self(), &policy, &param);
    return policy;
}

// The policy a thread made now by the calling thread starts with.
int PolicyOfANewThread()
{
    int policy = -1;
    std::thread([&] { policy = Policy(); }).join();
    return policy;
}

// Runs body on a thread of its own with the given policy, so the test runner's is never changed.
void OnThreadWithPolicy(int policy, const std::function<void()> &body)
{
    std::thread([&] {
        const sched_param param{};
        ASSERT_EQ(pthread_setschedparam(pthread_self(), policy, &param), 0);
        body();
    }).join();
}

} // namespace

TEST(BookkeepingThreadTest, AnOrdinaryThreadIsBatchWhileConvertersStartOrdinary)
{
    OnThreadWithPolicy(SCHED_OTHER, [] {
        {
            BookkeepingThread bookkeeping;
            EXPECT_EQ(Policy(), SCHED_BATCH);
            EXPECT_EQ(PolicyOfANewThread(), SCHED_BATCH); // why the converters need AsOrdinary
            int started = -1;
            bookkeeping.AsOrdinary([&] { started = PolicyOfANewThread(); });
            EXPECT_EQ(started, SCHED_OTHER);
            EXPECT_EQ(Policy(), SCHED_BATCH);
            EXPECT_THROW(bookkeeping.AsOrdinary([] { throw std::runtime_error("no start"); }), std::runtime_error);
            EXPECT_EQ(Policy(), SCHED_BATCH);
        }
        EXPECT_EQ(Policy(), SCHED_OTHER);
    });
}

TEST(BookkeepingThreadTest, AThreadTheUserMadeIdleStaysIdle)
{
    OnThreadWithPolicy(SCHED_IDLE, [] {
        {
            BookkeepingThread bookkeeping;
            EXPECT_EQ(Policy(), SCHED_IDLE);
            int started = -1;
            bookkeeping.AsOrdinary([&] { started = PolicyOfANewThread(); });
            EXPECT_EQ(started, SCHED_IDLE);
        }
        EXPECT_EQ(Policy(), SCHED_IDLE);
    });
}
