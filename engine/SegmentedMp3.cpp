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

} // namespace

bool TSegmentedMp3::Suits(const AVCodecContext &model)
{
    return model.codec && std::strcmp(model.codec->name, "libmp3lame") == 0 && model.frame_size > 0 &&
           model.ch_layout.order == AV_CHANNEL_ORDER_NATIVE;
}

TSegmentedMp3::TSegmentedMp3(const AVCodecContext &model, TOptions privateOptions, std::shared_ptr<TCoreBudget> budget,
                             int segmentFrames)
    : Model{model.codec,
            model.sample_fmt,
            model.sample_rate,
            model.ch_layout,
            model.bit_rate,
            model.flags,
            model.global_quality,
            model.compression_level,
            model.cutoff,
            model.initial_padding,
            model.time_base},
      PrivateOptions(std::move(privateOptions)), Budget(std::move(budget)), FrameSamples(model.frame_size),
      SegmentSamples(static_cast<int64_t>(segmentFrames) * model.frame_size),
      OverlapSamples(static_cast<int64_t>(kOverlapFrames) * model.frame_size), NextJoin(SegmentSamples),
      Joiner(ReservoirLimit(model), kJoinReach)
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
        TEncoded encoded = Encode(segment);
        lock.lock();
        Done.emplace(segment.Index, std::move(encoded));
        Changed.notify_all();
        if (borrowed && !Budget->MayShare())
            break; // a task waits for the core
    }
    if (borrowed)
        Budget->GiveBack();
}

TSegmentedMp3::TEncoded TSegmentedMp3::Encode(const TSegment &segment) const
{
    TEncoded encoded;
    try {
        AVCodecContextPtr encoder(avcodec.avcodec_alloc_context3(Model.Codec));
        AVFramePtr frame(avutil.av_frame_alloc());
        AVPacketPtr packet(avcodec.av_packet_alloc());
        if (!encoder || !frame || !packet || avutil.av_channel_layout_copy(&encoder->ch_layout, &Model.Layout) < 0)
            throw FFMpegException("av_malloc failed");
        encoder->sample_fmt = Model.SampleFormat;
        encoder->sample_rate = Model.SampleRate;
        encoder->bit_rate = Model.BitRate;
        encoder->flags = Model.Flags;
        encoder->global_quality = Model.GlobalQuality;
        encoder->compression_level = Model.CompressionLevel;
        encoder->cutoff = Model.Cutoff;
        encoder->time_base = Model.TimeBase;
        AVDictionaryOwner options;
        for (const auto &[name, value] : PrivateOptions)
            options.Set(name.c_str(), value);
        {
            std::lock_guard<std::recursive_mutex> lock(LibraryLock());
            if (avcodec.avcodec_open2(encoder.get(), Model.Codec, options.Address()) < 0)
                throw FFMpegException("Audio encoding failed");
        }
        mp3::TFrameUnpacker unpacker;
        auto drain = [&] {
            for (;;) {
                const int result = avcodec.avcodec_receive_packet(encoder.get(), packet.get());
                if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
                    return;
                if (result < 0)
                    throw FFMpegException("Audio encoding failed");
                std::optional<mp3::TLooseFrame> loose =
                    unpacker.Add({packet->data, static_cast<size_t>(packet->size)});
                if (!loose)
                    throw FFMpegException("Audio encoding failed");
                size_t size = 0;
                if (const uint8_t *skip = avcodec.av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size))
                    loose->SideData.assign(skip, skip + size);
                encoded.Frames.push_back(std::move(*loose));
                avcodec.av_packet_unref(packet.get());
            }
        };
        const int64_t total = static_cast<int64_t>(segment.Planes[0].size()) / UnitBytes;
        for (int64_t at = 0; at < total; at += FrameSamples) {
            const int count = static_cast<int>(std::min<int64_t>(FrameSamples, total - at));
            avutil.av_frame_unref(frame.get());
            frame->nb_samples = count;
            frame->format = encoder->sample_fmt;
            frame->sample_rate = encoder->sample_rate;
            if (avutil.av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout) < 0 ||
                avutil.av_frame_get_buffer(frame.get(), 0) < 0)
                throw FFMpegException("av_malloc failed");
            for (int plane = 0; plane < PlaneCount; ++plane)
                std::memcpy(frame->extended_data[plane], segment.Planes[plane].data() + at * UnitBytes,
                            static_cast<size_t>(count) * UnitBytes);
            frame->pts = at;
            if (avcodec.avcodec_send_frame(encoder.get(), frame.get()) < 0)
                throw FFMpegException("Audio encoding failed");
            drain();
        }
        if (avcodec.avcodec_send_frame(encoder.get(), nullptr) < 0)
            throw FFMpegException("Audio encoding failed");
        drain();
    } catch (const std::exception &error) {
        encoded.Error = error.what();
    }
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
        std::vector<mp3::TJoinedFrame> done;
        if (!encoded.Error.empty() || !Joiner.Add(first, join, std::move(encoded.Frames), done))
            throw FFMpegException(encoded.Error.empty() ? "Audio encoding failed" : encoded.Error);
        Emit(done, sink);
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
            uint8_t *side = avcodec.av_packet_new_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, joined.SideData.size());
            if (!side)
                throw FFMpegException("av_mallocz fail");
            std::memcpy(side, joined.SideData.data(), joined.SideData.size());
        }
        sink(packet.get());
    }
    frames.clear();
}
