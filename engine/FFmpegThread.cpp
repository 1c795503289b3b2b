#include "engine/FFmpegThread.h"

#include "engine/FFmpeg.h"

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
    // The thread keeps its own copy of the body, so the body may free this object. It starts
    // once Resume has published its id, so the body sees the id too.
    thread_ = std::thread([this, priority = priority_, body = body_] {
        {
            std::lock_guard<std::mutex> published(mutex_);
        }
        ApplyThreadPriority(priority);
        body();
    });
    id_ = thread_.get_id();
    started_ = true;
    return true;
}

void TSuspendedThread::WaitFor()
{
    {
        // Resume sets the id under this lock, so a body that got here sees its own id.
        std::lock_guard<std::mutex> lock(mutex_);
        if (id_.load() == std::this_thread::get_id()) {
            // The body is ending its own thread's owner (a terminate handler that frees its task):
            // nothing of this object is touched once the body returns, so let it finish alone.
            if (thread_.joinable())
                thread_.detach();
            return;
        }
    }
    std::lock_guard<std::mutex> joining(joinMutex_);
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        thread = std::move(thread_);
    }
    if (thread.joinable())
        thread.join();
}

TFFmpegThread::TFFmpegThread(TCustomFFmpeg *engine, TThreadPriority priority)
    : Engine(engine), thread_(priority, [this] {
          // Execute catches the job's failures; what a terminate handler raises has nowhere to go.
          try {
              if (Engine)
                  Engine->Execute();
          } catch (...) {
          }
      })
{
}

TDoTerminateThread::TDoTerminateThread(TCustomFFmpeg *engine)
    : Engine(engine), thread_(tpIdle, [this] {
          try {
              if (Engine)
                  Engine->DoTerminate();
          } catch (...) {
          }
      })
{
}
