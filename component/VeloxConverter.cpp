#include "VeloxConverter.h"

#include "AVEntryPoints.h"
#include "AVLibLoader.h"
#include "LibraryLog.h"
#include "OptionTranslation.h"

#include <memory>
#include <stdexcept>

namespace {

// The engine needs every library; calling into one that is not there would crash.
void CheckLibrariesLoaded()
{
    if (!avlib::AllLoaded())
        throw std::runtime_error("The media libraries are not loaded");
}

std::string TaskText(int index) { return "task " + std::to_string(index); }

} // namespace

TCustomMediavane::TCustomMediavane(QObject *owner) : QObject(owner) {}

TCustomMediavane::~TCustomMediavane() = default;

void TCustomMediavane::SetLogLevel(TLogLevel level)
{
    LogLevel_ = level;
    if (avlib::AllLoaded())
        ApplyLibraryLogLevel();
}

void TCustomMediavane::ApplyLibraryLogLevel()
{
    avlib::avutil.av_log_set_level(avlib::LibraryLogLevel(LogLevel_ - 1));
    avlib::SetLogThreshold(avlib::avutil.av_log_get_level());
}

void TCustomMediavane::SetProgressInterval(int milliseconds)
{
    ProgressInterval_ = milliseconds <= 100 ? 100 : milliseconds;
}

bool TCustomMediavane::LoadAVLib(const std::string &APath, bool AVersioned)
{
    if (Designing_)
        return true;
    if (!avlib::LoadAll(APath, AVersioned)) {
        LastErrMsg_ = avlib::LastErrorText();
        return false;
    }
    // Not built yet: the process-wide library log route (av_log_set_callback) that hands library
    // lines to the tasks belongs here, before the level.
    ApplyLibraryLogLevel();
    return true;
}

void TCustomMediavane::UnloadAVLib() { avlib::UnloadAll(); }

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
        task->SetVerbose(LogLevel_ - 1);
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
            LastErrMsg_ = task->LastErrorText;
            return -1;
        }
        task->Probe.AttachContext(task->InputFiles[task->InputFileCount - 1].get());
        task->ProgressCallback = [this](TCustomFFmpeg *engine, int frameNumber, int fps, int currentDurationMs,
                                        float quality, float bitRate, int64_t currentSizeBytes,
                                        int totalOutputDurationMs) {
            TriggerProgress(engine, frameNumber, fps, currentDurationMs, quality, bitRate, currentSizeBytes,
                            totalOutputDurationMs);
        };
        task->TerminateCallback = [this](TCustomFFmpeg *engine) { TriggerTerminate(engine); };
        return Tasks_.Add(std::move(task));
    } catch (const std::exception &e) {
        LastErrMsg_ = e.what();
    } catch (...) {
        LastErrMsg_ = "Unknown error";
    }
    return -1;
}

bool TCustomMediavane::AddOutput(int AIndex, const std::string &AFileName, POutputOptions AOptions)
{
    TFFmpeg &task = Tasks_.Items(AIndex);
    // A task converts one input into one output, once: a second output or a finished job
    // would have its settings mixed with the first.
    if (task.Running) {
        LastErrMsg_ = TaskText(AIndex) + " is running";
        return false;
    }
    if (task.Terminated) {
        LastErrMsg_ = TaskText(AIndex) + " has already run";
        return false;
    }
    if (task.OutputFileCount > 0) {
        LastErrMsg_ = TaskText(AIndex) + " already has its output";
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
        if (!task.AddOutputFile(AFileName)) {
            LastErrMsg_ = task.LastErrorText;
            return false;
        }
        return true;
    } catch (const std::exception &e) {
        LastErrMsg_ = e.what();
    } catch (...) {
        LastErrMsg_ = "Unknown error";
    }
    return false;
}

void TCustomMediavane::RemoveTask(int AIndex) { Tasks_.Delete(AIndex); }

void TCustomMediavane::ClearTasks()
{
    Tasks_.Clear();
    LastErrMsg_.clear();
    ThreadCount_ = 0;
}

void TCustomMediavane::InitInputOptions(TInputOptions &AOptions) { option_translation::InitInputOptions(AOptions); }

void TCustomMediavane::InitOutputOptions(TOutputOptions &AOptions)
{
    option_translation::InitOutputOptions(AOptions);
}

int TCustomMediavane::TaskIndexOf(const TCustomFFmpeg *engine)
{
    // Every engine wired to these triggers is one of this component's tasks.
    return engine ? static_cast<const TFFmpeg *>(engine)->TaskIndex : -1;
}

void TCustomMediavane::TriggerBeforeHook(TCustomFFmpeg *engine, THookAction &action, int64_t pts)
{
    if (OnBeforeHook)
        OnBeforeHook(TaskIndexOf(engine), pts, action);
}

void TCustomMediavane::TriggerCustomHook(TCustomFFmpeg *engine, TBitmap24 *bitmap, int frameNumber, int64_t pts,
                                         bool &update, bool &stopHook)
{
    if (OnCustomHook)
        OnCustomHook(TaskIndexOf(engine), bitmap, frameNumber, pts, update, stopHook);
}

void TCustomMediavane::TriggerLog(TCustomFFmpeg *engine, int level, const std::string &text)
{
    if (!OnLog)
        return;
    // Engine levels -1 (quiet) to 3 (all); anything above counts as all.
    const TLogLevel mapped = level < 0 ? llQuiet : level >= 4 ? llAll : static_cast<TLogLevel>(level + 1);
    OnLog(TaskIndexOf(engine), mapped, text);
}

void TCustomMediavane::TriggerProgress(TCustomFFmpeg *engine, int frameNumber, int fps, int currentDurationMs,
                                       float quality, float bitRate, int64_t currentSizeBytes,
                                       int totalOutputDurationMs)
{
    if (OnProgress)
        OnProgress(TaskIndexOf(engine), frameNumber, fps, currentDurationMs, quality, bitRate, currentSizeBytes,
                   totalOutputDurationMs);
}

void TCustomMediavane::TriggerTerminate(TCustomFFmpeg *engine)
{
    if (!OnTerminate)
        return;
    // Copies: the handler may free the task.
    const int index = TaskIndexOf(engine);
    const bool finished = engine->Finished != 0;
    const bool exception = engine->ErrorOccurred != 0;
    const std::string message = engine->ErrorMessage;
    OnTerminate(index, finished, exception, message);
}

TVeloxConverter::TVeloxConverter(QObject *owner) : TCustomMediavane(owner) {}
