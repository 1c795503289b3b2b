// The main window's handlers: start-up and shut-down, the commands routed to the batch, the rows
// it reports shown in the list, and the shell services.
#include "app/MainFrm.h"

#include "app/BatchTexts.h"
#include "app/DesktopNotice.h"
#include "app/FileDialogKeys.h"
#include "app/FileListColumns.h"
#include "app/LogPane.h"
#include "app/OptionFrm.h"
#include "app/RadioGroup.h"
#include "app/U_About.h"

#include "engine/FFMpegException.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

const QString kPausedText = QStringLiteral("Paused");

} // namespace

TfrmMain::TfrmMain(QWidget *parent, const QString &programFolder, const QString &userConfigFolder)
    : QMainWindow(parent), Batch(std::make_unique<TBatchControl>(
                               programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder)),
      ConfigIni(programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder,
                userConfigFolder.isEmpty() ? TConfigIni::DefaultUserFolder() : userConfigFolder)
{
    FormCreate();
}

TfrmMain::~TfrmMain()
{
    ShutDown();
    delete frmOption;
    frmOption = nullptr;
    Batch.reset();
}

std::function<void()> TfrmMain::Guarded(std::function<void()> handler)
{
    return [this, handler = std::move(handler)] {
        try {
            handler();
        } catch (...) {
            AppException(std::current_exception());
        }
    };
}

void TfrmMain::ConnectBatch()
{
    Batch->Choices = [this] { return BatchChoices(); };
    Batch->TaskSettings = [this] { return TaskSettings(); };
    const TBatchControl *batch = Batch.get();
    connect(batch, &TBatchControl::RowAdded, this, &TfrmMain::ShowAddedRow);
    connect(batch, &TBatchControl::RowRemoved, this, &TfrmMain::ShowRowRemoved);
    connect(batch, &TBatchControl::RowsCleared, this, [this] { lvFiles->setRowCount(0); });
    connect(batch, &TBatchControl::OutputNamed, this, &TfrmMain::ShowOutputName);
    connect(batch, &TBatchControl::RowSettingsChanged, this, &TfrmMain::ShowRowSettingsMark);
    connect(batch, &TBatchControl::RowStateChanged, this, &TfrmMain::ShowRowState);
    connect(batch, &TBatchControl::RowProgress, this, &TfrmMain::ShowProgress);
    connect(batch, &TBatchControl::RowsUpdated, this, &TfrmMain::RepaintIfMainThreadRun);
    connect(batch, &TBatchControl::ThreadsChosen, this,
            [this](int count) { edtThreadCount->setText(QString::number(count)); });
    connect(batch, &TBatchControl::CommandsChanged, this, &TfrmMain::UpdateCommands);
    connect(batch, &TBatchControl::Warning, this, [this](const QString &text) { Message(QMessageBox::Warning, text); });
    connect(batch, &TBatchControl::Failed, this, &TfrmMain::AppException);
    connect(batch, &TBatchControl::RowProgress, this, &TfrmMain::ShowBatchStatus);
    connect(batch, &TBatchControl::RowStateChanged, this, &TfrmMain::ShowBatchStatus);
    connect(batch, &TBatchControl::RunFinished, this, &TfrmMain::ShowRunSummary);
    // A row that starts or ends changes what may be done with the selected ones.
    connect(batch, &TBatchControl::RowStateChanged, this, &TfrmMain::UpdateCommands);
    connect(batch, &TBatchControl::RunPaused, this, &TfrmMain::ShowPaused);
    connect(batch, &TBatchControl::AddingProgress, this,
            [this](int reading, int total) { statusBar()->showMessage(ReadingText(reading, total)); });
    // Said until the next run starts; during a run, for a while over the run's own state.
    connect(batch, &TBatchControl::AddingEnded, this,
            [this](const QString &summary) { statusBar()->showMessage(summary, RunActive() ? 10000 : 0); });
}

TBatchChoices TfrmMain::BatchChoices() const
{
    TBatchChoices choices;
    choices.OutputFolder = Edit1->text();
    choices.LoadVersionedLibraries = chkVerNum->isChecked();
    choices.LogLevel = grpLogLevel->ItemIndex();
    choices.Priority = grpPriority->ItemIndex();
    choices.ThreadMode = chkThreadMode->isChecked();
    choices.ThreadPerCore = CheckBox1->isChecked();
    return choices;
}

void TfrmMain::UpdateCommands()
{
    const bool rows = lvFiles->rowCount() > 0;
    const bool threaded = chkThreadMode->isChecked();
    const bool running = Batch->RunActive(), stopping = Batch->Stopping();
    const QList<int> selected = SelectedRows();
    const auto any = [&selected](auto &&test) { return std::any_of(selected.cbegin(), selected.cend(), test); };
    // During a run files can still be added, and rows that do not convert removed: the run takes
    // the new rows once what runs has ended. Nothing else changes the list or starts again.
    const bool idle = !running;
    const bool add = true;
    const bool change = idle && rows && !Adding();
    const bool clear = change;
    const bool remove = idle ? change : any([this](int row) { return Batch->Removable(row); });
    const bool start = idle && Batch->Runnable();
    const bool pause = running && threaded && !Batch->Paused() && !stopping;
    const bool resume = running && threaded && Batch->Paused() && !stopping;
    const bool stop = running && !stopping;
    const struct {
        std::initializer_list<QObject *> commands;
        bool enabled;
    } states[] = {
        {{ToolButton1, btnAdd, N3, mnuAdd}, add},
        {{ToolButton2, btnClear, N5, mnuClear}, clear},
        {{ToolButton3, btnRemove, N4, mnuRemove}, remove},
        {{ToolButton7, btnStart, N13}, start},
        {{ToolButton5, btnPause, N14}, pause},
        {{ToolButton6, btnResume, N15}, resume},
        {{ToolButton4, btnStop, N16}, stop},
    };
    for (const auto &state : states)
        for (QObject *command : state.commands) {
            if (auto *widget = qobject_cast<QWidget *>(command))
                widget->setEnabled(state.enabled);
            else if (auto *action = qobject_cast<QAction *>(command))
                action->setEnabled(state.enabled);
        }
    ResetFolder->setEnabled(idle && !Edit1->text().isEmpty());
    btnOutPath->setEnabled(idle);
    // The run's conversions are made with the panel's settings: they change once it has ended.
    CobType->setEnabled(idle);
    cboQuality->setEnabled(idle && !PanelFormat().presets.empty());
    lblQuality->setEnabled(!PanelFormat().presets.empty());
    Cob_SD->setEnabled(idle);
    CheckBox1->setEnabled(idle);
    const bool own = any([this](int row) { return Batch->HasOwnSettings(row); });
    for (QAction *options : {RowOptions, mnuOptions})
        options->setEnabled(change && !selected.isEmpty());
    for (QAction *panel : {PanelSettings, mnuPanelSettings})
        panel->setEnabled(idle && own);
    if (mnuConvertAgain)
        mnuConvertAgain->setEnabled(!stopping && any([this](int row) { return Batch->Ended(row); }));
}

// ---- Start-up and shut-down ------------------------------------------------------------------

void TfrmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!ShownOnce_) {
        ShownOnce_ = true;
        FormShow();
    }
}

void TfrmMain::FormShow()
{
    Edit1->setText(ConfigIni.ReadDir());
    RestoreChoices();
    // From now on a choice is kept as it changes, not only at a clean exit.
    for (QComboBox *box : {CobType, cboQuality, Cob_SD})
        connect(box, &QComboBox::currentIndexChanged, this, &TfrmMain::KeepPanelChoices);
    connect(CheckBox1, &QCheckBox::toggled, this, &TfrmMain::KeepPanelChoices);
    connect(Edit1, &QLineEdit::textChanged, this, &TfrmMain::KeepPanelChoices);
}

void TfrmMain::RestoreChoices()
{
    const auto index = [this](const char *key, QComboBox *box) {
        bool ok = false;
        const int value = ConfigIni.Read(QString::fromLatin1(key)).toInt(&ok);
        if (ok && value >= 0 && value < box->count())
            box->setCurrentIndex(value);
    };
    // The quality is an index of the stored format's presets (MP3's while none was chosen, -1, as
    // earlier versions stored it); one out of range, or of a format out of range, keeps the default.
    const QString format = ConfigIni.Read(QStringLiteral("format"));
    bool known = false;
    const int stored = std::max(format.toInt(&known), 0);
    index("format", CobType);
    if (format.isEmpty() || (known && stored == CobType->currentIndex()))
        index("quality", cboQuality);
    index("channel", Cob_SD);
    const QString threads = ConfigIni.Read(QStringLiteral("threadMode"));
    if (!threads.isEmpty())
        CheckBox1->setChecked(threads == QLatin1String("1"));
    const QByteArray geometry = QByteArray::fromBase64(ConfigIni.Read(QStringLiteral("geometry")).toLatin1());
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    const QStringList widths = ConfigIni.Read(QStringLiteral("columns")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (int column = 0; column < widths.size() && column < kFileListColumnCount; ++column)
        if (const int width = widths[column].toInt(); width > 0 && kFileListColumns[column].fit == cfUser)
            lvFiles->setColumnWidth(column, width);
    const QString folder = ConfigIni.Read(QStringLiteral("addDir"));
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        OpenDialog1->setDirectory(folder);
}

QList<QPair<QString, QString>> TfrmMain::PanelChoices() const
{
    return {{QStringLiteral("dir"), Edit1->text()},
            {QStringLiteral("format"), QString::number(CobType->currentIndex())},
            {QStringLiteral("quality"), QString::number(cboQuality->currentIndex())},
            {QStringLiteral("channel"), QString::number(Cob_SD->currentIndex())},
            {QStringLiteral("threadMode"), CheckBox1->isChecked() ? QStringLiteral("1") : QStringLiteral("0")}};
}

void TfrmMain::KeepPanelChoices() { ConfigIni.Write(PanelChoices()); }

void TfrmMain::KeepChoices()
{
    QStringList widths;
    for (int column = 0; column < kFileListColumnCount; ++column)
        widths << QString::number(lvFiles->columnWidth(column));
    ConfigIni.Write(PanelChoices() + QList<QPair<QString, QString>>{
                                         {QStringLiteral("geometry"), QString::fromLatin1(saveGeometry().toBase64())},
                                         {QStringLiteral("columns"), widths.join(QLatin1Char(' '))},
                                         {QStringLiteral("addDir"), OpenDialog1->directory().absolutePath()}});
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    if (RunActive() && AskStopAndClose && !AskStopAndClose()) {
        event->ignore();
        return;
    }
    ShutDown();
    KeepChoices();
    event->accept();
}

void TfrmMain::ShutDown() { Batch->ShutDown(); }

// Closing asks first when a run is on.
void TfrmMain::N8Click() { close(); }

void TfrmMain::btnExitClick() { close(); }

void TfrmMain::A1Click()
{
    TFrm_About about(this);
    about.OpenUrl = OpenUrl;
    about.exec();
}

// ---- Errors ----------------------------------------------------------------------------------

void TfrmMain::AppException(std::exception_ptr raised)
{
    QString text;
    QMessageBox::Icon icon = QMessageBox::Critical;
    try {
        std::rethrow_exception(raised);
    } catch (const FFMpegException &e) {
        text = QString::fromStdString(e.what());
        icon = QMessageBox::Warning;
    } catch (const std::exception &e) {
        text = QString::fromStdString(e.what());
    } catch (...) {
        text = QStringLiteral("Unknown error");
    }
    Message(icon, AppExceptionText(text));
}

void TfrmMain::Message(QMessageBox::Icon icon, const QString &text)
{
    if (ShowMessage)
        ShowMessage(icon, text);
}

// ---- The list's commands ---------------------------------------------------------------------

void TfrmMain::EnsureOptionWindow()
{
    if (!frmOption) {
        frmOption = new TfrmOption(this);
        frmOption->setObjectName(QStringLiteral("frmOption"));
    }
}

void TfrmMain::CopySettingsToOptionWindow()
{
    // Without a chosen folder the outputs go beside their inputs, not into the current folder.
    frmOption->edtOutPath->setText(Edit1->text().isEmpty() ? QString::fromLatin1(kSameAsInput) : Edit1->text());
    frmOption->grpAudioChannels->SetItemIndex(Cob_SD->currentIndex());
    frmOption->grpAudioSampleRate->SetItemIndex(cobrate->currentIndex());
    if (CobType->currentIndex() >= 0)
        frmOption->grpFormats->SetItemIndex(PanelFormat().optionsIndex);
    // The panel's preset only where the window shows the panel's format's list.
    if (frmOption->grpFormats->ItemIndex() == PanelFormat().optionsIndex && !PanelFormat().presets.empty())
        frmOption->cboQuality->setCurrentIndex(cboQuality->currentIndex());
}

TOptionSettings TfrmMain::TaskSettings()
{
    EnsureOptionWindow();
    // The panel's choices as they are now, also a folder chosen since the last start.
    CopySettingsToOptionWindow();
    TOptionSettings settings = frmOption->Settings();
    // A row converts its whole file: the options window has no clip for a file just loaded.
    settings.CutClip = false;
    return settings;
}

const batch::OutputFormat &TfrmMain::PanelFormat() const
{
    const std::span<const batch::OutputFormat> formats = batch::OutputFormats();
    const int index = CobType->currentIndex();
    return index >= 0 && static_cast<size_t>(index) < formats.size() ? formats[index]
                                                                     : *batch::OutputFormatNamed("mp3");
}

void TfrmMain::ShowPanelQualities()
{
    const batch::OutputFormat &format = PanelFormat();
    const QSignalBlocker quiet(cboQuality); // the list as it is filled is no choice
    cboQuality->clear();
    cboQuality->addItems(PresetCaptions(format));
    const int chosen = PanelPresets_.value(QString::fromLatin1(format.name), -1);
    cboQuality->setCurrentIndex(format.presets.empty() ? 0 : PresetOf(format, chosen));
}

void TfrmMain::RefreshOutputNames() { Batch->RefreshOutputNames(); }

void TfrmMain::ResetOutputFolder()
{
    if (RunActive())
        return;
    Edit1->clear();
}

int TfrmMain::SelectedRow() const
{
    const QList<int> rows = SelectedRows();
    return rows.isEmpty() ? -1 : rows.first();
}

QList<int> TfrmMain::SelectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &index : lvFiles->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TfrmMain::RemoveCommand(TPlace)
{
    const QList<int> rows = SelectedRows();
    if (rows.isEmpty())
        return;
    // From the last, so that the rows still to go keep their numbers. During a run, rows that
    // convert stay until it is stopped.
    int kept = 0;
    for (auto row = rows.crbegin(); row != rows.crend(); ++row)
        kept += Batch->RemoveRow(*row) ? 0 : 1;
    if (kept > 0)
        statusBar()->showMessage(QStringLiteral("Files being converted stay in the list; Stop ends their conversion."),
                                 10000);
    if (kept == rows.size())
        return;
    // The row after the removed ones is next, so that Delete can go on down the list.
    if (lvFiles->rowCount() > 0) {
        const QModelIndex next = lvFiles->model()->index(std::min(rows.first(), lvFiles->rowCount() - 1), 0);
        lvFiles->selectionModel()->setCurrentIndex(next,
                                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    RefreshOutputNames();
    UpdateCommands();
}

void TfrmMain::ToolButton3Click() { RemoveCommand(plToolBar); }
void TfrmMain::btnRemoveClick() { RemoveCommand(plHidden); }

void TfrmMain::ClearCommand(TPlace)
{
    if (RunActive())
        return;
    Batch->Clear();
    UpdateCommands();
}

void TfrmMain::ToolButton2Click() { ClearCommand(plToolBar); }
void TfrmMain::btnClearClick() { ClearCommand(plHidden); }

// ---- Runs ------------------------------------------------------------------------------------

void TfrmMain::StartCommand(TPlace)
{
    statusBar()->clearMessage(); // what adding said
    Batch->Start();
    ShowBatchStatus();
}

void TfrmMain::ConvertAgainCommand()
{
    Batch->ConvertAgain(SelectedRows());
    UpdateCommands();
}

QString TfrmMain::StopAndCloseQuestion() const
{
    return Batch->Paused() ? QStringLiteral("The conversion is paused with files still to convert. Stop converting "
                                            "and close?")
                           : QStringLiteral("Files are still being converted. Stop converting and close?");
}

void TfrmMain::ToolButton7Click() { StartCommand(plToolBar); }
void TfrmMain::btnStartClick() { StartCommand(plHidden); }

void TfrmMain::PauseCommand(TPlace, bool pause) { Batch->Pause(pause); }

void TfrmMain::ToolButton5Click() { PauseCommand(plToolBar, true); }
void TfrmMain::btnPauseClick() { PauseCommand(plHidden, true); }
void TfrmMain::ToolButton6Click() { PauseCommand(plToolBar, false); }
void TfrmMain::btnResumeClick() { PauseCommand(plHidden, false); }

void TfrmMain::StopCommand() { Batch->Stop(); }

void TfrmMain::ToolButton4Click() { StopCommand(); }
void TfrmMain::btnStopClick() { StopCommand(); }
void TfrmMain::N16Click() { StopCommand(); }

// ---- The rows --------------------------------------------------------------------------------

void TfrmMain::ShowAddedRow(int row, const QString &input, qint64 durationMicroseconds, qint64 size)
{
    lvFiles->insertRow(row);
    const QString texts[kFileListColumnCount] = {QFileInfo(input).fileName(),
                                                 LengthCellText(durationMicroseconds),
                                                 SizeCellText(size),
                                                 QString(),
                                                 QString(),
                                                 QString(),
                                                 QString()};
    for (int column = 0; column < kFileListColumnCount; ++column) {
        auto *item = new QTableWidgetItem(texts[column]);
        if (kFileListColumns[column].number)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (column == 0)
            item->setToolTip(input);
        else if (column == 1)
            item->setToolTip(LengthExactText(durationMicroseconds));
        else if (column == 2 && size >= 0)
            item->setToolTip(SizeExactText(size));
        lvFiles->setItem(row, column, item);
    }
}

void TfrmMain::ShowOutputName(int row, const QString &output)
{
    if (QTableWidgetItem *item = lvFiles->item(row, kOutputColumn)) {
        item->setText(QFileInfo(output).fileName());
        ShowRowSettingsMark(row, Batch->HasOwnSettings(row));
    }
}

void TfrmMain::ShowRowState(int row, TRowState state, const QString &reason)
{
    if (state == rsConverting)
        return; // the progress events fill the cell
    RowPace_.remove(row);
    SetCell(row, kProgressColumn, RowStateText(state, reason));
    if (QTableWidgetItem *item = lvFiles->item(row, kProgressColumn))
        item->setToolTip(state == rsFailed ? reason : QString());
    ShowEndFigures(row, state);
    if (Batch->Paused() && (state == rsDone || state == rsFailed || state == rsStopped))
        ShowPaused(true); // the row after it is held as it starts
}

void TfrmMain::ShowProgress(int row, int currentMs, int totalMs, qint64 size)
{
    // The pace since the row's first report: its setup and the decoder's start count for nothing.
    const auto now = std::chrono::steady_clock::now();
    TRowPace &pace = RowPace_.contains(row) ? RowPace_[row] : (RowPace_[row] = {now, currentMs});
    pace.lastMs = currentMs;
    pace.totalMs = totalMs;
    const TRowPace first = pace;
    const double seconds = std::chrono::duration<double>(now - first.at).count();
    std::optional<int64_t> left;
    if (totalMs > 0 && seconds >= 1 && currentMs > first.currentMs)
        left =
            batch::SecondsLeft(static_cast<double>(currentMs - first.currentMs) / (totalMs - first.currentMs), seconds);
    // What was under way before a pause may still report.
    SetCell(row, kProgressColumn, Batch->Paused() ? kPausedText : ProgressLeftText(currentMs, totalMs, left));
    ShowFigure(row, kCurrentTimeColumn, LengthCellText(currentMs * INT64_C(1000)),
               LengthExactText(currentMs * INT64_C(1000)));
    ShowFigure(row, kCurrentSizeColumn, SizeCellText(size), SizeExactText(size));
}

void TfrmMain::ShowBatchStatus()
{
    if (!RunActive())
        return;
    const batch::BatchTotals &totals = Batch->Totals();
    StatusText->setText(Batch->Paused() && !Batch->Stopping()
                            ? BatchPausedText(totals)
                            : BatchStatusText(totals, batch::SecondsLeft(totals.Fraction(), Batch->RunSeconds())));
}

void TfrmMain::ShowPaused(bool paused)
{
    const auto now = std::chrono::steady_clock::now();
    for (TRowPace &pace : RowPace_) {
        // The pace is taken again from the resume: the pause is no part of it.
        pace.at = now;
        pace.currentMs = pace.lastMs;
    }
    // Also a row handed to a worker that has not reported yet.
    for (int row = 0; row < lvFiles->rowCount(); ++row) {
        if (!Batch->UnderWay(row))
            continue;
        const auto pace = RowPace_.constFind(row);
        SetCell(row, kProgressColumn,
                paused                    ? kPausedText
                : pace != RowPace_.cend() ? ProgressLeftText(pace->lastMs, pace->totalMs, std::nullopt)
                                          : RowStateText(Batch->RowState(row)));
    }
    ShowBatchStatus();
}

void TfrmMain::ShowRowRemoved(int row)
{
    lvFiles->removeRow(row);
    QHash<int, TRowPace> kept;
    for (auto pace = RowPace_.cbegin(); pace != RowPace_.cend(); ++pace)
        if (pace.key() != row)
            kept.insert(pace.key() > row ? pace.key() - 1 : pace.key(), pace.value());
    RowPace_ = kept;
}

void TfrmMain::ShowRunSummary(int converted, int failed, int stopped, qint64 seconds)
{
    const QString summary = BatchSummaryText(converted, failed, stopped, seconds);
    StatusText->setText(summary);
    if (Notify)
        Notify(QStringLiteral("Conversion finished"), summary);
}

void TfrmMain::SetCell(int row, int column, const QString &text)
{
    if (row < 0 || row >= lvFiles->rowCount())
        return;
    if (QTableWidgetItem *item = lvFiles->item(row, column))
        item->setText(text);
}

void TfrmMain::RepaintIfMainThreadRun()
{
    if (!chkThreadMode->isChecked())
        lvFiles->viewport()->repaint();
}

// ---- Output folder and the shell -------------------------------------------------------------

void TfrmMain::btnOutPathClick()
{
    QString folder;
    if (ChooseFolder && ChooseFolder(QStringLiteral("Select Output Folder"), folder) && !folder.isEmpty()) {
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        Edit1->setText(folder);
    }
}

void TfrmMain::OpenLocal(const QString &path)
{
    if (!OpenUrl(QUrl::fromLocalFile(path)))
        Message(QMessageBox::Warning, NoOpenerText(QUrl::fromLocalFile(path)));
}

void TfrmMain::Button2Click()
{
    // Without a chosen folder the outputs go beside their inputs: the first row's is opened.
    const QString folder = Edit1->text().isEmpty() ? Batch->OutputFolderList.value(0) : Edit1->text();
    if (folder.isEmpty())
        Message(QMessageBox::Information,
                QStringLiteral("There is no folder to open: no output folder is chosen, and the list is empty."));
    else
        OpenLocal(folder);
}

int TfrmMain::PlayRow() const
{
    const int row = SelectedRow();
    if (row >= 0 && row < Batch->OutputFolderList.size())
        return row;
    return static_cast<int>(Batch->OutputFileList.size()) - 1;
}

void TfrmMain::mnuOpenFolderClick()
{
    const QStringList &folders = Batch->OutputFolderList;
    const int row = SelectedRow();
    QString folder;
    if (row >= 0 && row < folders.size())
        folder = folders[row];
    else if (!folders.isEmpty())
        folder = folders.last();
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        OpenLocal(folder);
    else if (!folder.isEmpty())
        Message(QMessageBox::Information, QStringLiteral("The folder \"%1\" is not there.").arg(folder));
}

void TfrmMain::mnuPlayClick()
{
    const int row = PlayRow();
    if (row < 0 || row >= Batch->OutputFileList.size())
        return;
    const TOutputFile &output = Batch->OutputFileList[row];
    if (output.Converted && QFileInfo(output.FileName).isFile())
        OpenLocal(output.FileName);
}

bool TfrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lvFiles->viewport() && event->type() == QEvent::Resize)
        FitColumnsToList();
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::PopupFromKeyboard()
{
    // Under the current row, as the menu key places it.
    const QModelIndex current = lvFiles->currentIndex();
    const QPoint at = current.isValid() ? lvFiles->visualRect(current).bottomLeft() : QPoint(0, 0);
    emit lvFiles->customContextMenuRequested(at);
}

void TfrmMain::PopupMenu1Popup()
{
    UpdateCommands();
    mnuOpenFolder->setEnabled(lvFiles->rowCount() > 0);
    const int row = PlayRow();
    mnuPlay->setEnabled(row >= 0 && row < Batch->OutputFileList.size() && Batch->OutputFileList[row].Converted);
}
