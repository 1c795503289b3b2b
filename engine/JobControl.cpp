// Running a job: start, execute, stop, pause and the terminate notification.
#include "engine/FFmpeg.h"

TFFmpegThread *TCustomFFmpeg::Start(bool threaded, TThreadPriority priority)
{
    // A cancelled job that never started gets its end from the terminate thread: no run.
    if (Running || Terminated || TerminateThread)
        return nullptr;
    if (OutputFileCount <= 0) {
        FailStart("Must supply at least one output file");
        return nullptr;
    }
    if (InputFileCount == 0) {
        FailStart("Must supply at least one input file");
        return nullptr;
    }
    Running = 1;
    StopRequested = 0;
    Finished = 0;
    Terminated = 0;
    PauseGate.Open();
    if (!threaded) {
        Execute();
        return nullptr;
    }
    WorkerThread = std::make_unique<TFFmpegThread>(this, priority);
    SetWorker(WorkerThread.get());
    return WorkerThread.get();
}

void TCustomFFmpeg::FailStart(const std::string &message)
{
    ReleaseJob();
    RecordFailure(message);
    DoTerminate();
}

void TCustomFFmpeg::RecordFailure(const std::string &message)
{
    ErrorOccurred = 1;
    ErrorMessage = message;
    // A log handler that raises must not keep the job from its end.
    try {
        Log(-1, message);
    } catch (...) {
    }
}

void TCustomFFmpeg::Execute()
{
    Finished = 0;
    try {
        Transcode();
    } catch (const std::exception &e) {
        RecordFailure(e.what());
    } catch (...) {
        RecordFailure("Unknown error");
    }
    CloseOpenEncoders();
    CloseOpenDecoders();
    ReleaseJob();
    DoTerminate(); // last: its handler may free this engine
}

void TCustomFFmpeg::RequestStop()
{
    StopRequested = 1;
    ResumeWorkerIfSuspended();
}

void TCustomFFmpeg::CancelJob()
{
    if (Running) {
        RequestStop();
        return;
    }
    // One notification only, however often a job that never started is cancelled.
    if (!Terminated && !TerminateThread) {
        TerminateThread = std::make_unique<TDoTerminateThread>(this);
        TerminateThread->Resume();
    }
}

void TCustomFFmpeg::Pause()
{
    std::lock_guard<std::mutex> lock(WorkerLock);
    // A worker not yet resumed is suspended already; a stopping run is never held.
    if (WorkerRef && WorkerRef->Started() && !StopRequested)
        PauseGate.Close();
}

void TCustomFFmpeg::ResumeRun() { ResumeWorkerIfSuspended(); }

void TCustomFFmpeg::ResumeWorkerIfSuspended()
{
    {
        std::lock_guard<std::mutex> lock(WorkerLock);
        if (WorkerRef && !WorkerRef->Started())
            WorkerRef->Resume();
    }
    PauseGate.Open();
}

void TCustomFFmpeg::DoTerminate()
{
    // Terminated first: a CancelJob in between sees a job that is still running, not one to end.
    Terminated = 1;
    Running = 0;
    SetWorker(nullptr);
    // A copy: the handler may free this engine, and with it the callback itself.
    if (TTerminateCallback callback = TerminateCallback)
        callback(this);
}

TFFmpegThread *TCustomFFmpeg::Worker() const
{
    std::lock_guard<std::mutex> lock(WorkerLock);
    return WorkerRef;
}

void TCustomFFmpeg::SetWorker(TFFmpegThread *worker)
{
    std::lock_guard<std::mutex> lock(WorkerLock);
    WorkerRef = worker;
}
