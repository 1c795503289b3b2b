#include "component/VeloxConverter.h"

#include "batch/SafeOutput.h"
#include "batch/TagCarry.h"

#include "component/FFmpegList.h"
#include "component/LogRouting.h"
#include "component/OptionTranslation.h"
#include "libs/AVEntryPoints.h"
#include "libs/AVLibLoader.h"
#include "libs/LibraryLog.h"
#include "probe/AVProbe.h"

#include <QTimer>
#include <QtGlobal>

#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace {

// The engine needs every library; calling into one that is not there would crash.
void CheckLibrariesLoaded()
{
    if (!avlib::AllLoaded())
        throw std::runtime_error("The media libraries are not loaded");
}

std::string TaskText(int index) { return "task " + std::to_string(index); }

using LockHold = std::lock_guard<log_routing::TComponentLock>;

constexpr int kStartDelayMs = 100;

} // namespace

struct TCustomMediavane::TState {
    log_routing::TComponentLock Lock; // serialises events and the stop, pause and resume walks
    bool Designing = false;
    bool Listed = false; // in the process-wide instance list
    std::atomic<bool> Destroying{false};
    std::atomic<bool> CarryTags{false};
    std::atomic<bool> SafeOutputs{false};
    std::atomic<bool> ShareIdleWorkers{true};
    std::shared_ptr<TCoreBudget> Cores = std::make_shared<TCoreBudget>();
    bool FinalDue = false; // a Start's final event has yet to come; tasks run alone raise none
    std::string About;
    std::string LastErrMsg;
    std::atomic<TLogLevel> LogLevel{llInfo};
    std::atomic<int32_t> ProgressInterval{500}; // milliseconds
    std::atomic<TConvertPriority> ThreadPriority{tpNormal};
    TAVProbe AVProbe;
    TFFmpegList Tasks; // after the probe: freed first; changed under Lock
};

TCustomMediavane::TCustomMediavane(QObject *owner) : QObject(owner), State_(std::make_unique<TState>())
{
    SetListed(true);
}

TCustomMediavane::~TCustomMediavane()
{
    SetListed(false);
    {
        LockHold hold(State_->Lock);
        State_->Destroying = true;
        PendingCount_ = 0;
    }
    StopAndWaitForTasks();
    std::vector<std::unique_ptr<TFFmpeg>> tasks;
    {
        LockHold hold(State_->Lock);
        tasks = State_->Tasks.TakeAll();
    }
}

bool TCustomMediavane::Designing() const { return State_->Designing; }
const std::string &TCustomMediavane::About() const { return State_->About; }
void TCustomMediavane::SetAbout(const std::string &text) { State_->About = text; }
const std::string &TCustomMediavane::LastErrMsg() const { return State_->LastErrMsg; }
bool TCustomMediavane::CarryTags() const { return State_->CarryTags; }
void TCustomMediavane::SetCarryTags(bool carry) { State_->CarryTags = carry; }
bool TCustomMediavane::SafeOutputs() const { return State_->SafeOutputs; }
void TCustomMediavane::SetSafeOutputs(bool safe) { State_->SafeOutputs = safe; }
bool TCustomMediavane::ShareIdleWorkers() const { return State_->ShareIdleWorkers; }
void TCustomMediavane::SetShareIdleWorkers(bool share) { State_->ShareIdleWorkers = share; }

void TCustomMediavane::UpdateCoreBudget()
{
    const int running = std::max(0, NextTaskIndex_ - FinishedCount_);
    State_->Cores->Set(std::max<int>(ThreadCount_, 1), running, PendingCount_ > 0);
}
TAVProbe &TCustomMediavane::AVProbe() { return State_->AVProbe; }
const TAVProbe &TCustomMediavane::AVProbe() const { return State_->AVProbe; }
TFFmpegList &TCustomMediavane::Tasks() { return State_->Tasks; }
const TFFmpegList &TCustomMediavane::Tasks() const { return State_->Tasks; }
TLogLevel TCustomMediavane::LogLevel() const { return State_->LogLevel; }
int TCustomMediavane::ProgressInterval() const { return State_->ProgressInterval; }
TConvertPriority TCustomMediavane::ThreadPriority() const { return State_->ThreadPriority; }
void TCustomMediavane::SetThreadPriority(TConvertPriority priority) { State_->ThreadPriority = priority; }

void TCustomMediavane::SetDesigning(bool designing)
{
    State_->Designing = designing;
    SetListed(!designing);
}

void TCustomMediavane::SetListed(bool listed)
{
    if (listed == State_->Listed)
        return;
    if (listed)
        log_routing::AddInstance(this);
    else
        log_routing::RemoveInstance(this);
    State_->Listed = listed;
}

void TCustomMediavane::StopAndWaitForTasks()
{
    for (int i = 0; i < State_->Tasks.Count(); ++i)
        State_->Tasks.Items(i).StopAndWait();
}

void TCustomMediavane::SetLogLevel(TLogLevel level)
{
    State_->LogLevel = level;
    if (avlib::AllLoaded())
        ApplyLibraryLogLevel();
}

void TCustomMediavane::ApplyLibraryLogLevel()
{
    avlib::avutil.av_log_set_level(avlib::LibraryLogLevel(State_->LogLevel.load() - 1));
    avlib::SetLogThreshold(avlib::avutil.av_log_get_level());
}

void TCustomMediavane::SetProgressInterval(int milliseconds)
{
    State_->ProgressInterval = milliseconds <= 100 ? 100 : milliseconds;
}

bool TCustomMediavane::LoadAVLib(const std::string &APath, bool AVersioned)
{
    if (State_->Designing)
        return true;
    if (!avlib::LoadAll(APath, AVersioned)) {
        State_->LastErrMsg = avlib::LastErrorText();
        return false;
    }
    avlib::avutil.av_log_set_callback(log_routing::LibraryLogCallback);
    ApplyLibraryLogLevel();
    return true;
}

void TCustomMediavane::UnloadAVLib() { avlib::UnloadAll(); }

std::string TCustomMediavane::DefaultAVLibFolder() { return avlib::DefaultLibraryDir(); }

int TCustomMediavane::AddInput(const std::string &AFileName, PInputOptions AOptions)
{
    auto task = std::make_unique<TFFmpeg>();
    // Messages written while the input opens already reach OnLog.
    task->LogCallback = [this](TCustomFFmpeg *engine, int level, const std::string &text) {
        TriggerLog(engine, level, text);
    };
    try {
        CheckLibrariesLoaded();
        task->InitializeJob();
        task->SetVerbose(State_->LogLevel.load() - 1);
        if (AOptions) {
            if (AOptions->FileName.empty())
                AOptions->FileName = AFileName;
            task->InputOptions = *AOptions;
            option_translation::ApplyInputOptions(*task, task->InputOptions);
        } else {
            option_translation::InitInputOptions(task->InputOptions);
        }
        if (!task->AddInputFile(AFileName)) {
            task->LogCallback = nullptr;
            State_->LastErrMsg = task->LastErrorText;
            return -1;
        }
        task->Probe.AttachContext(task->InputFiles[task->InputFileCount - 1].get());
        task->InputName = AFileName;
        task->ProgressCallback = [this](TCustomFFmpeg *engine, int frameNumber, int fps, int currentDurationMs,
                                        float quality, float bitRate, int64_t currentSizeBytes,
                                        int totalOutputDurationMs) {
            TriggerProgress(engine, frameNumber, fps, currentDurationMs, quality, bitRate, currentSizeBytes,
                            totalOutputDurationMs);
        };
        task->TerminateCallback = [this](TCustomFFmpeg *engine) {
            // Taken first: the handler may free the task. What it raises would end a worker
            // silently or reach the event loop, so it is reported here.
            int index = -1;
            {
                LockHold hold(State_->Lock);
                index = TaskIndexOf(engine);
            }
            try {
                auto &ended = static_cast<TFFmpeg &>(*engine); // every engine of the list is one
                CarryTaskTags(ended);
                FinishTaskOutput(ended);
                TriggerTerminate(engine);
            } catch (...) {
                ReportHandlerFailure(index, std::current_exception());
            }
        };
        LockHold hold(State_->Lock);
        return State_->Tasks.Add(std::move(task));
    } catch (const std::exception &e) {
        State_->LastErrMsg = e.what();
    } catch (...) {
        State_->LastErrMsg = "Unknown error";
    }
    return -1;
}

bool TCustomMediavane::AddOutput(int AIndex, const std::string &AFileName, POutputOptions AOptions)
{
    TFFmpeg &task = State_->Tasks.Items(AIndex);
    // A task converts one input into one output, once: a second output or a finished job
    // would have its settings mixed with the first.
    if (task.Running) {
        State_->LastErrMsg = TaskText(AIndex) + " is running";
        return false;
    }
    if (task.Terminated) {
        State_->LastErrMsg = TaskText(AIndex) + " has already run";
        return false;
    }
    if (task.OutputFileCount > 0) {
        State_->LastErrMsg = TaskText(AIndex) + " already has its output";
        return false;
    }
    try {
        CheckLibrariesLoaded();
        if (AOptions) {
            if (AOptions->FileName.empty())
                AOptions->FileName = AFileName;
            task.OutputOptions = *AOptions;
            option_translation::THookWiring hooks;
            hooks.BeforeHook = [this](TCustomFFmpeg *engine, THookAction &action, int64_t pts) {
                TriggerBeforeHook(engine, action, pts);
            };
            hooks.CustomHook = [this](TCustomFFmpeg *engine, TBitmap24 *bitmap, int frameNumber, int64_t pts,
                                      bool &update, bool &stopHook) {
                TriggerCustomHook(engine, bitmap, frameNumber, pts, update, stopHook);
            };
            option_translation::ApplyOutputOptions(task, task.OutputOptions, hooks);
        } else {
            option_translation::InitOutputOptions(task.OutputOptions);
        }
        task.OutputOpening = nullptr;
        if (State_->SafeOutputs) {
            TFFmpeg *writer = &task;
            task.OutputOpening = [writer](int fileIndex, const std::string &name) {
                writer->Output = std::make_unique<batch::SafeOutput>(name, writer->OutputFiles[fileIndex]->oformat);
                return writer->Output->EngineName();
            };
        }
        if (!task.AddOutputFile(AFileName)) {
            State_->LastErrMsg = task.LastErrorText;
            return false;
        }
        task.OutputName = AFileName;
        return true;
    } catch (const std::exception &e) {
        State_->LastErrMsg = e.what();
    } catch (...) {
        State_->LastErrMsg = "Unknown error";
    }
    return false;
}

void TCustomMediavane::RemoveTask(int AIndex)
{
    // The run ends before the task leaves the list, outside State_->Lock, which its terminate event takes.
    State_->Tasks.Items(AIndex).StopAndWait();
    std::unique_ptr<TFFmpeg> task;
    {
        LockHold hold(State_->Lock);
        task = State_->Tasks.Take(AIndex);
    }
}

void TCustomMediavane::ClearTasks()
{
    {
        LockHold hold(State_->Lock);
        PendingCount_ = 0; // no task starts while the list goes
    }
    StopAndWaitForTasks();
    std::vector<std::unique_ptr<TFFmpeg>> tasks;
    {
        LockHold hold(State_->Lock);
        tasks = State_->Tasks.TakeAll();
    }
    State_->LastErrMsg.clear();
    ThreadCount_ = 0;
}

void TCustomMediavane::InitInputOptions(TInputOptions &AOptions) { option_translation::InitInputOptions(AOptions); }

void TCustomMediavane::InitOutputOptions(TOutputOptions &AOptions) { option_translation::InitOutputOptions(AOptions); }

int TCustomMediavane::TaskIndexOf(const TCustomFFmpeg *engine)
{
    // Every engine wired to these triggers is one of this component's tasks.
    return engine ? static_cast<const TFFmpeg *>(engine)->TaskIndex : -1;
}

void TCustomMediavane::RemoveStaleOutputs()
{
    std::vector<std::string> outputs, inputs;
    for (int i = 0; i < State_->Tasks.Count(); ++i) {
        const TFFmpeg &task = State_->Tasks.Items(i);
        if (const std::string output = batch::LocalFileOf(task.OutputName); !output.empty())
            outputs.push_back(output);
        if (const std::string input = batch::LocalFileOf(task.InputName); !input.empty())
            inputs.push_back(input);
    }
    for (const std::string &note : batch::SafeOutput::RemoveStaleTemporaries(outputs, inputs).notes)
        TriggerLog(nullptr, 0, note);
}

void TCustomMediavane::Start(int AThreadCount)
{
    if (State_->SafeOutputs)
        RemoveStaleOutputs(); // outside State_->Lock: it reads folders
    // Under State_->Lock: a worker that ends at once starts the next task from its own thread, and that
    // must not meet this loop half-way.
    LockHold hold(State_->Lock);
    ClearLogQueue();
    NextTaskIndex_ = 0;
    FinishedCount_ = 0;
    ThreadCount_ = AThreadCount;
    PendingCount_ = State_->Tasks.Count();
    State_->FinalDue = PendingCount_ > 0;
    int n = ThreadCount_;
    while (PendingCount_ > 0) {
        StartNextTask();
        if (--n <= 0)
            break;
    }
    UpdateCoreBudget();
}

void TCustomMediavane::StartNextTask()
{
    if (PendingCount_ <= 0)
        return;
    --PendingCount_;
    // Counted on before the task runs: one that ends at once starts the next from in here.
    const int index = NextTaskIndex_++;
    UpdateCoreBudget();
    if (ThreadCount_ <= 0)
        QTimer::singleShot(kStartDelayMs, this, [this, index] { TaskTimer(index); });
    else
        RunTask(index);
}

void TCustomMediavane::TaskTimer(int index)
{
    // Nothing may travel into the event loop.
    try {
        RunTask(index);
    } catch (...) {
        ReportHandlerFailure(-1, std::current_exception());
    }
}

void TCustomMediavane::RunTask(int index)
{
    TFFmpeg *task = nullptr;
    {
        LockHold hold(State_->Lock);
        task = &State_->Tasks.Items(index);
        task->ProgressInterval = static_cast<int64_t>(State_->ProgressInterval.load()) * 1000;
        task->SetVerbose(State_->LogLevel.load() - 1);
        task->Cores = ThreadCount_ > 0 && State_->ShareIdleWorkers ? State_->Cores : nullptr;
        if (ThreadCount_ > 0) {
            TFFmpegThread *worker = task->Start(true, State_->ThreadPriority.load());
            if (!worker) {
                task->ThreadID = std::thread::id();
                return;
            }
            // Both under State_->Lock: the worker's library lines wait until its task can be found by its thread.
            worker->Resume();
            task->ThreadID = worker->ThreadID();
            return;
        }
        task->ThreadID = std::this_thread::get_id();
    }
    // The whole job runs here, outside State_->Lock, so that lines of other threads and Stop get through.
    task->Start(false, State_->ThreadPriority.load());
}

void TCustomMediavane::Stop()
{
    LockHold hold(State_->Lock);
    PendingCount_ = 0;
    UpdateCoreBudget();
    // A running job stops at its next safe point (a paused one is let through); one that never
    // started gets its end from a terminate thread, which waits for State_->Lock until this walk is over.
    for (int i = 0; i < State_->Tasks.Count(); ++i)
        State_->Tasks.Items(i).CancelJob();
}

void TCustomMediavane::Pause()
{
    LockHold hold(State_->Lock);
    if (ThreadCount_ <= 0)
        return; // the main thread is never held: it runs the job and the event loop
    for (int i = 0; i < State_->Tasks.Count(); ++i)
        State_->Tasks.Items(i).Pause();
}

void TCustomMediavane::Resume()
{
    LockHold hold(State_->Lock);
    if (ThreadCount_ <= 0)
        return;
    for (int i = 0; i < State_->Tasks.Count(); ++i)
        State_->Tasks.Items(i).ResumeRun();
}

void TCustomMediavane::ClearLogQueue() { log_routing::ClearLogQueue(); }

void TCustomMediavane::RouteLibraryLine(std::thread::id thread, int level, const std::string &text)
{
    LockHold hold(State_->Lock);
    TriggerLog(State_->Tasks.FindByThread(thread), level, text);
}

void TCustomMediavane::TriggerBeforeHook(TCustomFFmpeg *engine, THookAction &action, int64_t pts)
{
    if (OnBeforeHook && !State_->Destroying)
        OnBeforeHook(TaskIndexOf(engine), pts, action);
}

void TCustomMediavane::TriggerCustomHook(TCustomFFmpeg *engine, TBitmap24 *bitmap, int frameNumber, int64_t pts,
                                         bool &update, bool &stopHook)
{
    if (OnCustomHook && !State_->Destroying)
        OnCustomHook(TaskIndexOf(engine), bitmap, frameNumber, pts, update, stopHook);
}

void TCustomMediavane::TriggerLog(TCustomFFmpeg *engine, int level, const std::string &text)
{
    if (!OnLog || State_->Destroying)
        return;
    LockHold hold(State_->Lock);
    RaiseLog(TaskIndexOf(engine), level, text);
}

void TCustomMediavane::RaiseLog(int index, int level, const std::string &text)
{
    // Engine levels -1 (quiet) to 3 (all); anything above counts as all.
    const TLogLevel mapped = level < 0 ? llQuiet : level >= 4 ? llAll : static_cast<TLogLevel>(level + 1);
    OnLog(index, mapped, text);
}

void TCustomMediavane::ReportHandlerFailure(int index, std::exception_ptr raised)
{
    const std::string text = "Event handler failed: " + log_routing::ExceptionText(raised);
    try {
        if (OnLog && !State_->Destroying) {
            LockHold hold(State_->Lock);
            RaiseLog(index, -1, text);
            return;
        }
    } catch (...) {
        qWarning("%s; then the log event handler failed: %s", text.c_str(),
                 log_routing::ExceptionText(std::current_exception()).c_str());
        return;
    }
    qWarning("%s", text.c_str());
}

void TCustomMediavane::TriggerProgress(TCustomFFmpeg *engine, int frameNumber, int fps, int currentDurationMs,
                                       float quality, float bitRate, int64_t currentSizeBytes,
                                       int totalOutputDurationMs)
{
    if (!OnProgress || State_->Destroying)
        return;
    LockHold hold(State_->Lock);
    OnProgress(TaskIndexOf(engine), frameNumber, fps, currentDurationMs, quality, bitRate, currentSizeBytes,
               totalOutputDurationMs);
}

namespace {

// One carry at a time in the process: TagLib is reentrant, not promised safe across threads, and
// a carry is short next to a conversion.
bool CarryTagsAlone(const std::string &input, const std::string &output, std::string &note, std::string &error)
{
    static std::mutex carrying;
    std::lock_guard<std::mutex> hold(carrying);
    return batch::CarryTags(input, output, {}, note, error);
}

// What OnTerminate tells of a task: why it failed, else the settings it used instead of those asked.
std::string EndMessage(const TCustomFFmpeg &engine)
{
    if (!engine.Finished || engine.ErrorOccurred)
        return engine.ErrorMessage;
    std::string notes;
    for (const std::string &note : engine.SettingNotes)
        notes += (notes.empty() ? "" : "; ") + note;
    return notes;
}

} // namespace

void TCustomMediavane::CarryTaskTags(TFFmpeg &task)
{
    if (!State_->CarryTags || !task.Finished || task.ErrorOccurred)
        return;
    const bool temporary = task.Output && !task.Output->Direct();
    const std::string input = batch::LocalFileOf(task.InputName);
    const std::string output = temporary ? task.Output->TemporaryPath() : batch::LocalFileOf(task.OutputName);
    std::string note, error;
    if (input.empty() || output.empty())
        note = " (tags not kept: " + (input.empty() ? task.InputName : task.OutputName) + " is not a local file)";
    else if (!CarryTagsAlone(input, output, note, error))
        FailEndedTask(task, temporary ? task.Output->ShowingOutputName(error) : error);
    if (!note.empty())
        TriggerLog(&task, 0, (input.empty() ? task.InputName : input) + note);
}

void TCustomMediavane::FinishTaskOutput(TFFmpeg &task)
{
    // Taken from the task first: a task that did not finish drops its temporary file with it.
    const std::unique_ptr<batch::SafeOutput> output = std::move(task.Output);
    std::string error;
    if (output && task.Finished && !task.ErrorOccurred && !output->Commit(error, output->NameTaken()))
        FailEndedTask(task, error);
}

void TCustomMediavane::FailEndedTask(TFFmpeg &task, const std::string &message)
{
    task.Finished = 0;
    task.ErrorOccurred = 1;
    task.ErrorMessage = message;
    TriggerLog(&task, -1, message);
}

void TCustomMediavane::TriggerTerminate(TCustomFFmpeg *engine)
{
    // A raising handler must not stall the list: the counting and the next start go on, and the
    // exception travels on afterwards.
    std::exception_ptr raised, finalRaised;
    int index = -1;
    {
        LockHold hold(State_->Lock);
        index = TaskIndexOf(engine);
        if (OnTerminate && !State_->Destroying) {
            // Copies: the handler may free the task.
            const bool finished = engine->Finished != 0;
            const bool exception = engine->ErrorOccurred != 0;
            const std::string message = EndMessage(*engine);
            try {
                OnTerminate(index, finished, exception, message);
            } catch (...) {
                raised = std::current_exception();
            }
        }
        ++FinishedCount_;
        UpdateCoreBudget();
        if (PendingCount_ > 0) {
            StartNextTask();
        } else if (State_->FinalDue && FinishedCount_ >= State_->Tasks.Count()) {
            State_->FinalDue = false;
            if (OnTerminate && !State_->Destroying) {
                try {
                    OnTerminate(-1, true, false, std::string());
                } catch (...) {
                    finalRaised = std::current_exception();
                }
            }
            ClearLogQueue();
        }
    }
    // Only one exception can travel on: a second one is reported here.
    if (raised && finalRaised)
        ReportHandlerFailure(index, finalRaised);
    else if (finalRaised)
        raised = finalRaised;
    if (raised)
        std::rethrow_exception(raised);
}

TVeloxConverter::TVeloxConverter(QObject *owner) : TCustomMediavane(owner) {}
