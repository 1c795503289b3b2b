#include "FFmpegThread.h"

#include "FFmpeg.h"

#include <cerrno>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

void ApplyThreadPriority(TThreadPriority priority)
{
    if (priority == tpIdle) {
        sched_param param{};
        pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
        return;
    }
    const int niceOffset = priority == tpLowest ? 10 : priority == tpLower ? 5 : 0;
    if (niceOffset == 0)
        return;
    // On Linux a thread's nice value is its own, addressed by its thread id.
    const id_t tid = static_cast<id_t>(gettid());
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        setpriority(PRIO_PROCESS, tid, current + niceOffset);
}

TSuspendedThread::TSuspendedThread(TThreadPriority priority, std::function<void()> body)
    : priority_(priority), body_(std::move(body))
{
}

TSuspendedThread::~TSuspendedThread() { WaitFor(); }

bool TSuspendedThread::Resume()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_)
        return false;
    // The thread keeps its own copy of the body, so the body may free this object.
    thread_ = std::thread([priority = priority_, body = body_] {
        ApplyThreadPriority(priority);
        body();
    });
    started_ = true;
    return true;
}

std::thread::id TSuspendedThread::ThreadID() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return thread_.get_id();
}

void TSuspendedThread::WaitFor()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!thread_.joinable())
        return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        // The body is ending its own thread's owner (a terminate handler that frees its task):
        // nothing of this object is touched once the body returns, so let it finish alone.
        thread_.detach();
        return;
    }
    thread_.join();
}

TFFmpegThread::TFFmpegThread(TCustomFFmpeg *engine, TThreadPriority priority)
    : Engine(engine), thread_(priority, [this] {
          if (Engine)
              Engine->Execute();
      })
{
}

TDoTerminateThread::TDoTerminateThread(TCustomFFmpeg *engine)
    : Engine(engine), thread_(tpIdle, [this] {
          if (Engine)
              Engine->DoTerminate();
      })
{
}
