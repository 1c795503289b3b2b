// "Marvento Wav Mp3 Converter": the batch list, its commands and the run's progress. The window
// owns the converter and, from the first add or start on, the hidden options window that builds
// every task's option records.
#pragma once

#include "app/BatchTexts.h"
#include "app/ConfigIni.h"
#include "app/HookDrawing.h"
#include "component/ConverterTypes.h"

#include <QList>
#include <QMainWindow>
#include <QMessageBox>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <cstdint>
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
class QPushButton;
class QTableWidget;
class QToolBar;
class QToolButton;
class QWidget;
class TEventRelay;
class TfrmOption;
class TRadioGroup;
class TVeloxConverter;

// One output of the list and whether its task has ended without an error.
struct TOutputFile {
    QString FileName;
    bool Converted = false;
};

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

    // Adds one file as "Add file" does after its dialog; false, with the reason in the log and in
    // RefusedFiles, when it is not added.
    bool AddFile(const QString &fileName);
    // Adds the files one at a time from the event loop, so that the window paints meanwhile;
    // then shows one box for those refused and calls done.
    void QueueFiles(const QStringList &fileNames, std::function<void()> done = {});
    bool Adding() const { return !QueuedFiles_.isEmpty(); }
    // "file: reason" for each file refused since the last box that listed them.
    QStringList RefusedFiles;
    // Adds one task and its row from the two records; false (with log lines) when that fails.
    bool AddConvertTask(TInputOptions &AInput, TOutputOptions &AOutput);
    // Shows what reached the program as an error box.
    void AppException(std::exception_ptr raised);
    // Stops every task, waits until every output is finished and lets no event reach the window
    // any more. Closing the window does it; so does destroying it.
    void ShutDown();
    // Whether a run has been handed to the converter and has not ended yet.
    bool RunActive() const { return RunActive_; }
    // Where row stands, and why when it failed.
    TRowState RowState(int row) const { return RowStates_.value(row).state; }
    QString RowReason(int row) const { return RowStates_.value(row).reason; }
    // Sets every command, in the tool bar, the menus and the context menu, from the list and the run.
    void UpdateCommands();
    // The Output column and the output list as a start would name the outputs now.
    void RefreshOutputNames();
    // Outputs beside their inputs again.
    void ResetOutputFolder();

    // Commands, by where they are offered.
    void AddCommand();
    void RemoveCommand(TPlace place);
    void ClearCommand(TPlace place);
    void StartCommand(TPlace place);
    // Pause (true) or resume the list.
    void PauseCommand(TPlace place, bool pause);
    void StopCommand();

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

    // The converter's events; they may come on any thread.
    void VeloxCProgress(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration, float AQuality, float ABitRate,
                        int64_t ACurrentSize, int ATotalOutputDuration);
    void VeloxCLog(int AIndex, TLogLevel ALogLevel, const std::string &AMsg);
    void VeloxCTerminate(int AIndex, bool AFinished, bool AException, const std::string &AMessage);
    void VeloxCBeforeHook(int AIndex, int64_t APTS, THookAction &AHookAction);
    void VeloxCCustomHook(int AIndex, TBitmap24 *ABitmap, int AFrameNumber, int64_t APTS, bool &AUpdate,
                          bool &AStopHook);

    // Shell services, replaceable: the open dialog (empty when cancelled), the folder dialog,
    // opening a file, folder or address, and the message box with the application title.
    std::function<QString()> ChooseFile;
    std::function<bool(const QString &title, QString &folder)> ChooseFolder;
    std::function<bool(const QUrl &)> OpenUrl;
    std::function<void(QMessageBox::Icon, const QString &)> ShowMessage;
    // Asked when the window closes during a run: true to stop and close, false to go on.
    std::function<bool()> AskStopAndClose;

    std::unique_ptr<TVeloxConverter> VeloxC;
    TfrmOption *frmOption = nullptr;
    TConfigIni ConfigIni;
    TCustomHookPainter HookPainter;

    // Per row: the input files (all added, also those that failed), the output folders (ending
    // in "/") and the output files.
    QStringList InputFileList;
    QStringList OutputFolderList;
    QList<TOutputFile> OutputFileList;
    // The log: every line of the window and of the converter.
    QStringList mmoLog;

    QToolBar *ToolBar1;
    QToolButton *ToolButton1, *ToolButton2, *ToolButton3, *ToolButton7, *ToolButton5, *ToolButton6, *ToolButton4;
    QTableWidget *lvFiles;
    QWidget *Panel1;
    QComboBox *CobType;
    QComboBox *Cob_SD;
    QCheckBox *CheckBox1;
    QLineEdit *Edit1;
    QAction *ResetFolder; // in Edit1: outputs beside their inputs
    QPushButton *btnOutPath;
    QPushButton *Button2;
    QFileDialog *OpenDialog1;

    QAction *N3, *N4, *N5, *N8;       // File
    QAction *N13, *N14, *N15, *N16;   // Action
    QAction *A1;                      // Help
    QMenu *PopupMenu1;
    QAction *mnuAdd, *mnuRemove, *mnuClear, *mnuPlay, *mnuOpenFolder;

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

private:
    struct TRowStatus {
        TRowState state = rsAdded;
        QString reason;
    };

    void FormCreate();
    void CreateToolBar();
    void CreateMenus();
    void CreatePanel();
    void CreateHiddenControls();
    void WireConverter();

    // A handler that shows what it raises in the error box.
    std::function<void()> Guarded(std::function<void()> handler);
    void Log(const QString &line);
    bool LoadLibraries(QString *error = nullptr);
    void ApplyLogLevel();
    void EnsureOptionWindow();
    void CopySettingsToOptionWindow();
    // Builds the records of the file the probe holds and adds its task.
    bool AddProbedFile(int inputIndex);
    // Creates the task of the records; its index, or -1 with error.
    int CreateTask(TInputOptions &AInput, TOutputOptions &AOutput, QString &error);
    void Refuse(const QString &fileName, const QString &reason);
    void ShowRefusals();
    void AddNextQueued();
    // Builds and adds the task of row; false with the row failed.
    bool PrepareRow(int row, QStringList &names);
    void SetRowState(int row, TRowState state, const QString &reason = QString());
    void SetOutputName(int row, const QString &output);
    // The row of task index of the current run; -1 when there is none.
    int RowOfTask(int index) const;
    // Opens a file or folder with the desktop's program for it, or says that none is set up.
    void OpenLocal(const QString &path);
    QString RunOpenDialog();
    void RemoveRow(int row);
    // The suffix of the panel's format.
    QString PanelSuffix() const;
    void ClearRows();
    int SelectedRow() const;
    // The row "Play Output" plays: the selected one, else the last; -1 when there is none.
    int PlayRow() const;
    void SetCell(int row, int column, const QString &text);
    // Brings the list on screen now: a run on the main thread keeps the event loop busy.
    void RepaintIfMainThreadRun();
    void RunEnded();
    void Message(QMessageBox::Icon icon, const QString &text);

    QString ProgramFolder_;
    TEventRelay *Relay;
    // Bumped whenever the task list is rebuilt or cleared: events of older tasks change no row.
    std::atomic<int> Run_{0};
    // Events and hooks do nothing once the window shuts down.
    std::atomic<bool> Detached_{false};
    bool RunActive_ = false;
    bool Paused_ = false, Stopping_ = false;
    bool ShownOnce_ = false;
    QList<TRowStatus> RowStates_;
    QList<int> TaskRow_;       // the row of each task: of the run, or as added
    QStringList RunFailures_;  // "file: reason" of the run's failed rows
    QStringList QueuedFiles_;  // files waiting to be added
    std::function<void()> QueueDone_;
    // The input entry of each row, and of the row being added.
    QList<int> RowInput_;
    int AddingInput_ = -1;
};
