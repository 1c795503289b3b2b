// SIGINT, SIGTERM and SIGHUP taken by a thread of its own rather than a handler, so that what
// they do may lock, allocate and call the engine.
#pragma once

#include "batch/FolderAt.h"

#include <atomic>
#include <functional>
#include <thread>

namespace veloxc {

class InterruptWatcher {
public:
    // Blocks the signals in the calling thread, but for those ignored when the program started,
    // which stay ignored. Call it in main before any thread starts, so that every thread inherits
    // the mask and a signal that comes early waits for the watcher.
    static void BlockSignals();

    // The first signal calls stop; a second calls beforeAbruptEnd and ends the program at once
    // through that signal's default action, for what no stop request can end.
    InterruptWatcher(std::function<void()> stop, std::function<void()> beforeAbruptEnd);
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher &) = delete;
    InterruptWatcher &operator=(const InterruptWatcher &) = delete;

    bool Interrupted() const { return signal_ != 0; }
    // The first signal taken, 0 when none came.
    int Signal() const { return signal_; }

private:
    void Watch();

    std::function<void()> stop_;
    std::function<void()> beforeAbruptEnd_;
    std::atomic<int> signal_{0};
    std::atomic<bool> done_{false};
    batch::UniqueFd signals_; // the signals watched
    batch::UniqueFd wake_;    // an event that ends the watch
    std::thread thread_;      // last: starts once the rest exists
};

} // namespace veloxc
