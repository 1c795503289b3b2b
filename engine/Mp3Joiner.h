// Joins MP3 frames encoded in separate segments into one valid stream. Each frame's main data
// is taken out of its encoder's bit reservoir and laid out again, so that no frame refers back
// to bytes of a frame that was dropped at a join. No library calls.
#pragma once

#include "engine/Mp3Frames.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace mp3 {

// One frame apart from its neighbours: header, CRC and side information, and its own main data.
struct TLooseFrame {
    TFrameHeader Header;
    std::vector<uint8_t> Head;
    std::vector<uint8_t> MainData;
    std::vector<uint8_t> SideData; // what the encoder attached to the frame's packet, handed on
};

// Takes an encoder's frames apart, one whole frame per call, in order.
class TFrameUnpacker {
public:
    // Empty when the bytes are not one whole layer III frame, or the frame reaches back before
    // the first frame or beyond its own end.
    std::optional<TLooseFrame> Add(std::span<const uint8_t> frame);

private:
    std::vector<uint8_t> Room; // the last frames' main data room, as far back as a frame can reach
};

// A frame of the joined stream, whole.
struct TJoinedFrame {
    int64_t Index = 0; // in the joined stream
    std::vector<uint8_t> Bytes;
    std::vector<uint8_t> SideData;
};

// Lays main data out as early as the reservoir allows, and hands on frames once nothing later
// can reach into them.
class TFramePacker {
public:
    // reservoirLimit: how far back main data may begin, at most (the encoder's own limit).
    explicit TFramePacker(int reservoirLimit) : Limit(reservoirLimit) {}

    // Adds the next frame; false when its data does not fit.
    bool Add(TLooseFrame frame, std::vector<TJoinedFrame> &done);
    void Finish(std::vector<TJoinedFrame> &done);

    // Where the next frame's main data could begin, back from its own room.
    int Reservoir() const;

    // Whether every one of frames fits when laid out after a reservoir of `reservoir` bytes.
    bool FitsAfter(int reservoir, std::span<const TLooseFrame> frames) const;
    // The reservoir after frames laid out after a reservoir of `reservoir` bytes (no overflow).
    int ReservoirAfter(int reservoir, std::span<const TLooseFrame> frames) const;

private:
    struct TPending {
        TJoinedFrame Frame;
        int64_t RoomStart = 0; // in the stream of main data rooms
        int DataOffset = 0;
    };
    void Emit(std::vector<TJoinedFrame> &done, bool all);

    int Limit;
    std::deque<TPending> Pending;
    int64_t NextIndex = 0;
    int64_t RoomEnd = 0; // end of the last frame's room
    int64_t Cursor = 0;  // end of the last frame's main data
};

// Gives a frame a higher bit rate by steps (more room, the same data); false past the highest.
bool RaiseBitrate(TLooseFrame &frame, int steps);

// Joins segments: each overlaps the one before by some frames around the planned join. The join
// frame is one where the reservoir carries over at the frames' own bit rate: near the planned join
// if one is, else a later one that the segment held reaches once its encoder has gone on past its
// end (Extend). Only a variable stream may instead give a join frame a higher bit rate.
class TSegmentJoiner {
public:
    enum class TResult {
        Joined,
        NeedsMore, // no join frame among those held carries the reservoir: extend them, then add again
        Failed,    // the segments do not meet
    };

    TSegmentJoiner(int reservoirLimit, int joinReach, bool mayRaise)
        : Packer(reservoirLimit), Reach(joinReach), MayRaise(mayRaise)
    {
    }

    // The frames of the next segment, the first of them at stream index `first`; `join` is the
    // planned first frame of this segment (ignored for the first segment). This segment's frames
    // must be good from `join` - reach on, and every frame held of the one before. Takes the
    // frames when Joined.
    TResult Add(int64_t first, int64_t join, std::vector<TLooseFrame> &frames, std::vector<TJoinedFrame> &done);
    // Frames more of the segment held, from where its frames end.
    void Extend(std::vector<TLooseFrame> frames);
    // The stream index after the last frame held.
    int64_t HeldEnd() const { return HeldFirst + static_cast<int64_t>(Held.size()); }
    // The last segment has been added: the rest of its frames.
    bool Finish(std::vector<TJoinedFrame> &done);

    // Joins whose frame needed a higher bit rate than its encoder gave it (a variable stream's).
    int RaisedJoins() const { return Raised; }
    const std::vector<int64_t> &Joins() const { return JoinsMade; }

private:
    // A join frame for frames from `from` to `highest`, nearest the planned join first, then later
    // ones; with raise, the bit rate steps its frame needs.
    std::optional<int64_t> Choose(int64_t first, int64_t join, int64_t from, int64_t highest,
                                  std::vector<TLooseFrame> &frames, int &raise) const;

    TFramePacker Packer;
    int Reach;
    bool MayRaise;
    bool Started = false;
    int Raised = 0;
    int64_t HeldFirst = 0;         // stream index of Held's first frame
    std::vector<TLooseFrame> Held; // the last segment's frames not yet packed
    std::vector<int64_t> JoinsMade;
    std::optional<std::pair<int64_t, int64_t>> Tried; // the segment added (its first frame), its last join frame tried
};

} // namespace mp3
