// The codec contexts a run has opened, owned here from their open to their close, so that
// the contexts a failed run leaves open can all be closed afterwards.
#pragma once

#include "libs/AVDeleters.h"

#include <list>

class TOpenCodecList {
public:
    TOpenCodecList() = default;
    ~TOpenCodecList() { CloseAll(); }
    TOpenCodecList(const TOpenCodecList &) = delete;
    TOpenCodecList &operator=(const TOpenCodecList &) = delete;

    // Takes an opened context; it stays valid until Close or CloseAll.
    AVCodecContext *Add(avlib::AVCodecContextPtr context);
    // Frees one context (its two-pass statistics input first) under the library lock.
    void Close(AVCodecContext *context);
    // Frees every context still held, newest first.
    void CloseAll();

    bool Contains(const AVCodecContext *context) const;
    size_t Count() const { return contexts_.size(); }
    bool Empty() const { return contexts_.empty(); }

private:
    static void Free(avlib::AVCodecContextPtr &context);

    std::list<avlib::AVCodecContextPtr> contexts_; // newest at the head
};
