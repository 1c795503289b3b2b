// Carries window updates from the threads that raise the converter's events to the window's
// thread, in the order they were posted.
#pragma once

#include <QObject>

#include <deque>
#include <exception>
#include <functional>
#include <mutex>

class TEventRelay : public QObject {
    Q_OBJECT

public:
    explicit TEventRelay(QObject *parent = nullptr);

    // Queues update behind every earlier one. From another thread it runs later on this object's
    // thread, through a queued call. On this object's own thread (a run on the main thread, whose
    // event loop is busy) the queue runs at once, up to the first update that needs the event loop:
    // that one and all behind it wait for the queued call.
    void Post(std::function<void()> update, bool needsEventLoop = false);
    // Drops what is queued and everything posted later.
    void Close();
    bool Closed() const;
    // Updates waiting to run.
    size_t Pending() const;

    // What an update raises goes here instead of into the event loop.
    std::function<void(std::exception_ptr)> OnFailure;

private:
    struct TItem {
        std::function<void()> update;
        bool needsEventLoop;
    };

    // Runs queued updates one at a time, the first one even when it needs the event loop when
    // fromEventLoop; an update may post or run the queue again meanwhile (a modal box).
    void Drain(bool fromEventLoop);
    void Run(const std::function<void()> &update);

    mutable std::mutex mutex_;
    std::deque<TItem> queue_;
    bool closed_ = false;
};
