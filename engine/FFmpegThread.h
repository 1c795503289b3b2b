// Threads that run an engine's job or deliver its terminate notification.
// Both are created suspended: nothing runs until Resume. Destroying one waits for its body to end.
#pragma once

#include "engine/FFmpegTypes.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// A thread created suspended, at a given priority, joined when destroyed.
class TSuspendedThread {
public:
    TSuspendedThread(TThreadPriority priority, std::function<void()> body);
    ~TSuspendedThread();
    TSuspendedThread(const TSuspendedThread &) = delete;
    TSuspendedThread &operator=(const TSuspendedThread &) = delete;

    // Starts the body; false when it was already started.
    bool Resume();
    bool Started() const { return started_; }
    std::thread::id ThreadID() const { return id_.load(); }
    TThreadPriority Priority() const { return priority_; }
    // Waits for the body to end. From the thread itself it returns at once.
    void WaitFor();

private:
    TThreadPriority priority_;
    std::function<void()> body_;
    std::atomic<bool> started_{false};
    std::atomic<std::thread::id> id_{};
    std::mutex mutex_;     // guards thread_
    std::mutex joinMutex_; // one waiter joins at a time; never held by the thread itself
    std::thread thread_;
};

// Applies a priority to the calling thread: lower priorities raise its nice value, idle
// puts it in the idle scheduling class. Failures leave the thread as it was.
void ApplyThreadPriority(TThreadPriority priority);

// Runs Execute of its engine.
class TFFmpegThread {
public:
    TFFmpegThread(TCustomFFmpeg *engine, TThreadPriority priority);

    TCustomFFmpeg *Engine;

    bool Resume() { return thread_.Resume(); }
    bool Started() const { return thread_.Started(); }
    std::thread::id ThreadID() const { return thread_.ThreadID(); }
    void WaitFor() { thread_.WaitFor(); }

private:
    TSuspendedThread thread_; // last member: joined before the others go
};

// Delivers the terminate notification of an engine that never started.
class TDoTerminateThread {
public:
    explicit TDoTerminateThread(TCustomFFmpeg *engine);

    TCustomFFmpeg *Engine;

    bool Resume() { return thread_.Resume(); }
    std::thread::id ThreadID() const { return thread_.ThreadID(); }
    void WaitFor() { thread_.WaitFor(); }

private:
    TSuspendedThread thread_;
};
