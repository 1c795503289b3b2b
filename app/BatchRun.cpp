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
#include <utility>

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
    RunFailures_.append(input + QStringLiteral(": ") + error);
    return false;
}

void TBatchControl::Start()
{
    if (RunActive_ || Adding() || RowCount() == 0)
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
    VeloxC->ClearTasks();
    ++Run_; // events of the tasks just cleared change no row of the new list
    HookPainter.Reset();
    TaskRow_.clear();
    RunFailures_.clear();
    Paused_ = Stopping_ = false;

    ApplyLogLevel(choices);
    const TOptionSettings settings = CurrentTaskSettings();
    QStringList names; // of the outputs of this start, which no later row may take
    for (int row = 0; row < RowCount(); ++row)
        PrepareRow(row, settings, names);
    if (TaskRow_.isEmpty()) {
        // Nothing to run: the rows say why, and the list stays as it is to be put right.
        emit Warning(FailureListText(QStringLiteral("Nothing could be converted:"), RunFailures_));
        return;
    }
    if (VeloxC->CarryTags())
        for (const QString &line : TagsNotKeptLines(names))
            Log(line);
    CountRunRows();
    RunTasks(choices);
}

void TBatchControl::CountRunRows()
{
    Totals_.Clear();
    RunStart_ = std::chrono::steady_clock::now();
    for (int row = 0; row < RowCount(); ++row) {
        Totals_.Add(row, RowStates_[row].runMs);
        if (RowState(row) == rsFailed)
            Totals_.Finish(row, true);
    }
}

double TBatchControl::RunSeconds() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - RunStart_).count();
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
    RunActive_ = true;
    emit CommandsChanged();
    VeloxC->Start(choices.ThreadMode ? (choices.ThreadPerCore ? cores : 1) : 0);
}

void TBatchControl::Pause(bool pause)
{
    if (!RunActive_ || Stopping_)
        return;
    Paused_ = pause;
    if (pause)
        VeloxC->Pause();
    else
        VeloxC->Resume();
    emit CommandsChanged();
}

void TBatchControl::Stop()
{
    if (!RunActive_)
        return;
    Stopping_ = true;
    emit CommandsChanged();
    VeloxC->Stop();
}

void TBatchControl::RunEnded()
{
    RunActive_ = false;
    Paused_ = Stopping_ = false;
    emit CommandsChanged();
    int converted = 0, failed = 0, stopped = 0;
    for (const TRowStatus &row : RowStates_) {
        converted += row.state == rsDone;
        failed += row.state == rsFailed;
        stopped += row.state == rsStopped;
    }
    emit RunFinished(converted, failed, stopped, static_cast<qint64>(RunSeconds() + 0.5));
    VeloxC->ClearTasks();
    TaskRow_.clear();
    if (!RunFailures_.isEmpty()) {
        const QString heading = RunFailures_.size() == 1 ? QStringLiteral("This file was not converted:")
                                                         : QStringLiteral("These files were not converted:");
        emit Warning(FailureListText(heading, std::exchange(RunFailures_, {})));
    }
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
        if (row < 0 || RowState(row) == rsDone || RowState(row) == rsFailed || RowState(row) == rsStopped)
            return;
        SetRowState(row, rsConverting);
        Totals_.Advance(row, ACurrentDuration);
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
        Log(line, file, text);
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
                    RunEnded();
            },
            true);
        return;
    }
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
    Totals_.Finish(row, exception || !finished);
    if (exception) {
        SetRowState(row, rsFailed, message);
        RunFailures_.append(InputFileList.value(RowInput_.value(row, -1)) + QStringLiteral(": ") + message);
    } else if (finished) {
        SetRowState(row, rsDone);
        if (row < OutputFileList.size())
            OutputFileList[row].Converted = true;
    } else {
        SetRowState(row, rsStopped);
    }
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
