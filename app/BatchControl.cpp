// The batch and its list: the converter set up and shut down, files added with their rows and
// tasks, the outputs named, rows removed and cleared.
#include "app/BatchControl.h"

#include "app/EventRelay.h"
#include "app/OptionBuilder.h"

#include "batch/CaseFolding.h"
#include "batch/FolderWalk.h"
#include "component/FFmpegList.h"
#include "component/VeloxConverter.h"
#include "probe/AVProbe.h"
#include "probe/MediaCheck.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <set>
#include <utility>

namespace {

QString FolderOf(const QString &path)
{
    QString folder = QFileInfo(path).path();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

} // namespace

TBatchControl::TBatchControl(const QString &programFolder, QObject *parent)
    : QObject(parent), HookPainter(QFont().family(), ApplicationIconImage(32)), ProgramFolder_(programFolder)
{
    VeloxC = std::make_unique<TVeloxConverter>();
    VeloxC->setObjectName(QStringLiteral("VeloxC"));
    // Nothing appears beside an input before its conversion, nothing half made under a final
    // name, and the outputs keep their inputs' tags.
    VeloxC->SetSafeOutputs(true);
    VeloxC->SetCarryTags(true);
    Relay = new TEventRelay(this);
    Relay->OnFailure = [this](std::exception_ptr raised) {
        // The box needs the event loop; the failing update may have run inside a run's event.
        Relay->Post([this, raised] { emit Failed(raised); }, true);
    };
    WireConverter();
}

TBatchControl::~TBatchControl() { ShutDown(); }

void TBatchControl::WireConverter()
{
    VeloxC->OnProgress = [this](int index, int frame, int fps, int current, float quality, float bitRate, int64_t size,
                                int total) {
        VeloxCProgress(index, frame, fps, current, quality, bitRate, size, total);
    };
    VeloxC->OnLog = [this](int index, TLogLevel level, const std::string &text) { VeloxCLog(index, level, text); };
    VeloxC->OnTerminate = [this](int index, bool finished, bool exception, const std::string &message) {
        VeloxCTerminate(index, finished, exception, message);
    };
    VeloxC->OnBeforeHook = [this](int index, int64_t pts, THookAction &action) {
        VeloxCBeforeHook(index, pts, action);
    };
    VeloxC->OnCustomHook = [this](int index, TBitmap24 *bitmap, int frame, int64_t pts, bool &update, bool &stop) {
        VeloxCCustomHook(index, bitmap, frame, pts, update, stop);
    };
}

TBatchChoices TBatchControl::CurrentChoices() const { return Choices ? Choices() : TBatchChoices{}; }

TOptionSettings TBatchControl::CurrentTaskSettings() const { return TaskSettings ? TaskSettings() : TOptionSettings{}; }

void TBatchControl::ShutDown()
{
    if (Detached_.exchange(true))
        return;
    QueuedFiles_.clear();
    // The handlers go quiet first: replacing them while workers may be calling them would race.
    Relay->Close();
    if (!VeloxC)
        return;
    VeloxC->Stop();
    // Waits for every task to end: a finished output takes its name, a stopped one is dropped;
    // afterwards no thread calls in.
    VeloxC->ClearTasks();
    VeloxC->OnBeforeHook = nullptr;
    VeloxC->OnCustomHook = nullptr;
    VeloxC->OnLog = nullptr;
    VeloxC->OnProgress = nullptr;
    VeloxC->OnTerminate = nullptr;
    RunActive_ = false;
}

void TBatchControl::Log(const QString &line, const QString &file, const QString &shown, bool detail)
{
    LogLines.append(line);
    emit LogAdded(file, shown.isEmpty() ? line : shown, detail || line.isEmpty());
}

// ---- Adding files ----------------------------------------------------------------------------

bool TBatchControl::LoadLibraries(const TBatchChoices &choices, QString *error)
{
    // Beside the program in a build; an installed program has its libraries under its prefix.
    const QString own = QDir(ProgramFolder_).filePath(QStringLiteral("LibAV"));
    const std::string folder = QFileInfo(own).isDir() ? own.toStdString() : TVeloxConverter::DefaultAVLibFolder();
    if (VeloxC->LoadAVLib(folder, choices.LoadVersionedLibraries))
        return true;
    Log(QString::fromStdString(VeloxC->LastErrMsg()));
    if (error)
        *error = QString::fromStdString(VeloxC->LastErrMsg());
    return false;
}

bool TBatchControl::EnsureLibraries(QString *error) { return LoadLibraries(CurrentChoices(), error); }

void TBatchControl::ApplyLogLevel(const TBatchChoices &choices)
{
    const int level = std::clamp(choices.LogLevel, static_cast<int>(llQuiet), static_cast<int>(llAll));
    VeloxC->SetLogLevel(static_cast<TLogLevel>(level));
}

void TBatchControl::Refuse(const QString &fileName, const QString &reason, bool quiet, TRefusal kind)
{
    Log(QString());
    Log(QStringLiteral("***Cannot add ") + fileName + QStringLiteral(": ") + reason, fileName,
        QStringLiteral("not added: ") + reason);
    Log(QString());
    if (QueueTotal_ > 0)
        ++QueueRefused_[kind];
    if (!quiet)
        RefusedFiles.append(fileName + QStringLiteral(": ") + reason);
}

bool TBatchControl::Listed(const QString &fileName) const
{
    const QFileInfo file(fileName);
    for (int row = 0; row < RowCount(); ++row) {
        const QFileInfo listed(InputFileList.value(RowInput_.value(row, -1)));
        if (listed == file || (file.exists() && listed.canonicalFilePath() == file.canonicalFilePath()))
            return true;
    }
    return false;
}

void TBatchControl::ShowRefusals()
{
    if (RefusedFiles.isEmpty())
        return;
    const QString heading = RefusedFiles.size() == 1 ? QStringLiteral("This file was not added:")
                                                     : QStringLiteral("These files were not added:");
    const QString text = FailureListText(heading, RefusedFiles);
    RefusedFiles.clear();
    emit Warning(text);
}

bool TBatchControl::AddFile(const QString &fileName, bool quiet)
{
    if (Listed(fileName)) {
        Refuse(fileName, QStringLiteral("it is in the list already"), quiet, rfListed);
        return false;
    }
    // Reading a pipe or a device would wait for its writer with the window frozen.
    if (const QFileInfo file(fileName); file.exists() && !file.isFile()) {
        Refuse(fileName, QStringLiteral("it is not a regular file"), quiet);
        return false;
    }
    const TBatchChoices choices = CurrentChoices();
    QString error;
    if (!LoadLibraries(choices, &error)) {
        Refuse(fileName, error);
        return false;
    }
    ApplyLogLevel(choices);
    TAVProbe &probe = VeloxC->AVProbe();
    if (!probe.LoadFile(fileName.toStdString())) {
        Log(QString());
        Log(QStringLiteral("***File load error: ") + QString::fromStdString(probe.LastErrMsg), fileName, QString(),
            true);
        // A file that is there but not read as media has no sound to give.
        Refuse(fileName, QString::fromStdString(probe.LastErrMsg), quiet,
               QFileInfo::exists(fileName) ? rfNoSound : rfUnreadable);
        return false;
    }
    // The outputs are sound only: a file without any has nothing to give.
    probe::SoundFile sound;
    if (!probe::CheckSoundFile(fileName.toStdString(), sound)) {
        probe.Close();
        Refuse(fileName, QStringLiteral("it has no sound"), quiet, rfNoSound);
        return false;
    }
    // The window's choices as they are now, also a folder chosen since the last start.
    const TOptionSettings settings = CurrentTaskSettings();
    InputFileList.append(fileName);
    if (AddProbedFile(static_cast<int>(InputFileList.size()) - 1, settings))
        return true;
    InputFileList.removeLast();
    return false;
}

void TBatchControl::QueueFiles(const QStringList &fileNames, std::function<void()> done)
{
    QList<TQueued> files;
    for (const QString &file : fileNames)
        files.append({file, false});
    Enqueue(files, std::move(done));
}

void TBatchControl::QueuePaths(const QStringList &paths, std::function<void()> done)
{
    QList<TQueued> files;
    for (const QString &path : paths) {
        if (!QFileInfo(path).isDir()) {
            files.append({path, false});
            continue;
        }
        batch::FolderContent content;
        batch::WalkFolder(path.toStdString(), {}, content);
        for (const batch::FolderContent::Note &note : content.notes)
            Refuse(QString::fromStdString(note.path.string()), QString::fromStdString(note.reason));
        for (const std::filesystem::path &file : content.files)
            files.append({QString::fromStdString(file.string()), true});
    }
    Enqueue(files, std::move(done));
}

void TBatchControl::Enqueue(const QList<TQueued> &files, std::function<void()> done)
{
    const bool idle = QueuedFiles_.isEmpty();
    QueuedFiles_ += files;
    QueueTotal_ += static_cast<int>(files.size());
    QueueDone_ = std::move(done);
    if (QueuedFiles_.isEmpty()) {
        QueueEnded(); // a folder without files, or one that could not be read
        return;
    }
    emit CommandsChanged();
    if (idle)
        QTimer::singleShot(0, this, [this] { AddNextQueued(); });
}

void TBatchControl::AddNextQueued()
{
    if (QueuedFiles_.isEmpty() || Detached_)
        return;
    const TQueued next = QueuedFiles_.takeFirst();
    emit AddingProgress(++QueueRead_, QueueTotal_);
    try {
        QueueAdded_ += AddFile(next.file, next.quiet) ? 1 : 0;
    } catch (...) {
        emit Failed(std::current_exception()); // the files after it are still read
    }
    if (!QueuedFiles_.isEmpty()) {
        QTimer::singleShot(0, this, [this] { AddNextQueued(); });
        return;
    }
    QueueEnded();
}

void TBatchControl::QueueEnded()
{
    const QString summary = AddingSummaryText(QueueAdded_, QueueRefused_);
    QueueTotal_ = QueueRead_ = QueueAdded_ = 0;
    QueueRefused_ = {};
    Log(summary);
    emit CommandsChanged();
    emit AddingEnded(summary);
    ShowRefusals();
    if (RunActive_)
        ContinueRun(); // a run that waited for these rows goes on, or ends
    if (QueueDone_)
        std::exchange(QueueDone_, nullptr)();
}

bool TBatchControl::AddProbedFile(int inputIndex, const TOptionSettings &settings)
{
    struct TAfterwards {
        TBatchControl &batch;
        ~TAfterwards()
        {
            batch.AddingInput_ = -1;
            batch.VeloxC->AVProbe().Close();
        }
    } afterwards{*this};
    const TAVProbe &probe = VeloxC->AVProbe();
    const TProbeFacts facts = ProbeFactsOf(&probe, probe.FirstVideo);
    // A new output never takes the name of another row's.
    TOutputOptions output = OutputOptionsOf(settings, facts, [this](const std::string &name) {
        const QString taken = QString::fromStdString(name);
        return std::any_of(OutputFileList.cbegin(), OutputFileList.cend(),
                           [&](const TOutputFile &file) { return file.FileName == taken; });
    });
    AddingInput_ = inputIndex;
    if (RunActive_) {
        // The converter's list cannot grow while it runs: the row waits for the run's next pass.
        TAVFormatInfo info;
        probe.GetFormatInfo(info);
        Requeue(AppendRow(InputFileList.value(inputIndex), info.Duration, probe.FileSize(),
                          QString::fromStdString(output.FileName)));
        return true;
    }
    TInputOptions input = InputOptionsOf(settings, facts);
    return AddConvertTask(input, output);
}

int TBatchControl::CreateTask(TInputOptions &AInput, TOutputOptions &AOutput, QString &error)
{
    const int index = VeloxC->AddInput(AInput.FileName, &AInput);
    if (index < 0) {
        error = QString::fromStdString(VeloxC->LastErrMsg());
        Log(QString());
        Log(QStringLiteral("***File open error: ") + error);
        Log(QString());
        return -1;
    }
    if (!VeloxC->AddOutput(index, AOutput.FileName, &AOutput)) {
        error = QString::fromStdString(VeloxC->LastErrMsg());
        VeloxC->RemoveTask(index);
        Log(QString());
        Log(QStringLiteral("***Cannot do convert, error: ") + error);
        Log(QString());
        return -1;
    }
    return index;
}

bool TBatchControl::AddConvertTask(TInputOptions &AInput, TOutputOptions &AOutput)
{
    const QString input = QString::fromStdString(AInput.FileName);
    QString error;
    const int index = CreateTask(AInput, AOutput, error);
    if (index < 0) {
        Refuse(input, error);
        return false;
    }
    // The task's own probe looks at the input just opened.
    TAVProbe &probe = VeloxC->Tasks().Items(index).Probe;
    TAVFormatInfo info;
    probe.GetFormatInfo(info);
    TaskRow_.append(RowCount());
    AppendRow(input, info.Duration, probe.FileSize(), QString::fromStdString(AOutput.FileName));
    return true;
}

int TBatchControl::AppendRow(const QString &input, int64_t durationMicroseconds, int64_t size, const QString &output)
{
    const int row = RowCount();
    emit RowAdded(row, input, durationMicroseconds, size);
    OutputFolderList.append(QString());
    OutputFileList.append({QString(), false});
    TRowStatus status;
    status.id = NextRowId_++;
    status.durationMs = status.runMs = durationMicroseconds > 0 ? durationMicroseconds / 1000 : 0;
    RowStates_.append(status);
    RowInput_.append(AddingInput_);
    SetOutputName(row, output);

    Log(QString());
    Log(QStringLiteral("***File has been added to convert list."), input, QStringLiteral("added"));
    Log(QString());
    emit CommandsChanged();
    return row;
}

void TBatchControl::SetOutputName(int row, const QString &output)
{
    if (row < 0 || row >= OutputFileList.size())
        return;
    OutputFileList[row].FileName = output;
    OutputFolderList[row] = FolderOf(output);
    emit OutputNamed(row, output);
}

bool TBatchControl::Open(int row) const
{
    return RowState(row) == rsAdded || (RowState(row) == rsWaiting && !TaskRow_.contains(row));
}

void TBatchControl::RefreshOutputNames()
{
    if (RowCount() == 0)
        return;
    const TOptionSettings window = CurrentTaskSettings();
    // Rows that have been run, or handed to the converter, keep their names. Names compared as their
    // volume does: where case is ignored, "Song_(new).mp3" and "song_(new).mp3" are one file.
    batch::PathKeys keys(false);
    std::set<std::filesystem::path> names;
    for (int row = 0; row < RowCount(); ++row)
        if (!Open(row))
            names.insert(keys.Key(OutputFileList.value(row).FileName.toStdString()));
    for (int row = 0; row < RowCount(); ++row) {
        const QString input = InputOfRow(row);
        if (!Open(row) || input.isEmpty())
            continue;
        TProbeFacts facts;
        facts.FileName = input.toStdString();
        const TOptionSettings &settings = HasOwnSettings(row) ? *RowStates_[row].own : window;
        const TOutputOptions output = OutputOptionsOf(
            settings, facts, [&](const std::string &taken) { return names.count(keys.Key(taken)) > 0; });
        names.insert(keys.Key(output.FileName));
        SetOutputName(row, QString::fromStdString(output.FileName));
    }
}

void TBatchControl::SetRowSettings(const QList<int> &rows, const std::optional<TOptionSettings> &settings)
{
    if (RunActive_)
        return;
    for (int row : rows) {
        if (row < 0 || row >= RowCount())
            continue;
        RowStates_[row].own = settings;
        emit RowSettingsChanged(row, settings.has_value());
        if (Ended(row))
            Requeue(row); // its output made with other settings
    }
    RefreshOutputNames();
    emit CommandsChanged();
}

bool TBatchControl::Ended(int row) const
{
    const TRowState state = RowState(row);
    return row >= 0 && row < RowCount() && (state == rsDone || state == rsFailed || state == rsStopped);
}

bool TBatchControl::Runnable() const
{
    return std::any_of(RowStates_.cbegin(), RowStates_.cend(),
                       [](const TRowStatus &row) { return row.state != rsDone; });
}

void TBatchControl::Requeue(int row)
{
    RowStates_[row].doneMs = 0;
    OutputFileList[row].Converted = false;
    // Its task has ended: the run's next pass makes a new one.
    if (const qsizetype task = TaskRow_.indexOf(row); task >= 0 && RunActive_)
        TaskRow_[task] = -1;
    if (!RunActive_) {
        SetRowState(row, rsAdded);
        return;
    }
    RowStates_[row].inRun = true;
    SetRowState(row, rsWaiting);
    CountRunRows();
}

void TBatchControl::ConvertAgain(const QList<int> &rows)
{
    if (Stopping_)
        return;
    for (int row : rows)
        if (Ended(row))
            Requeue(row);
    RefreshOutputNames(); // the earlier outputs stay: new names
    emit CommandsChanged();
}

TOptionSettings TBatchControl::SettingsOfRow(int row) const
{
    return HasOwnSettings(row) ? *RowStates_[row].own : CurrentTaskSettings();
}

// ---- Removing and clearing -------------------------------------------------------------------

bool TBatchControl::Removable(int row) const
{
    if (!RunActive_)
        return true;
    const TRowState state = RowState(row);
    const qsizetype task = TaskRow_.indexOf(row);
    if (state == rsConverting)
        return false;
    if (task < 0 || state != rsWaiting)
        return true; // waiting for a later pass, or ended
    std::lock_guard<std::mutex> hold(ClaimLock_);
    return task > Claimed_;
}

bool TBatchControl::RemoveRow(int row)
{
    if (row < 0 || row >= RowCount() || !Removable(row))
        return false;
    const int task = static_cast<int>(TaskRow_.indexOf(row));
    if (RunActive_ && task >= 0) {
        // The converter's list stays as it is while it runs: a task not started is dropped as its
        // turn comes, one that ended is forgotten.
        if (RowState(row) == rsWaiting) {
            std::lock_guard<std::mutex> hold(ClaimLock_);
            if (task <= Claimed_)
                return false; // handed to a worker meanwhile
            Dropped_.insert(task);
        }
        TaskRow_[task] = -1;
    } else if (task >= 0 && task < VeloxC->Tasks().Count()) {
        // Tasks of the list as added, one per row; after a run the converter has let its tasks go.
        VeloxC->RemoveTask(task);
        TaskRow_.removeAt(task);
    }
    for (int &later : TaskRow_)
        if (later > row)
            --later;
    if (row < OutputFolderList.size())
        OutputFolderList.removeAt(row);
    if (row < OutputFileList.size())
        OutputFileList.removeAt(row);
    if (row < RowStates_.size())
        RowStates_.removeAt(row);
    // The row's own input: inputs that got no row leave the row numbers behind.
    if (row < RowInput_.size()) {
        const int input = RowInput_.takeAt(row);
        if (input >= 0 && input < InputFileList.size()) {
            InputFileList.removeAt(input);
            for (int &later : RowInput_)
                if (later > input)
                    --later;
        }
    }
    if (RunActive_)
        CountRunRows();
    emit RowRemoved(row);
    return true;
}

void TBatchControl::ClearRows()
{
    TaskRow_.clear();
    OutputFolderList.clear();
    OutputFileList.clear();
    RowInput_.clear();
    RowStates_.clear();
    emit RowsCleared();
}

void TBatchControl::Clear()
{
    if (RunActive_)
        return;
    VeloxC->ClearTasks();
    ++Run_;
    InputFileList.clear();
    ClearRows();
}
