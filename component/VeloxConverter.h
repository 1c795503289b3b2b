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
//
// Running the list and its events:
// - Start(0) runs one task after another on the component's thread, each started by a 100 ms
//   one-shot Qt timer: that thread (the main thread) needs a running Qt event loop.
//   Start(N > 0) runs up to N tasks at once on worker threads.
// - Events are raised on the thread that produced them. OnLog, OnProgress and OnTerminate of one
//   component are raised under its lock and never run at the same time; they should do little and
//   return fast, and must not wait for other tasks or call into the media libraries (a thread that
//   logs while it holds the libraries' own lock may be waiting for this one). OnBeforeHook and
//   OnCustomHook run without the lock, for different tasks possibly at once.
// - A handler that raises during a task's run makes that job fail with the exception's message.
//   An exception from OnTerminate is reported through OnLog (llQuiet) or, failing that, qWarning,
//   and the list goes on; one from OnLog for a library line goes to qWarning.
// - Pause and Resume hold and release the workers at the engine's next safe point.
// - A component being destroyed stops its tasks and raises no more events.
//
// An application includes this header, and "component/FFmpegList.h" where it walks the tasks
// (Tasks()) or "probe/AVProbe.h" where it uses the probe (AVProbe()). The rest of component/ is
// the component's own.
#pragma once

#include "component/ConverterTypes.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <thread>

class TAVProbe;
class TFFmpeg;
class TFFmpegList;

namespace log_routing {
class TRouter;
}

class TCustomMediavane : public QObject {
    Q_OBJECT

public:
    // Create: the owner becomes the parent, which deletes the component with itself. The component
    // joins the process-wide list of components that receive the libraries' log lines.
    explicit TCustomMediavane(QObject *owner = nullptr);
    // Destroy: leaves that list, frees the tasks (each stops its run first), then the probe.
    ~TCustomMediavane() override;

    // Design mode: the component is only being laid out, nothing is loaded or run, and it is not in
    // the list of components that receive library log lines.
    bool Designing() const;
    void SetDesigning(bool designing);

    // Free text stored with the component; no effect on behaviour.
    const std::string &About() const;
    void SetAbout(const std::string &text);
    // Text of the last failure of LoadAVLib, AddInput or AddOutput; cleared by ClearTasks only.
    const std::string &LastErrMsg() const;
    // Index of the next task to start: -1 until the list is started.
    int NextTaskIndex() const { return NextTaskIndex_; }
    // 0: one task after another on the main thread; N > 0: at most N tasks at once on workers.
    int ThreadCount() const { return ThreadCount_; }
    // Whether a task that finished carries its input's tags and cover into its output (of any
    // sound format whose row in batch/OutputFormats.h holds tags; the others are left as written)
    // before OnTerminate reports it: as TagLib reads them, else as the media libraries do. What is not kept goes to OnLog as an error line; a write that fails half way (a full
    // disk) fails the task. Read as each task ends; false: the output keeps what the engine wrote.
    bool CarryTags() const;
    void SetCarryTags(bool carry);
    // Whether outputs added from now on are written safely: AddOutput creates no file; a task's
    // output is made as its conversion starts, under a hidden temporary name beside it, and takes
    // its own name only once the task finished (with its tags). A failed or stopped task leaves
    // nothing, and a file of that name stays as it was, unless it was there when the task started
    // (the caller named it to replace it). Start first removes what a killed run left in the
    // outputs' folders. False: AddOutput opens the output, as first designed.
    bool SafeOutputs() const;
    void SetSafeOutputs(bool safe);
    // On (the default): in a threaded run, while no task waits to start, a long MP3 task is
    // encoded in segments on the workers that have nothing to do, and joined into one stream.
    bool ShareIdleWorkers() const;
    void SetShareIdleWorkers(bool share);

    // The component's own probe, for looking at a file before adding it.
    TAVProbe &AVProbe();
    const TAVProbe &AVProbe() const;
    // The tasks, in the order they were added.
    TFFmpegList &Tasks();
    const TFFmpegList &Tasks() const;

    // Loads every media library from folder APath (empty: the system's search), with versioned
    // file names or plain ones, and gives them LogLevel. Libraries loaded already are kept as they
    // are (the folder is not read); in design mode nothing happens. False with LastErrMsg.
    bool LoadAVLib(const std::string &APath, bool AVersioned);
    // The "LibAV" folder beside the running program, where a build or an install puts the
    // libraries: LoadAVLib(DefaultAVLibFolder(), true) needs no other header.
    static std::string DefaultAVLibFolder();
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

    // Runs the list: AThreadCount <= 0 one task after another on this thread (it needs a running Qt
    // event loop), N > 0 up to N at once on workers. Each task raises OnTerminate once; when every
    // task has, OnTerminate(-1, true, false, "") follows once. Tasks that have run do not run again.
    // A task that failed gives its reason as the message; one that finished, the settings its
    // engine used instead of those asked for ("144 kbit/s is not an MP3 rate at 44100 Hz; 128
    // used"), "; " between them, or "" when there were none.
    void Start(int AThreadCount);
    // Asks every running task to stop; tasks not yet started end at once (AFinished false).
    void Stop();
    // Holds every worker at its next safe point; Resume lets them go on. Nothing in main-thread mode.
    void Pause();
    void Resume();

protected:
    // Writing stores the level and, while the libraries are loaded, applies it to them.
    TLogLevel LogLevel() const;
    void SetLogLevel(TLogLevel level);
    // Milliseconds between progress reports; 100 or less stores 100.
    int ProgressInterval() const;
    void SetProgressInterval(int milliseconds);
    // Priority of the worker threads, read when a task starts.
    TConvertPriority ThreadPriority() const;
    void SetThreadPriority(TConvertPriority priority);

    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TLogEvent OnLog;
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;

    // The engines' callbacks of every task point here; each raises its event with the task's index.
    virtual void TriggerBeforeHook(TCustomFFmpeg *engine, THookAction &action, int64_t pts);
    virtual void TriggerCustomHook(TCustomFFmpeg *engine, TBitmap24 *bitmap, int frameNumber, int64_t pts, bool &update,
                                   bool &stopHook);
    virtual void TriggerLog(TCustomFFmpeg *engine, int level, const std::string &text);
    virtual void TriggerProgress(TCustomFFmpeg *engine, int frameNumber, int fps, int currentDurationMs, float quality,
                                 float bitRate, int64_t currentSizeBytes, int totalOutputDurationMs);
    virtual void TriggerTerminate(TCustomFFmpeg *engine);

    // The task's index as its events carry it: -1 for no engine.
    static int TaskIndexOf(const TCustomFFmpeg *engine);

    // Run state of the list, set when the list is started; changed under Lock, also by workers.
    std::atomic<int32_t> NextTaskIndex_{-1};
    std::atomic<int32_t> ThreadCount_{0};
    std::atomic<int32_t> FinishedCount_{0}; // tasks that reported their end
    std::atomic<int32_t> PendingCount_{0};  // tasks not yet started

private:
    friend class log_routing::TRouter;

    // The library log level for LogLevel, and the threshold read back from the libraries.
    void ApplyLibraryLogLevel();
    void SetListed(bool listed);

    // Scheduling (under Lock, except the timer and a main-thread run).
    void StartNextTask();
    void RunTask(int index);
    void TaskTimer(int index);
    void ClearLogQueue();
    // Tells the tasks' core budget how many run and whether more wait (under Lock).
    void UpdateCoreBudget();
    // Stops every task's run and waits for it, outside Lock (their terminate events take it).
    void StopAndWaitForTasks();

    // For a task that has just ended, on its thread, before its event: what CarryTags asks for,
    // then its safe output put in place or dropped.
    void CarryTaskTags(TFFmpeg &task);
    void FinishTaskOutput(TFFmpeg &task);
    // What a killed run left in the folders of the tasks' outputs, removed.
    void RemoveStaleOutputs();
    // The ended task fails after all, with message.
    void FailEndedTask(TFFmpeg &task, const std::string &message);

    // A library line from thread, for the task that runs on it (or none).
    void RouteLibraryLine(std::thread::id thread, int level, const std::string &text);
    // OnLog with the mapped level; the caller holds Lock.
    void RaiseLog(int index, int level, const std::string &text);
    // An exception no caller can take: to OnLog as a quiet line, else to qWarning.
    void ReportHandlerFailure(int index, std::exception_ptr raised);

    // Everything else the component holds: its lock, settings, probe and tasks.
    struct TState;
    const std::unique_ptr<TState> State_;
};

// The component as an application uses it: every property and event public.
class TVeloxConverter : public TCustomMediavane {
    Q_OBJECT

public:
    explicit TVeloxConverter(QObject *owner = nullptr);

    using TCustomMediavane::LogLevel;
    using TCustomMediavane::ProgressInterval;
    using TCustomMediavane::SetLogLevel;
    using TCustomMediavane::SetProgressInterval;
    using TCustomMediavane::SetThreadPriority;
    using TCustomMediavane::ThreadPriority;
    // Always "2.2a".
    static std::string Version() { return "2.2a"; }

    using TCustomMediavane::OnBeforeHook;
    using TCustomMediavane::OnCustomHook;
    using TCustomMediavane::OnLog;
    using TCustomMediavane::OnProgress;
    using TCustomMediavane::OnTerminate;
};
