// Running a job: start, execute, stop, pause and the terminate notification.
#include "FFmpeg.h"

TFFmpegThread *TCustomFFmpeg::Start(bool threaded, TThreadPriority priority)
{
    if (Running || Terminated)
        return nullptr;
    if (OutputFileCount <= 0) {
        FailStart("Must supply at least one output file");
        return nullptr;
    }
    if (InputFileCount == 0) {
        FailStart("Must supply at least one input file");
        return nullptr;
    }
    // A thread of an earlier run of this engine has ended its job: reap it before the next.
    if (WorkerThread)
        WorkerThread->WaitFor();
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
    Log(-1, message);
    ErrorOccurred = 1;
    ErrorMessage = message;
    DoTerminate();
}

void TCustomFFmpeg::Execute()
{
    Finished = 0;
    try {
        Transcode();
    } catch (const std::exception &e) {
        Log(-1, e.what());
        ErrorOccurred = 1;
        ErrorMessage = e.what();
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
    Running = 0;
    Terminated = 1;
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
