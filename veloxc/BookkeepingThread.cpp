#include "veloxc/BookkeepingThread.h"

#include <pthread.h>
#include <sched.h>

namespace veloxc {

namespace {

bool SetPolicy(int policy)
{
    const sched_param param{};
    return pthread_setschedparam(pthread_self(), policy, &param) == 0;
}

} // namespace

BookkeepingThread::BookkeepingThread()
{
    int policy = 0;
    sched_param param{};
    // A thread the user already runs as batch, idle or real time keeps what was chosen.
    if (pthread_getschedparam(pthread_self(), &policy, &param) == 0 && policy == SCHED_OTHER)
        changed_ = SetPolicy(SCHED_BATCH);
}

BookkeepingThread::~BookkeepingThread()
{
    if (changed_)
        SetPolicy(SCHED_OTHER);
}

void BookkeepingThread::AsOrdinary(const std::function<void()> &start)
{
    if (changed_)
        SetPolicy(SCHED_OTHER);
    // Back to batch even when start raises.
    struct Again {
        bool changed;
        ~Again()
        {
            if (changed)
                SetPolicy(SCHED_BATCH);
        }
    } again{changed_};
    start();
}

} // namespace veloxc
