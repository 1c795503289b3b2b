// The batch behind the main window: the list's rows, their tasks in the converter, and runs with
// their start, pause, resume, stop and end. It has no widget; it reads the window's choices when
// a command needs them and reports what changed through its signals.
#pragma once

#include "app/BatchTexts.h"
#include "app/HookDrawing.h"
#include "app/OptionSettings.h"
#include "batch/BatchTotals.h"
#include "component/ConverterTypes.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

class TAVProbe;
class TEventRelay;
class TVeloxConverter;

// One output of the list and whether its task has ended without an error.
struct TOutputFile {
    QString FileName;
    bool Converted = false;
};

// The choices of the window a batch reads.
struct TBatchChoices {
    QString OutputFolder;               // empty: each output beside its input
    bool LoadVersionedLibraries = true; // the libraries' names carry their version
    int LogLevel = llInfo;              // a TLogLevel
    int Priority = 2;                   // a TConvertPriority, "Lower"
    bool ThreadMode = true;             // tasks on worker threads, else on this thread
    bool ThreadPerCore = false;         // as many at once as there are cores, else one
};

class TBatchControl : public QObject {
    Q_OBJECT

public:
    // programFolder: where the "LibAV" folder is.
    explicit TBatchControl(const QString &programFolder, QObject *parent = nullptr);
    ~TBatchControl() override;

    // What the window chose, read when a command needs it; the defaults when unset.
    std::function<TBatchChoices()> Choices;
    // The output settings of the tasks, read when a file has been found to have sound and when
    // a run starts; the defaults when unset.
    std::function<TOptionSettings()> TaskSettings;

    // Adds one file with its row; false, with the reason in the log and in RefusedFiles, when it
    // is not added (quiet: a file without sound is passed over with a log line only). A file in
    // the list already is not added again. During a run the row waits for it and joins it.
    bool AddFile(const QString &fileName, bool quiet = false);
    // Adds the files one at a time from the event loop, reporting each as it is read, then reports
    // those refused and what was added and calls done.
    void QueueFiles(const QStringList &fileNames, std::function<void()> done = {});
    // As QueueFiles, and a folder adds the files below it (hidden ones left out), those without
    // sound passed over quietly.
    void QueuePaths(const QStringList &paths, std::function<void()> done = {});
    // Whether the file is in a row already, under any spelling of its path.
    bool Listed(const QString &fileName) const;
    // Loads the media libraries as the window's choices say; false with the reason.
    bool EnsureLibraries(QString *error = nullptr);
    bool Adding() const { return !QueuedFiles_.isEmpty(); }
    // Adds one task and its row from the two records; false (with log lines) when that fails.
    bool AddConvertTask(TInputOptions &AInput, TOutputOptions &AOutput);
    // Reports the files refused since the last report, in one warning.
    void ShowRefusals();
    // Whether row may go now: any while no run is on; during a run one that is not converting and
    // whose conversion has not been handed to a worker.
    bool Removable(int row) const;
    // Removes row; false when it may not go now.
    bool RemoveRow(int row);
    // Rows a start would convert: every row that has not been converted.
    bool Runnable() const;
    // Whether row is being converted: a worker has it, reporting or not yet.
    bool UnderWay(int row) const { return RunActive_ && !Ended(row) && !Removable(row); }
    // Whether row has ended (converted, failed or stopped), so that it can be converted again.
    bool Ended(int row) const;
    // Ended rows wait to be converted again: by the next start, or during a run by the run itself.
    void ConvertAgain(const QList<int> &rows);
    // Lets every task and row go.
    void Clear();
    // The outputs' names of the rows not run yet, as a start would give them now.
    void RefreshOutputNames();

    // Rows' own output settings, which their conversions use instead of the window's; nothing
    // gives them the window's again. Rows that ended wait to be converted again. The names are
    // refreshed once for all of them.
    void SetRowSettings(const QList<int> &rows, const std::optional<TOptionSettings> &settings);
    bool HasOwnSettings(int row) const { return RowStates_.value(row).own.has_value(); }
    // The settings row converts with: its own, else the window's as they are now.
    TOptionSettings SettingsOfRow(int row) const;
    // The input file of row; empty when there is none.
    QString InputOfRow(int row) const { return InputFileList.value(RowInput_.value(row, -1)); }

    int RowCount() const { return static_cast<int>(RowStates_.size()); }
    // Where row stands, and why when it failed.
    TRowState RowState(int row) const { return RowStates_.value(row).state; }
    QString RowReason(int row) const { return RowStates_.value(row).reason; }

    // A run of every row that has not been converted; nothing while one is on or without such
    // rows. Rows added or converted again during the run join it once what runs has ended.
    void Start();
    // Pause (true) or resume the run.
    void Pause(bool pause);
    void Stop();
    // Stops every task, waits until every output is finished and reports nothing any more.
    void ShutDown();
    // Whether a run has been handed to the converter and has not ended yet.
    bool RunActive() const { return RunActive_; }
    bool Paused() const { return Paused_; }
    bool Stopping() const { return Stopping_; }
    // The run's rows, weighted by their length, and the seconds it has been converting (pauses
    // left out).
    const batch::BatchTotals &Totals() const { return Totals_; }
    double RunSeconds() const;

    // The converter's events; they may come on any thread.
    void VeloxCProgress(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration, float AQuality, float ABitRate,
                        int64_t ACurrentSize, int ATotalOutputDuration);
    void VeloxCLog(int AIndex, TLogLevel ALogLevel, const std::string &AMsg);
    void VeloxCTerminate(int AIndex, bool AFinished, bool AException, const std::string &AMessage);
    void VeloxCBeforeHook(int AIndex, int64_t APTS, THookAction &AHookAction);
    void VeloxCCustomHook(int AIndex, TBitmap24 *ABitmap, int AFrameNumber, int64_t APTS, bool &AUpdate,
                          bool &AStopHook);

    std::unique_ptr<TVeloxConverter> VeloxC;
    TCustomHookPainter HookPainter;
    // Per row: the input files (all added, also those that failed), the output folders (ending
    // in "/") and the output files.
    QStringList InputFileList;
    QStringList OutputFolderList;
    QList<TOutputFile> OutputFileList;
    // Every line of the batch and of the converter.
    QStringList LogLines;
    // "file: reason" for each file refused since the last report.
    QStringList RefusedFiles;

signals:
    void RowAdded(int row, const QString &input, qint64 durationMicroseconds, qint64 size);
    void RowRemoved(int row);
    void RowsCleared();
    void OutputNamed(int row, const QString &output);
    // The row was given its own settings (own) or the window's again.
    void RowSettingsChanged(int row, bool own);
    void RowStateChanged(int row, TRowState state, const QString &reason);
    void RowProgress(int row, int currentMs, int totalMs, qint64 size);
    // The run was paused, or goes on.
    void RunPaused(bool paused);
    // Queued files being read: the one read now, of how many; and the end, in words.
    void AddingProgress(int reading, int total);
    void AddingEnded(const QString &summary);
    // A run's event has changed rows; a run on this thread keeps the event loop from showing them.
    void RowsUpdated();
    // How many tasks a start lets run at once.
    void ThreadsChosen(int count);
    // The run's or the list's state changed what may be done next.
    void CommandsChanged();
    void Warning(const QString &text);
    // A line of the log; file: the input it is about, empty for the batch's own lines; detail:
    // the converter's and the libraries' own lines, and spacing.
    void LogAdded(const QString &file, const QString &text, bool detail);
    // The run ended: how many rows were converted, failed or stopped, in how many seconds.
    void RunFinished(int converted, int failed, int stopped, qint64 seconds);
    // What an update or a queued add raised.
    void Failed(std::exception_ptr raised);

private:
    struct TRowStatus {
        int id = 0; // kept while rows before it go: the run's totals count by it
        TRowState state = rsAdded;
        QString reason;
        int64_t durationMs = 0; // 0 when unknown
        int64_t runMs = 0;      // what the run converts of it: the clip, else the whole
        int64_t doneMs = 0;     // how far the run has converted it
        bool inRun = false;     // part of the run that is on, or that ended last
        std::optional<TOptionSettings> own;
    };
    struct TQueued {
        QString file;
        bool quiet = false;
    };

    void WireConverter();
    TBatchChoices CurrentChoices() const;
    TOptionSettings CurrentTaskSettings() const;
    // line goes to LogLines; the log pane gets shown (line when empty) with the file it is about.
    void Log(const QString &line, const QString &file = QString(), const QString &shown = QString(),
             bool detail = false);
    void Enqueue(const QList<TQueued> &files, std::function<void()> done);
    // Counts the run's rows in Totals_ as the start prepared them.
    void CountRunRows();
    bool LoadLibraries(const TBatchChoices &choices, QString *error = nullptr);
    void ApplyLogLevel(const TBatchChoices &choices);
    void Refuse(const QString &fileName, const QString &reason, bool quiet = false, TRefusal kind = rfUnreadable);
    void AddNextQueued();
    // The queue is read: what was added and passed over is said, and a run waiting for it goes on.
    void QueueEnded();
    // Builds the records of the file the probe holds and adds its task, or during a run its row
    // alone, waiting.
    bool AddProbedFile(int inputIndex, const TOptionSettings &settings);
    // The row of an added file, its input being AddingInput_.
    int AppendRow(const QString &input, int64_t durationMicroseconds, int64_t size, const QString &output);
    // Creates the task of the records; its index, or -1 with error.
    int CreateTask(TInputOptions &AInput, TOutputOptions &AOutput, QString &error);
    // Builds and adds the task of row; false with the row failed.
    bool PrepareRow(int row, const TOptionSettings &settings, QStringList &names);
    // Hands the waiting rows to the converter; false when none of them could be prepared.
    bool StartPass(const TBatchChoices &choices);
    void RunTasks(const TBatchChoices &choices);
    // What runs has ended: the rows that wait since get a pass of their own, else the run ends.
    void PassEnded();
    void ContinueRun();
    bool RowsWaiting() const;
    // Rows that may take a new output name: not given to the converter yet.
    bool Open(int row) const;
    // Under the converter's lock, before it starts its next task: that task is dropped when its
    // row was removed, else it counts as running.
    void DropOrClaimNextTask();
    void ClearRows();
    void SetRowState(int row, TRowState state, const QString &reason = QString());
    void SetOutputName(int row, const QString &output);
    // Back to waiting: for the next start when no run is on, else for the run's next pass.
    void Requeue(int row);
    // The row of task index of the current run; -1 when there is none.
    int RowOfTask(int index) const;
    void ShowTerminate(int index, bool finished, bool exception, const QString &message);
    void RunEnded();
    // "file: reason" of the run's failed rows.
    QStringList RunFailureLines() const;

    QString ProgramFolder_;
    TEventRelay *Relay;
    // Bumped whenever the task list is rebuilt or cleared: events of older tasks change no row.
    std::atomic<int> Run_{0};
    // Events and hooks do nothing once the batch shuts down.
    std::atomic<bool> Detached_{false};
    bool RunActive_ = false;
    bool PassOn_ = false; // the converter runs the tasks of the run's current pass
    bool Paused_ = false, Stopping_ = false;
    // The tasks of the pass that have been started or are about to be, and those of removed rows
    // that are not to run; shared with the converter's threads under ClaimLock_.
    mutable std::mutex ClaimLock_;
    int Claimed_ = -1;
    std::set<int> Dropped_;
    int NextRowId_ = 0;
    QStringList TagNotes_; // said once a run
    // Reading queued files: how many this time, how many read, added and passed over.
    int QueueTotal_ = 0, QueueRead_ = 0, QueueAdded_ = 0;
    std::array<int, rfKinds> QueueRefused_{};
    QList<TRowStatus> RowStates_;
    QList<int> TaskRow_;         // the row of each task: of the run, or as added
    QList<TQueued> QueuedFiles_; // files waiting to be added
    batch::BatchTotals Totals_;
    std::chrono::steady_clock::time_point RunStart_, PauseStart_;
    std::chrono::steady_clock::duration PausedFor_{};
    std::function<void()> QueueDone_;
    // The input entry of each row, and of the row being added.
    QList<int> RowInput_;
    int AddingInput_ = -1;
};
