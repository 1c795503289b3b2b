#include "engine/OpenCodecList.h"

#include "libs/LibraryLock.h"

#include <algorithm>

AVCodecContext *TOpenCodecList::Add(avlib::AVCodecContextPtr context)
{
    AVCodecContext *raw = context.get();
    if (raw)
        contexts_.push_front(std::move(context));
    return raw;
}

void TOpenCodecList::Free(avlib::AVCodecContextPtr &context)
{
    std::lock_guard<std::recursive_mutex> lock(LibraryLock());
    context.reset(); // the deleter frees the statistics input too
}

void TOpenCodecList::Close(AVCodecContext *context)
{
    auto it = std::find_if(contexts_.begin(), contexts_.end(),
                           [context](const avlib::AVCodecContextPtr &c) { return c.get() == context; });
    if (it == contexts_.end())
        return;
    Free(*it);
    contexts_.erase(it);
}

void TOpenCodecList::CloseAll()
{
    for (avlib::AVCodecContextPtr &context : contexts_)
        Free(context);
    contexts_.clear();
}

bool TOpenCodecList::Contains(const AVCodecContext *context) const
{
    return std::any_of(contexts_.begin(), contexts_.end(),
                       [context](const avlib::AVCodecContextPtr &c) { return c.get() == context; });
}
