// One MP3 stream encoded in segments at once on borrowed cores and joined into one stream. The
// packets come out in order, one frame each, timed as the single encoder's would be.
#pragma once

#include "engine/CoreBudget.h"
#include "engine/Mp3Joiner.h"
#include "libs/FFmpegIncludes.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class TSegmentedMp3 {
public:
    using TPacketSink = std::function<void(AVPacket *)>;
    using TOptions = std::vector<std::pair<std::string, std::string>>;

    static constexpr int kSegmentFrames = 600; // about 15 s at 44.1 kHz
    static constexpr int kOverlapFrames = 6;   // encoded on either side of a join, then dropped
    static constexpr int kJoinReach = 3;       // how far back or on a join may move to carry the reservoir
    static constexpr int kGoOnFrames = 4;      // frames at a time the segment before goes on by where no join can

    // Whether an opened encoder's stream can be encoded in segments.
    static bool Suits(const AVCodecContext &model);
    // model: the opened encoder whose settings each segment's encoder takes, with the private
    // options it was opened with; budget: where other cores are borrowed.
    TSegmentedMp3(const AVCodecContext &model, TOptions privateOptions, std::shared_ptr<TCoreBudget> budget,
                  int segmentFrames = kSegmentFrames);
    ~TSegmentedMp3(); // waits for the segments still being encoded
    TSegmentedMp3(const TSegmentedMp3 &) = delete;
    TSegmentedMp3 &operator=(const TSegmentedMp3 &) = delete;

    // Samples in the model's format; packets of segments done go to sink. Throws on failure.
    void Send(const AVFrame &frame, const TPacketSink &sink);
    // The end of the samples: the rest of the packets.
    void Finish(const TPacketSink &sink);

    int Segments() const { return NextSegment; }
    int RaisedJoins() const { return Joiner.RaisedJoins(); }

private:
    using TPlanes = std::vector<std::vector<uint8_t>>;
    class TEncoder;
    struct TSegment {
        int Index = 0;
        int64_t FirstSample = 0;
        int64_t JoinFrame = 0;
        bool Last = false;
        TPlanes Planes;
    };
    struct TEncoded {
        std::vector<mp3::TLooseFrame> Frames;
        std::string Error;
        int64_t FirstSample = 0;
        int64_t EndSample = 0;
        bool Last = false;
        std::unique_ptr<TEncoder> Encoder; // open, to go on past the segment's end; none for the last
        TPlanes Planes;                    // the samples, for the encoder of the segment before to go on into
    };

    void Dispatch(int64_t end, bool last);
    void Work(bool borrowed); // a worker: encodes queued segments
    TEncoded Encode(TSegment segment) const;
    void JoinReady(const TPacketSink &sink, bool wait);
    void Join(int64_t first, int64_t join, TEncoded &encoded, std::vector<mp3::TJoinedFrame> &done);
    void Emit(std::vector<mp3::TJoinedFrame> &frames, const TPacketSink &sink);

    // What each segment's encoder is opened with: the model's settings, kept apart from it.
    struct TSettings {
        const AVCodec *Codec = nullptr;
        AVSampleFormat SampleFormat = AV_SAMPLE_FMT_NONE;
        int SampleRate = 0;
        AVChannelLayout Layout{}; // a native one: nothing to free
        int64_t BitRate = 0;
        int Flags = 0, GlobalQuality = 0, CompressionLevel = 0, Cutoff = 0, InitialPadding = 0;
        AVRational TimeBase{};
    } Model;
    TOptions PrivateOptions;
    std::shared_ptr<TCoreBudget> Budget;
    const int FrameSamples;
    const int64_t SegmentSamples;
    const int64_t OverlapSamples;
    int PlaneCount = 1;
    int UnitBytes = 0; // bytes of one sample in one plane
    int64_t FirstPts = AV_NOPTS_VALUE;

    // Samples from BufferStart on, not yet given to every segment that needs them.
    TPlanes Buffer;
    int64_t BufferStart = 0;
    int64_t Received = 0;
    int64_t NextJoin; // the samples where the segment being filled ends

    int NextSegment = 0;
    int NextToJoin = 0;
    std::map<int, std::pair<int64_t, int64_t>> Placement; // segment: first frame, join frame
    std::unique_ptr<TEncoder> HeldEncoder;                // the encoder of the segment the joiner holds, while open
    int64_t HeldEnd = 0;                                  // the sample where its input ends
    std::vector<std::thread> Workers;

    // Shared with the workers.
    std::mutex Lock;
    std::condition_variable Changed; // a segment queued, taken or encoded, or the end
    std::deque<TSegment> Queue;
    std::map<int, TEncoded> Done;
    int Idle = 0; // workers waiting for a segment
    bool Closing = false;
    mp3::TSegmentJoiner Joiner;
};
