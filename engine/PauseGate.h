// A gate the run passes at its safe points: closed by a pause, opened by a resume or a stop.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class TPauseGate {
public:
    void Close()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }

    void Open()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed_ = false;
        }
        opened_.notify_all();
    }

    bool IsClosed() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return closed_;
    }

    // Blocks while the gate is closed; a set stop flag lets the caller through at once.
    // Whoever sets the flag opens the gate afterwards, which wakes the waiter.
    void Pass(const std::atomic<uint8_t> &stopRequested)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ++waiters_;
        opened_.wait(lock, [&] { return !closed_ || stopRequested.load() != 0; });
        --waiters_;
    }

    int Waiters() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return waiters_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable opened_;
    bool closed_ = false;
    int waiters_ = 0;
};
