#include "InterruptWatcher.h"

#include <csignal>
#include <pthread.h>
#include <unistd.h>

namespace veloxc {

namespace {

sigset_t InterruptSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    return signals;
}

// Ends the process as the signal's default action does, so the parent sees which signal it was.
[[noreturn]] void DieOf(int signal)
{
    std::signal(signal, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(signal);
    _exit(128 + signal); // only if the signal did not end the process
}

} // namespace

void InterruptWatcher::BlockSignals()
{
    const sigset_t signals = InterruptSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

InterruptWatcher::InterruptWatcher(std::function<void()> stop, std::function<void()> beforeAbruptEnd)
    : stop_(std::move(stop)), beforeAbruptEnd_(std::move(beforeAbruptEnd)), thread_([this] { Watch(); })
{
}

InterruptWatcher::~InterruptWatcher()
{
    done_ = true;
    pthread_kill(thread_.native_handle(), SIGTERM); // wakes the wait; the flag tells it apart
    thread_.join();
}

void InterruptWatcher::Watch()
{
    const sigset_t signals = InterruptSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0 || done_)
            return;
        if (signal_ != 0) {
            if (beforeAbruptEnd_)
                beforeAbruptEnd_();
            DieOf(signal);
        }
        signal_ = signal;
        if (stop_)
            stop_();
    }
}

} // namespace veloxc
