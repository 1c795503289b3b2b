// The run's set-up: tables, sources of the output streams, copy or encode, codecs opened, headers.
#include "engine/FFmpeg.h"

#include "engine/Mp3BitRate.h"
#include "engine/OptionValues.h"
#include "engine/ScopeExit.h"
#include "libs/AVEntryPoints.h"
#include "libs/LibraryLock.h"
#include "libs/TextFormat.h"

#include <algorithm>
#include <cstring>
#include <dlfcn.h>

using namespace avlib;

namespace {

// "LAME" and the version of the encoding library that libavcodec uses, as LAME's own files name
// themselves in their header; "LAME" alone when the library does not tell.
std::string LameEncoderName()
{
    std::string name = "LAME";
    if (void *library = dlopen("libmp3lame.so.0", RTLD_NOW | RTLD_NOLOAD)) {
        using Version = const char *(*)();
        if (const auto version = reinterpret_cast<Version>(dlsym(library, "get_lame_short_version")))
            if (const char *text = version())
                name += text;
        dlclose(library);
    }
    return name.substr(0, 9); // the field's size
}

std::string Language(const AVStream *stream)
{
    const AVDictionaryEntry *entry = avutil.av_dict_get(stream->metadata, "language", nullptr, 0);
    return entry && entry->value ? entry->value : "";
}

// The output's working picture, in the encoder's size and format; message is the failure's.
void AllocateEncoderPicture(TOutputStreamRec &output, const char *message)
{
    const AVCodecContext *encoder = output.Encoder;
    output.PictTmp.reset(avutil.av_frame_alloc());
    if (!output.PictTmp)
        throw FFMpegException(message);
    output.PictTmp->format = encoder->pix_fmt;
    output.PictTmp->width = encoder->width;
    output.PictTmp->height = encoder->height;
    if (avutil.av_frame_get_buffer(output.PictTmp.get(), 0) < 0)
        throw FFMpegException(message);
}

} // namespace

void TCustomFFmpeg::Transcode()
{
    Run = std::make_unique<TRunTables>();
    // The tables go on every exit; codecs a failure leaves open are closed by Execute.
    ScopeExit release([this] { ReleaseRunTables(); });
    SetUpRun();
    RunMainLoop();
    EndRun();
}

int TCustomFFmpeg::FindProgramStream(AVMediaType type) const
{
    for (int f = 0; f < InputFileCount; ++f) {
        const AVFormatContext *input = InputFiles[f].get();
        for (unsigned p = 0; p < input->nb_programs; ++p) {
            const AVProgram *program = input->programs[p];
            if (program->id != ProgramId)
                continue;
            for (unsigned s = 0; s < program->nb_stream_indexes; ++s) {
                const int index = Run->InputFiles[f].FirstStreamIndex + static_cast<int>(program->stream_index[s]);
                const TInputStreamRec &stream = *Run->InputStreams[index];
                if (stream.Discard && stream.Stream->codecpar->codec_type == type &&
                    !(stream.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
                    return index;
            }
        }
    }
    return -1;
}

void TCustomFFmpeg::SetUpRun()
{
    ListInputStreams();
    CheckOutputStreamCounts();
    MatchStreamsToInputs();
    for (size_t n = 0; n < Run->OutputStreams.size(); ++n)
        SetUpOutputStream(n);
    ListOutputStreams();
    OpenOutputEncoders();
    OpenInputDecoders();
    ResetInputTimes();
    CopyMappedMetadata();
    InitBitstreamFilters();
    WriteHeaders();
    TimerStart = avutil.av_gettime();
}

void TCustomFFmpeg::ListInputStreams()
{
    TRunTables &run = *Run;
    int streamTotal = 0;
    for (int f = 0; f < InputFileCount; ++f) {
        TInputFileRec file;
        file.FirstStreamIndex = streamTotal;
        file.StreamCount = static_cast<int32_t>(InputFiles[f]->nb_streams);
        // The seek lands at or before the start time; its packets are shifted by the offset.
        if (InputStartTimes[f] > 0) {
            const int64_t fileStart = InputFiles[f]->start_time;
            file.StartPoint = InputStartTimes[f] + (fileStart != AV_NOPTS_VALUE ? fileStart : 0) + InputTsOffsets[f];
        }
        streamTotal += file.StreamCount;
        run.InputFiles.push_back(file);
        for (int s = 0; s < file.StreamCount; ++s) {
            auto input = std::make_unique<TInputStreamRec>();
            input->FileIndex = f;
            input->StreamIndex = s;
            input->Stream = InputFiles[f]->streams[s];
            input->Decoder = s < static_cast<int>(InputCodecs[f].size()) ? InputCodecs[f][s].get() : nullptr;
            if (InputRateEmu[f]) {
                input->ReadStart = avutil.av_gettime();
                input->Frame = 0;
            }
            run.InputStreams.push_back(std::move(input));
        }
    }
}

void TCustomFFmpeg::CheckOutputStreamCounts() const
{
    const TRunTables &run = *Run;
    int outputTotal = 0;
    for (int f = 0; f < OutputFileCount; ++f) {
        if (OutputFiles[f]->nb_streams == 0)
            throw FFMpegException("Output file does not contain any stream");
        outputTotal += static_cast<int>(OutputFiles[f]->nb_streams);
    }
    if (StreamMapCount > 0) {
        if (StreamMapCount != outputTotal)
            throw FFMpegException("Number of stream maps must match number of output streams");
        for (int m = 0; m < StreamMapCount; ++m) {
            const TStreamMap &map = StreamMaps[m];
            if (map.FileIndex < 0 || map.FileIndex >= InputFileCount || map.StreamIndex < 0 ||
                map.StreamIndex >= run.InputFiles[map.FileIndex].StreamCount)
                throw FFMpegException(FormatText("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex));
            if (map.SyncFileIndex < 0 || map.SyncFileIndex >= InputFileCount || map.SyncStreamIndex < 0 ||
                map.SyncStreamIndex >= run.InputFiles[map.SyncFileIndex].StreamCount)
                throw FFMpegException(
                    FormatText("Could not find sync stream #%d.%d", map.SyncFileIndex, map.SyncStreamIndex));
        }
    }
}

void TCustomFFmpeg::MatchStreamsToInputs()
{
    TRunTables &run = *Run;
    for (int f = 0, n = 0; f < OutputFileCount; ++f) {
        AVFormatContext *outputFile = OutputFiles[f].get();
        for (unsigned s = 0; s < outputFile->nb_streams; ++s, ++n) {
            auto output = std::make_unique<TOutputStreamRec>();
            output->FileIndex = f;
            output->Index = static_cast<int32_t>(s);
            output->Stream = outputFile->streams[s];
            TOutputStreamCodec &codec = OutputCodecs[f][s];
            output->Encoder = codec.Context.get();
            output->Quality = codec.Quality;
            const int source = FindSourceStream(*outputFile, f, static_cast<int>(s), n, output->Encoder->codec_type);
            output->SourceIndex = source;
            run.InputStreams[source]->Discard = 0;
            if (StreamMapCount > 0) {
                const TStreamMap &map = StreamMaps[n];
                output->SyncIst =
                    run.InputStreams[run.InputFiles[map.SyncFileIndex].FirstStreamIndex + map.SyncStreamIndex].get();
            } else {
                output->SyncIst = run.InputStreams[source].get();
            }
            run.OutputStreams.push_back(std::move(output));
        }
    }
}

int TCustomFFmpeg::FindSourceStream(AVFormatContext &outputFile, int f, int s, int n, AVMediaType type) const
{
    const TRunTables &run = *Run;
    const int streamTotal = static_cast<int>(run.InputStreams.size());
    int source = -1;
    if (StreamMapCount > 0) {
        const TStreamMap &map = StreamMaps[n];
        source = run.InputFiles[map.FileIndex].FirstStreamIndex + map.StreamIndex;
        if (run.InputStreams[source]->Stream->codecpar->codec_type != type) {
            avformat.av_dump_format(&outputFile, f, outputFile.url, 1);
            throw FFMpegException(
                FormatText("Codec type mismatch for mapping #%d.%d -> #%d.%d", map.FileIndex, map.StreamIndex, f, s));
        }
    } else if (ProgramId != 0) {
        source = FindProgramStream(type);
    } else {
        // A cover picture never feeds a video.
        const auto feeds = [&](int i) {
            const AVStream *stream = run.InputStreams[i]->Stream;
            return stream->codecpar->codec_type == type && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC);
        };
        for (int i = 0; i < streamTotal && source < 0; ++i)
            if (run.InputStreams[i]->Discard && feeds(i))
                source = i;
        // Nothing unused left: the last stream of the type feeds this one too.
        for (int i = streamTotal - 1; i >= 0 && source < 0; --i)
            if (feeds(i))
                source = i;
    }
    if (source < 0) {
        avformat.av_dump_format(&outputFile, f, outputFile.url, 1);
        throw FFMpegException(FormatText("Could not find input stream matching output stream #%d.%d", f, s));
    }
    return source;
}

const AVStream *TCustomFFmpeg::NextAudioSource(const AVFormatContext *output, int fileIndex) const
{
    // This stream's place among all output streams, and the audio streams before it.
    int n = static_cast<int>(output->nb_streams), audioBefore = 0;
    for (int f = 0; f <= fileIndex; ++f) {
        if (f < fileIndex)
            n += static_cast<int>(OutputFiles[f]->nb_streams);
        for (const TOutputStreamCodec &codec : OutputCodecs[f])
            audioBefore += codec.Context && codec.Context->codec_type == AVMEDIA_TYPE_AUDIO;
    }
    const auto audio = [](const AVStream *stream) { return stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO; };
    if (StreamMapCount > 0) {
        if (n >= StreamMapCount)
            return nullptr;
        const TStreamMap &map = StreamMaps[n];
        if (map.FileIndex < 0 || map.FileIndex >= InputFileCount || map.StreamIndex < 0 ||
            map.StreamIndex >= static_cast<int>(InputFiles[map.FileIndex]->nb_streams))
            return nullptr;
        const AVStream *stream = InputFiles[map.FileIndex]->streams[map.StreamIndex];
        return audio(stream) ? stream : nullptr;
    }
    // Each audio stream takes the next input audio stream not taken yet: of the chosen program,
    // else of all inputs, where the last one feeds any left over.
    std::vector<const AVStream *> candidates;
    for (int f = 0; f < InputFileCount; ++f) {
        const AVFormatContext *input = InputFiles[f].get();
        if (ProgramId == 0) {
            for (unsigned s = 0; s < input->nb_streams; ++s)
                if (audio(input->streams[s]))
                    candidates.push_back(input->streams[s]);
            continue;
        }
        for (unsigned p = 0; p < input->nb_programs; ++p) {
            const AVProgram *program = input->programs[p];
            for (unsigned s = 0; program->id == ProgramId && s < program->nb_stream_indexes; ++s) {
                const unsigned index = program->stream_index[s];
                if (index < input->nb_streams && audio(input->streams[index]) &&
                    std::find(candidates.begin(), candidates.end(), input->streams[index]) == candidates.end())
                    candidates.push_back(input->streams[index]);
            }
        }
    }
    if (audioBefore < static_cast<int>(candidates.size()))
        return candidates[audioBefore];
    return ProgramId == 0 && !candidates.empty() ? candidates.back() : nullptr;
}

void TCustomFFmpeg::SetUpOutputStream(size_t n)
{
    TOutputStreamRec &output = *Run->OutputStreams[n];
    TInputStreamRec &input = *Run->InputStreams[output.SourceIndex];
    AVStream *outStream = output.Stream;
    const AVStream *inStream = input.Stream;
    AVCodecContext *encoder = output.Encoder;
    const bool copy = OutputCodecs[output.FileIndex][output.Index].StreamCopy;
    if (Language(outStream).empty() && !Language(inStream).empty())
        avutil.av_dict_set(&outStream->metadata, "language", Language(inStream).substr(0, 3).c_str(), 0);
    outStream->disposition = inStream->disposition;

    if (copy)
        SetUpStreamCopy(output, input);
    else
        SetUpEncoding(output, input);

    if (output.EncodingNeeded && (encoder->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)))
        OpenPassLog(output, n);
    if (encoder->codec_type == AVMEDIA_TYPE_VIDEO)
        BitBufferSize = static_cast<int>(std::min<int64_t>(
            std::max<int64_t>(BitBufferSize, int64_t{4} * encoder->width * encoder->height), INT32_MAX));
}

void TCustomFFmpeg::SetUpStreamCopy(TOutputStreamRec &output, const TInputStreamRec &input)
{
    AVStream *outStream = output.Stream;
    const AVStream *inStream = input.Stream;
    AVCodecParameters *parameters = outStream->codecpar;
    const uint32_t ownTag = output.Encoder->codec_tag;
    if (avcodec.avcodec_parameters_copy(parameters, inStream->codecpar) < 0)
        throw FFMpegException("av_mallocz fail");
    const AVOutputFormat *format = OutputFiles[output.FileIndex]->oformat;
    if (ownTag != 0) {
        parameters->codec_tag = ownTag;
    } else {
        const uint32_t tag = parameters->codec_tag;
        // The input's tag stays where the output format knows it for this codec, or has no say.
        const bool keepTag = !format->codec_tag ||
                             avformat.av_codec_get_id(format->codec_tag, tag) == parameters->codec_id ||
                             avformat.av_codec_get_tag(format->codec_tag, parameters->codec_id) <= 0;
        if (!keepTag)
            parameters->codec_tag = 0;
    }
    outStream->time_base = inStream->time_base; // a hint; the muxer decides at the header
    switch (parameters->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        if (AudioVolume != 256)
            throw FFMpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
        if ((parameters->block_align == 1 && parameters->codec_id == AV_CODEC_ID_MP3) ||
            parameters->codec_id == AV_CODEC_ID_AC3)
            parameters->block_align = 0;
        break;
    case AVMEDIA_TYPE_VIDEO:
        if (CustomHookCallback)
            throw FFMpegException("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
        if (UsingVhook)
            throw FFMpegException("-vcodec copy and -vhook are incompatible (frames are not decoded)");
        outStream->avg_frame_rate = inStream->avg_frame_rate;
        // A ratio given for the copy replaces the stream's own, in both places the muxer reads.
        if (outStream->sample_aspect_ratio.num == 0)
            outStream->sample_aspect_ratio = inStream->sample_aspect_ratio;
        else
            parameters->sample_aspect_ratio = outStream->sample_aspect_ratio;
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        break;
    default:
        throw FFMpegException("invalid codec_type of output stream");
    }
}

void TCustomFFmpeg::SetUpEncoding(TOutputStreamRec &output, TInputStreamRec &input)
{
    switch (output.Encoder->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        // The FIFO and converters wait for the opened encoder: opening may change its channels.
        output.ReformatPair = -6;
        input.DecodingNeeded = 1;
        output.EncodingNeeded = 1;
        break;
    case AVMEDIA_TYPE_VIDEO:
        SetUpVideoEncoding(output, input);
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        output.EncodingNeeded = 1;
        input.DecodingNeeded = 1;
        PrepareSubtitleEncoder(*output.Encoder, input);
        break;
    default:
        throw FFMpegException("invalid codec_type of output stream");
    }
}

void TCustomFFmpeg::SetUpVideoEncoding(TOutputStreamRec &output, TInputStreamRec &input)
{
    const AVCodecParameters *in = input.Stream->codecpar;
    const AVCodecContext *encoder = output.Encoder;
    output.VideoCrop = (CropTop || CropBottom || CropLeft || CropRight) ? 1 : 0;
    output.VideoPad = (PadTop || PadBottom || PadLeft || PadRight) ? 1 : 0;
    output.VideoResample =
        (encoder->width != in->width - CropLeft - CropRight + PadLeft + PadRight ||
         encoder->height != in->height - CropTop - CropBottom + PadTop + PadBottom || encoder->pix_fmt != in->format)
            ? 1
            : 0;
    if (output.VideoCrop) {
        output.TopBand = CropTop;
        output.LeftBand = CropLeft;
        output.CropWidth = in->width - CropLeft - CropRight;
        output.CropHeight = in->height - CropTop - CropBottom;
    }
    if (output.VideoPad) {
        output.PadTop = PadTop;
        output.PadBottom = PadBottom;
        output.PadLeft = PadLeft;
        output.PadRight = PadRight;
        if (!output.VideoResample)
            AllocateEncoderPicture(output, "avpicture_alloc fail");
    }
    if (output.VideoResample)
        MakeVideoScaler(output, *in);
    output.EncodingNeeded = 1;
    input.DecodingNeeded = 1;
    FilterErrorText.clear();
    if (UseVideoFilters && ConfigureFilters(input, output) != 0)
        throw FFMpegException(FilterErrorText.empty() ? std::string("Error opening filters!")
                                                      : "Error opening filters: " + FilterErrorText);
}

void TCustomFFmpeg::MakeVideoScaler(TOutputStreamRec &output, const AVCodecParameters &in)
{
    const AVCodecContext *encoder = output.Encoder;
    AllocateEncoderPicture(output, "Cannot allocate temp picture, check pix fmt");
    int64_t flags = SwsFlags;
    if (ScalerDefaults && avutil.av_opt_get_int(ScalerDefaults.get(), "sws_flags", 0, &flags) >= 0)
        SwsFlags = static_cast<int32_t>(flags);
    output.ImgResampleCtx.reset(swscale.sws_getContext(
        in.width - CropLeft - CropRight, in.height - CropTop - CropBottom, static_cast<AVPixelFormat>(in.format),
        encoder->width - PadLeft - PadRight, encoder->height - PadTop - PadBottom, encoder->pix_fmt, SwsFlags, nullptr,
        nullptr, nullptr));
    if (!output.ImgResampleCtx)
        throw FFMpegException("Cannot get resampling context");
    output.ResampleHeight = UseVideoFilters ? in.height : in.height - CropTop - CropBottom;
}

void TCustomFFmpeg::OpenPassLog(TOutputStreamRec &output, size_t n)
{
    AVCodecContext *encoder = output.Encoder;
    std::string name =
        (PassLogFilePrefix.empty() ? std::string("ffmpeg2pass") : PassLogFilePrefix) + "-" + std::to_string(n) + ".log";
    name = name.substr(0, 1023);
    if (encoder->flags & AV_CODEC_FLAG_PASS1) {
        output.LogFile = myutil.my_fopen(name.c_str(), "w");
        if (!output.LogFile)
            throw FFMpegException("creat file fail: " + name);
        return;
    }
    FILE *file = myutil.my_fopen(name.c_str(), "r");
    if (!file)
        throw FFMpegException("creat open fail: " + name);
    myutil.my_fseek(file, 0, SEEK_END);
    const long size = myutil.my_ftell(file);
    myutil.my_fseek(file, 0, SEEK_SET);
    char *statistics = size >= 0 ? static_cast<char *>(avutil.av_malloc(static_cast<size_t>(size) + 1)) : nullptr;
    if (!statistics) {
        myutil.my_fclose(file);
        throw FFMpegException("Could not allocate log buffer");
    }
    const size_t read = myutil.my_fread(statistics, 1, static_cast<size_t>(size), file);
    myutil.my_fclose(file);
    // The encoders' statistics readers step past the first character before they look:
    // an empty text would send them beyond the buffer.
    if (read == 0) {
        avutil.av_free(statistics);
        throw FFMpegException("empty pass-1 log file: " + name);
    }
    statistics[read] = '\0';
    avutil.av_freep(&encoder->stats_in);
    encoder->stats_in = statistics;
}

void TCustomFFmpeg::ListOutputStreams()
{
    const TRunTables &run = *Run;
    // The listing describes the streams as they will be encoded; the encoders refill these after opening.
    for (auto &output : run.OutputStreams) {
        if (!output->EncodingNeeded)
            continue;
        if (avcodec.avcodec_parameters_from_context(output->Stream->codecpar, output->Encoder) < 0)
            throw FFMpegException("av_mallocz fail");
        output->Stream->time_base = output->Encoder->time_base;
    }
    for (int f = 0; f < OutputFileCount; ++f)
        avformat.av_dump_format(OutputFiles[f].get(), f, OutputFiles[f]->url, 1);
    if (Verbose >= 0 && LogCallback) {
        Log(1, "Stream mapping:");
        for (const auto &output : run.OutputStreams) {
            const TInputStreamRec &source = *run.InputStreams[output->SourceIndex];
            Log(1, FormatText("  Stream #%d.%d -> #%d.%d", source.FileIndex, source.StreamIndex, output->FileIndex,
                              output->Index));
            if (output->SyncIst != &source)
                Log(1, FormatText(" [sync #%d.%d]", output->SyncIst->FileIndex, output->SyncIst->StreamIndex));
        }
    }
}

void TCustomFFmpeg::OpenOutputEncoders()
{
    for (auto &output : Run->OutputStreams)
        if (output->EncodingNeeded)
            OpenOutputEncoder(*output);
}

void TCustomFFmpeg::OpenOutputEncoder(TOutputStreamRec &output)
{
    const AVCodec *codec = avcodec.avcodec_find_encoder(output.Encoder->codec_id);
    if (!codec)
        throw FFMpegException(FormatText("Unsupported codec for output stream #%d.%d", output.FileIndex, output.Index));
    // Options of single encoders: this one gets those it has, and like any option value the
    // libraries refuse, a value it refuses is left out rather than failing the run.
    AVDictionaryOwner privateOptions;
    std::vector<std::pair<std::string, std::string>> taken;
    if (!CodecPrivateOptions.empty()) {
        AVCodecContextPtr trial(avcodec.avcodec_alloc_context3(codec));
        for (const auto &[name, value] : CodecPrivateOptions)
            if (trial && trial->priv_data && avutil.av_opt_set(trial->priv_data, name.c_str(), value.c_str(), 0) >= 0) {
                privateOptions.Set(name.c_str(), value);
                taken.emplace_back(name, value);
            }
    }
    {
        std::lock_guard<std::recursive_mutex> lock(LibraryLock());
        if (avcodec.avcodec_open2(output.Encoder, codec, privateOptions.Address()) < 0)
            throw FFMpegException(FormatText("Error while opening codec for output stream #%d.%d - maybe incorrect "
                                             "parameters such as bit_rate, rate, width or height",
                                             output.FileIndex, output.Index));
        OpenEncoders.Add(std::move(OutputCodecs[output.FileIndex][output.Index].Context));
    }
    NoteSetting(mp3::BitrateNote(*output.Encoder)); // the MP3 encoder takes only the rates of its MPEG version
    if (avcodec.avcodec_parameters_from_context(output.Stream->codecpar, output.Encoder) < 0)
        throw FFMpegException("av_mallocz fail");
    output.Stream->time_base = output.Encoder->time_base;
    // Decoders that honour the delay and padding of an MP3's header look for the encoder's own
    // name in it; the muxer writes its own unless the stream names one.
    if (std::strcmp(codec->name, "libmp3lame") == 0 &&
        avutil.av_dict_set(&output.Stream->metadata, "encoder", LameEncoderName().c_str(), 0) < 0)
        throw FFMpegException("av_mallocz fail");
    ExtraSize += output.Encoder->extradata_size;
    if (std::strcmp(codec->name, "aac") == 0 && output.Encoder->bit_rate > 0 &&
        !(output.Encoder->flags & AV_CODEC_FLAG_QSCALE))
        output.SteeredBitRate = output.Encoder->bit_rate;
    SegmentEncoder(output, taken);
    if (output.Encoder->codec_type == AVMEDIA_TYPE_AUDIO)
        PrepareAudioOutput(output, *Run->InputStreams[output.SourceIndex]);
}

void TCustomFFmpeg::OpenInputDecoders()
{
    for (auto &input : Run->InputStreams) {
        if (!input->DecodingNeeded)
            continue;
        const AVCodecID id = input->Stream->codecpar->codec_id;
        const AVCodec *codec = avcodec.avcodec_find_decoder(id);
        if (!codec || !input->Decoder)
            throw FFMpegException(FormatText("Unsupported codec (id=%d) for input stream #%d.%d", static_cast<int>(id),
                                             input->FileIndex, input->StreamIndex));
        {
            std::lock_guard<std::recursive_mutex> lock(LibraryLock());
            if (avcodec.avcodec_open2(input->Decoder, codec, nullptr) < 0)
                throw FFMpegException(FormatText("Error while opening codec for input stream #%d.%d", input->FileIndex,
                                                 input->StreamIndex));
            OpenDecoders.Add(std::move(InputCodecs[input->FileIndex][input->StreamIndex]));
        }
        input->DecodedFrame.reset(avutil.av_frame_alloc());
        if (!input->DecodedFrame)
            throw FFMpegException("av_mallocz fail");
    }
}

void TCustomFFmpeg::ResetInputTimes()
{
    for (auto &input : Run->InputStreams) {
        input->Pts = 0;
        input->NextPts = AV_NOPTS_VALUE;
        input->IsStart = 1;
    }
}

void TCustomFFmpeg::CopyMappedMetadata()
{
    for (int m = 0; m < MetaDataMapCount; ++m) {
        const TMetaDataMap &map = MetaDataMaps[m];
        if (map.OutFile < 0 || map.OutFile >= OutputFileCount)
            throw FFMpegException(
                FormatText("Invalid output file index %d map_meta_data(%d,%d)", map.OutFile, map.OutFile, map.InFile));
        if (map.InFile < 0 || map.InFile >= InputFileCount)
            throw FFMpegException(
                FormatText("Invalid input file index %d map_meta_data(%d,%d)", map.InFile, map.OutFile, map.InFile));
        for (const char *key : {"title", "artist", "author", "copyright", "comment", "album", "date", "track", "genre"})
            if (const AVDictionaryEntry *entry = avutil.av_dict_get(InputFiles[map.InFile]->metadata, key, nullptr, 0))
                avutil.av_dict_set(&OutputFiles[map.OutFile]->metadata, key, entry->value, 0);
    }
}

void TCustomFFmpeg::InitBitstreamFilters()
{
    // Bitstream filters come before the headers: the muxer has to see the parameters they put out.
    for (auto &output : Run->OutputStreams) {
        if (output->Index >= MAX_STREAMS)
            continue;
        const TBitstreamFilterChain &chain = BitstreamFilters[output->FileIndex][output->Index];
        const AVCodecParameters *parameters = output->Stream->codecpar;
        AVRational timeBase = output->Stream->time_base;
        for (const AVBitStreamFilter *filter : chain) {
            AVBSFContext *raw = nullptr;
            if (avcodec.av_bsf_alloc(filter, &raw) < 0)
                throw FFMpegException("av_mallocz fail");
            AVBSFContextPtr context(raw);
            if (avcodec.avcodec_parameters_copy(context->par_in, parameters) < 0)
                throw FFMpegException("av_mallocz fail");
            context->time_base_in = timeBase;
            if (const int result = avcodec.av_bsf_init(context.get()); result < 0) {
                // As with a packet the filter refuses: said, and the data passes unchanged.
                ReportFilterRefusal(*output, filter->name, output->Index, result);
                continue;
            }
            parameters = context->par_out;
            timeBase = context->time_base_out;
            output->BitstreamFilters.push_back(std::move(context));
        }
        if (parameters != output->Stream->codecpar) {
            if (avcodec.avcodec_parameters_copy(output->Stream->codecpar, parameters) < 0)
                throw FFMpegException("av_mallocz fail");
            output->Stream->time_base = timeBase;
        }
    }
}

void TCustomFFmpeg::WriteHeaders()
{
    // Last: a job that fails before this point leaves no file at all.
    OpenDeferredOutputs();
    bool allRtp = OutputFileCount > 0;
    for (int f = 0; f < OutputFileCount; ++f) {
        if (avformat.avformat_write_header(OutputFiles[f].get(), nullptr) < 0)
            throw FFMpegException(
                FormatText("Could not write header for output file #%d (incorrect codec parameters ?)", f));
        allRtp = allRtp && std::string(OutputFiles[f]->oformat->name) == "rtp";
    }
    if (allRtp && LogCallback) {
        std::vector<AVFormatContext *> outputs;
        for (int f = 0; f < OutputFileCount; ++f)
            outputs.push_back(OutputFiles[f].get());
        char sdp[2048] = "";
        avformat.av_sdp_create(outputs.data(), OutputFileCount, sdp, sizeof sdp);
        Log(1, "SDP: " + Trim(sdp));
    }
}

void TCustomFFmpeg::PrepareAudioOutput(TOutputStreamRec &output, const TInputStreamRec &input)
{
    const AVCodecContext *encoder = output.Encoder;
    const int channels = encoder->ch_layout.nb_channels;
    if (channels <= 0 || encoder->sample_rate <= 0)
        throw FFMpegException(FormatText("Error while opening codec for output stream #%d.%d - maybe incorrect "
                                         "parameters such as bit_rate, rate, width or height",
                                         output.FileIndex, output.Index));
    output.Fifo.reset(); // made for the source's samples once the first come
    // The recording time in samples, to the nearest.
    if (RecordingTime != INT64_MAX) {
        const int64_t limit =
            avutil.av_rescale_q(RecordingTime, AVRational{1, AV_TIME_BASE}, AVRational{1, encoder->sample_rate});
        output.SampleLimit = limit >= 0 ? limit : INT64_MAX;
    }
    const AVCodecParameters *source = input.Stream->codecpar;
    output.AudioResample = (encoder->sample_rate != source->sample_rate || channels != source->ch_layout.nb_channels ||
                            AudioSyncMethod > 1)
                               ? 1
                               : 0;
}

void TCustomFFmpeg::PrepareSubtitleEncoder(AVCodecContext &encoder, const TInputStreamRec &input)
{
    // Decoded subtitles carry their times in microseconds.
    encoder.time_base = AVRational{1, AV_TIME_BASE};
    if (encoder.subtitle_header)
        return;
    // Text encoders write the styles of the text they are given; a decoder that gave none
    // leaves the plain default style.
    static const char kDefaultStyles[] =
        "[Script Info]\r\nScriptType: v4.00+\r\nPlayResX: 384\r\nPlayResY: 288\r\n\r\n"
        "[V4+ Styles]\r\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
        "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, "
        "Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\r\n"
        "Style: Default,Arial,16,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,100,100,0,0,1,1,0,2,10,10,10,0\r\n\r\n"
        "[Events]\r\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n";
    const AVCodecContext *decoder = input.Decoder;
    const uint8_t *header = decoder && decoder->subtitle_header ? decoder->subtitle_header
                                                                : reinterpret_cast<const uint8_t *>(kDefaultStyles);
    const int size = decoder && decoder->subtitle_header ? decoder->subtitle_header_size
                                                         : static_cast<int>(sizeof kDefaultStyles - 1);
    encoder.subtitle_header = static_cast<uint8_t *>(avutil.av_mallocz(static_cast<size_t>(size) + 1));
    if (!encoder.subtitle_header)
        throw FFMpegException("av_mallocz fail");
    std::copy_n(header, size, encoder.subtitle_header);
    encoder.subtitle_header_size = size;
}

int TCustomFFmpeg::ConfigureFilters(TInputStreamRec &input, TOutputStreamRec &output)
{
    if (CropTop || CropBottom || CropLeft || CropRight) {
        FilterErrorText = "Cannot enable crop options and filters at the same time.";
        return -1;
    }
    input.FilterGraph.reset(avfilter.avfilter_graph_alloc());
    AVFilterGraph *graph = input.FilterGraph.get();
    if (!graph)
        return -1;
    const AVCodecParameters *in = input.Stream->codecpar;
    const AVRational timeBase = input.Stream->time_base;
    const AVRational aspect = in->sample_aspect_ratio.num ? in->sample_aspect_ratio : AVRational{1, 1};
    input.FilterSourceWidth = in->width;
    input.FilterSourceHeight = in->height;
    input.FilterSourceFormat = in->format;
    const std::string sourceArguments =
        FormatText("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", in->width, in->height, in->format,
                   timeBase.num, timeBase.den, aspect.num, aspect.den);
    if (avfilter.avfilter_graph_create_filter(&input.InputVideoFilter, avfilter.avfilter_get_by_name("buffer"), "src",
                                              sourceArguments.c_str(), nullptr, graph) < 0 ||
        avfilter.avfilter_graph_create_filter(&input.OutVideoFilter, avfilter.avfilter_get_by_name("buffersink"), "out",
                                              nullptr, nullptr, graph) < 0)
        return -1;
    const AVPixelFormat formats[] = {output.Encoder->pix_fmt, AV_PIX_FMT_NONE};
    if (avutil.av_opt_set_bin(input.OutVideoFilter, "pix_fmts", reinterpret_cast<const uint8_t *>(formats),
                              sizeof(formats[0]), AV_OPT_SEARCH_CHILDREN) < 0)
        return -1;

    AVFilterContext *last = input.InputVideoFilter;
    const int width = output.Encoder->width - PadLeft - PadRight;
    const int height = output.Encoder->height - PadTop - PadBottom;
    if (width != in->width || height != in->height) {
        AVFilterContext *scale = nullptr;
        if (avfilter.avfilter_graph_create_filter(&scale, avfilter.avfilter_get_by_name("scale"), "scale",
                                                  FormatText("%d:%d", width, height).c_str(), nullptr, graph) < 0 ||
            avfilter.avfilter_link(last, 0, scale, 0) < 0)
            return -1;
        last = scale;
    }
    if (!VideoFilters.empty()) {
        AVFilterInOut *outputs = avfilter.avfilter_inout_alloc();
        AVFilterInOut *inputs = avfilter.avfilter_inout_alloc();
        if (!outputs || !inputs) {
            avfilter.avfilter_inout_free(&outputs);
            avfilter.avfilter_inout_free(&inputs);
            return -1;
        }
        outputs->name = avutil.av_strdup("in");
        outputs->filter_ctx = last;
        outputs->pad_idx = 0;
        inputs->name = avutil.av_strdup("out");
        inputs->filter_ctx = input.OutVideoFilter;
        inputs->pad_idx = 0;
        const int parsed = avfilter.avfilter_graph_parse_ptr(graph, VideoFilters.c_str(), &inputs, &outputs, nullptr);
        avfilter.avfilter_inout_free(&outputs);
        avfilter.avfilter_inout_free(&inputs);
        if (parsed < 0)
            return -1;
    } else if (avfilter.avfilter_link(last, 0, input.OutVideoFilter, 0) < 0) {
        return -1;
    }
    if (avfilter.avfilter_graph_config(graph, nullptr) < 0)
        return -1;
    const int w = avfilter.av_buffersink_get_w(input.OutVideoFilter);
    const int h = avfilter.av_buffersink_get_h(input.OutVideoFilter);
    if ((PadTop == 0 && PadBottom == 0 && PadLeft == 0 && PadRight == 0) || (w == FrameWidth && h == FrameHeight)) {
        output.Encoder->width = w + PadLeft + PadRight;
        output.Encoder->height = h + PadTop + PadBottom;
        return 0;
    }
    FilterErrorText = "Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, "
                      "scale, transpose, etc.)";
    return -1;
}

double TCustomFFmpeg::GetSyncIpts(const TOutputStreamRec &output) const
{
    return static_cast<double>(output.SyncIst->Pts - StartTime) / 1000000.0;
}

void TCustomFFmpeg::SegmentEncoder(TOutputStreamRec &output,
                                   const std::vector<std::pair<std::string, std::string>> &options)
{
    if (!Cores || !Cores->MayShare() || output.Encoder->codec_type != AVMEDIA_TYPE_AUDIO ||
        !TSegmentedMp3::Suits(*output.Encoder) || std::strcmp(OutputFiles[output.FileIndex]->oformat->name, "mp3") != 0)
        return;
    // Worth it for a stream of several segments, as far as its length is known.
    const AVFormatContext *input = InputFiles[Run->InputStreams[output.SourceIndex]->FileIndex].get();
    int64_t length = input && input->duration > 0 ? input->duration : INT64_MAX;
    length = std::min(length, RecordingTime);
    const int64_t segment = static_cast<int64_t>(TSegmentedMp3::kSegmentFrames) * output.Encoder->frame_size *
                            AV_TIME_BASE / std::max(output.Encoder->sample_rate, 1);
    if (length < 2 * segment)
        return;
    output.Segmented = std::make_unique<TSegmentedMp3>(*output.Encoder, options, Cores);
}
