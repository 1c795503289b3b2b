// "Marvento Wav Mp3 Converter": the batch list, its commands and the run's progress. The window
// shows the rows of its batch (BatchControl.h) and routes the commands to it; from the first add
// or start on it owns the hidden options window whose settings every task is built from.
#pragma once

#include "app/BatchControl.h"
#include "app/ConfigIni.h"
#include "app/OptionSettings.h"
#include "batch/OutputFormats.h"

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QMessageBox>
#include <QPair>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMimeData;
class QPushButton;
class QTableWidget;
class QToolBar;
class QToolButton;
class QWidget;
class TfrmOption;
class TLogPane;
class TRadioGroup;

class TfrmMain : public QMainWindow {
    Q_OBJECT

public:
    // programFolder: where "LibAV" and "Config.ini" are (empty: the program's own folder);
    // userConfigFolder: where "Config.ini" goes when programFolder cannot be written (empty: the
    // user's configuration folder).
    explicit TfrmMain(QWidget *parent = nullptr, const QString &programFolder = QString(),
                      const QString &userConfigFolder = QString());
    ~TfrmMain() override;

    // Where a command was given: the tool bar, or the main menu, the context menu and the hidden
    // buttons. Every place shows the same states.
    enum TPlace { plToolBar, plHidden };

    // Adds the files one at a time from the event loop, so that the window paints meanwhile;
    // then shows one box for those refused and calls done.
    void QueueFiles(const QStringList &fileNames, std::function<void()> done = {});
    bool Adding() const { return Batch->Adding(); }
    // Shows what reached the program as an error box.
    void AppException(std::exception_ptr raised);
    // Stops every task, waits until every output is finished and lets no event reach the window
    // any more. Closing the window does it; so does destroying it.
    void ShutDown();
    // Whether a run has been handed to the converter and has not ended yet.
    bool RunActive() const { return Batch->RunActive(); }
    // Sets every command, in the tool bar, the menus and the context menu, from the list and the run.
    void UpdateCommands();
    // The Output column and the output list as a start would name the outputs now.
    void RefreshOutputNames();
    // Outputs beside their inputs again.
    void ResetOutputFolder();

    // Commands, by where they are offered.
    void AddCommand();
    // File > Add folder: every file with sound below the chosen folder.
    void AddFolderCommand();
    // Adds dropped or named files and folders (a folder: its files with sound, hidden ones left out).
    void AddPaths(const QStringList &paths);
    void RemoveCommand(TPlace place);
    void ClearCommand(TPlace place);
    void StartCommand(TPlace place);
    // Pause (true) or resume the list.
    void PauseCommand(TPlace place, bool pause);
    void StopCommand();
    // The output options window for the selected rows: OK gives them the settings shown.
    void RowOptionsCommand();
    // The selected rows convert with the panel's settings again.
    void PanelSettingsCommand();
    // The selected rows that ended are converted again: by the next start, or during a run by the run.
    void ConvertAgainCommand();
    // What closing during a run asks.
    QString StopAndCloseQuestion() const;

    // Handlers.
    void ToolButton1Click(); // Add file
    void ToolButton2Click(); // Clear
    void ToolButton3Click(); // Remove
    void ToolButton4Click(); // Stop
    void ToolButton5Click(); // Pause
    void ToolButton6Click(); // Resume
    void ToolButton7Click(); // Converter
    void btnAddClick();
    void btnRemoveClick();
    void btnClearClick();
    void btnStartClick();
    void btnStopClick();
    void btnPauseClick();
    void btnResumeClick();
    void btnExitClick();
    void btnOutPathClick();
    void Button2Click(); // "Open" the output folder
    void N8Click();      // File > Exit
    void N16Click();     // Action > Stop
    void A1Click();      // Help > About
    void mnuPlayClick();
    void mnuOpenFolderClick();
    // Sets the context menu's enabled states, as it does each time it opens.
    void PopupMenu1Popup();
    void FormShow();

    // Shell services, replaceable: the open dialog (empty when cancelled), the folder dialog,
    // opening a file, folder or address, the message box with the application title, and the
    // desktop's notice at the end of a run.
    std::function<QStringList()> ChooseFiles;
    std::function<bool(const QString &title, QString &folder)> ChooseFolder;
    std::function<bool(const QUrl &)> OpenUrl;
    std::function<void(QMessageBox::Icon, const QString &)> ShowMessage;
    std::function<void(const QString &summary, const QString &body)> Notify;
    // Asked when the window closes during a run: true to stop and close, false to go on.
    std::function<bool()> AskStopAndClose;
    // Runs the output options window for rows as a modal dialog; its QDialog result.
    std::function<int(TfrmOption &)> RunOptions;

    // The rows, their tasks and runs, and the log.
    std::unique_ptr<TBatchControl> Batch;
    TfrmOption *frmOption = nullptr;
    TConfigIni ConfigIni;

    QToolBar *ToolBar1;
    QToolButton *ToolButton1, *ToolButton2, *ToolButton3, *ToolButton7, *ToolButton5, *ToolButton6, *ToolButton4;
    QTableWidget *lvFiles;
    QWidget *Panel1;
    QComboBox *CobType;
    QLabel *lblQuality;
    QComboBox *cboQuality; // the presets of the panel's format
    QComboBox *Cob_SD;
    QCheckBox *CheckBox1;
    QLineEdit *Edit1;
    QAction *ResetFolder; // in Edit1: outputs beside their inputs
    QPushButton *btnOutPath;
    QPushButton *Button2;
    QFileDialog *OpenDialog1;

    QAction *N3, *N4, *N5, *N8;     // File
    QAction *AddFolder;             // File > Add folder
    QAction *N13, *N14, *N15, *N16; // Action
    QAction *RowOptions, *PanelSettings;
    QAction *ViewLog; // View > Log
    QAction *A1;      // Help
    TLogPane *LogPane;
    QLabel *StatusText; // the batch's total in the status bar
    QMenu *PopupMenu1;
    QAction *mnuAdd, *mnuRemove, *mnuClear, *mnuPlay, *mnuOpenFolder, *mnuOptions, *mnuPanelSettings;
    QAction *mnuConvertAgain = nullptr;

    // Never shown: settings the program reads, and the second set of command states.
    QWidget *HiddenControls;
    QGroupBox *grpOption;
    QCheckBox *chkThreadMode;
    QLineEdit *edtThreadCount;
    QCheckBox *chkVerNum;
    TRadioGroup *grpLogLevel;
    TRadioGroup *grpPriority;
    QComboBox *cobrate;
    QPushButton *btnAdd, *btnRemove, *btnClear, *btnStart, *btnStop, *btnPause, *btnResume, *btnExit;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Building the window (MainFrmLayout.cpp).
    void FormCreate();
    void CreateShellServices();
    void CreateToolBar();
    void CreateMenus();
    void CreatePanel();
    void CreateFileList(QWidget *parent);
    void CreateSettingsPanel(QWidget *parent);
    void CreateHiddenControls();
    void CreateOpenDialog();
    void CreateStatusAndLog();
    void FitToScreen();
    // The window's choices kept in Config.ini, read at the first show and written at the close.
    void RestoreChoices();
    void KeepChoices();
    // The panel's choices, kept as soon as one changes (once the window has been shown).
    QList<QPair<QString, QString>> PanelChoices() const;
    void KeepPanelChoices();

    // A handler that shows what it raises in the error box.
    std::function<void()> Guarded(std::function<void()> handler);
    void ConnectBatch();
    // The window's choices as the batch reads them.
    TBatchChoices BatchChoices() const;
    // The options window's settings with the panel's choices, as every row is built from.
    TOptionSettings TaskSettings();
    void EnsureOptionWindow();
    void CopySettingsToOptionWindow();
    // Opens a file or folder with the desktop's program for it, or says that none is set up.
    void OpenLocal(const QString &path);
    QStringList RunOpenDialog();
    // The open dialog's filters: every media type the libraries read first, once they are loaded.
    void OfferAllMediaFiles();
    // Local files and folders of a drag; empty when it carries none.
    QStringList DroppedPaths(const QMimeData *data) const;
    // The status bar from the batch's totals, the summary and the desktop's notice at the end.
    void ShowBatchStatus();
    // Converting rows say "Paused" and their time left starts again from the resume.
    void ShowPaused(bool paused);
    void ShowRowRemoved(int row);
    void ShowRunSummary(int converted, int failed, int stopped, qint64 seconds);
    void PopupFromKeyboard();
    // The list's columns (MainFrmList.cpp): the figures as wide as their caption or widest entry,
    // File Title and Output sharing the rest, each keeping room for a readable name.
    void SizeFileListColumns();
    int ColumnEntryWidth(int column) const;
    void FitColumnsToList();
    // The panel's format, a row of batch::OutputFormats(); MP3 while none is chosen.
    const batch::OutputFormat &PanelFormat() const;
    // The quality list of the panel's format: the preset chosen for it earlier in the session, else
    // its default; disabled with "Lossless" alone for a format without presets.
    void ShowPanelQualities();
    // The first selected row, -1 when none is; all of them in order.
    int SelectedRow() const;
    QList<int> SelectedRows() const;
    // The row "Play Output" plays: the selected one, else the last; -1 when there is none.
    int PlayRow() const;

    // The batch's rows shown in lvFiles.
    void ShowAddedRow(int row, const QString &input, qint64 durationMicroseconds, qint64 size);
    void ShowOutputName(int row, const QString &output);
    void ShowRowSettingsMark(int row, bool own);
    void ShowRowState(int row, TRowState state, const QString &reason);
    void ShowProgress(int row, int currentMs, int totalMs, qint64 size);
    void SetCell(int row, int column, const QString &text);
    // A figure: readable in the cell, exact in its tooltip.
    void ShowFigure(int row, int column, const QString &text, const QString &tip);
    // The figures of a row that ended or waits: the output's size on the disk once done, none
    // after a failure or a stop, nothing of an earlier run while it waits.
    void ShowEndFigures(int row, TRowState state);
    // A failed row is as high as its reason needs at the Progress column's width.
    void FitRowHeight(int row);
    // Brings the list on screen now: a run on the main thread keeps the event loop busy.
    void RepaintIfMainThreadRun();
    void Message(QMessageBox::Icon icon, const QString &text);

    bool ShownOnce_ = false;
    bool AllMediaOffered_ = false;
    // The first progress of each converting row, for its time left, and its latest.
    struct TRowPace {
        std::chrono::steady_clock::time_point at;
        int currentMs = 0;
        int lastMs = 0, totalMs = 0;
    };
    QHash<int, TRowPace> RowPace_;
    // The preset chosen for each format (by name) this session.
    QHash<QString, int> PanelPresets_;
};
