// The run after its set-up: reading packets in time order, decoding or copying them, and the end of the run.
#include "engine/FFmpeg.h"

#include "engine/AudioShape.h"
#include "engine/ScopeExit.h"
#include "libs/AVEntryPoints.h"
#include "libs/LibraryLock.h"
#include "libs/OpenError.h"
#include "libs/TextFormat.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

using namespace avlib;

namespace {

constexpr AVRational kMicroseconds{1, 1000000};

int MediaIndex(AVMediaType type)
{
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        return mkVideo;
    case AVMEDIA_TYPE_AUDIO:
        return mkAudio;
    case AVMEDIA_TYPE_SUBTITLE:
        return mkSubtitle;
    default:
        return mkData;
    }
}

} // namespace

void TCustomFFmpeg::RunMainLoop()
{
    TRunTables &run = *Run;
    int64_t lastReportTime = TimerStart;
    AVPacketPtr packet(avcodec.av_packet_alloc());
    if (!packet)
        throw FFMpegException("av_mallocz fail");
    const double limit = static_cast<double>(RecordingTime) / 1000000.0, beforeLimit = std::nextafter(limit, 0.0);

    for (;;) {
        WaitWhilePaused();
        if (StopRequested)
            break;

        // The input that is furthest behind goes next.
        double smallestInput = 1e100, smallestOutput = 1e100;
        int chosen = -1;
        for (const auto &output : run.OutputStreams) {
            const TInputStreamRec &source = *run.InputStreams[output->SourceIndex];
            double position = output->EncodingNeeded && output->Encoder->codec_type == AVMEDIA_TYPE_VIDEO
                                  ? output->SyncOpts * av_q2d(output->Encoder->time_base)
                                  : output->MuxPosition;
            // An encoded audio stream under a recording time ends with its samples, not its packets:
            // its encoder holds some back, and a container's coarse times round.
            if (output->SampleLimit != INT64_MAX)
                position = output->SamplesQueued >= output->SampleLimit ? limit : std::min(position, beforeLimit);
            const double inputTime = static_cast<double>(source.Pts);
            if (!run.InputFiles[source.FileIndex].EofReached) {
                if (inputTime < smallestInput) {
                    smallestInput = inputTime;
                    if (InputSync)
                        chosen = source.FileIndex;
                }
                if (position < smallestOutput) {
                    smallestOutput = position;
                    if (!InputSync)
                        chosen = source.FileIndex;
                }
            }
            if (output->FrameNumber >= MaxFrames[MediaIndex(output->Encoder->codec_type)]) {
                chosen = -1;
                break;
            }
        }
        if (chosen < 0)
            break;
        if (smallestOutput >= limit)
            break;
        if (LimitFileSize != 0 && OutputFiles[0]->pb &&
            avformat.avio_seek(OutputFiles[0]->pb, 0, SEEK_CUR) > LimitFileSize) {
            run.SizeLimitReached = true;
            break;
        }

        TInputFileRec &file = run.InputFiles[chosen];
        AVFormatContext *inputFile = InputFiles[chosen].get();
        if (avformat.av_read_frame(inputFile, packet.get()) < 0) {
            file.EofReached = 1;
            if (Shortest)
                break;
            continue;
        }
        // The packet is ours until released, whatever happens below.
        ScopeExit release([&packet] { avcodec.av_packet_unref(packet.get()); });

        if (PktDump)
            avformat.av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet.get(), HexDump,
                                      packet->stream_index < static_cast<int>(inputFile->nb_streams)
                                          ? inputFile->streams[packet->stream_index]
                                          : inputFile->streams[0]);
        if (packet->stream_index < file.StreamCount &&
            !run.InputStreams[file.FirstStreamIndex + packet->stream_index]->Discard &&
            !HandlePacket(chosen, packet.get()))
            continue; // a decode error: no report this time
        const int64_t now = avutil.av_gettime();
        if (now - lastReportTime > ProgressInterval) {
            lastReportTime = now;
            PrintReport(false);
        }
    }
}

bool TCustomFFmpeg::HandlePacket(int fileIndex, AVPacket *packet)
{
    const int inputIndex = Run->InputFiles[fileIndex].FirstStreamIndex + packet->stream_index;
    TInputStreamRec &input = *Run->InputStreams[inputIndex];
    ++input.PacketsRead;
    const AVRational timeBase = input.Stream->time_base;
    const int64_t offset = avutil.av_rescale_q(InputTsOffsets[fileIndex], kMicroseconds, timeBase);
    if (packet->dts != AV_NOPTS_VALUE)
        packet->dts += offset;
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts += offset;
    const double scale = InputTsScales[fileIndex][std::min(packet->stream_index, MAX_STREAMS - 1)];
    if (scale != 0.0) {
        if (packet->pts != AV_NOPTS_VALUE)
            packet->pts = std::llround(packet->pts * scale);
        if (packet->dts != AV_NOPTS_VALUE)
            packet->dts = std::llround(packet->dts * scale);
    }
    if (packet->dts != AV_NOPTS_VALUE && input.NextPts != AV_NOPTS_VALUE) {
        const int64_t dts = avutil.av_rescale_q(packet->dts, timeBase, kMicroseconds);
        const int64_t delta = dts - input.NextPts;
        const bool jump = std::fabs(static_cast<double>(delta)) > DtsDeltaThreshold * 1000000.0 || dts + 1 < input.Pts;
        if (jump && !CopyTs) {
            InputTsOffsets[fileIndex] -= delta;
            if (Verbose > 2 && LogCallback)
                Log(1, FormatText("timestamp discontinuity %lld, new offset= %lld", static_cast<long long>(delta),
                                  static_cast<long long>(InputTsOffsets[fileIndex])));
            const int64_t shift = avutil.av_rescale_q(delta, kMicroseconds, timeBase);
            packet->dts -= shift;
            if (packet->pts != AV_NOPTS_VALUE)
                packet->pts -= shift;
        }
    }
    if (OutputPacket(input, inputIndex, packet) < 0) {
        const std::string message =
            FormatText("Error while decoding stream #%d.%d", input.FileIndex, input.StreamIndex);
        if (ExitOnError)
            throw FFMpegException(message);
        if (Verbose >= 0 && LogCallback)
            Log(1, message);
        return false;
    }
    return true;
}

void TCustomFFmpeg::EndRun()
{
    TRunTables &run = *Run;
    for (size_t i = 0; i < run.InputStreams.size(); ++i)
        if (run.InputStreams[i]->DecodingNeeded)
            OutputPacket(*run.InputStreams[i], static_cast<int>(i), nullptr);
    for (auto &output : run.OutputStreams)
        FlushBitstreamFilters(*output);
    // The trailer flushes what the output still buffers: a full disk often shows only here.
    for (int f = 0; f < OutputFileCount; ++f) {
        AVFormatContext *file = OutputFiles[f].get();
        const int result = avformat.av_write_trailer(file);
        if (result < 0)
            throw FFMpegException(PrintWriteError(file->url ? file->url : "", result));
    }
    PrintReport(true);
    for (int f = 0; f < OutputFileCount; ++f) {
        AVFormatContext *file = OutputFiles[f].get();
        if (!(file->oformat->flags & AVFMT_NOFILE)) {
            const int result = avformat.avio_closep(&file->pb);
            if (result < 0)
                throw FFMpegException(PrintWriteError(file->url ? file->url : "", result));
        }
    }
    for (auto &output : run.OutputStreams) {
        if (!output->EncodingNeeded)
            continue;
        std::lock_guard<std::recursive_mutex> lock(LibraryLock());
        OpenEncoders.Close(output->Encoder); // frees the statistics input too
        output->Encoder = nullptr;
    }
    for (auto &input : run.InputStreams) {
        if (!input->DecodingNeeded)
            continue;
        std::lock_guard<std::recursive_mutex> lock(LibraryLock());
        OpenDecoders.Close(input->Decoder);
        input->Decoder = nullptr;
    }
    if (!StopRequested)
        CheckEveryOutputGotData();
    Finished = StopRequested ? 0 : 1;
}

int TCustomFFmpeg::OutputPacket(TInputStreamRec &input, int inputIndex, const AVPacket *packet)
{
    if (input.NextPts == AV_NOPTS_VALUE)
        input.NextPts = input.Pts;
    const AVRational timeBase = input.Stream->time_base;
    if (packet && packet->dts != AV_NOPTS_VALUE)
        input.Pts = input.NextPts = avutil.av_rescale_q(packet->dts, timeBase, kMicroseconds);

    if (!input.DecodingNeeded) {
        PassUndecodedPacket(input, inputIndex, packet);
        return 0;
    }
    AVCodecContext *decoder = input.Decoder;
    if (decoder->codec_type == AVMEDIA_TYPE_SUBTITLE)
        return DecodeSubtitlePacket(input, inputIndex, packet);
    if (decoder->codec_type != AVMEDIA_TYPE_AUDIO && decoder->codec_type != AVMEDIA_TYPE_VIDEO)
        return -1;
    if (DecodePacketFrames(input, inputIndex, packet) < 0)
        return -1;

    // At the end of input, what the filter chain and the encoders fed by this stream still hold.
    if (!packet && decoder->codec_type == AVMEDIA_TYPE_VIDEO && input.FilterGraph)
        FeedVideo(input, inputIndex, nullptr, nullptr);
    if (!packet)
        for (auto &output : Run->OutputStreams)
            if (output->SourceIndex == inputIndex && output->EncodingNeeded)
                FlushEncoder(*output);
    return 0;
}

void TCustomFFmpeg::PassUndecodedPacket(TInputStreamRec &input, int inputIndex, const AVPacket *packet)
{
    if (!packet)
        return;
    const AVRational timeBase = input.Stream->time_base;
    input.Pts = input.NextPts;
    const AVCodecParameters *parameters = input.Stream->codecpar;
    if (packet->duration > 0) {
        input.NextPts += avutil.av_rescale_q(packet->duration, timeBase, kMicroseconds);
    } else if (parameters->codec_type == AVMEDIA_TYPE_AUDIO && parameters->sample_rate > 0) {
        input.NextPts += static_cast<int64_t>(parameters->frame_size) * 1000000 / parameters->sample_rate;
    } else if (parameters->codec_type == AVMEDIA_TYPE_VIDEO && input.Stream->avg_frame_rate.num > 0) {
        input.NextPts +=
            static_cast<int64_t>(input.Stream->avg_frame_rate.den) * 1000000 / input.Stream->avg_frame_rate.num;
    }
    FeedOutputs(input, inputIndex, packet, packet->data, packet->size, nullptr);
}

int TCustomFFmpeg::DecodeSubtitlePacket(TInputStreamRec &input, int inputIndex, const AVPacket *packet)
{
    if (!packet) {
        FlushSubtitles(inputIndex);
        return 0;
    }
    AVSubtitle subtitle{};
    int got = 0;
    if (avcodec.avcodec_decode_subtitle2(input.Decoder, &subtitle, &got, const_cast<AVPacket *>(packet)) < 0)
        return -1;
    if (got) {
        ScopeExit release([&subtitle] { avcodec.avsubtitle_free(&subtitle); });
        input.Pts = input.NextPts;
        input.DecodedSubtitle = &subtitle;
        ScopeExit forget([&input] { input.DecodedSubtitle = nullptr; });
        FeedOutputs(input, inputIndex, packet, nullptr, 0, nullptr);
    }
    return 0;
}

int TCustomFFmpeg::DecodePacketFrames(TInputStreamRec &input, int inputIndex, const AVPacket *packet)
{
    AVCodecContext *decoder = input.Decoder;
    // While draining, a decoder error still leaves the encoders to flush.
    const int sent = avcodec.avcodec_send_packet(decoder, packet);
    if (sent < 0 && sent != AVERROR_EOF && packet)
        return -1;
    AVFrame *frame = input.DecodedFrame.get();
    int frames = 0;
    for (;;) {
        const int received = avcodec.avcodec_receive_frame(decoder, frame);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            break;
        if (received < 0) {
            if (packet)
                return -1;
            break;
        }
        ScopeExit release([frame] { avutil.av_frame_unref(frame); });
        if (++frames >= 2 && packet && Verbose > 0 && LogCallback)
            Log(0, FormatText("Multiple frames in a packet from stream %d", packet->stream_index));
        input.Pts = input.NextPts;
        ++input.FramesDecoded;
        if (decoder->codec_type == AVMEDIA_TYPE_AUDIO) {
            if (PassDecodedAudio(input, inputIndex, packet, frame) < 0)
                return -1;
        } else {
            PassDecodedPicture(input, inputIndex, packet, frame);
        }
    }
    return 0;
}

int TCustomFFmpeg::PassDecodedAudio(TInputStreamRec &input, int inputIndex, const AVPacket *packet, AVFrame *frame)
{
    const int channels = frame->ch_layout.nb_channels;
    // A damaged header can give frames without a rate or channels: nothing to time or convert.
    if (frame->sample_rate <= 0 || channels <= 0)
        return packet ? -1 : 0;
    if (!PrepareCarriedAudio(input, frame))
        return -1;
    const auto carried = static_cast<AVSampleFormat>(input.CarriedFormat);
    int samples = frame->nb_samples;
    const int sampleBytes = avutil.av_get_bytes_per_sample(carried) * channels;
    const size_t bytes = static_cast<size_t>(samples) * sampleBytes;
    // Grown to the largest frame seen: a fixed large start would be cleared again for
    // every short file of a batch.
    if (DecodedAudio.size() < bytes)
        DecodedAudio.resize(bytes);
    if (input.ToCarried) {
        uint8_t *out = DecodedAudio.data();
        samples = swresample.swr_convert(input.ToCarried.get(), &out, frame->nb_samples,
                                         const_cast<const uint8_t **>(frame->extended_data), frame->nb_samples);
        if (samples < 0)
            return -1;
    } else {
        std::copy_n(frame->data[0], bytes, DecodedAudio.data());
    }
    const int size = samples * sampleBytes;
    if (size <= 0)
        return 0;
    input.DecodedChannels = channels;
    input.DecodedRate = frame->sample_rate;
    input.DecodedLayoutMask = frame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? frame->ch_layout.u.mask : 0;
    input.NextPts += static_cast<int64_t>(samples) * 1000000 / frame->sample_rate;
    // Samples before the start time go to the sample: a block the start falls in loses its head.
    uint8_t *kept = DecodedAudio.data();
    if (const int64_t start = AudioStartPoint(input); input.Pts < start) {
        const int64_t early = avutil.av_rescale_q(start - input.Pts, kMicroseconds, AVRational{1, frame->sample_rate});
        if (early >= samples) {
            ++input.BeforeStartTime;
            return 0;
        }
        kept += early * sampleBytes;
        samples -= static_cast<int>(early);
        input.Pts = start;
    }
    if (AudioVolume != 256)
        audio_shape::ScaleVolume(kept, samples * channels, carried, AudioVolume);
    FeedOutputs(input, inputIndex, packet, kept, samples * sampleBytes, nullptr);
    return 0;
}

int64_t TCustomFFmpeg::AudioStartPoint(const TInputStreamRec &input) const
{
    const int64_t seeked = Run->InputFiles[input.FileIndex].StartPoint;
    return StartTime > 0 ? std::max(StartTime, seeked) : seeked;
}

bool TCustomFFmpeg::PrepareCarriedAudio(TInputStreamRec &input, AVFrame *frame)
{
    const int channels = frame->ch_layout.nb_channels;
    // Decoded audio goes on interleaved in the format of the stream's first frame, so that
    // its depth reaches the encoder; a change of format or shape gets a converter of its own.
    if (input.CarriedFormat < 0)
        input.CarriedFormat = audio_shape::CarriedFormat(static_cast<AVSampleFormat>(frame->format));
    const auto carried = static_cast<AVSampleFormat>(input.CarriedFormat);
    if (frame->format != input.ConvertedFormat || channels != input.ConvertedChannels ||
        frame->sample_rate != input.ConvertedRate) {
        input.ToCarried.reset();
        input.ConvertedFormat = frame->format;
        input.ConvertedChannels = channels;
        input.ConvertedRate = frame->sample_rate;
    }
    if (frame->format != carried && !input.ToCarried) {
        SwrContext *raw = nullptr;
        if (swresample.swr_alloc_set_opts2(&raw, &frame->ch_layout, carried, frame->sample_rate, &frame->ch_layout,
                                           static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                                           nullptr) < 0 ||
            swresample.swr_init(raw) < 0) {
            swresample.swr_free(&raw);
            return false;
        }
        input.ToCarried.reset(raw);
    }
    return true;
}

void TCustomFFmpeg::PassDecodedPicture(TInputStreamRec &input, int inputIndex, const AVPacket *packet, AVFrame *frame)
{
    const AVRational timeBase = input.Stream->time_base;
    const AVCodecContext *decoder = input.Decoder;
    // The picture's own time: behind a decoder's delay the packet times run ahead of it.
    if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
        input.Pts = input.NextPts = avutil.av_rescale_q(frame->best_effort_timestamp, timeBase, kMicroseconds);
    const AVRational rate = decoder->framerate.num > 0 ? decoder->framerate : input.Stream->avg_frame_rate;
    if (frame->pkt_duration > 0)
        input.NextPts += avutil.av_rescale_q(frame->pkt_duration, timeBase, kMicroseconds);
    else if (rate.num > 0)
        input.NextPts += static_cast<int64_t>(rate.den) * 1000000 / rate.num;
    input.Quality = static_cast<float>(frame->quality);
    FeedVideo(input, inputIndex, packet, PreProcessVideoFrame(input, frame));
}

void TCustomFFmpeg::FeedOutputs(TInputStreamRec &input, int inputIndex, const AVPacket *packet, const uint8_t *data,
                                int size, AVFrame *picture)
{
    // Real-time pacing of inputs read with "re": the data's own time against the wall clock.
    if (InputRateEmu[input.FileIndex]) {
        if (input.Frame == 0)
            input.PaceOrigin = input.Pts;
        const int64_t target = input.Pts - input.PaceOrigin;
        // In short steps: a jump in the timestamps must not keep a stop request waiting.
        for (int64_t ahead = target - (avutil.av_gettime() - input.ReadStart); ahead > 50000 && !StopRequested;
             ahead = target - (avutil.av_gettime() - input.ReadStart))
            avutil.av_usleep(static_cast<unsigned>(std::min<int64_t>(ahead, 100000)));
        ++input.Frame;
    }
    if (StartTime != 0 && input.Pts < StartTime) {
        ++input.BeforeStartTime;
        return;
    }
    for (auto &output : Run->OutputStreams) {
        if (output->SourceIndex != inputIndex)
            continue;
        if (output->EncodingNeeded) {
            switch (output->Encoder->codec_type) {
            case AVMEDIA_TYPE_AUDIO:
                DoAudioOut(*output, input, data, size);
                break;
            case AVMEDIA_TYPE_VIDEO: {
                const int frameSize = DoVideoOut(*output, input, picture);
                if (VstatsFileName && frameSize > 0)
                    DoVideoStats(*output, frameSize);
                break;
            }
            case AVMEDIA_TYPE_SUBTITLE:
                if (input.DecodedSubtitle)
                    DoSubtitleOut(*output, input, input.DecodedSubtitle, packet ? packet->pts : AV_NOPTS_VALUE);
                break;
            default:
                throw FFMpegException("invalid codec_type");
            }
        } else if (packet) {
            CopyPacket(input, *output, packet);
        }
    }
}

void TCustomFFmpeg::CopyPacket(TInputStreamRec &input, TOutputStreamRec &output, const AVPacket *packet)
{
    // A copy starts at a key frame.
    if (output.FrameNumber == 0 && !(packet->flags & AV_PKT_FLAG_KEY))
        return;
    if (output.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
        AudioSize += packet->size;
    } else if (output.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        VideoSize += packet->size;
        ++output.SyncOpts;
    }
    AVPacketPtr copy(avcodec.av_packet_alloc());
    if (!copy || avcodec.av_packet_ref(copy.get(), packet) < 0)
        throw FFMpegException("av_mallocz fail");
    const AVRational from = input.Stream->time_base;
    const AVRational to = output.Stream->time_base;
    copy->stream_index = output.Index;
    copy->pts = packet->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : avutil.av_rescale_q(packet->pts, from, to);
    copy->dts = packet->dts == AV_NOPTS_VALUE ? avutil.av_rescale_q(input.Pts, kMicroseconds, to)
                                              : avutil.av_rescale_q(packet->dts, from, to);
    copy->duration = avutil.av_rescale_q(packet->duration, from, to);
    copy->pos = -1;
    output.CodedQuality = -1.0f;
    WriteFrame(output, copy.get());
    ++output.FrameNumber;
}

int TCustomFFmpeg::DrainEncoder(TOutputStreamRec &output)
{
    AVPacketPtr packet(avcodec.av_packet_alloc());
    if (!packet)
        throw FFMpegException("av_mallocz fail");
    int lastSize = 0;
    for (;;) {
        const int result = avcodec.avcodec_receive_packet(output.Encoder, packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return lastSize;
        if (result < 0)
            throw FFMpegException(output.Encoder->codec_type == AVMEDIA_TYPE_VIDEO ? "Video encoding failed"
                                                                                   : "Audio encoding failed");
        lastSize = packet->size;
        WriteEncodedPacket(output, packet.get());
        avcodec.av_packet_unref(packet.get());
    }
}

void TCustomFFmpeg::WriteEncodedPacket(TOutputStreamRec &output, AVPacket *packet)
{
    // What the encoder says of the picture it coded.
    size_t size = 0;
    if (const uint8_t *stats = avcodec.av_packet_get_side_data(packet, AV_PKT_DATA_QUALITY_STATS, &size);
        stats && size >= 6) {
        output.CodedQuality =
            static_cast<float>(stats[0] | stats[1] << 8 | stats[2] << 16 | static_cast<uint32_t>(stats[3]) << 24);
        output.CodedPictType = avutil.av_get_picture_type_char(static_cast<AVPictureType>(stats[4]));
        const int errors = std::min<int>(stats[5], 4);
        for (int i = 0; i < errors && size >= 8 + 8 * static_cast<size_t>(i + 1); ++i) {
            uint64_t error = 0;
            for (int b = 7; b >= 0; --b)
                error = error << 8 | stats[8 + 8 * i + b];
            output.CodedErrors[i] = error;
        }
    }
    if (output.Encoder->codec_type == AVMEDIA_TYPE_VIDEO)
        VideoSize += packet->size;
    else if (output.Encoder->codec_type == AVMEDIA_TYPE_AUDIO) {
        AudioSize += packet->size;
        ++output.FrameNumber; // what "aframes" counts
        CarryEndPadding(output, packet);
        SteerBitRate(output, *packet);
    }
    // Encoders leave a picture's duration out; without it a container whose track ends where
    // its last picture starts (MP4) would not show that picture.
    const AVRational rate = output.Encoder->framerate;
    if (output.Encoder->codec_type == AVMEDIA_TYPE_VIDEO && packet->duration <= 0 && rate.num > 0 && rate.den > 0)
        packet->duration = avutil.av_rescale_q(1, AVRational{rate.den, rate.num}, output.Encoder->time_base);
    if (output.LogFile && output.Encoder->stats_out)
        myutil.my_fprintf(output.LogFile, "%s", output.Encoder->stats_out);
    avcodec.av_packet_rescale_ts(packet, output.Encoder->time_base, output.Stream->time_base);
    packet->stream_index = output.Index;
    WriteFrame(output, packet);
}

// The MP3 muxer writes the stream's end padding from its last packet alone, but the encoder may
// spread it over the last two (a short frame, then one of silence): each packet is made to carry
// what the packets so far discard at the end, so that the last one tells the whole.
void TCustomFFmpeg::CarryEndPadding(TOutputStreamRec &output, AVPacket *packet) const
{
    size_t size = 0;
    uint8_t *skip = avcodec.av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (!skip || size < 10 || std::strcmp(OutputFiles[output.FileIndex]->oformat->name, "mp3") != 0)
        return;
    output.EndDiscard += AV_RL32(skip + 4);
    AV_WL32(skip + 4, static_cast<uint32_t>(std::min<int64_t>(output.EndDiscard, UINT32_MAX)));
}

// The native AAC encoder's rate control follows its own bit reservoir and misses the asked average
// by several percent either way on music. It reads the rate anew for every frame, so what the
// stream spent beyond the average so far is taken off the next second's rate, within bounds that
// keep the encoder's own control in its range.
void TCustomFFmpeg::SteerBitRate(TOutputStreamRec &output, const AVPacket &packet) const
{
    if (output.SteeredBitRate <= 0 || output.Encoder->sample_rate <= 0)
        return;
    constexpr double kSettleSeconds = 1.0;
    output.BitsWritten += int64_t{packet.size} * 8;
    output.SamplesWritten += std::max<int64_t>(packet.duration, 0);
    const auto asked = static_cast<double>(output.SteeredBitRate);
    const double seconds = static_cast<double>(output.SamplesWritten) / output.Encoder->sample_rate;
    const double excess = static_cast<double>(output.BitsWritten) - asked * seconds;
    output.Encoder->bit_rate = std::llround(std::clamp(asked - excess / kSettleSeconds, asked / 2, asked * 3 / 2));
}

void TCustomFFmpeg::FlushEncoder(TOutputStreamRec &output)
{
    const AVCodecContext *encoder = output.Encoder;
    if (encoder->codec_type == AVMEDIA_TYPE_SUBTITLE)
        return;
    if (encoder->codec_type == AVMEDIA_TYPE_AUDIO)
        FlushAudioFifo(output);
    if (output.Segmented) {
        output.Segmented->Finish([&](AVPacket *packet) { WriteEncodedPacket(output, packet); });
        Log(1,
            FormatText("audio stream #%d.%d encoded in %d segments, %d of their joins at a raised bit rate",
                       output.FileIndex, output.Index, output.Segmented->Segments(), output.Segmented->RaisedJoins()));
        return;
    }
    avcodec.avcodec_send_frame(output.Encoder, nullptr);
    DrainEncoder(output);
}

void TCustomFFmpeg::CheckEveryOutputGotData() const
{
    for (const auto &output : Run->OutputStreams) {
        const AVMediaType type = output->Stream->codecpar->codec_type;
        if (output->PacketsWritten > 0 || (type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_VIDEO))
            continue; // a subtitle track may well have nothing to say in the time converted
        if (MaxFrames[type == AVMEDIA_TYPE_AUDIO ? mkAudio : mkVideo] <= 0)
            continue; // none was asked for
        const TInputStreamRec &source = *Run->InputStreams[output->SourceIndex];
        const char *what = type == AVMEDIA_TYPE_AUDIO ? "audio" : "video";
        const AVFormatContext *file = InputFiles[source.FileIndex].get();
        const char *name = file && file->url ? file->url : "";
        if (Run->SizeLimitReached)
            throw FFMpegException(FormatText("no %s of '%s' fits in the size limit of %lld bytes", what, name,
                                             static_cast<long long>(LimitFileSize)));
        if (source.DecodingNeeded && source.PacketsRead > 0 && source.FramesDecoded == 0)
            throw FFMpegException(FormatText("no %s could be decoded from '%s'", what, name));
        // The start seek of the input, or the start gate of the outputs, left nothing.
        const int64_t start = source.PacketsRead == 0 || StartTime <= 0 ? InputStartTimes[source.FileIndex] : StartTime;
        if (start > 0 && (source.PacketsRead == 0 || source.BeforeStartTime > 0))
            throw FFMpegException(FormatText("no %s in '%s' after the start time (%.3f s)", what, name,
                                             static_cast<double>(start) / 1000000.0));
        if (source.PacketsRead == 0)
            throw FFMpegException(FormatText("no %s could be read from '%s'", what, name));
        throw FFMpegException(FormatText("no %s could be converted from '%s'", what, name));
    }
}
