// The scheduling of the thread that shows progress and keeps the finished files.
#pragma once

#include <functional>

namespace veloxc {

// While it lives, the calling thread is a batch thread: its short bursts of bookkeeping no longer
// preempt a converting thread when it wakes. Preempted, a converter waited behind it while the
// other core went idle, because the scheduler keeps a thread that ran a moment ago where its cache
// is. Only a thread with the ordinary policy is changed; the one it had comes back at the end.
class BookkeepingThread {
public:
    BookkeepingThread();
    ~BookkeepingThread();
    BookkeepingThread(const BookkeepingThread &) = delete;
    BookkeepingThread &operator=(const BookkeepingThread &) = delete;

    // Runs start with the ordinary policy: threads inherit the policy of the thread that makes
    // them, and converters must not be batch threads.
    void AsOrdinary(const std::function<void()> &start);

private:
    bool changed_ = false;
};

} // namespace veloxc
