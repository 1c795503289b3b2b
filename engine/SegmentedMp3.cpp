#include "engine/SegmentedMp3.h"

#include "engine/FFMpegException.h"
#include "libs/AVDeleters.h"
#include "libs/LibraryLock.h"

#include <algorithm>
#include <cstring>
#include <system_error>

using namespace avlib;

namespace {

// How far back main data may begin: the encoder reaches as far as the frame header lets it.
int ReservoirLimit(const AVCodecContext &model) { return model.sample_rate < 32000 ? 255 : 511; }

// Whether the stream's frames have other bit rates anyway (a quality or an average bit rate), so
// that a join frame may take a higher one.
bool VariableRate(const AVCodecContext &model)
{
    int64_t average = 0;
    return (model.flags & AV_CODEC_FLAG_QSCALE) != 0 || model.bit_rate <= 0 ||
           (model.priv_data && avutil.av_opt_get_int(model.priv_data, "abr", 0, &average) >= 0 && average != 0);
}

} // namespace

// One encoder with the model's settings, fed a segment's samples, and on past them when asked.
class TSegmentedMp3::TEncoder {
public:
    explicit TEncoder(const TSegmentedMp3 &owner);
    ~TEncoder(); // an encoder still open ends its stream first, so that no samples are left in it
    TEncoder(const TEncoder &) = delete;
    TEncoder &operator=(const TEncoder &) = delete;
    // Encodes samples [from, to) of planes; the frames done go to frames.
    void Send(const TPlanes &planes, int64_t from, int64_t to, std::vector<mp3::TLooseFrame> &frames);
    // The end of the samples: the rest of the frames.
    void Flush(std::vector<mp3::TLooseFrame> &frames);

private:
    void Drain(std::vector<mp3::TLooseFrame> &frames);

    const TSegmentedMp3 &Owner;
    AVCodecContextPtr Context;
    AVFramePtr Frame;
    AVPacketPtr Packet;
    mp3::TFrameUnpacker Unpacker;
    int64_t Fed = 0;
    bool Ended = false;
};

TSegmentedMp3::TEncoder::TEncoder(const TSegmentedMp3 &owner)
    : Owner(owner), Context(avcodec.avcodec_alloc_context3(owner.Model.Codec)), Frame(avutil.av_frame_alloc()),
      Packet(avcodec.av_packet_alloc())
{
    const TSettings &model = Owner.Model;
    if (!Context || !Frame || !Packet || avutil.av_channel_layout_copy(&Context->ch_layout, &model.Layout) < 0)
        throw FFMpegException("av_malloc failed");
    Context->sample_fmt = model.SampleFormat;
    Context->sample_rate = model.SampleRate;
    Context->bit_rate = model.BitRate;
    Context->flags = model.Flags;
    Context->global_quality = model.GlobalQuality;
    Context->compression_level = model.CompressionLevel;
    Context->cutoff = model.Cutoff;
    Context->time_base = model.TimeBase;
    AVDictionaryOwner options;
    for (const auto &[name, value] : Owner.PrivateOptions)
        options.Set(name.c_str(), value);
    std::lock_guard<std::recursive_mutex> lock(LibraryLock());
    if (avcodec.avcodec_open2(Context.get(), model.Codec, options.Address()) < 0)
        throw FFMpegException("Audio encoding failed");
}

TSegmentedMp3::TEncoder::~TEncoder()
{
    if (Ended || avcodec.avcodec_send_frame(Context.get(), nullptr) < 0)
        return;
    while (avcodec.avcodec_receive_packet(Context.get(), Packet.get()) >= 0)
        avcodec.av_packet_unref(Packet.get());
}

void TSegmentedMp3::TEncoder::Send(const TPlanes &planes, int64_t from, int64_t to,
                                   std::vector<mp3::TLooseFrame> &frames)
{
    const int unit = Owner.UnitBytes;
    for (int64_t at = from; at < to; at += Owner.FrameSamples) {
        const int count = static_cast<int>(std::min<int64_t>(Owner.FrameSamples, to - at));
        avutil.av_frame_unref(Frame.get());
        Frame->nb_samples = count;
        Frame->format = Context->sample_fmt;
        Frame->sample_rate = Context->sample_rate;
        if (avutil.av_channel_layout_copy(&Frame->ch_layout, &Context->ch_layout) < 0 ||
            avutil.av_frame_get_buffer(Frame.get(), 0) < 0)
            throw FFMpegException("av_malloc failed");
        for (int plane = 0; plane < Owner.PlaneCount; ++plane)
            std::memcpy(Frame->extended_data[plane], planes[plane].data() + at * unit,
                        static_cast<size_t>(count) * unit);
        Frame->pts = Fed;
        Fed += count;
        if (avcodec.avcodec_send_frame(Context.get(), Frame.get()) < 0)
            throw FFMpegException("Audio encoding failed");
        Drain(frames);
    }
}

void TSegmentedMp3::TEncoder::Flush(std::vector<mp3::TLooseFrame> &frames)
{
    Ended = true;
    if (avcodec.avcodec_send_frame(Context.get(), nullptr) < 0)
        throw FFMpegException("Audio encoding failed");
    Drain(frames);
}

void TSegmentedMp3::TEncoder::Drain(std::vector<mp3::TLooseFrame> &frames)
{
    for (;;) {
        const int result = avcodec.avcodec_receive_packet(Context.get(), Packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return;
        if (result < 0)
            throw FFMpegException("Audio encoding failed");
        std::optional<mp3::TLooseFrame> loose = Unpacker.Add({Packet->data, static_cast<size_t>(Packet->size)});
        if (!loose)
            throw FFMpegException("Audio encoding failed");
        size_t size = 0;
        if (const uint8_t *skip = avcodec.av_packet_get_side_data(Packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size))
            loose->SideData.assign(skip, skip + size);
        frames.push_back(std::move(*loose));
        avcodec.av_packet_unref(Packet.get());
    }
}

bool TSegmentedMp3::Suits(const AVCodecContext &model)
{
    return model.codec && std::strcmp(model.codec->name, "libmp3lame") == 0 && model.frame_size > 0 &&
           model.ch_layout.order == AV_CHANNEL_ORDER_NATIVE;
}

TSegmentedMp3::TSegmentedMp3(const AVCodecContext &model, TOptions privateOptions, std::shared_ptr<TCoreBudget> budget,
                             int segmentFrames)
    : Model{model.codec,    model.sample_fmt,      model.sample_rate,    model.ch_layout,
            model.bit_rate, model.flags,           model.global_quality, model.compression_level,
            model.cutoff,   model.initial_padding, model.time_base},
      PrivateOptions(std::move(privateOptions)), Budget(std::move(budget)), FrameSamples(model.frame_size),
      SegmentSamples(static_cast<int64_t>(segmentFrames) * model.frame_size),
      OverlapSamples(static_cast<int64_t>(kOverlapFrames) * model.frame_size), NextJoin(SegmentSamples),
      Joiner(ReservoirLimit(model), kJoinReach, VariableRate(model))
{
    const AVSampleFormat format = model.sample_fmt;
    const bool planar = avutil.av_sample_fmt_is_planar(format) != 0;
    PlaneCount = planar ? model.ch_layout.nb_channels : 1;
    UnitBytes = avutil.av_get_bytes_per_sample(format) * (planar ? 1 : model.ch_layout.nb_channels);
    Buffer.resize(static_cast<size_t>(PlaneCount));
}

TSegmentedMp3::~TSegmentedMp3()
{
    {
        std::lock_guard lock(Lock);
        Closing = true;
    }
    Changed.notify_all();
    for (std::thread &worker : Workers)
        worker.join();
}

void TSegmentedMp3::Send(const AVFrame &frame, const TPacketSink &sink)
{
    if (FirstPts == AV_NOPTS_VALUE)
        FirstPts = frame.pts == AV_NOPTS_VALUE ? 0 : frame.pts;
    const size_t bytes = static_cast<size_t>(frame.nb_samples) * UnitBytes;
    for (int plane = 0; plane < PlaneCount; ++plane)
        Buffer[plane].insert(Buffer[plane].end(), frame.extended_data[plane], frame.extended_data[plane] + bytes);
    Received += frame.nb_samples;
    // A segment goes once the samples past its end that warm the next one are in.
    while (Received >= NextJoin + OverlapSamples) {
        Dispatch(NextJoin + OverlapSamples, false);
        JoinReady(sink, false);
    }
}

void TSegmentedMp3::Finish(const TPacketSink &sink)
{
    Dispatch(Received, true);
    JoinReady(sink, true);
    std::vector<mp3::TJoinedFrame> rest;
    if (!Joiner.Finish(rest))
        throw FFMpegException("Audio encoding failed");
    Emit(rest, sink);
}

void TSegmentedMp3::Dispatch(int64_t end, bool last)
{
    TSegment segment;
    segment.FirstSample = BufferStart;
    segment.JoinFrame = (NextJoin - SegmentSamples) / FrameSamples;
    // The buffer becomes the segment; what the next one needs (the overlap, and anything after
    // end) is copied into a fresh buffer.
    const int64_t nextStart = NextJoin - OverlapSamples;
    const size_t bytes = static_cast<size_t>(end - BufferStart) * UnitBytes;
    const size_t kept = last ? bytes : static_cast<size_t>(nextStart - BufferStart) * UnitBytes;
    for (auto &plane : Buffer) {
        std::vector<uint8_t> rest(plane.begin() + static_cast<std::ptrdiff_t>(kept), plane.end());
        plane.resize(bytes);
        segment.Planes.push_back(std::move(plane));
        plane = std::move(rest);
    }
    Placement[NextSegment] = {segment.FirstSample / FrameSamples, segment.JoinFrame};
    segment.Last = last;
    if (!last) {
        BufferStart = nextStart;
        NextJoin += SegmentSamples;
    }
    segment.Index = NextSegment++;
    std::unique_lock lock(Lock);
    Queue.push_back(std::move(segment));
    Changed.notify_all();
    // The task's own core encodes, and borrowed ones beside it; this thread reads, joins, and
    // keeps one segment ready so that a core that ends one starts the next at once.
    if (Workers.empty()) {
        try {
            Workers.emplace_back(&TSegmentedMp3::Work, this, false);
        } catch (const std::system_error &error) {
            throw FFMpegException(std::string("Audio encoding failed: ") + error.what());
        }
    } else if (Idle == 0 && Budget->TryBorrow()) {
        try {
            Workers.emplace_back(&TSegmentedMp3::Work, this, true);
        } catch (const std::system_error &) {
            Budget->GiveBack(); // no thread to spare: the workers there are go on
        }
    }
    Changed.wait(lock, [&] { return Queue.size() <= 1; });
}

void TSegmentedMp3::Work(bool borrowed)
{
    std::unique_lock lock(Lock);
    for (;;) {
        ++Idle;
        Changed.wait(lock, [&] { return Closing || !Queue.empty(); });
        --Idle;
        if (Closing)
            break;
        TSegment segment = std::move(Queue.front());
        Queue.pop_front();
        Changed.notify_all();
        lock.unlock();
        const int index = segment.Index;
        TEncoded encoded = Encode(std::move(segment));
        lock.lock();
        Done.emplace(index, std::move(encoded));
        Changed.notify_all();
        if (borrowed && !Budget->MayShare())
            break; // a task waits for the core
    }
    if (borrowed)
        Budget->GiveBack();
}

TSegmentedMp3::TEncoded TSegmentedMp3::Encode(TSegment segment) const
{
    TEncoded encoded;
    encoded.FirstSample = segment.FirstSample;
    encoded.EndSample = segment.FirstSample + static_cast<int64_t>(segment.Planes[0].size()) / UnitBytes;
    encoded.Last = segment.Last;
    try {
        // The encoder stays open but for the last segment: where no join frame carries the reservoir
        // over, it goes on into the next segment's samples.
        auto encoder = std::make_unique<TEncoder>(*this);
        encoder->Send(segment.Planes, 0, encoded.EndSample - encoded.FirstSample, encoded.Frames);
        if (segment.Last)
            encoder->Flush(encoded.Frames);
        else
            encoded.Encoder = std::move(encoder);
    } catch (const std::exception &error) {
        encoded.Error = error.what();
    }
    if (segment.Index > 0)
        encoded.Planes = std::move(segment.Planes);
    return encoded;
}

void TSegmentedMp3::JoinReady(const TPacketSink &sink, bool wait)
{
    for (;;) {
        TEncoded encoded;
        {
            std::unique_lock lock(Lock);
            if (wait)
                Changed.wait(lock, [&] { return Done.count(NextToJoin) > 0 || NextToJoin >= NextSegment; });
            const auto found = Done.find(NextToJoin);
            if (found == Done.end())
                return;
            encoded = std::move(found->second);
            Done.erase(found);
        }
        const auto [first, join] = Placement[NextToJoin];
        Placement.erase(NextToJoin++);
        if (!encoded.Error.empty())
            throw FFMpegException(encoded.Error);
        std::vector<mp3::TJoinedFrame> done;
        Join(first, join, encoded, done);
        Emit(done, sink);
    }
}

void TSegmentedMp3::Join(int64_t first, int64_t join, TEncoded &encoded, std::vector<mp3::TJoinedFrame> &done)
{
    for (;;) {
        const mp3::TSegmentJoiner::TResult result = Joiner.Add(first, join, encoded.Frames, done);
        if (result == mp3::TSegmentJoiner::TResult::Joined) {
            HeldEncoder = std::move(encoded.Encoder);
            HeldEnd = encoded.EndSample;
            return;
        }
        const int64_t from = HeldEnd - encoded.FirstSample, to = encoded.EndSample - encoded.FirstSample;
        if (result == mp3::TSegmentJoiner::TResult::Failed || !HeldEncoder || from < 0 || from > to)
            throw FFMpegException("Audio encoding failed");
        // No join frame carries the reservoir over at the frames' own rate: the segment before goes on
        // into this one's samples, one encoder across the join, until one does. Should it reach this
        // segment's end, it takes this segment's place.
        const int64_t until = std::min(to, from + static_cast<int64_t>(kGoOnFrames) * FrameSamples);
        std::vector<mp3::TLooseFrame> more;
        HeldEncoder->Send(encoded.Planes, from, until, more);
        HeldEnd += until - from;
        if (until == to && encoded.Last) {
            HeldEncoder->Flush(more);
            HeldEncoder.reset();
        }
        Joiner.Extend(std::move(more));
        if (until == to)
            return;
    }
}

void TSegmentedMp3::Emit(std::vector<mp3::TJoinedFrame> &frames, const TPacketSink &sink)
{
    for (mp3::TJoinedFrame &joined : frames) {
        AVPacketPtr packet(avcodec.av_packet_alloc());
        if (!packet || avcodec.av_new_packet(packet.get(), static_cast<int>(joined.Bytes.size())) < 0)
            throw FFMpegException("av_mallocz fail");
        std::memcpy(packet->data, joined.Bytes.data(), joined.Bytes.size());
        packet->pts = packet->dts = FirstPts + joined.Index * FrameSamples - Model.InitialPadding;
        packet->duration = FrameSamples;
        if (!joined.SideData.empty()) {
            uint8_t *side =
                avcodec.av_packet_new_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, joined.SideData.size());
            if (!side)
                throw FFMpegException("av_mallocz fail");
            std::memcpy(side, joined.SideData.data(), joined.SideData.size());
        }
        sink(packet.get());
    }
    frames.clear();
}
