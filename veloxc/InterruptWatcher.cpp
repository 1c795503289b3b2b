#include "veloxc/InterruptWatcher.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <system_error>
#include <unistd.h>

namespace veloxc {

namespace {

// The stop signals veloxc takes: those not ignored when it started.
sigset_t &Watched()
{
    static sigset_t signals;
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

int Checked(int fd)
{
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "cannot watch for signals");
    return fd;
}

} // namespace

void InterruptWatcher::BlockSignals()
{
    sigset_t &signals = Watched();
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // One the parent set to be ignored (nohup, a background job) stays ignored: a blocked
        // signal would be taken however it was set.
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        sigaddset(&signals, signal);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

InterruptWatcher::InterruptWatcher(std::function<void()> stop, std::function<void()> beforeAbruptEnd)
    : stop_(std::move(stop)), beforeAbruptEnd_(std::move(beforeAbruptEnd)),
      signals_(Checked(signalfd(-1, &Watched(), SFD_CLOEXEC))), wake_(Checked(eventfd(0, EFD_CLOEXEC))),
      thread_([this] { Watch(); })
{
}

InterruptWatcher::~InterruptWatcher()
{
    done_ = true;
    const uint64_t one = 1;
    while (write(wake_.Get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
}

void InterruptWatcher::Watch()
{
    const int signals = signals_.Get();
    pollfd waits[2] = {{signals, POLLIN, 0}, {wake_.Get(), POLLIN, 0}};
    while (!done_) {
        if (poll(waits, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        signalfd_siginfo taken{};
        if (done_ || !(waits[0].revents & POLLIN) || read(signals, &taken, sizeof taken) != sizeof taken)
            continue;
        const int signal = static_cast<int>(taken.ssi_signo);
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
