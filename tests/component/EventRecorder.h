// Records a component's terminate and log events from whichever thread raises them, and waits
// for them while the Qt event loop runs (main-thread mode starts its tasks from a timer).
#pragma once

#include "component/VeloxConverter.h"

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

struct TaskEnd {
    int index;
    bool finished, exception;
    std::string message;
    std::thread::id thread;
};

struct LogLine {
    int index;
    TLogLevel level;
    std::string text;
    bool operator==(const LogLine &) const = default;
};

inline void PrintTo(const LogLine &line, std::ostream *os)
{
    *os << "{" << line.index << ", level " << line.level << ", \"" << line.text << "\"}";
}

class EventRecorder {
public:
    // Runs in the handler, under the component's lock, after the event is recorded; may raise.
    std::function<void(const TaskEnd &)> onEnd;
    std::function<void(const LogLine &)> onLine;

    explicit EventRecorder(TVeloxConverter &converter)
    {
        converter.OnTerminate = [this](int index, bool finished, bool exception, const std::string &message) {
            const TaskEnd end{index, finished, exception, message, std::this_thread::get_id()};
            {
                std::lock_guard<std::mutex> hold(mutex_);
                ends_.push_back(end);
            }
            if (onEnd)
                onEnd(end);
        };
        converter.OnLog = [this](int index, TLogLevel level, const std::string &text) {
            const LogLine line{index, level, text};
            {
                std::lock_guard<std::mutex> hold(mutex_);
                lines_.push_back(line);
            }
            if (onLine)
                onLine(line);
        };
    }

    std::vector<TaskEnd> Ends() const
    {
        std::lock_guard<std::mutex> hold(mutex_);
        return ends_;
    }
    std::vector<LogLine> Lines() const
    {
        std::lock_guard<std::mutex> hold(mutex_);
        return lines_;
    }
    int Finals() const
    {
        std::lock_guard<std::mutex> hold(mutex_);
        int count = 0;
        for (const TaskEnd &end : ends_)
            count += end.index == -1;
        return count;
    }

private:
    mutable std::mutex mutex_;
    std::vector<TaskEnd> ends_;
    std::vector<LogLine> lines_;
};

// Runs the event loop until done(); false when that takes unreasonably long (a hang, not a speed check).
inline bool WaitUntil(const std::function<bool()> &done)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace testing_support
