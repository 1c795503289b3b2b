// An engine whose run is a script given by the test, and a recorder of its callbacks.
#pragma once

#include "engine/FFmpeg.h"
#include <algorithm>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TScriptedEngine : public TCustomFFmpeg {
public:
    std::function<void(TScriptedEngine &)> Script;

    ~TScriptedEngine() override { StopAndWait(); }

    using TCustomFFmpeg::CloseOpenEncoders;

protected:
    void Transcode() override
    {
        if (Script)
            Script(*this);
        else
            TCustomFFmpeg::Transcode();
    }
};

struct LogLine {
    int level;
    std::string text;
    bool operator==(const LogLine &) const = default;
};

// Collects log lines and terminate notifications, from whatever thread they come.
class CallbackRecorder {
public:
    void Attach(TCustomFFmpeg &engine)
    {
        engine.LogCallback = [this](TCustomFFmpeg *, int level, const std::string &text) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back({level, text});
        };
        engine.TerminateCallback = [this](TCustomFFmpeg *) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                terminateThreads_.push_back(std::this_thread::get_id());
            }
            changed_.notify_all();
        };
    }

    std::vector<LogLine> Lines() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

    bool HasLine(const std::string &text) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::any_of(lines_.begin(), lines_.end(), [&](const LogLine &line) { return line.text == text; });
    }

    std::vector<std::thread::id> TerminateThreads() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return terminateThreads_;
    }

    size_t TerminateCount() const { return TerminateThreads().size(); }

    bool WaitForTerminate(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return terminateThreads_.size() >= count; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<LogLine> lines_;
    std::vector<std::thread::id> terminateThreads_;
};

// Polls until the condition holds or the timeout passes.
inline bool WaitUntil(const std::function<bool()> &condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
