// Engine life cycle: creation, job preparation, option reset and release.
#include "engine/FFmpeg.h"

#include "libs/LibraryLog.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

using namespace avlib;

TCustomFFmpeg::TCustomFFmpeg() { ResetOptions(); }

TCustomFFmpeg::~TCustomFFmpeg()
{
    StopAndWait();
    ReleaseJob();
}

void TCustomFFmpeg::StopAndWait()
{
    try {
        RequestStop();
    } catch (const std::system_error &) {
        // The suspended worker could not be started, so it has nothing to end.
    }
    // The worker resumed by the stop request runs to its end, and a pending terminate
    // notification is delivered, before anything they use is freed.
    if (WorkerThread)
        WorkerThread->WaitFor();
    if (TerminateThread)
        TerminateThread->WaitFor();
}

void TCustomFFmpeg::InitializeJob()
{
    // A running job keeps its state until it ends; a new job waits for that.
    if (!AllLoaded() || Running)
        return;
    ReapThreads();
    ReleaseJob();
    ResetOptions();
    Running = 0;
    StopRequested = 0;
    Finished = 0;
    Terminated = 0;
    TotalDuration = -1;
    CreateDefaultContexts();
}

void TCustomFFmpeg::ReapThreads()
{
    // Threads of an earlier job have delivered its end; wait for them to return before a new job.
    if (WorkerThread) {
        WorkerThread->WaitFor();
        WorkerThread.reset();
    }
    if (TerminateThread) {
        TerminateThread->WaitFor();
        TerminateThread.reset();
    }
}

void TCustomFFmpeg::CreateDefaultContexts()
{
    static constexpr AVMediaType kinds[] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA,
                                            AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_ATTACHMENT};
    for (size_t i = 0; i < CodecDefaults.size(); ++i) {
        CodecDefaults[i].reset(avcodec.avcodec_alloc_context3(nullptr));
        if (!CodecDefaults[i])
            throw FFMpegException("av_malloc fail");
        CodecDefaults[i]->codec_type = kinds[i];
    }
    FormatDefaults.reset(avformat.avformat_alloc_context());
    if (!FormatDefaults)
        throw FFMpegException("av_malloc fail");
    ScalerDefaults.reset(swscale.sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P, SwsFlags,
                                                nullptr, nullptr, nullptr));
    if (!ScalerDefaults)
        throw FFMpegException("av_malloc fail");
}

void TCustomFFmpeg::ResetOptions()
{
    for (auto &codecs : InputCodecs)
        codecs.clear();
    for (auto &file : InputFiles)
        file.reset();
    InputTsOffsets.fill(0);
    for (auto &scales : InputTsScales)
        scales.fill(0.0);
    InputFileCount = 0;
    ReleaseOutputFiles(); // normally done by ReleaseJob already
    for (auto &codecs : OutputCodecs)
        codecs.clear();
    for (auto &file : OutputFiles)
        file.reset();
    StreamMaps.fill(TStreamMap{});
    StreamMapCount = 0;
    MetaDataMaps.fill(TMetaDataMap{});
    MetaDataMapCount = 0;

    static_cast<TPendingOptions &>(*this) = TPendingOptions();
    CloseVstatsFile();

    InputRateEmu.fill(0);
    InputStartTimes.fill(0);
    QpHistogram.fill(0);
    FilterErrorText.clear();
    static_cast<TRunCounters &>(*this) = TRunCounters();
    VideoBitstreamFilters.clear();
    AudioBitstreamFilters.clear();
    SubtitleBitstreamFilters.clear();
    for (auto &file : BitstreamFilters)
        for (auto &chain : file)
            chain.clear();

    static_cast<THookState &>(*this) = THookState();
    VhookList.ReleaseHooks();

    GenericOptionNames.clear();
    RejectedOptions.clear();
    SettingNotes.clear();
    MuxerOptions.clear();
    CodecPrivateOptions.clear();
    for (auto &context : CodecDefaults)
        context.reset();
    FormatDefaults.reset();
    ScalerDefaults.reset();

    ErrorOccurred = 0;
    ErrorMessage.clear();
    TotalDuration = -1;
    LastErrorText.clear();
    SetWorker(nullptr);
}

void TCustomFFmpeg::SetVerbose(int level)
{
    Verbose = level;
    const int libraryLevel = LibraryLogLevel(level);
    SetLogThreshold(libraryLevel);
    if (UnitLoaded(Unit::AVUtil))
        avutil.av_log_set_level(libraryLevel);
}

void TCustomFFmpeg::CloseVstatsFile()
{
    if (!VstatsFile)
        return;
    // Opened through the runtime shim, closed through it while it is there.
    if (UnitLoaded(Unit::MyUtil))
        myutil.my_fclose(VstatsFile);
    else
        std::fclose(VstatsFile);
    VstatsFile = nullptr;
}

void TCustomFFmpeg::SetHookRanges(const std::vector<THookRange> &ranges)
{
    HookRanges = ranges;
    HookRangeIndex = 0;
    HookRangeCount = static_cast<int32_t>(HookRanges.size());
    std::sort(HookRanges.begin(), HookRanges.end(),
              [](const THookRange &a, const THookRange &b) { return a.End < b.End; });
}

void TCustomFFmpeg::ReleaseJob()
{
    if (!AllLoaded())
        return;
    ReleasingInputs();
    for (auto &context : CodecDefaults)
        context.reset();
    FormatDefaults.reset();
    ScalerDefaults.reset();
    ReleaseOutputFiles();
    for (int i = 0; i < InputFileCount; ++i) {
        InputCodecs[i].clear();
        InputFiles[i].reset();
    }
    InputFileCount = 0;

    IntraMatrix.reset();
    InterMatrix.reset();
    VideoRcOverride.reset();
    VideoCodecName.reset();
    AudioCodecName.reset();
    SubtitleCodecName.reset();
    VideoStandard.reset();
    VstatsFileName.reset();
    GenericOptionNames.clear();
    RejectedOptions.clear();
    MuxerOptions.clear();
    CodecPrivateOptions.clear();
    CloseVstatsFile();
    AudioLanguage.clear();
    SubtitleLanguage.clear();
    VhookList.ReleaseHooks();
}

void TCustomFFmpeg::ReleaseOutputFiles()
{
    for (int i = 0; i < OutputFileCount; ++i) {
        if (!OutputFiles[i])
            continue;
        const std::string fileName = OutputFiles[i]->url ? OutputFiles[i]->url : "";
        OutputCodecs[i].clear();
        OutputFiles[i].reset(); // closes the file first
        // An output that never received a byte is no output: leave nothing behind.
        std::error_code ec;
        if (OutputOpenedByName[i] && !fileName.empty() && std::filesystem::is_regular_file(fileName, ec) &&
            std::filesystem::file_size(fileName, ec) == 0 && !ec)
            std::filesystem::remove(fileName, ec);
    }
    OutputFileCount = 0;
}

AVIOInterruptCB TCustomFFmpeg::StopInterrupt()
{
    return {[](void *engine) { return static_cast<TCustomFFmpeg *>(engine)->StopRequested ? 1 : 0; }, this};
}

void TCustomFFmpeg::Log(int level, const std::string &message)
{
    if (LogCallback)
        LogCallback(this, level, message);
}

void TCustomFFmpeg::NoteSetting(const std::string &note)
{
    if (note.empty())
        return;
    SettingNotes.push_back(note);
    if (Verbose >= 0)
        Log(1, note);
}
