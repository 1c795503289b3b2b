// Decoded subtitles to the subtitle encoders.
#include "engine/FFmpeg.h"

#include "engine/ScopeExit.h"
#include "libs/AVEntryPoints.h"

using namespace avlib;

namespace {
constexpr int kSubtitleBufferSize = 65536;
constexpr AVRational kMilliseconds{1, 1000};
} // namespace

void TCustomFFmpeg::DoSubtitleOut(TOutputStreamRec &output, TInputStreamRec &input, AVSubtitle *subtitle, int64_t pts)
{
    if (pts == AV_NOPTS_VALUE) {
        if (ExitOnError)
            throw FFMpegException("Subtitle packets must have a pts");
        Log(0, "Subtitle packets must have a pts");
        return;
    }
    if (SubtitleBuffer.empty())
        SubtitleBuffer.resize(kSubtitleBufferSize);
    AVCodecContext *encoder = output.Encoder;
    const AVRational from = input.Stream->time_base, to = output.Stream->time_base;
    // DVB subtitles are shown by one packet and cleared by a second, empty one.
    const bool dvb = encoder->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    const unsigned rects = subtitle->num_rects;
    ScopeExit restore([subtitle, rects] { subtitle->num_rects = rects; });
    for (int i = 0; i < (dvb ? 2 : 1); ++i) {
        if (i == 1)
            subtitle->num_rects = 0;
        const int size = avcodec.avcodec_encode_subtitle(encoder, SubtitleBuffer.data(), kSubtitleBufferSize, subtitle);
        if (size < 0)
            throw FFMpegException("Subtitle encoding failed");
        AVPacketPtr packet(avcodec.av_packet_alloc());
        if (!packet || avcodec.av_new_packet(packet.get(), size) < 0)
            throw FFMpegException("av_mallocz fail");
        std::copy_n(SubtitleBuffer.data(), size, packet->data);
        packet->stream_index = output.Index;
        packet->pts = avutil.av_rescale_q(pts, from, to);
        const uint32_t shown = subtitle->start_display_time, hidden = subtitle->end_display_time;
        if (dvb) {
            packet->pts += avutil.av_rescale_q(i == 0 ? shown : hidden, kMilliseconds, to);
        } else if (hidden > shown) {
            packet->duration = avutil.av_rescale_q(hidden - shown, kMilliseconds, to);
        }
        packet->dts = packet->pts;
        if (i == 1) {
            // Written when the next subtitle comes, unless that one is shown first and replaces it.
            output.PendingClear = std::move(packet);
            break;
        }
        if (output.PendingClear && output.PendingClear->pts <= packet->pts)
            WriteFrame(output, output.PendingClear.get());
        output.PendingClear.reset();
        WriteFrame(output, packet.get());
    }
}

void TCustomFFmpeg::FlushSubtitles(int inputIndex)
{
    for (auto &output : Run->OutputStreams)
        if (output->SourceIndex == inputIndex && output->PendingClear) {
            WriteFrame(*output, output->PendingClear.get());
            output->PendingClear.reset();
        }
}
