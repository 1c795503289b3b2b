// The converter component: the one object an application talks to. It loads the media libraries,
// keeps a list of tasks (one engine per input file), turns option records into engine settings
// and raises the engines' callbacks as its own events.
//
// On this platform:
// - the component is a QObject: the owner is its parent (which deletes it), the name its objectName;
// - design mode is a flag, false unless SetDesigning(true) is called;
// - events are std::function members, called only when set; they carry no sender;
// - published properties are public accessors; the base class keeps LogLevel, ProgressInterval,
//   ThreadPriority and the events protected, and TVeloxConverter makes them public;
// - a colour (TColor) keeps red in the low byte, then green, then blue;
// - a task's ThreadID is the std::thread::id of the thread it runs on;
// - the list's index error is std::out_of_range.
#pragma once

#include "AVProbe.h"
#include "ConverterTypes.h"
#include "FFmpegList.h"

#include <QObject>

#include <cstdint>
#include <string>

class TCustomMediavane : public QObject {
    Q_OBJECT

public:
    // Create: the owner becomes the parent, which deletes the component with itself.
    explicit TCustomMediavane(QObject *owner = nullptr);
    // Destroy: frees the tasks (each stops its run first), then the probe.
    ~TCustomMediavane() override;

    // Design mode: the component is only being laid out, nothing is loaded or run.
    bool Designing() const { return Designing_; }
    void SetDesigning(bool designing) { Designing_ = designing; }

    // Free text stored with the component; no effect on behaviour.
    const std::string &About() const { return About_; }
    void SetAbout(const std::string &text) { About_ = text; }
    // Text of the last failure of LoadAVLib, AddInput or AddOutput; cleared by ClearTasks only.
    const std::string &LastErrMsg() const { return LastErrMsg_; }
    // Index of the next task to start: -1 until the list is started.
    int NextTaskIndex() const { return NextTaskIndex_; }
    // 0: one task after another on the main thread; N > 0: at most N tasks at once on workers.
    int ThreadCount() const { return ThreadCount_; }

    // The component's own probe, for looking at a file before adding it.
    TAVProbe &AVProbe() { return AVProbe_; }
    const TAVProbe &AVProbe() const { return AVProbe_; }
    // The tasks, in the order they were added.
    TFFmpegList &Tasks() { return Tasks_; }
    const TFFmpegList &Tasks() const { return Tasks_; }

    // Loads every media library from folder APath (empty: the system's search), with versioned
    // file names or plain ones, and gives them LogLevel. Libraries loaded already are kept as they
    // are (the folder is not read); in design mode nothing happens. False with LastErrMsg.
    bool LoadAVLib(const std::string &APath, bool AVersioned);
    void UnloadAVLib();

    // Creates a task and opens its input AFileName with the record's settings (nullptr: defaults).
    // An empty AOptions->FileName is set to AFileName. Returns the task's index, or -1 with LastErrMsg.
    int AddInput(const std::string &AFileName, PInputOptions AOptions);
    // Adds the output file of task AIndex; false with LastErrMsg (the task stays in the list).
    // Throws std::out_of_range for an index that is not in the list.
    bool AddOutput(int AIndex, const std::string &AFileName, POutputOptions AOptions);
    // Frees task AIndex; later tasks move down one place. Throws std::out_of_range.
    void RemoveTask(int AIndex);
    // Frees every task and clears LastErrMsg.
    void ClearTasks();

    static void InitInputOptions(TInputOptions &AOptions);
    static void InitOutputOptions(TOutputOptions &AOptions);

protected:
    // Writing stores the level and, while the libraries are loaded, applies it to them.
    TLogLevel LogLevel() const { return LogLevel_; }
    void SetLogLevel(TLogLevel level);
    // Milliseconds between progress reports; 100 or less stores 100.
    int ProgressInterval() const { return ProgressInterval_; }
    void SetProgressInterval(int milliseconds);
    // Priority of the worker threads, read when a task starts.
    TConvertPriority ThreadPriority() const { return ThreadPriority_; }
    void SetThreadPriority(TConvertPriority priority) { ThreadPriority_ = priority; }

    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TLogEvent OnLog;
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;

    // The engines' callbacks of every task point here; each raises its event with the task's index.
    virtual void TriggerBeforeHook(TCustomFFmpeg *engine, THookAction &action, int64_t pts);
    virtual void TriggerCustomHook(TCustomFFmpeg *engine, TBitmap24 *bitmap, int frameNumber, int64_t pts,
                                   bool &update, bool &stopHook);
    virtual void TriggerLog(TCustomFFmpeg *engine, int level, const std::string &text);
    virtual void TriggerProgress(TCustomFFmpeg *engine, int frameNumber, int fps, int currentDurationMs,
                                 float quality, float bitRate, int64_t currentSizeBytes, int totalOutputDurationMs);
    virtual void TriggerTerminate(TCustomFFmpeg *engine);

    // The task's index as its events carry it: -1 for no engine.
    static int TaskIndexOf(const TCustomFFmpeg *engine);

    // Run state of the list, set when the list is started.
    int32_t NextTaskIndex_ = -1;
    int32_t ThreadCount_ = 0;
    int32_t FinishedCount_ = 0; // tasks that reported their end
    int32_t PendingCount_ = 0;  // tasks not yet started

private:
    // The library log level for LogLevel, and the threshold read back from the libraries.
    void ApplyLibraryLogLevel();

    bool Designing_ = false;
    std::string About_;
    std::string LastErrMsg_;
    TLogLevel LogLevel_ = llInfo;
    int32_t ProgressInterval_ = 500; // milliseconds
    TConvertPriority ThreadPriority_ = tpNormal;
    TAVProbe AVProbe_;
    TFFmpegList Tasks_; // after the probe: freed first
};

// The component as an application uses it: every property and event public.
class TVeloxConverter : public TCustomMediavane {
    Q_OBJECT

public:
    explicit TVeloxConverter(QObject *owner = nullptr);

    using TCustomMediavane::LogLevel;
    using TCustomMediavane::SetLogLevel;
    using TCustomMediavane::ProgressInterval;
    using TCustomMediavane::SetProgressInterval;
    using TCustomMediavane::ThreadPriority;
    using TCustomMediavane::SetThreadPriority;
    // Always "2.2a".
    static std::string Version() { return "2.2a"; }

    using TCustomMediavane::OnBeforeHook;
    using TCustomMediavane::OnCustomHook;
    using TCustomMediavane::OnLog;
    using TCustomMediavane::OnProgress;
    using TCustomMediavane::OnTerminate;
};
