#include "engine/Mp3Joiner.h"

#include <algorithm>

namespace mp3 {

std::optional<TLooseFrame> TFrameUnpacker::Add(std::span<const uint8_t> frame)
{
    const std::optional<TFrameHeader> header = ParseHeader(frame);
    if (!header || frame.size() != static_cast<size_t>(header->FrameBytes))
        return std::nullopt;
    const TSideInfo side = ReadSideInfo(*header, frame);
    const size_t before = Room.size();
    Room.insert(Room.end(), frame.begin() + header->DataOffset(), frame.end());
    if (static_cast<size_t>(side.MainDataBegin) > before ||
        before - side.MainDataBegin + side.MainDataBytes() > Room.size())
        return std::nullopt;
    TLooseFrame loose;
    loose.Header = *header;
    loose.Head.assign(frame.begin(), frame.begin() + header->DataOffset());
    const auto start = Room.begin() + static_cast<std::ptrdiff_t>(before - side.MainDataBegin);
    loose.MainData.assign(start, start + side.MainDataBytes());
    const size_t keep = static_cast<size_t>(header->MaxBackReference());
    if (Room.size() > keep)
        Room.erase(Room.begin(), Room.end() - static_cast<std::ptrdiff_t>(keep));
    return loose;
}

bool RaiseBitrate(TLooseFrame &frame, int steps)
{
    if (frame.Header.BitrateIndex + steps > 14)
        return false;
    WriteBitrateIndex(frame.Head, frame.Header.BitrateIndex + steps);
    frame.Header = *ParseHeader(frame.Head);
    return true;
}

bool TFramePacker::Add(TLooseFrame frame, std::vector<TJoinedFrame> &done)
{
    const int limit = std::min(Limit, frame.Header.MaxBackReference());
    const int64_t start = std::max(Cursor, RoomEnd - limit);
    const int64_t length = static_cast<int64_t>(frame.MainData.size());
    if (start + length > RoomEnd + frame.Header.DataRoom())
        return false;
    const TFrameHeader header = frame.Header;

    TPending pending;
    pending.Frame.Index = NextIndex++;
    pending.Frame.Bytes = std::move(frame.Head);
    pending.Frame.Bytes.resize(static_cast<size_t>(header.FrameBytes), 0);
    pending.Frame.SideData = std::move(frame.SideData);
    pending.RoomStart = RoomEnd;
    pending.DataOffset = header.DataOffset();
    WriteMainDataBegin(header, pending.Frame.Bytes, static_cast<int>(RoomEnd - start));
    Pending.push_back(std::move(pending));

    // The main data, over the rooms it spans.
    for (TPending &into : Pending) {
        const int64_t roomEnd = into.RoomStart + static_cast<int64_t>(into.Frame.Bytes.size()) - into.DataOffset;
        const int64_t from = std::max(start, into.RoomStart), to = std::min(start + length, roomEnd);
        if (from < to)
            std::copy(frame.MainData.begin() + (from - start), frame.MainData.begin() + (to - start),
                      into.Frame.Bytes.begin() + into.DataOffset + (from - into.RoomStart));
    }
    Cursor = start + length;
    RoomEnd += header.DataRoom();
    Emit(done, false);
    return true;
}

void TFramePacker::Finish(std::vector<TJoinedFrame> &done) { Emit(done, true); }

void TFramePacker::Emit(std::vector<TJoinedFrame> &done, bool all)
{
    // Nothing later begins before max(Cursor, RoomEnd - Limit).
    const int64_t settled = std::max(Cursor, RoomEnd - Limit);
    while (!Pending.empty()) {
        TPending &front = Pending.front();
        const int64_t roomEnd = front.RoomStart + static_cast<int64_t>(front.Frame.Bytes.size()) - front.DataOffset;
        if (!all && roomEnd > settled)
            break;
        done.push_back(std::move(front.Frame));
        Pending.pop_front();
    }
}

int TFramePacker::Reservoir() const { return static_cast<int>(std::min<int64_t>(RoomEnd - Cursor, Limit)); }

namespace {

// Steps the reservoir over frames; false at the first that does not fit.
bool Step(int limit, int &reservoir, std::span<const TLooseFrame> frames)
{
    for (const TLooseFrame &frame : frames) {
        const int room = frame.Header.DataRoom();
        const int length = static_cast<int>(frame.MainData.size());
        if (length > reservoir + room)
            return false;
        reservoir = std::min({limit, frame.Header.MaxBackReference(), reservoir + room - length});
    }
    return true;
}

} // namespace

bool TFramePacker::FitsAfter(int reservoir, std::span<const TLooseFrame> frames) const
{
    return Step(Limit, reservoir, frames);
}

int TFramePacker::ReservoirAfter(int reservoir, std::span<const TLooseFrame> frames) const
{
    Step(Limit, reservoir, frames);
    return reservoir;
}

std::optional<int64_t> TSegmentJoiner::Choose(int64_t first, int64_t join, int64_t from, int64_t highest,
                                              std::vector<TLooseFrame> &frames, int &raise) const
{
    const int reservoir = Packer.Reservoir();
    auto fits = [&](int64_t at) {
        const auto older = std::span<const TLooseFrame>(Held).first(static_cast<size_t>(at - HeldFirst));
        const auto newer = std::span<const TLooseFrame>(frames).subspan(static_cast<size_t>(at - first));
        return Packer.FitsAfter(Packer.ReservoirAfter(reservoir, older), newer);
    };
    auto around = [&](int distance) { return join + (distance % 2 ? (distance + 1) / 2 : -distance / 2); };
    // Nearest the planned join first, then later ones as far as the frames held reach.
    raise = 0;
    for (int distance = 0; distance <= 2 * Reach; ++distance)
        if (const int64_t at = around(distance); at >= from && at <= highest && fits(at))
            return at;
    for (int64_t at = std::max(from, join + Reach + 1); at <= highest; ++at)
        if (fits(at))
            return at;
    // A variable stream has frames of other rates anyway: the lowest that carries the reservoir.
    for (raise = 1; MayRaise && raise <= 14; ++raise)
        for (int distance = 0; distance <= 2 * Reach; ++distance) {
            const int64_t at = around(distance);
            if (at < from || at > highest)
                continue;
            TLooseFrame &joining = frames[static_cast<size_t>(at - first)];
            const TFrameHeader header = joining.Header;
            const std::vector<uint8_t> head = joining.Head;
            if (!RaiseBitrate(joining, raise))
                continue;
            if (fits(at))
                return at;
            joining.Header = header;
            joining.Head = head;
        }
    return std::nullopt;
}

TSegmentJoiner::TResult TSegmentJoiner::Add(int64_t first, int64_t join, std::vector<TLooseFrame> &frames,
                                            std::vector<TJoinedFrame> &done)
{
    if (!Started) {
        Started = true;
        Held = std::move(frames);
        HeldFirst = first;
        return TResult::Joined;
    }
    const int64_t lowest = std::max({first, HeldFirst, join - Reach});
    const int64_t highest = std::min(HeldEnd(), first + static_cast<int64_t>(frames.size()) - 1);
    if (first > HeldEnd() || first + static_cast<int64_t>(frames.size()) <= lowest)
        return TResult::Failed;
    // Join frames tried for this segment before did not fit, and do not now.
    const int64_t from = Tried && Tried->first == first ? std::max(lowest, Tried->second + 1) : lowest;
    int raise = 0;
    const std::optional<int64_t> chosen = Choose(first, join, from, highest, frames, raise);
    if (!chosen) {
        Tried = {first, std::max(highest, from - 1)};
        return TResult::NeedsMore;
    }
    Tried.reset();
    Raised += raise > 0;
    for (TLooseFrame &frame : Held) {
        if (HeldFirst >= *chosen)
            break;
        if (!Packer.Add(std::move(frame), done))
            return TResult::Failed;
        ++HeldFirst;
    }
    Held.assign(std::make_move_iterator(frames.begin() + (*chosen - first)), std::make_move_iterator(frames.end()));
    frames.clear();
    HeldFirst = *chosen;
    JoinsMade.push_back(*chosen);
    return TResult::Joined;
}

void TSegmentJoiner::Extend(std::vector<TLooseFrame> frames)
{
    Held.insert(Held.end(), std::make_move_iterator(frames.begin()), std::make_move_iterator(frames.end()));
}

bool TSegmentJoiner::Finish(std::vector<TJoinedFrame> &done)
{
    for (TLooseFrame &frame : Held)
        if (!Packer.Add(std::move(frame), done))
            return false;
    Held.clear();
    Packer.Finish(done);
    return true;
}

} // namespace mp3
