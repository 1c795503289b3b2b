// The transcoding engine: one object per conversion job, holding all of the job's state.
// Set-up runs on the owner's thread; the run goes on the calling thread or on a worker.
#pragma once

#include "engine/CoreBudget.h"
#include "engine/FFMpegException.h"
#include "engine/FFmpegThread.h"
#include "engine/FFmpegTypes.h"
#include "engine/OpenCodecList.h"
#include "engine/PauseGate.h"
#include "engine/PendingOptions.h"
#include "engine/RunCounters.h"
#include "engine/RunTables.h"
#include "libs/AVDeleters.h"
#include "libs/Bitmap24.h"
#include "libs/HookLoader.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Bitstream filters named for one output stream, applied in order.
using TBitstreamFilterChain = std::vector<const AVBitStreamFilter *>;

// The codec settings of one output stream, made with the stream and opened by the run.
struct TOutputStreamCodec {
    avlib::AVCodecContextPtr Context;
    bool StreamCopy = false;
    float Quality = 0.0f; // fixed quality in lambda units, 0 = none
};

class TCustomFFmpeg : public TPendingOptions, public TRunCounters, public THookState {
public:
    TCustomFFmpeg(); // Create
    // Destroy: stops the run and waits for its threads first. A derived engine calls
    // StopAndWait in its own destructor, before its own members go.
    virtual ~TCustomFFmpeg();
    TCustomFFmpeg(const TCustomFFmpeg &) = delete;
    TCustomFFmpeg &operator=(const TCustomFFmpeg &) = delete;

    // Requests a stop and waits until no thread of this engine runs any more.
    void StopAndWait();

    // Prepares a new job; does nothing while the media libraries are not loaded or a job runs.
    void InitializeJob();
    // Every job field back to its reset value. Callbacks, ProgressInterval and the run flags stay.
    void ResetOptions();
    void SetVerbose(int level);

    // Starts the job once per InitializeJob. Not threaded: runs it here and returns nullptr.
    // Threaded: returns the worker, created suspended (the caller resumes it), owned by the engine.
    TFFmpegThread *Start(bool threaded, TThreadPriority priority);
    // Runs the job to its end on the calling thread; always ends with DoTerminate.
    void Execute();
    void RequestStop();
    // Stops a running job, or delivers the terminate notification of one that never started.
    void CancelJob();
    // Holds a worker's run at its next safe point; ResumeRun or a stop request releases it.
    void Pause();
    void ResumeRun();
    void DoTerminate();
    // Frees everything the job holds; does nothing while the media libraries are not loaded.
    void ReleaseJob();
    void SetHookRanges(const std::vector<THookRange> &ranges);

    // The run's safe point: waits here while paused.
    void WaitWhilePaused() { PauseGate.Pass(StopRequested); }
    bool Paused() const { return PauseGate.IsClosed(); }
    // The run is waiting at its safe point.
    bool HeldAtSafePoint() const { return PauseGate.Waiters() > 0; }
    // The worker running the job, while it runs.
    TFFmpegThread *Worker() const;

    void Log(int level, const std::string &message);
    // Records a setting the job uses instead of the one asked for in SettingNotes, and logs it.
    // An empty note is nothing.
    void NoteSetting(const std::string &note);

    // Options: one per line, "name=value"; each line goes to SetOption in order.
    void ParseOptionLines(const std::string &text);
    // Keyword dispatch; any other name goes to SetCodecOption. Rejections raise.
    void SetOption(const std::string &name, const std::string &value);
    // Sets a library option by name on the default codec, format or scaler contexts;
    // false when no context knows the name or the value is refused.
    bool SetCodecOption(const std::string &name, const std::string &value);
    bool SetCodecOptionInt(const std::string &name, int32_t value);
    // Adds to RejectedOptions the options of single encoders and muxers that no encoder or the
    // muxer of this new output takes.
    void NoteOptionsOutputLeavesOut(AVFormatContext *output, int fileIndex);
    // Replays the accepted generic options from defaults onto target, for those options
    // whose flags include all of flags (AV_OPT_FLAG_*).
    void ApplyGenericOptions(void *target, void *defaults, int flags);

    // Typed setters, each with its own guard.
    void SetAudioVolume(int32_t volume);
    void SetAudioSyncMethod(int32_t method);
    void SetVideoSyncMethod(int32_t method);
    void SetMuxMaxDelay(float seconds);
    void SetMuxPreload(float seconds);
    void SetStartTime(int64_t microseconds);
    void SetProgramId(int32_t id);
    void SetYear(int32_t year);
    void SetTrack(int32_t track);
    void SetTitle(const std::string &text);
    void SetAuthor(const std::string &text);
    void SetCopyright(const std::string &text);
    void SetComment(const std::string &text);
    void SetGenre(const std::string &text);
    void SetAlbum(const std::string &text);
    void SetRecordingTime(int64_t milliseconds);
    void SetInputFormat(const std::string &name);
    void SetOutputFormat(const std::string &name);

    // Opens an input with the pending options; false with LastErrorText on failure.
    bool AddInputFile(const std::string &fileName);
    // Creates an output with its streams and opens its file; false with LastErrorText on failure.
    bool AddOutputFile(const std::string &fileName);
    // A codec by name: true with its id (AV_CODEC_ID_NONE for an empty name), or false with
    // LastErrorText "Unknown %s '%s'" / "Invalid %s type '%s'".
    bool LookupCodec(const std::optional<std::string> &name, AVMediaType type, bool encoder, AVCodecID &id);
    // Add one stream to output file fileIndex, whose muxer context is output. Raise FFMpegException.
    void NewVideoStream(AVFormatContext *output, int fileIndex);
    void NewAudioStream(AVFormatContext *output, int fileIndex);
    void NewSubtitleStream(AVFormatContext *output, int fileIndex);
    // The channel layout and sample rate of a new audio stream that encoder can take; an inherited
    // one it cannot take becomes its nearest, one asked for is refused. Raise FFMpegException.
    void ChooseAudioShape(AVCodecContext *codec, const AVCodec *encoder);
    // The channels, rate and sample format of a source audio stream become the pending ones,
    // except those asked for.
    void InheritAudioShape(const AVCodecParameters &parameters);
    // The input stream the run will feed the next audio stream of output file fileIndex from, as
    // FindSourceStream will choose it; nullptr while the inputs and maps so far do not tell.
    const AVStream *NextAudioSource(const AVFormatContext *output, int fileIndex) const;
    // The muxer settings of a new output: delay, preload, loop, the WAV size switch, the MP4 time
    // scale of a sound file, library options.
    void ApplyMuxerOptions(AVFormatContext *output, int fileIndex);
    // Presets "vcd", "svcd", "dvd", "dv", "dv50" for norm "pal", "ntsc", "film" or detected.
    void SetTarget(const std::string &type, const std::string &norm, const std::string &defaultNorm);
    // The option "target": "pal-dvd", "ntsc-vcd", "film-svcd" or a type with the norm detected.
    void SetTargetOption(const std::string &value);

    // Files and maps
    std::array<avlib::InputFormatContextPtr, MAX_FILES> InputFiles;
    std::array<int64_t, MAX_FILES> InputTsOffsets{};                        // microseconds
    std::array<std::array<double, MAX_STREAMS>, MAX_FILES> InputTsScales{}; // 0 = unset (1.0)
    int32_t InputFileCount = 0;
    std::array<avlib::OutputFormatContextPtr, MAX_FILES> OutputFiles;
    int32_t OutputFileCount = 0;
    // Set: AddOutputFile leaves each output's file unopened, and the job opens it just before its
    // header is written, under the name this returns for the output's own name (a temporary file
    // that takes the name once finished, say); it throws to fail the job. Unset: opened at once.
    std::function<std::string(int fileIndex, const std::string &name)> OutputOpening;
    // Outputs whose file was opened under their own name: those the engine may remove when empty.
    std::array<bool, MAX_FILES> OutputOpenedByName{};
    std::array<TStreamMap, MAX_STREAM_MAPS> StreamMaps{};
    int32_t StreamMapCount = 0;
    std::array<TMetaDataMap, MAX_META_DATA_MAPS> MetaDataMaps{};
    int32_t MetaDataMapCount = 0;
    // Decoder settings of every input stream and encoder settings of every output stream,
    // by file and stream index.
    std::array<std::vector<avlib::AVCodecContextPtr>, MAX_FILES> InputCodecs;
    std::array<std::vector<TOutputStreamCodec>, MAX_FILES> OutputCodecs;

    // The pending options are those of TPendingOptions, read by the next input, output stream or file.
    FILE *VstatsFile = nullptr; // opened through the runtime shim, named by VstatsFileName

    // Run counters and working state; the counters and the settings reset with them are those of TRunCounters.
    TBitstreamFilterChain VideoBitstreamFilters, AudioBitstreamFilters, SubtitleBitstreamFilters;
    std::array<std::array<TBitstreamFilterChain, MAX_STREAMS>, MAX_FILES> BitstreamFilters;
    int64_t TimerStart = 0; // microseconds, set by the run
    TOpenCodecList OpenEncoders;
    TOpenCodecList OpenDecoders;
    std::unique_ptr<TRunTables> Run; // the tables of the run in progress
    std::string FilterErrorText;
    std::array<int32_t, 52> QpHistogram{};
    std::vector<uint8_t> DecodedAudio;                // decoded audio as interleaved carried samples, reused
    std::vector<uint8_t> ResampleBuffer;              // audio after channel and rate conversion, reused
    std::vector<uint8_t> SilenceBuffer;               // silence followed by a block, grown as needed
    std::vector<uint8_t> TameBuffer;                  // float samples made safe for their encoder, reused
    std::vector<uint8_t> FifoReadBuffer;              // one encoder frame taken from an audio FIFO
    std::array<uint8_t, MAX_FILES> InputRateEmu{};    // "re" as each input was added
    std::array<int64_t, MAX_FILES> InputStartTimes{}; // microseconds: "ss" each input was opened at

    // Hook state; the action and the time ranges are those of THookState.
    avlib::THookList VhookList;
    // Working copy of the picture while it is deinterlaced or hooked; grown, never shrunk.
    avlib::AVFramePtr HookBuffer;
    std::unique_ptr<TBitmap24> HookBitmap;
    int32_t HookBitmapPixelFormat = 24; // bits per pixel
    AVPixelFormat HookRgbPixFmt = AV_PIX_FMT_BGR24;
    avlib::AVFramePtr RgbBuffer; // the picture in HookRgbPixFmt
    avlib::SwsContextPtr ToRgbContext, FromRgbContext;
    std::vector<uint8_t> SubtitleBuffer; // 65536 bytes once a subtitle is encoded
    avlib::AVFramePtr EncodeFrame;       // the reference handed to a video encoder, reused

    // Options left out since InitializeJob, in the order given; the run goes on without them,
    // and a caller that must not may refuse the job instead.
    std::vector<TRejectedOption> RejectedOptions;
    // Settings the job uses instead of those asked for, as notes for the user ("144 kbit/s is not an
    // MP3 rate at 44100 Hz; 128 used"), in the order made; kept until the next InitializeJob.
    std::vector<std::string> SettingNotes;

    // Generic option state
    std::vector<std::string> GenericOptionNames;
    // Options only some muxers have, by name and value, in the order given; set on each output.
    std::vector<std::pair<std::string, std::string>> MuxerOptions;
    // Options only some encoders have, by name and value; handed to each encoder as it opens.
    std::vector<std::pair<std::string, std::string>> CodecPrivateOptions;
    std::array<avlib::AVCodecContextPtr, 5> CodecDefaults; // video, audio, data, subtitle, attachment
    avlib::AVFormatContextPtr FormatDefaults;
    avlib::SwsContextPtr ScalerDefaults;

    // Run control and reporting
    std::atomic<uint8_t> Running{0};
    std::atomic<uint8_t> StopRequested{0};
    std::atomic<uint8_t> Finished{0};
    std::atomic<uint8_t> Terminated{0};
    uint8_t ErrorOccurred = 0;
    std::string ErrorMessage;
    int32_t TotalDuration = -1; // milliseconds, -1 = unknown
    std::string LastErrorText;
    TBeforeHookCallback BeforeHookCallback;
    TCustomHookCallback CustomHookCallback;
    TLogCallback LogCallback;
    // Idle cores an MP3 stream's encoding may borrow; none: the stream is encoded on one core.
    std::shared_ptr<TCoreBudget> Cores;
    TProgressCallback ProgressCallback;
    TTerminateCallback TerminateCallback;
    int64_t ProgressInterval = 500000; // microseconds

    // Seconds of the sync input stream's current position after the start time.
    double GetSyncIpts(const TOutputStreamRec &output) const;

protected:
    // Called by ReleaseJob just before the job's inputs are freed, on the thread that frees them,
    // so that whatever looks at an input can let go of it first.
    virtual void ReleasingInputs() {}
    // The run itself: set-up, main loop and end of the job.
    virtual void Transcode();
    // Run stages, in the order the run uses them.
    void SetUpRun();
    void RunMainLoop();
    void EndRun();
    // A run that put nothing into an audio or video output failed, whatever else went well.
    void CheckEveryOutputGotData() const;
    // Corrects one packet's timestamps and hands it on; false after a decode error.
    bool HandlePacket(int fileIndex, AVPacket *packet);
    // Writes what the output's bitstream filters still hold at the end of the run.
    void FlushBitstreamFilters(TOutputStreamRec &output);
    void ReleaseRunTables() { Run.reset(); }
    int ConfigureFilters(TInputStreamRec &input, TOutputStreamRec &output);
    // Time base and text styles of a subtitle encoder, from the stream it re-encodes.
    void PrepareSubtitleEncoder(AVCodecContext &encoder, const TInputStreamRec &input);
    // The audio FIFO and resampling choice, sized from the opened encoder.
    void PrepareAudioOutput(TOutputStreamRec &output, const TInputStreamRec &input);
    int FindProgramStream(AVMediaType type) const;
    // 0 when the packet was used, -1 when decoding failed. No packet: drain the decoder.
    int OutputPacket(TInputStreamRec &input, int inputIndex, const AVPacket *packet);
    void FeedOutputs(TInputStreamRec &input, int inputIndex, const AVPacket *packet, const uint8_t *data, int size,
                     AVFrame *picture);
    void CopyPacket(TInputStreamRec &input, TOutputStreamRec &output, const AVPacket *packet);
    void FlushEncoder(TOutputStreamRec &output);
    // Takes every packet the encoder has ready and writes it; returns the size of the last, or 0.
    int DrainEncoder(TOutputStreamRec &output);
    // An encoded packet of the stream to the muxer, with the stream's counts.
    void WriteEncodedPacket(TOutputStreamRec &output, AVPacket *packet);
    // Sets the stream up to be encoded in segments on cores the budget lends, when it suits.
    void SegmentEncoder(TOutputStreamRec &output, const std::vector<std::pair<std::string, std::string>> &options);
    void CarryEndPadding(TOutputStreamRec &output, AVPacket *packet) const;
    // Sets the encoder's rate for the frames to come so that the stream's average meets the one asked.
    void SteerBitRate(TOutputStreamRec &output, const AVPacket &packet) const;
    void ChooseSampleHandling(TOutputStreamRec &output, const TInputStreamRec &input);
    void MakeReformatter(TOutputStreamRec &output);
    void WriteFrame(TOutputStreamRec &output, AVPacket *packet);
    // Passes a packet (nullptr: the end) through filters from index first on, then to the muxer.
    void FilterAndWrite(TOutputStreamRec &output, size_t first, AVPacket *packet, int streamIndex);
    // A bitstream filter that refused the stream or a packet: raised with ExitOnError, else logged.
    void ReportFilterRefusal(const TOutputStreamRec &output, const char *filter, int streamIndex, int result);
    void DoVideoStats(TOutputStreamRec &output, int frameSize);
    void PrintReport(bool isLast);
    // Output paths of re-encoded streams.
    void DoAudioOut(TOutputStreamRec &output, TInputStreamRec &input, const uint8_t *data, int size);
    // Encodes what the audio FIFO still holds as a last, possibly short, frame.
    void FlushAudioFifo(TOutputStreamRec &output);
    // Encodes count interleaved 16-bit samples as one frame.
    void EncodeAudioFrame(TOutputStreamRec &output, const uint8_t *samples, int count);
    void QueueAudio(TOutputStreamRec &output, const uint8_t *samples, int count);
    void DrainResampler(TOutputStreamRec &output);
    // Deinterlaces and hooks one decoded picture; returns the picture the outputs get.
    AVFrame *PreProcessVideoFrame(TInputStreamRec &input, AVFrame *picture);
    std::unique_ptr<TBitmap24> CreateHookBitmap(int width, int height, int pixelFormat);
    // Bytes of the last packet written, or 0.
    int DoVideoOut(TOutputStreamRec &output, TInputStreamRec &input, AVFrame *picture);
    void DoSubtitleOut(TOutputStreamRec &output, TInputStreamRec &input, AVSubtitle *subtitle, int64_t pts);
    // Writes what the subtitle outputs fed by the input stream still hold back.
    void FlushSubtitles(int inputIndex);
    void CloseOpenEncoders() { OpenEncoders.CloseAll(); }
    void CloseOpenDecoders() { OpenDecoders.CloseAll(); }
    // Makes the library give up a read or write that blocks once a stop is requested.
    AVIOInterruptCB StopInterrupt();

private:
    // AddInputFile's steps, in order; a step that returns bool is false with LastErrorText.
    void SetDemuxerOptions(avlib::AVDictionaryOwner &options) const;
    // The decoders asked for, the generic options, then the file opened into input (emptied on failure).
    bool OpenInputContext(avlib::InputFormatContextPtr &input, const std::string &fileName,
                          avlib::AVDictionaryOwner &options);
    bool FindInputStreamInfo(AVFormatContext *context, const std::string &fileName);
    // Seeks to the pending start time and uses it up; returns it as a time of the file.
    int64_t SeekToStartTime(AVFormatContext *context);
    // A decoder context per stream; the streams' shapes become the pending values.
    bool MakeInputDecoders(AVFormatContext *context, const std::string &fileName,
                           std::vector<avlib::AVCodecContextPtr> &decoders);
    void TakeInputVideoShape(AVStream *stream, AVCodecContext *decoder, const std::string &fileName, int streamIndex);
    // first: the input's first audio stream, whose shape becomes the pending one.
    void TakeInputAudioShape(AVStream *stream, AVCodecContext *decoder, bool first);
    // The opened input and its decoders become the next input file.
    void KeepInputFile(avlib::InputFormatContextPtr input, const std::string &fileName,
                       std::vector<avlib::AVCodecContextPtr> decoders, int64_t timestamp, int64_t startTime);

    // AddOutputFile's steps, in order; a step that returns bool is false with LastErrorText.
    struct TOutputKinds {
        bool Video = false, Audio = false, Subtitle = false;
    };
    // The pending options and the name against each other and the inputs; sets UseVideoFilters.
    bool CheckNewOutput(const std::string &fileName);
    // The kinds of stream the format or the options ask for, of those the inputs have.
    bool ChooseOutputKinds(const AVOutputFormat *format, TOutputKinds &kinds);
    bool AddOutputStreams(AVFormatContext *output, int fileIndex, const TOutputKinds &kinds);
    void SetOutputMetadata(AVFormatContext *output) const;

    // NewVideoStream's steps, in order.
    // The codec tag and the header flags, these also on the video defaults.
    void SetVideoHeaderFlags(const AVFormatContext *output, AVCodecContext *codec);
    // The stream's codec context replaced by one with the encoder's own defaults, tag and flags kept.
    void UseEncoderDefaults(TOutputStreamCodec &out, const AVCodec *encoder);
    // The frame rate, or the supported rate of the encoder nearest to it.
    void SetVideoTimeBase(AVCodecContext *codec, const AVCodec *encoder) const;
    // Size, aspect ratio and a pixel format the encoder takes.
    void SetVideoPictureShape(AVCodecContext *codec, AVStream *stream, const AVCodec *encoder) const;
    // Quality, matrices, rate control, PSNR and pass flags.
    void SetVideoEncoderOptions(TOutputStreamCodec &out, const std::vector<RcOverride> &overrides) const;

    // SetUpRun's steps, in order; each raises FFMpegException.
    void ListInputStreams();
    // Every output has streams, and the stream maps, if any, name one existing input per output stream.
    void CheckOutputStreamCounts() const;
    void MatchStreamsToInputs();
    // The input stream feeding stream s of output file f, the run's n-th output stream.
    int FindSourceStream(AVFormatContext &outputFile, int f, int s, int n, AVMediaType type) const;
    // Copy or encode the run's n-th output stream.
    void SetUpOutputStream(size_t n);
    void SetUpStreamCopy(TOutputStreamRec &output, const TInputStreamRec &input);
    void SetUpEncoding(TOutputStreamRec &output, TInputStreamRec &input);
    // Crop, pad, scaler and filter chain of a re-encoded video.
    void SetUpVideoEncoding(TOutputStreamRec &output, TInputStreamRec &input);
    void MakeVideoScaler(TOutputStreamRec &output, const AVCodecParameters &in);
    // The pass-1 log opened for writing, or the pass-2 log read into the encoder.
    void OpenPassLog(TOutputStreamRec &output, size_t n);
    // Dumps the outputs as they will be encoded and logs the stream mapping.
    void ListOutputStreams();
    // (OpenEncoders and OpenDecoders are the lists of open codecs.)
    void OpenOutputEncoders();
    void OpenOutputEncoder(TOutputStreamRec &output);
    void OpenInputDecoders();
    void ResetInputTimes();
    void CopyMappedMetadata();
    void InitBitstreamFilters();
    // Opens the deferred output files, writes the headers, logs the SDP of an all-RTP job.
    void WriteHeaders();

    // OutputPacket's steps; one that returns int gives -1 when decoding failed, ending the stage.
    // A packet of a stream that is only copied: timed and handed to the outputs.
    void PassUndecodedPacket(TInputStreamRec &input, int inputIndex, const AVPacket *packet);
    int DecodeSubtitlePacket(TInputStreamRec &input, int inputIndex, const AVPacket *packet);
    // Sends the packet (none: drains) to the audio or video decoder and passes on each frame.
    int DecodePacketFrames(TInputStreamRec &input, int inputIndex, const AVPacket *packet);
    int PassDecodedAudio(TInputStreamRec &input, int inputIndex, const AVPacket *packet, AVFrame *frame);
    // Microseconds of the run's timeline before which the stream's audio goes: the later of the
    // input's and the output's start times, INT64_MIN when neither was asked for.
    int64_t AudioStartPoint(const TInputStreamRec &input) const;
    // The converter to the stream's carried sample format; false when it cannot be made.
    bool PrepareCarriedAudio(TInputStreamRec &input, AVFrame *frame);
    void PassDecodedPicture(TInputStreamRec &input, int inputIndex, const AVPacket *packet, AVFrame *frame);

    // DoVideoOut's steps, in order; one that returns a picture returns nullptr when it refused it.
    // How many times the picture goes out: frame-rate conversion and the frame limit.
    int64_t VideoCopiesToWrite(TOutputStreamRec &output);
    // A picture the output cannot take: raised with ExitOnError, else logged.
    void RefusePicture(const char *text);
    AVFrame *CropForEncoder(TOutputStreamRec &output, AVFrame *picture, avlib::AVFramePtr &cropped);
    // A picture whose size or format changed in mid-stream turns scaling on.
    void NoteVideoShapeChange(TOutputStreamRec &output, const AVFrame *formatted);
    AVFrame *ScaleAndPadForEncoder(TOutputStreamRec &output, AVFrame *formatted, avlib::AVFramePtr &padView);
    // Encodes final count times; returns the size of the last packet written, or 0.
    int EncodeVideoCopies(TOutputStreamRec &output, const TInputStreamRec &input, const AVFrame *picture,
                          const AVFrame *final, int64_t count);

    // Whether the plug-in hooks act on this picture: before-hook or time ranges.
    void GateHooks(int64_t pts);
    // The custom hook on the working picture; false when it must be removed.
    bool RunCustomHook(AVFrame *picture, int64_t pts);
    // The picture as the outputs see it: through the filter chain when the run has one.
    void FeedVideo(TInputStreamRec &input, int inputIndex, const AVPacket *packet, AVFrame *picture);
    void ReapThreads();
    void CloseVstatsFile();
    void CreateDefaultContexts();
    void ReleaseOutputFiles();
    // Opens the output's file for writing; false with LastErrorText.
    bool OpenOutputFile(AVFormatContext *output, const std::string &fileName);
    // The files that OutputOpening deferred, opened now; throws FFMpegException.
    void OpenDeferredOutputs();
    void FailStart(const std::string &message);
    void RecordFailure(const std::string &message);
    void ResumeWorkerIfSuspended();
    void SetWorker(TFFmpegThread *worker);

    TPauseGate PauseGate;
    mutable std::mutex WorkerLock; // the worker reference is cleared on the worker's thread
    TFFmpegThread *WorkerRef = nullptr;
    std::unique_ptr<TFFmpegThread> WorkerThread;         // kept until joined
    std::unique_ptr<TDoTerminateThread> TerminateThread; // kept until joined
};
