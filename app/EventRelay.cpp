#include "app/EventRelay.h"

#include <QThread>

#include <utility>

TEventRelay::TEventRelay(QObject *parent) : QObject(parent) {}

void TEventRelay::Post(std::function<void()> update, bool needsEventLoop)
{
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (closed_)
            return;
        queue_.push_back({std::move(update), needsEventLoop});
    }
    if (QThread::currentThread() == thread()) {
        Drain(false);
        if (Pending() == 0)
            return;
    }
    // One queued call per post: each finds the queue as far as the earlier ones left it.
    QMetaObject::invokeMethod(
        this, [this] { Drain(true); }, Qt::QueuedConnection);
}

void TEventRelay::Close()
{
    std::lock_guard<std::mutex> hold(mutex_);
    closed_ = true;
    queue_.clear();
}

bool TEventRelay::Closed() const
{
    std::lock_guard<std::mutex> hold(mutex_);
    return closed_;
}

size_t TEventRelay::Pending() const
{
    std::lock_guard<std::mutex> hold(mutex_);
    return queue_.size();
}

void TEventRelay::Drain(bool fromEventLoop)
{
    for (;;) {
        std::function<void()> update;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (queue_.empty())
                return;
            if (queue_.front().needsEventLoop && !fromEventLoop)
                return;
            update = std::move(queue_.front().update);
            queue_.pop_front();
        }
        Run(update);
    }
}

void TEventRelay::Run(const std::function<void()> &update)
{
    // Nothing may travel into the event loop or back into the thread that raised the event.
    try {
        update();
    } catch (...) {
        if (OnFailure)
            OnFailure(std::current_exception());
    }
}
