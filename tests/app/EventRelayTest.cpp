#include "app/EventRelay.h"

#include "tests/app/MainWindowTestSupport.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using main_window_testing::Spin;
using main_window_testing::WaitUntil;

namespace {

TEST(EventRelay, UpdatesFromWorkersRunOnTheWindowThreadInTheOrderEachWorkerPostedThem)
{
    TEventRelay relay;
    std::vector<std::pair<int, int>> seen; // (worker, sequence), only touched on this thread
    bool offThread = false;
    constexpr int kWorkers = 4, kEach = 500;
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&, w] {
            for (int i = 0; i < kEach; ++i)
                relay.Post([&, w, i] {
                    offThread = offThread || QThread::currentThread() != relay.thread();
                    seen.emplace_back(w, i);
                });
        });
    for (std::thread &worker : workers)
        worker.join();
    EXPECT_EQ(seen.size(), 0u); // nothing runs before the event loop does
    ASSERT_TRUE(WaitUntil([&] { return seen.size() == kWorkers * kEach; }));
    EXPECT_FALSE(offThread);
    std::vector<int> last(kWorkers, -1);
    for (const auto &[w, i] : seen) {
        EXPECT_EQ(i, last[w] + 1) << "worker " << w;
        last[w] = i;
    }
}

TEST(EventRelay, OnItsOwnThreadItRunsAtOnceUpToAnUpdateThatNeedsTheEventLoop)
{
    TEventRelay relay;
    std::vector<int> seen;
    relay.Post([&] { seen.push_back(1); });
    EXPECT_EQ(seen, (std::vector<int>{1}));
    relay.Post([&] { seen.push_back(2); }, true);
    relay.Post([&] { seen.push_back(3); });
    EXPECT_EQ(seen, (std::vector<int>{1})) << "the later one overtook the one waiting for the event loop";
    EXPECT_EQ(relay.Pending(), 2u);
    ASSERT_TRUE(WaitUntil([&] { return seen.size() == 3; }));
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
}

TEST(EventRelay, WorkerUpdatesQueuedEarlierRunBeforeOneFromTheWindowThread)
{
    TEventRelay relay;
    std::vector<int> seen;
    std::thread worker([&] { relay.Post([&] { seen.push_back(1); }); });
    worker.join();
    relay.Post([&] { seen.push_back(2); });
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

TEST(EventRelay, AClosedRelayDropsWhatIsQueuedAndWhatComesLater)
{
    TEventRelay relay;
    int runs = 0;
    std::thread worker([&] { relay.Post([&] { ++runs; }); });
    worker.join();
    relay.Close();
    relay.Post([&] { ++runs; });
    Spin(50);
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(relay.Closed());
}

TEST(EventRelay, WhatAnUpdateRaisesGoesToTheFailureHandlerAndTheQueueGoesOn)
{
    TEventRelay relay;
    std::vector<std::string> failures;
    relay.OnFailure = [&](std::exception_ptr raised) {
        try {
            std::rethrow_exception(raised);
        } catch (const std::exception &e) {
            failures.push_back(e.what());
        }
    };
    bool after = false;
    relay.Post([] { throw std::runtime_error("broken update"); });
    relay.Post([&] { after = true; });
    EXPECT_EQ(failures, (std::vector<std::string>{"broken update"}));
    EXPECT_TRUE(after);
}

} // namespace
