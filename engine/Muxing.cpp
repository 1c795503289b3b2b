// Where the run's results leave the engine: packets to the muxer, statistics lines, the progress report.
#include "engine/FFmpeg.h"

#include "libs/AVEntryPoints.h"
#include "libs/OpenError.h"
#include "libs/TextFormat.h"

#include <algorithm>
#include <cmath>

using namespace avlib;

namespace {

double Psnr(double error) { return -10.0 * std::log10(error); }

// Appends printf-style text, keeping the line within the report's 1024 bytes.
void Append(std::string &line, const std::string &text)
{
    if (line.size() < 1023)
        line += text.substr(0, 1023 - line.size());
}

} // namespace

void TCustomFFmpeg::WriteFrame(TOutputStreamRec &output, AVPacket *packet)
{
    FilterAndWrite(output, 0, packet, packet->stream_index);
}

void TCustomFFmpeg::ReportFilterRefusal(const TOutputStreamRec &output, const char *filter, int streamIndex, int result)
{
    if (!ExitOnError && !LogCallback)
        return;
    const AVCodec *codec = output.EncodingNeeded && output.Encoder ? output.Encoder->codec : nullptr;
    const std::string text = PrintOpenError(
        FormatText("%s failed for stream %d, codec %s", filter, streamIndex, codec ? codec->name : "copy"), result);
    if (ExitOnError)
        throw FFMpegException(text);
    Log(0, text);
}

void TCustomFFmpeg::FilterAndWrite(TOutputStreamRec &output, size_t first, AVPacket *packet, int streamIndex)
{
    if (first == output.BitstreamFilters.size()) {
        if (!packet)
            return;
        packet->stream_index = output.Index;
        const int64_t start = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (start != AV_NOPTS_VALUE)
            output.MuxPosition = std::max(output.MuxPosition, (start + std::max<int64_t>(packet->duration, 0)) *
                                                                  av_q2d(output.Stream->time_base));
        ++output.PacketsWritten;
        AVFormatContext *file = OutputFiles[output.FileIndex].get();
        const int result = avformat.av_interleaved_write_frame(file, packet);
        if (result < 0)
            throw FFMpegException(PrintWriteError(file->url ? file->url : "", result));
        return;
    }
    AVBSFContext *filter = output.BitstreamFilters[first].get();
    // A filter that refuses the packet passes it on unchanged.
    AVPacketPtr original;
    if (packet) {
        original.reset(avcodec.av_packet_alloc());
        if (!original || avcodec.av_packet_ref(original.get(), packet) < 0)
            throw FFMpegException("av_mallocz fail");
    }
    int result = avcodec.av_bsf_send_packet(filter, packet);
    bool produced = false;
    AVPacketPtr out(avcodec.av_packet_alloc());
    if (!out)
        throw FFMpegException("av_mallocz fail");
    while (result >= 0) {
        result = avcodec.av_bsf_receive_packet(filter, out.get());
        if (result < 0)
            break;
        produced = true;
        FilterAndWrite(output, first + 1, out.get(), streamIndex);
        avcodec.av_packet_unref(out.get());
    }
    if (result < 0 && result != AVERROR(EAGAIN) && result != AVERROR_EOF) {
        ReportFilterRefusal(output, filter->filter->name, streamIndex, result);
        if (!produced && original)
            FilterAndWrite(output, first + 1, original.get(), streamIndex);
    }
    if (!packet) // the end: what the later filters hold comes out too
        FilterAndWrite(output, first + 1, nullptr, streamIndex);
}

void TCustomFFmpeg::FlushBitstreamFilters(TOutputStreamRec &output)
{
    if (!output.BitstreamFilters.empty())
        FilterAndWrite(output, 0, nullptr, output.Index);
}

void TCustomFFmpeg::DoVideoStats(TOutputStreamRec &output, int frameSize)
{
    if (!VstatsFile) {
        VstatsFile = myutil.my_fopen(VstatsFileName->c_str(), "w");
        if (!VstatsFile)
            throw FFMpegException("fopen fail: " + *VstatsFileName);
    }
    const AVCodecContext *encoder = output.Encoder;
    if (encoder->codec_type != AVMEDIA_TYPE_VIDEO)
        return;
    myutil.my_fprintf(VstatsFile, "frame= %5d q= %2.1f ", output.FrameNumber, output.CodedQuality / FF_QP2LAMBDA);
    if (encoder->flags & AV_CODEC_FLAG_PSNR)
        myutil.my_fprintf(VstatsFile, "PSNR= %6.2f ",
                          Psnr(output.CodedErrors[0] / (encoder->width * encoder->height * 255.0 * 255.0)));
    myutil.my_fprintf(VstatsFile, "f_size= %6d ", frameSize);
    const double time = std::max(output.SyncOpts * av_q2d(encoder->time_base), 0.01);
    const double bitRate = frameSize * 8 / av_q2d(encoder->time_base) / 1000.0;
    const double averageBitRate = VideoSize * 8 / time / 1000.0;
    myutil.my_fprintf(VstatsFile, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                      VideoSize / 1024.0, time, bitRate, averageBitRate);
    myutil.my_fprintf(VstatsFile, "type= %c\n", output.CodedPictType);
}

void TCustomFFmpeg::PrintReport(bool isLast)
{
    AVIOContext *io = OutputFileCount > 0 ? OutputFiles[0]->pb : nullptr;
    int64_t totalSize = io ? avformat.avio_size(io) : 0;
    if (totalSize < 0 && io)
        totalSize = avformat.avio_seek(io, 0, SEEK_CUR);
    totalSize = std::max<int64_t>(totalSize, 0);

    std::string line;
    double ti1 = 1e10;
    int frameNumber = -1, fps = -1;
    float quality = -1.0f;
    bool firstVideo = true;
    for (const auto &output : Run->OutputStreams) {
        const AVCodecContext *encoder = output->Encoder;
        const bool video = output->Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        const float q = output->EncodingNeeded ? output->CodedQuality / FF_QP2LAMBDA : -1.0f;
        if (video && firstVideo) {
            firstVideo = false;
            const float elapsed = static_cast<float>(avutil.av_gettime() - TimerStart) / 1000000.0f;
            if (output->FrameNumber < 1)
                return;
            frameNumber = output->FrameNumber;
            fps = elapsed > 1 ? static_cast<int>(frameNumber / elapsed + 0.5f) : 0;
            quality = q;
            Append(line, FormatText("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, quality));
            if (isLast)
                Append(line, "L");
            if (QpHist) {
                const long qp = std::lrint(q);
                if (qp >= 0 && qp < static_cast<long>(QpHistogram.size()))
                    ++QpHistogram[qp];
                for (int j = 0; j < 32; ++j)
                    Append(line, FormatText("%X", static_cast<int>(std::lrint(std::log2(QpHistogram[j] + 1)))));
            }
            if (encoder && output->EncodingNeeded && (encoder->flags & AV_CODEC_FLAG_PSNR)) {
                Append(line, "PSNR=");
                double errorSum = 0, scaleSum = 0;
                for (int j = 0; j < 3; ++j) {
                    const double error =
                        isLast ? static_cast<double>(encoder->error[j]) : static_cast<double>(output->CodedErrors[j]);
                    double scale = encoder->width * static_cast<double>(encoder->height) * 255.0 * 255.0;
                    if (isLast)
                        scale *= frameNumber;
                    if (j > 0)
                        scale /= 4;
                    errorSum += error;
                    scaleSum += scale;
                    Append(line, FormatText("%c:%2.2f ", "YUV"[j], Psnr(error / scale)));
                }
                Append(line, FormatText("*:%2.2f ", Psnr(errorSum / scaleSum)));
            }
        } else if (video) {
            Append(line, FormatText("q=%2.1f ", q));
        }
        const double pts = output->MuxPosition;
        if (pts > 0 && pts < ti1)
            ti1 = pts;
    }
    // No stream has reached a time above 0 yet: the smallest time counts.
    if (ti1 < 0.01 || ti1 == 1e10)
        ti1 = 0.01;
    if (ProgressCallback || Verbose > 0 || isLast) {
        const double bitRate = totalSize * 8 / ti1 / 1000.0;
        Append(line, FormatText("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", totalSize / 1024.0, ti1, bitRate));
        if (Verbose > 1)
            Append(line, FormatText(" dup=%d drop=%d", FramesDup, FramesDrop));
        if (ProgressCallback)
            ProgressCallback(this, frameNumber, fps, static_cast<int>(std::min(ti1 * 1000, 2147483647.0)), quality,
                             static_cast<float>(bitRate), totalSize, TotalDuration);
        else if (Verbose >= 0 && LogCallback)
            Log(1, line);
    }
    if (isLast && Verbose >= 0 && LogCallback) {
        const double raw = static_cast<double>(VideoSize + AudioSize + ExtraSize);
        const double overhead = raw > 0 ? 100.0 * (totalSize - raw) / raw : 0.0;
        Log(1, FormatText("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                          VideoSize / 1024.0, AudioSize / 1024.0, ExtraSize / 1024.0, overhead));
    }
}
