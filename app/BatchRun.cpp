// The batch's runs: start, pause, resume and stop, the converter's events and the run's end.
#include "app/BatchControl.h"

#include "app/EventRelay.h"
#include "app/OptionBuilder.h"
#include "app/OutputFolder.h"

#include "batch/OutputFormats.h"
#include "component/FFmpegList.h"
#include "component/VeloxConverter.h"
#include "probe/AVProbe.h"

#include <QThread>

#include <algorithm>
#include <mutex>

namespace {

// What the converter leaves out of outputs whose format has no place for tags, once for each such
// format among them.
QStringList TagsNotKeptLines(const QStringList &outputs)
{
    QStringList formats;
    for (const QString &output : outputs) {
        const batch::OutputFormat *format = batch::OutputFormatOfFile(output.toStdString());
        if (format && !format->HoldsTags() && !formats.contains(QString::fromUtf8(format->displayName)))
            formats << QString::fromUtf8(format->displayName);
    }
    QStringList lines;
    for (const QString &format : formats)
        lines << QStringLiteral("tags are not kept in %1 files").arg(format);
    return lines;
}

} // namespace

void TBatchControl::SetRowState(int row, TRowState state, const QString &reason)
{
    if (row < 0 || row >= RowStates_.size())
        return;
    if (RowStates_[row].state == state && RowStates_[row].reason == reason)
        return; // every progress report says "converting" again
    RowStates_[row].state = state;
    RowStates_[row].reason = reason;
    emit RowStateChanged(row, state, reason);
}

bool TBatchControl::PrepareRow(int row, const TOptionSettings &windowSettings, QStringList &names)
{
    const QString input = InputOfRow(row);
    const TOptionSettings &settings = HasOwnSettings(row) ? *RowStates_[row].own : windowSettings;
    RowStates_[row].runMs = RowStates_[row].durationMs;
    TAVProbe &probe = VeloxC->AVProbe();
    QString error;
    if (!probe.LoadFile(input.toStdString())) {
        error = QString::fromStdString(probe.LastErrMsg);
    } else {
        const TProbeFacts facts = ProbeFactsOf(&probe, probe.FirstVideo);
        TOutputOptions output = OutputOptionsOf(settings, facts, [&names](const std::string &name) {
            return names.contains(QString::fromStdString(name));
        });
        TInputOptions options = InputOptionsOf(settings, facts);
        probe.Close();
        if (output.RecordingTime > 0 && output.RecordingTime < RowStates_[row].runMs)
            RowStates_[row].runMs = output.RecordingTime;
        if (CreateTask(options, output, error) >= 0) {
            names.append(QString::fromStdString(output.FileName));
            SetOutputName(row, names.last());
            TaskRow_.append(row);
            SetRowState(row, rsWaiting);
            return true;
        }
    }
    probe.Close();
    SetRowState(row, rsFailed, error);
    const QString result = RowResultText(rsFailed, error, QString());
    Log(input + QStringLiteral(": ") + result, input, result);
    return false;
}

void TBatchControl::Start()
{
    if (RunActive_ || !Runnable())
        return;
    const TBatchChoices choices = CurrentChoices();
    QString error;
    if (!PrepareOutputFolder(choices.OutputFolder, error)) {
        emit Warning(error);
        return;
    }
    if (!LoadLibraries(choices, &error)) {
        emit Warning(error);
        return;
    }
    HookPainter.Reset();
    TagNotes_.clear();
    Paused_ = Stopping_ = false;
    RunStart_ = std::chrono::steady_clock::now();
    PausedFor_ = {};
    // Converted rows stay as they are; every other row is converted now.
    for (int row = 0; row < RowCount(); ++row) {
        RowStates_[row].inRun = RowState(row) != rsDone;
        RowStates_[row].doneMs = 0;
        if (RowStates_[row].inRun)
            SetRowState(row, rsWaiting);
    }
    if (!StartPass(choices))
        // Nothing to run: the rows say why, and the list stays as it is to be put right.
        emit Warning(FailureListText(QStringLiteral("Nothing could be converted:"), RunFailureLines()));
}

bool TBatchControl::StartPass(const TBatchChoices &choices)
{
    // Tasks made as files were added, or those of the pass that ended, are made again from the
    // settings of now.
    VeloxC->ClearTasks();
    ++Run_; // events of the tasks just cleared change no row of the new list
    TaskRow_.clear();
    {
        std::lock_guard<std::mutex> hold(ClaimLock_);
        Claimed_ = -1;
        Dropped_.clear();
    }
    ApplyLogLevel(choices);
    const TOptionSettings settings = CurrentTaskSettings();
    QStringList names; // of the outputs of this pass, which no later row may take
    for (int row = 0; row < RowCount(); ++row)
        if (RowState(row) == rsWaiting)
            PrepareRow(row, settings, names);
    CountRunRows();
    if (TaskRow_.isEmpty())
        return false;
    if (VeloxC->CarryTags())
        for (const QString &line : TagsNotKeptLines(names))
            if (!TagNotes_.contains(line)) {
                TagNotes_ << line;
                Log(line);
            }
    RunTasks(choices);
    return true;
}

void TBatchControl::CountRunRows()
{
    // By the rows' own ids: rows before them may go during the run.
    Totals_.Clear();
    for (const TRowStatus &row : RowStates_) {
        if (!row.inRun)
            continue;
        Totals_.Add(row.id, row.runMs);
        if (row.state == rsDone || row.state == rsFailed || row.state == rsStopped)
            Totals_.Finish(row.id, row.state != rsDone);
        else if (row.doneMs > 0)
            Totals_.Advance(row.id, row.doneMs);
    }
}

double TBatchControl::RunSeconds() const
{
    const auto now = std::chrono::steady_clock::now();
    const auto paused = PausedFor_ + (Paused_ ? now - PauseStart_ : std::chrono::steady_clock::duration{});
    return std::chrono::duration<double>(now - RunStart_ - paused).count();
}

void TBatchControl::RunTasks(const TBatchChoices &choices)
{
    const int priority = std::clamp(choices.Priority, static_cast<int>(tpIdle), static_cast<int>(tpNormal));
    VeloxC->SetThreadPriority(static_cast<TConvertPriority>(priority));
    // One file at a time, or as many at once as there are cores: more gain nothing. With fewer
    // files than cores, the idle ones help encode a long MP3.
    const int cores = std::max(1, QThread::idealThreadCount());
    const int tasks = static_cast<int>(TaskRow_.size());
    const int count = choices.ThreadPerCore ? std::min(tasks, cores) : 1;
    emit ThreadsChosen(count);
    RunActive_ = PassOn_ = true;
    emit CommandsChanged();
    VeloxC->Start(choices.ThreadMode ? (choices.ThreadPerCore ? cores : 1) : 0);
    // The tasks the start handed out run; a worker that ended meanwhile has claimed more.
    std::lock_guard<std::mutex> hold(ClaimLock_);
    Claimed_ = std::max(Claimed_, VeloxC->NextTaskIndex() - 1);
}

void TBatchControl::Pause(bool pause)
{
    if (!RunActive_ || Stopping_ || Paused_ == pause)
        return;
    Paused_ = pause;
    const auto now = std::chrono::steady_clock::now();
    if (pause) {
        PauseStart_ = now;
        VeloxC->Pause();
    } else {
        PausedFor_ += now - PauseStart_;
        VeloxC->Resume();
    }
    emit RunPaused(pause);
    emit CommandsChanged();
    if (!pause)
        ContinueRun(); // rows that came while paused
}

void TBatchControl::Stop()
{
    if (!RunActive_)
        return;
    Stopping_ = true;
    emit CommandsChanged();
    if (PassOn_)
        VeloxC->Stop();
    else
        ContinueRun();
}

void TBatchControl::DropOrClaimNextTask()
{
    std::lock_guard<std::mutex> hold(ClaimLock_);
    const int next = VeloxC->NextTaskIndex();
    if (next < 0 || next >= VeloxC->Tasks().Count())
        return;
    // Cancelled before its start, the task ends at once and starts nothing; its own end comes
    // here for the one after it, so no more run at once than were asked for.
    if (Dropped_.erase(next) > 0)
        VeloxC->Tasks().Items(next).CancelJob();
    else
        Claimed_ = std::max(Claimed_, next);
}

void TBatchControl::PassEnded()
{
    PassOn_ = false;
    VeloxC->ClearTasks();
    ++Run_;
    TaskRow_.clear();
    ContinueRun();
}

bool TBatchControl::RowsWaiting() const
{
    return std::any_of(RowStates_.cbegin(), RowStates_.cend(),
                       [](const TRowStatus &row) { return row.state == rsWaiting; });
}

void TBatchControl::ContinueRun()
{
    if (PassOn_)
        return;
    if (RunActive_ && !Stopping_) {
        if (Paused_)
            return; // the waiting rows go on when the run is resumed
        if (RowsWaiting() && StartPass(CurrentChoices()))
            return;
        if (Adding())
            return; // files still being read join the run
    }
    RunEnded();
}

void TBatchControl::RunEnded()
{
    int converted = 0, failed = 0, stopped = 0;
    for (int row = 0; row < RowCount(); ++row) {
        if (RowState(row) == rsWaiting) {
            // Never handed to the converter: the run was stopped first.
            SetRowState(row, rsStopped);
            const QString input = InputOfRow(row), result = RowResultText(rsStopped, QString(), QString());
            Log(input + QStringLiteral(": ") + result, input, result);
        }
        const TRowStatus &status = RowStates_[row];
        converted += status.inRun && status.state == rsDone;
        failed += status.inRun && status.state == rsFailed;
        stopped += status.inRun && status.state == rsStopped;
    }
    const auto seconds = static_cast<qint64>(RunSeconds() + 0.5);
    RunActive_ = PassOn_ = false;
    Paused_ = Stopping_ = false;
    emit CommandsChanged();
    Log(BatchSummaryText(converted, failed, stopped, seconds));
    emit RunFinished(converted, failed, stopped, seconds);
    // Rows that failed and were converted again during the run are not among them.
    if (const QStringList failures = RunFailureLines(); !failures.isEmpty()) {
        const QString heading = failures.size() == 1 ? QStringLiteral("This file was not converted:")
                                                     : QStringLiteral("These files were not converted:");
        emit Warning(FailureListText(heading, failures));
    }
}

QStringList TBatchControl::RunFailureLines() const
{
    QStringList lines;
    for (int row = 0; row < RowCount(); ++row)
        if (RowStates_[row].inRun && RowState(row) == rsFailed)
            lines << InputOfRow(row) + QStringLiteral(": ") + RowReason(row);
    return lines;
}

// ---- The converter's events ------------------------------------------------------------------

int TBatchControl::RowOfTask(int index) const { return index >= 0 && index < TaskRow_.size() ? TaskRow_[index] : -1; }

void TBatchControl::VeloxCProgress(int AIndex, int, int, int ACurrentDuration, float, float, int64_t ACurrentSize,
                                   int ATotalOutputDuration)
{
    if (Detached_)
        return;
    const int run = Run_;
    Relay->Post([this, run, AIndex, ACurrentDuration, ATotalOutputDuration, ACurrentSize] {
        if (run != Run_)
            return;
        const int row = RowOfTask(AIndex);
        // Late reports of an ended row change nothing.
        if (row < 0 || Ended(row))
            return;
        SetRowState(row, rsConverting);
        RowStates_[row].doneMs = ACurrentDuration;
        Totals_.Advance(RowStates_[row].id, ACurrentDuration);
        emit RowProgress(row, ACurrentDuration, ATotalOutputDuration, ACurrentSize);
        emit RowsUpdated();
    });
}

void TBatchControl::VeloxCLog(int AIndex, TLogLevel ALogLevel, const std::string &AMsg)
{
    if (Detached_)
        return;
    const QString text = QString::fromStdString(AMsg);
    const QString line = LogLineText(AIndex, ALogLevel, text);
    const int run = Run_;
    Relay->Post([this, line, text, run, AIndex] {
        // The file the line is about, while its run is the current one; the pane names it instead
        // of the task's number.
        const int row = run == Run_ ? RowOfTask(AIndex) : -1;
        const QString file = InputFileList.value(RowInput_.value(row, -1));
        Log(line, file, text, true);
    });
}

void TBatchControl::VeloxCTerminate(int AIndex, bool AFinished, bool AException, const std::string &AMessage)
{
    if (Detached_)
        return;
    const int run = Run_;
    if (AIndex < 0) {
        // Clearing the tasks waits for them: not from inside a task's own event.
        Relay->Post(
            [this, run] {
                if (run == Run_)
                    PassEnded();
            },
            true);
        return;
    }
    DropOrClaimNextTask();
    const QString message = QString::fromStdString(AMessage);
    Relay->Post([this, run, AIndex, AFinished, AException, message] {
        if (run == Run_)
            ShowTerminate(AIndex, AFinished, AException, message);
    });
}

void TBatchControl::ShowTerminate(int index, bool finished, bool exception, const QString &message)
{
    const int row = RowOfTask(index);
    if (row < 0)
        return;
    Totals_.Finish(RowStates_[row].id, exception || !finished);
    const QString input = InputOfRow(row);
    const TRowState state = exception ? rsFailed : finished ? rsDone : rsStopped;
    RowStates_[row].inRun = true;
    SetRowState(row, state, exception ? message : QString());
    if (finished && !exception && row < OutputFileList.size())
        OutputFileList[row].Converted = true;
    const QString result = RowResultText(state, message, OutputFileList.value(row).FileName);
    Log(input + QStringLiteral(": ") + result, input, result);
    // The converter holds only the tasks that ran when it was paused: the one started after this
    // is held too.
    if (Paused_)
        VeloxC->Pause();
    emit RowsUpdated();
}

void TBatchControl::VeloxCBeforeHook(int, int64_t APTS, THookAction &AHookAction)
{
    if (Detached_)
        return;
    AHookAction = BeforeHookAction(APTS);
}

void TBatchControl::VeloxCCustomHook(int AIndex, TBitmap24 *ABitmap, int AFrameNumber, int64_t APTS, bool &AUpdate,
                                     bool &AStopHook)
{
    if (Detached_ || !ABitmap)
        return;
    HookPainter.Paint(AIndex, *ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
}
