// The main window: layout, start-up and shut-down, the batch list, its commands and the run.
#include "app/MainFrm.h"

#include "app/BatchTexts.h"
#include "app/BrowseForFolder.h"
#include "app/EventRelay.h"
#include "app/FileDialogKeys.h"
#include "app/OptionFrm.h"
#include "app/OutputFolder.h"
#include "app/RadioGroup.h"
#include "app/ToolImages.h"
#include "app/U_About.h"

#include "component/FFmpegList.h"
#include "component/VeloxConverter.h"
#include "engine/FFMpegException.h"
#include "probe/AVProbe.h"
#include "probe/MediaCheck.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const QString kTitle = QStringLiteral("Marvento Wav Mp3 Converter");

// Columns of lvFiles: caption, width at the 8-point font the widths were made for, and the
// characters a typical entry needs (names, sizes of a few gigabytes), whichever is wider.
struct TColumn {
    const char *caption;
    int width;
    int chars;
    bool number;
};
constexpr TColumn kColumns[] = {{"File Title", 100, 24, false}, {"Total Time", 65, 0, true},
                                {"File Size", 65, 11, true},    {"Output", 120, 28, false},
                                {"Progress", 80, 0, true},      {"Current Time", 80, 0, true},
                                {"File Size", 65, 11, true}};
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));
constexpr int kProgressColumn = 4, kCurrentTimeColumn = 5, kCurrentSizeColumn = 6;

// The line height of the 8-point font the window's sizes were made for.
constexpr double kDesignLineHeight = 13.0;

template <class T> T *Named(T *control, const char *name)
{
    control->setObjectName(QString::fromLatin1(name));
    return control;
}

QString FolderOf(const QString &path)
{
    QString folder = QFileInfo(path).path();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

} // namespace

TfrmMain::TfrmMain(QWidget *parent, const QString &programFolder, const QString &userConfigFolder)
    : QMainWindow(parent),
      ConfigIni(programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder,
                userConfigFolder.isEmpty() ? TConfigIni::DefaultUserFolder() : userConfigFolder),
      HookPainter(QFont().family(), ApplicationIconImage(32)),
      ProgramFolder_(programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder)
{
    FormCreate();
}

TfrmMain::~TfrmMain()
{
    ShutDown();
    // The options window looks at the converter's probe: it goes first.
    delete frmOption;
    frmOption = nullptr;
    VeloxC.reset();
}

void TfrmMain::FormCreate()
{
    setObjectName(QStringLiteral("frmMain"));
    QGuiApplication::setApplicationDisplayName(kTitle);
    setWindowTitle(kTitle);
    setWindowIcon(QIcon(QPixmap::fromImage(ApplicationIconImage(64))));

    ChooseFile = [this] { return RunOpenDialog(); };
    ChooseFolder = [this](const QString &title, QString &folder) {
        return BrowseForFolder(this, title, QString(), folder);
    };
    OpenUrl = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
    ShowMessage = [this](QMessageBox::Icon icon, const QString &text) {
        QMessageBox box(icon, QGuiApplication::applicationDisplayName(), text, QMessageBox::Ok, this);
        box.exec();
    };

    AskStopAndClose = [this] {
        QMessageBox box(QMessageBox::Question, QGuiApplication::applicationDisplayName(),
                        QStringLiteral("Files are still being converted. Stop converting and close?"),
                        QMessageBox::NoButton, this);
        QPushButton *stop = box.addButton(QStringLiteral("Stop and Close"), QMessageBox::AcceptRole);
        box.setDefaultButton(box.addButton(QStringLiteral("Keep Converting"), QMessageBox::RejectRole));
        box.exec();
        return box.clickedButton() == stop;
    };

    VeloxC = std::make_unique<TVeloxConverter>();
    VeloxC->setObjectName(QStringLiteral("VeloxC"));
    // Nothing appears beside an input before its conversion, nothing half made under a final
    // name, and the outputs keep their inputs' tags.
    VeloxC->SetSafeOutputs(true);
    VeloxC->SetCarryTags(true);
    Relay = new TEventRelay(this);
    Relay->OnFailure = [this](std::exception_ptr raised) {
        // The box needs the event loop; the failing update may have run inside a run's event.
        Relay->Post([this, raised] { AppException(raised); }, true);
    };

    CreateToolBar();
    CreateMenus();
    CreatePanel();
    CreateHiddenControls();

    OpenDialog1 = Named(new QFileDialog(this), "OpenDialog1");
    OpenDialog1->setNameFilters({QStringLiteral("Mp3文件 (*.mp3)"), QStringLiteral("Wav文件 (*.wav)")});
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setSizeGripEnabled(true);
    MakeCompletionsAccept(OpenDialog1);

    WireConverter();
    connect(CobType, &QComboBox::currentIndexChanged, this, Guarded([this] { RefreshOutputNames(); }));
    connect(Edit1, &QLineEdit::textChanged, this, Guarded([this] {
        RefreshOutputNames();
        UpdateCommands();
    }));
    UpdateCommands();

    // Wide enough for every column, within the screen.
    const double scale = std::max(1.0, fontMetrics().height() / kDesignLineHeight);
    int columns = 2 * lvFiles->frameWidth() + lvFiles->verticalScrollBar()->sizeHint().width();
    for (int i = 0; i < kColumnCount; ++i)
        columns += lvFiles->columnWidth(i);
    QSize size(std::max(static_cast<int>(std::lround(592 * scale)), columns),
               static_cast<int>(std::lround(469 * scale)));
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        size = size.boundedTo(screen->availableGeometry().size());
        resize(size);
        move(screen->availableGeometry().center() - rect().center());
    } else {
        resize(size);
    }
}

void TfrmMain::CreateToolBar()
{
    ToolBar1 = Named(new QToolBar(this), "ToolBar1");
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(24, 24));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    struct TButtonInfo {
        QToolButton **button;
        const char *name;
        const char *caption;
        int image;
        bool enabled;
        void (TfrmMain::*click)();
    };
    const TButtonInfo buttons[] = {
        {&ToolButton1, "ToolButton1", "Add file", 4, true, &TfrmMain::ToolButton1Click},
        {&ToolButton2, "ToolButton2", "Clear", 8, false, &TfrmMain::ToolButton2Click},
        {&ToolButton3, "ToolButton3", "Remove", 1, false, &TfrmMain::ToolButton3Click},
        {nullptr, nullptr, nullptr, -1, false, nullptr},
        {&ToolButton7, "ToolButton7", "Converter", 6, false, &TfrmMain::ToolButton7Click},
        {&ToolButton5, "ToolButton5", "Pause", 5, false, &TfrmMain::ToolButton5Click},
        {&ToolButton6, "ToolButton6", "Resume", 0, false, &TfrmMain::ToolButton6Click},
        {&ToolButton4, "ToolButton4", "Stop", 3, false, &TfrmMain::ToolButton4Click},
    };
    // Every button as wide as the widest caption needs, like a row of equal keys.
    int width = 0;
    for (const TButtonInfo &info : buttons)
        if (info.caption)
            width = std::max(width, fontMetrics().horizontalAdvance(QString::fromUtf8(info.caption)));
    width += 2 * fontMetrics().averageCharWidth() + 8;
    for (const TButtonInfo &info : buttons) {
        if (!info.button) {
            ToolBar1->addSeparator();
            continue;
        }
        auto *button = Named(new QToolButton(ToolBar1), info.name);
        button->setText(QString::fromUtf8(info.caption));
        button->setIcon(ToolImage(info.image));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setAutoRaise(true);
        button->setMinimumWidth(width);
        button->setEnabled(info.enabled);
        button->setProperty("imageIndex", info.image);
        connect(button, &QToolButton::clicked, this, Guarded([this, click = info.click] { (this->*click)(); }));
        ToolBar1->addWidget(button);
        *info.button = button;
    }
}

void TfrmMain::CreateMenus()
{
    auto action = [this](QMenu *menu, const char *name, const char *caption, std::function<void()> handler) {
        QAction *item = menu->addAction(QString::fromUtf8(caption));
        item->setObjectName(QString::fromLatin1(name));
        connect(item, &QAction::triggered, this, Guarded(std::move(handler)));
        return item;
    };
    QMenuBar *MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    QMenu *file = MainMenu1->addMenu(QStringLiteral("File"));
    N3 = action(file, "N3", "Add file", [this] { btnAddClick(); });
    N4 = action(file, "N4", "Remove", [this] { btnRemoveClick(); });
    N5 = action(file, "N5", "Clear", [this] { btnClearClick(); });
    file->addSeparator();
    N8 = action(file, "N8", "Exit", [this] { N8Click(); });
    QMenu *run = MainMenu1->addMenu(QStringLiteral("Action"));
    N13 = action(run, "N13", "Converter", [this] { btnStartClick(); });
    N14 = action(run, "N14", "Pause", [this] { btnPauseClick(); });
    N15 = action(run, "N15", "Resume", [this] { btnResumeClick(); });
    N16 = action(run, "N16", "Stop", [this] { N16Click(); });
    QMenu *help = MainMenu1->addMenu(QStringLiteral("Help"));
    A1 = action(help, "A1", "About", [this] { A1Click(); });

    PopupMenu1 = Named(new QMenu(this), "PopupMenu1");
    mnuAdd = action(PopupMenu1, "mnuAdd", "Add", [this] { btnAddClick(); });
    mnuRemove = action(PopupMenu1, "mnuRemove", "Remove", [this] { btnRemoveClick(); });
    mnuClear = action(PopupMenu1, "mnuClear", "Clear", [this] { btnClearClick(); });
    PopupMenu1->addSeparator();
    mnuPlay = action(PopupMenu1, "mnuPlay", "Play Output", [this] { mnuPlayClick(); });
    mnuOpenFolder = action(PopupMenu1, "mnuOpenFolder", "Open Folder", [this] { mnuOpenFolderClick(); });
}

void TfrmMain::CreatePanel()
{
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The tool bar's lower edge line.
    auto *line = new QFrame(central);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);

    lvFiles = Named(new QTableWidget(0, kColumnCount, central), "lvFiles");
    QStringList captions;
    for (const TColumn &column : kColumns)
        captions << QString::fromLatin1(column.caption);
    lvFiles->setHorizontalHeaderLabels(captions);
    lvFiles->verticalHeader()->hide();
    lvFiles->setShowGrid(true);
    lvFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    lvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvFiles->setWordWrap(false);
    lvFiles->setAlternatingRowColors(true);
    lvFiles->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    lvFiles->horizontalHeader()->setHighlightSections(false);
    lvFiles->horizontalHeader()->setStretchLastSection(true);
    lvFiles->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const double scale = std::max(1.0, fontMetrics().height() / kDesignLineHeight);
    const int charWidth = fontMetrics().horizontalAdvance(QStringLiteral("0"));
    for (int i = 0; i < kColumnCount; ++i) {
        const int caption = fontMetrics().horizontalAdvance(captions[i]) + 3 * charWidth;
        const int entry = kColumns[i].chars * charWidth + 2 * charWidth;
        lvFiles->setColumnWidth(
            i, std::max({static_cast<int>(std::lround(kColumns[i].width * scale)), caption, entry}));
        if (kColumns[i].number)
            lvFiles->horizontalHeaderItem(i)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    // The selection stays visible when the list loses the focus.
    QPalette palette = lvFiles->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    lvFiles->setPalette(palette);
    lvFiles->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvFiles, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        PopupMenu1Popup();
        PopupMenu1->popup(lvFiles->viewport()->mapToGlobal(at));
    });
    layout->addWidget(lvFiles, 1);

    Panel1 = Named(new QWidget(central), "Panel1");
    auto *grid = new QGridLayout(Panel1);
    const QString colon = QString(QChar(0xFF1A));
    auto label = [this](const QString &text, const char *name) { return Named(new QLabel(text, Panel1), name); };

    CobType = Named(new QComboBox(Panel1), "CobType");
    CobType->setEditable(true);
    CobType->setInsertPolicy(QComboBox::NoInsert);
    CobType->addItems({QStringLiteral("Mp3 Encoder (*.MP3)"), QStringLiteral("WAV(*.WAV)")});
    CobType->setCurrentIndex(-1);
    CobType->setEditText(QStringLiteral("Mp3 Encoder (*.MP3)"));

    Cob_SD = Named(new QComboBox(Panel1), "Cob_SD");
    Cob_SD->setEditable(true);
    Cob_SD->setInsertPolicy(QComboBox::NoInsert);
    Cob_SD->addItems({QStringLiteral("Auto"), QStringLiteral("Mono"), QStringLiteral("Stereo")});
    Cob_SD->setCurrentIndex(0);
    CheckBox1 = Named(new QCheckBox(QStringLiteral("Thread Mode"), Panel1), "CheckBox1");

    Edit1 = Named(new QLineEdit(Panel1), "Edit1");
    Edit1->setReadOnly(true);
    QPalette face = Edit1->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    Edit1->setPalette(face);
    ResetFolder = Edit1->addAction(style()->standardIcon(QStyle::SP_LineEditClearButton), QLineEdit::TrailingPosition);
    ResetFolder->setObjectName(QStringLiteral("ResetFolder"));
    ResetFolder->setToolTip(QStringLiteral("Put the outputs beside their inputs"));
    connect(ResetFolder, &QAction::triggered, this, Guarded([this] { ResetOutputFolder(); }));
    btnOutPath = Named(new QPushButton(QStringLiteral("..."), Panel1), "btnOutPath");
    btnOutPath->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    Button2 = Named(new QPushButton(QStringLiteral("Open"), Panel1), "Button2");
    connect(btnOutPath, &QPushButton::clicked, this, Guarded([this] { btnOutPathClick(); }));
    connect(Button2, &QPushButton::clicked, this, Guarded([this] { Button2Click(); }));

    grid->addWidget(label(QStringLiteral("Output Format") + colon, "Label1"), 0, 0);
    grid->addWidget(CobType, 0, 1);
    grid->addWidget(label(QStringLiteral("Audio Channel") + colon, "Label2"), 1, 0);
    grid->addWidget(Cob_SD, 1, 1);
    grid->addWidget(CheckBox1, 1, 2, 1, 2);
    grid->addWidget(label(QStringLiteral("Output Folder") + colon, "Label3"), 2, 0);
    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(Edit1, 1);
    folderRow->addWidget(btnOutPath);
    folderRow->addWidget(Button2);
    grid->addLayout(folderRow, 2, 1, 1, 4);
    grid->setColumnStretch(4, 1);
    const int comboWidth = fontMetrics().horizontalAdvance(QStringLiteral("Mp3 Encoder (*.MP3)")) + 48;
    CobType->setMinimumWidth(comboWidth);
    Cob_SD->setMinimumWidth(comboWidth);
    layout->addWidget(Panel1);

    setCentralWidget(central);
}

void TfrmMain::CreateHiddenControls()
{
    HiddenControls = Named(new QWidget(this), "HiddenControls");
    HiddenControls->setVisible(false);
    auto *layout = new QVBoxLayout(HiddenControls);

    grpOption = Named(new QGroupBox(QStringLiteral("设置"), HiddenControls), "grpOption");
    auto *options = new QVBoxLayout(grpOption);
    chkThreadMode = Named(new QCheckBox(QStringLiteral("是否启用线程模式"), grpOption), "chkThreadMode");
    chkThreadMode->setChecked(true);
    options->addWidget(chkThreadMode);
    options->addWidget(new QLabel(QStringLiteral("线程数量"), grpOption));
    edtThreadCount = Named(new QLineEdit(QStringLiteral("1"), grpOption), "edtThreadCount");
    options->addWidget(edtThreadCount);
    layout->addWidget(grpOption);

    chkVerNum = Named(new QCheckBox(QStringLiteral("Load VerNum DLL"), HiddenControls), "chkVerNum");
    chkVerNum->setChecked(true);
    layout->addWidget(chkVerNum);
    grpLogLevel = new TRadioGroup(QStringLiteral("grpLogLevel"), QStringLiteral("Log Level"),
                                  {QStringLiteral("None"), QStringLiteral("Error"), QStringLiteral("Info"),
                                   QStringLiteral("Debug"), QStringLiteral("All")},
                                  1, HiddenControls);
    grpLogLevel->SetItemIndex(2);
    layout->addWidget(grpLogLevel);
    grpPriority = new TRadioGroup(QStringLiteral("grpPriority"), QStringLiteral("Thread Priority"),
                                  {QStringLiteral("Idle"), QStringLiteral("Lowest"), QStringLiteral("Lower"),
                                   QStringLiteral("Normal")},
                                  1, HiddenControls);
    grpPriority->SetItemIndex(2);
    layout->addWidget(grpPriority);
    layout->addWidget(new QLabel(QStringLiteral("采 样 率"), HiddenControls));
    cobrate = Named(new QComboBox(HiddenControls), "cobrate");
    cobrate->addItems({QStringLiteral("Auto"), QStringLiteral("8000"), QStringLiteral("11025"),
                       QStringLiteral("22050"), QStringLiteral("44100")});
    cobrate->setCurrentIndex(0);
    layout->addWidget(cobrate);

    auto button = [this, layout](const char *name, const char *caption, bool enabled, std::function<void()> click) {
        auto *b = Named(new QPushButton(QString::fromUtf8(caption), HiddenControls), name);
        b->setEnabled(enabled);
        connect(b, &QPushButton::clicked, this, Guarded(std::move(click)));
        layout->addWidget(b);
        return b;
    };
    btnAdd = button("btnAdd", "添加文件", true, [this] { btnAddClick(); });
    btnRemove = button("btnRemove", "删除", false, [this] { btnRemoveClick(); });
    btnClear = button("btnClear", "清空", false, [this] { btnClearClick(); });
    btnStart = button("btnStart", "开始转换", false, [this] { btnStartClick(); });
    btnStop = button("btnStop", "停止", true, [this] { btnStopClick(); });
    btnPause = button("btnPause", "暂停", false, [this] { btnPauseClick(); });
    btnResume = button("btnResume", "继续", false, [this] { btnResumeClick(); });
    btnExit = button("btnExit", "退出", true, [this] { btnExitClick(); });
}

void TfrmMain::WireConverter()
{
    VeloxC->OnProgress = [this](int index, int frame, int fps, int current, float quality, float bitRate,
                                int64_t size, int total) {
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

void TfrmMain::UpdateCommands()
{
    const bool rows = lvFiles->rowCount() > 0;
    const bool threaded = chkThreadMode->isChecked();
    // During a run nothing may change the list or start again.
    const bool idle = !RunActive_;
    const bool add = idle;
    const bool change = idle && rows && !Adding();
    const bool clear = change;
    const bool pause = RunActive_ && threaded && !Paused_ && !Stopping_;
    const bool resume = RunActive_ && threaded && Paused_ && !Stopping_;
    const bool stop = RunActive_ && !Stopping_;
    const struct {
        std::initializer_list<QObject *> commands;
        bool enabled;
    } states[] = {
        {{ToolButton1, btnAdd, N3, mnuAdd}, add},
        {{ToolButton2, btnClear, N5, mnuClear}, clear},
        {{ToolButton3, btnRemove, N4, mnuRemove}, change},
        {{ToolButton7, btnStart, N13}, change},
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
    btnOutPath->setEnabled(!RunActive_);
    CobType->setEnabled(!RunActive_);
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

void TfrmMain::FormShow() { Edit1->setText(ConfigIni.ReadDir()); }

void TfrmMain::closeEvent(QCloseEvent *event)
{
    if (RunActive_ && AskStopAndClose && !AskStopAndClose()) {
        event->ignore();
        return;
    }
    ShutDown();
    ConfigIni.WriteDir(Edit1->text());
    event->accept();
}

void TfrmMain::ShutDown()
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

// Closing asks first when a run is on.
void TfrmMain::N8Click() { close(); }

void TfrmMain::btnExitClick() { close(); }

void TfrmMain::A1Click()
{
    TFrm_About about(this);
    about.OpenUrl = OpenUrl;
    about.exec();
}

// ---- Errors and the log ----------------------------------------------------------------------

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

void TfrmMain::Log(const QString &line) { mmoLog.append(line); }

// ---- Adding files ----------------------------------------------------------------------------

bool TfrmMain::LoadLibraries(QString *error)
{
    const std::string folder = QDir(ProgramFolder_).filePath(QStringLiteral("LibAV")).toStdString();
    if (VeloxC->LoadAVLib(folder, chkVerNum->isChecked()))
        return true;
    Log(QString::fromStdString(VeloxC->LastErrMsg()));
    if (error)
        *error = QString::fromStdString(VeloxC->LastErrMsg());
    return false;
}

void TfrmMain::ApplyLogLevel()
{
    const int level = std::clamp(grpLogLevel->ItemIndex(), static_cast<int>(llQuiet), static_cast<int>(llAll));
    VeloxC->SetLogLevel(static_cast<TLogLevel>(level));
}

QString TfrmMain::RunOpenDialog()
{
    QTimer::singleShot(0, OpenDialog1, [this] { MakeCompletionsAccept(OpenDialog1); }); // once it is up
    if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty())
        return QString();
    return OpenDialog1->selectedFiles().first();
}

void TfrmMain::AddCommand()
{
    // A task added to a running list would never run, and the list would never report its end.
    if (RunActive_)
        return;
    const QString file = ChooseFile ? ChooseFile() : QString();
    if (file.isEmpty())
        return;
    AddFile(file);
    ShowRefusals();
}

void TfrmMain::ToolButton1Click() { AddCommand(); }
void TfrmMain::btnAddClick() { AddCommand(); }

void TfrmMain::Refuse(const QString &fileName, const QString &reason)
{
    Log(QString());
    Log(QStringLiteral("***Cannot add ") + fileName + QStringLiteral(": ") + reason);
    Log(QString());
    RefusedFiles.append(fileName + QStringLiteral(": ") + reason);
}

void TfrmMain::ShowRefusals()
{
    if (RefusedFiles.isEmpty())
        return;
    const QString heading = RefusedFiles.size() == 1 ? QStringLiteral("This file was not added:")
                                                     : QStringLiteral("These files were not added:");
    const QString text = FailureListText(heading, RefusedFiles);
    RefusedFiles.clear();
    Message(QMessageBox::Warning, text);
}

bool TfrmMain::AddFile(const QString &fileName)
{
    if (RunActive_)
        return false;
    QString error;
    if (!LoadLibraries(&error)) {
        Refuse(fileName, error);
        return false;
    }
    ApplyLogLevel();
    TAVProbe &probe = VeloxC->AVProbe();
    if (!probe.LoadFile(fileName.toStdString())) {
        Log(QString());
        Log(QStringLiteral("***File load error: ") + QString::fromStdString(probe.LastErrMsg));
        Refuse(fileName, QString::fromStdString(probe.LastErrMsg));
        return false;
    }
    // The outputs are sound only: a file without any has nothing to give.
    probe::SoundFile sound;
    if (!probe::CheckSoundFile(fileName.toStdString(), sound)) {
        probe.Close();
        Refuse(fileName, QStringLiteral("it has no sound"));
        return false;
    }
    EnsureOptionWindow();
    // The panel's choices as they are now, also a folder chosen since the last start.
    CopySettingsToOptionWindow();
    InputFileList.append(fileName);
    if (AddProbedFile(static_cast<int>(InputFileList.size()) - 1))
        return true;
    InputFileList.removeLast();
    return false;
}

void TfrmMain::QueueFiles(const QStringList &fileNames, std::function<void()> done)
{
    const bool idle = QueuedFiles_.isEmpty();
    QueuedFiles_ += fileNames;
    QueueDone_ = std::move(done);
    if (QueuedFiles_.isEmpty()) {
        if (QueueDone_)
            std::exchange(QueueDone_, nullptr)();
        return;
    }
    UpdateCommands();
    if (idle)
        QTimer::singleShot(0, this, Guarded([this] { AddNextQueued(); }));
}

void TfrmMain::AddNextQueued()
{
    if (QueuedFiles_.isEmpty() || Detached_)
        return;
    AddFile(QueuedFiles_.takeFirst());
    if (!QueuedFiles_.isEmpty()) {
        QTimer::singleShot(0, this, Guarded([this] { AddNextQueued(); }));
        return;
    }
    UpdateCommands();
    ShowRefusals();
    if (QueueDone_)
        std::exchange(QueueDone_, nullptr)();
}

void TfrmMain::EnsureOptionWindow()
{
    if (!frmOption) {
        frmOption = new TfrmOption(this);
        frmOption->setObjectName(QStringLiteral("frmOption"));
    }
    // A new output never takes the name of another row's.
    frmOption->NameReserved = [this](const std::string &name) {
        const QString taken = QString::fromStdString(name);
        return std::any_of(OutputFileList.cbegin(), OutputFileList.cend(),
                           [&](const TOutputFile &output) { return output.FileName == taken; });
    };
}

bool TfrmMain::AddProbedFile(int inputIndex)
{
    struct TAfterwards {
        TfrmMain &window;
        ~TAfterwards()
        {
            window.AddingInput_ = -1;
            window.VeloxC->AVProbe().Close();
        }
    } afterwards{*this};
    frmOption->LoadProbeInfo(&VeloxC->AVProbe());
    TOutputOptions output;
    TInputOptions input;
    frmOption->BuildOutputOptions(output);
    frmOption->BuildInputOptions(input);
    AddingInput_ = inputIndex;
    return AddConvertTask(input, output);
}

int TfrmMain::CreateTask(TInputOptions &AInput, TOutputOptions &AOutput, QString &error)
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

bool TfrmMain::AddConvertTask(TInputOptions &AInput, TOutputOptions &AOutput)
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
    const int64_t size = probe.FileSize();

    const int row = lvFiles->rowCount();
    lvFiles->insertRow(row);
    const QString texts[kColumnCount] = {QFileInfo(input).fileName(),
                                         TotalTimeText(info.Duration),
                                         size < 0 ? QStringLiteral("-") : QString::number(size),
                                         QString(),
                                         QString(),
                                         QString(),
                                         QString()};
    for (int column = 0; column < kColumnCount; ++column) {
        auto *item = new QTableWidgetItem(texts[column]);
        if (kColumns[column].number)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (column == 0)
            item->setToolTip(input);
        lvFiles->setItem(row, column, item);
    }
    OutputFolderList.append(QString());
    OutputFileList.append({QString(), false});
    RowStates_.append(TRowStatus{});
    RowInput_.append(AddingInput_);
    TaskRow_.append(row);
    SetOutputName(row, QString::fromStdString(AOutput.FileName));

    Log(QString());
    Log(QStringLiteral("***File has been added to convert list."));
    Log(QString());
    UpdateCommands();
    return true;
}

void TfrmMain::SetOutputName(int row, const QString &output)
{
    if (row < 0 || row >= OutputFileList.size())
        return;
    OutputFileList[row].FileName = output;
    OutputFolderList[row] = FolderOf(output);
    if (QTableWidgetItem *item = lvFiles->item(row, 3)) {
        item->setText(QFileInfo(output).fileName());
        item->setToolTip(output);
    }
}

QString TfrmMain::PanelSuffix() const { return CobType->currentIndex() == 1 ? QStringLiteral(".wav") : QStringLiteral(".mp3"); }

void TfrmMain::RefreshOutputNames()
{
    if (RunActive_)
        return;
    const std::string folder = Edit1->text().isEmpty() ? std::string(kSameAsInput) : Edit1->text().toStdString();
    const bool overwrite = frmOption && frmOption->chkOverwrite->isChecked();
    // Rows that have been run keep the names of what their run made.
    QStringList names;
    for (int row = 0; row < lvFiles->rowCount(); ++row)
        if (RowState(row) != rsAdded)
            names.append(OutputFileList.value(row).FileName);
    for (int row = 0; row < lvFiles->rowCount(); ++row) {
        const int input = RowInput_.value(row, -1);
        if (RowState(row) != rsAdded || input < 0 || input >= InputFileList.size())
            continue;
        const std::string name =
            OutputFileName(InputFileList[input].toStdString(), folder, PanelSuffix().toStdString(), overwrite,
                           [&](const std::string &taken) { return names.contains(QString::fromStdString(taken)); });
        names.append(QString::fromStdString(name));
        SetOutputName(row, names.last());
    }
}

void TfrmMain::ResetOutputFolder()
{
    if (RunActive_)
        return;
    Edit1->clear();
}

// ---- Removing and clearing -------------------------------------------------------------------

int TfrmMain::SelectedRow() const
{
    const QModelIndexList rows = lvFiles->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TfrmMain::RemoveRow(int row)
{
    // Tasks of the list as added, one per row; after a run the converter has let its tasks go.
    const int task = static_cast<int>(TaskRow_.indexOf(row));
    if (task >= 0 && task < VeloxC->Tasks().Count()) {
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
    lvFiles->removeRow(row);
}

void TfrmMain::RemoveCommand(TPlace)
{
    // Removing a task renumbers the others while the list may be starting them.
    if (RunActive_)
        return;
    const int row = SelectedRow();
    if (row < 0)
        return;
    RemoveRow(row);
    RefreshOutputNames();
    UpdateCommands();
}

void TfrmMain::ToolButton3Click() { RemoveCommand(plToolBar); }
void TfrmMain::btnRemoveClick() { RemoveCommand(plHidden); }

void TfrmMain::ClearRows()
{
    TaskRow_.clear();
    OutputFolderList.clear();
    OutputFileList.clear();
    RowInput_.clear();
    RowStates_.clear();
    lvFiles->setRowCount(0);
}

void TfrmMain::ClearCommand(TPlace)
{
    if (RunActive_)
        return;
    VeloxC->ClearTasks();
    ++Run_;
    InputFileList.clear();
    ClearRows();
    UpdateCommands();
}

void TfrmMain::ToolButton2Click() { ClearCommand(plToolBar); }
void TfrmMain::btnClearClick() { ClearCommand(plHidden); }

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
        Message(QMessageBox::Warning, QStringLiteral("No program is set up on this desktop to open \"%1\".").arg(path));
}

void TfrmMain::Button2Click()
{
    if (!Edit1->text().isEmpty())
        OpenLocal(Edit1->text());
}

int TfrmMain::PlayRow() const
{
    const int row = SelectedRow();
    if (row >= 0 && row < OutputFolderList.size())
        return row;
    return static_cast<int>(OutputFileList.size()) - 1;
}

void TfrmMain::mnuOpenFolderClick()
{
    const int row = SelectedRow();
    QString folder;
    if (row >= 0 && row < OutputFolderList.size())
        folder = OutputFolderList[row];
    else if (!OutputFolderList.isEmpty())
        folder = OutputFolderList.last();
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        OpenLocal(folder);
}

void TfrmMain::mnuPlayClick()
{
    const int row = PlayRow();
    if (row < 0 || row >= OutputFileList.size())
        return;
    const TOutputFile &output = OutputFileList[row];
    if (output.Converted && QFileInfo(output.FileName).isFile())
        OpenLocal(output.FileName);
}

void TfrmMain::PopupMenu1Popup()
{
    UpdateCommands();
    mnuOpenFolder->setEnabled(lvFiles->rowCount() > 0);
    const int row = PlayRow();
    mnuPlay->setEnabled(row >= 0 && row < OutputFileList.size() && OutputFileList[row].Converted);
}

// ---- Running ---------------------------------------------------------------------------------

void TfrmMain::CopySettingsToOptionWindow()
{
    // Without a chosen folder the outputs go beside their inputs, not into the current folder.
    frmOption->edtOutPath->setText(Edit1->text().isEmpty() ? QString::fromLatin1(kSameAsInput) : Edit1->text());
    frmOption->grpAudioChannels->SetItemIndex(Cob_SD->currentIndex());
    frmOption->grpAudioSampleRate->SetItemIndex(cobrate->currentIndex());
    if (CobType->currentIndex() == 0)
        frmOption->grpFormats->SetItemIndex(21); // "MP3"
    else if (CobType->currentIndex() == 1)
        frmOption->grpFormats->SetItemIndex(22); // "WAV"
}

void TfrmMain::SetRowState(int row, TRowState state, const QString &reason)
{
    if (row < 0 || row >= RowStates_.size())
        return;
    RowStates_[row] = {state, reason};
    if (state == rsConverting)
        return; // the progress events fill the cell
    SetCell(row, kProgressColumn, RowStateText(state, reason));
    if (QTableWidgetItem *item = lvFiles->item(row, kProgressColumn))
        item->setToolTip(state == rsFailed ? reason : QString());
}

bool TfrmMain::PrepareRow(int row, QStringList &names)
{
    const QString input = InputFileList.value(RowInput_.value(row, -1));
    TAVProbe &probe = VeloxC->AVProbe();
    QString error;
    if (!probe.LoadFile(input.toStdString())) {
        error = QString::fromStdString(probe.LastErrMsg);
    } else {
        frmOption->NameReserved = [&names](const std::string &name) {
            return names.contains(QString::fromStdString(name));
        };
        frmOption->LoadProbeInfo(&probe);
        TOutputOptions output;
        TInputOptions options;
        frmOption->BuildOutputOptions(output);
        frmOption->BuildInputOptions(options);
        probe.Close();
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

void TfrmMain::StartCommand(TPlace)
{
    if (RunActive_ || Adding() || lvFiles->rowCount() == 0)
        return;
    QString error;
    if (!PrepareOutputFolder(Edit1->text(), error)) {
        Message(QMessageBox::Warning, error);
        return;
    }
    if (!LoadLibraries(&error)) {
        Message(QMessageBox::Warning, error);
        return;
    }
    VeloxC->ClearTasks();
    ++Run_; // events of the tasks just cleared change no row of the new list
    HookPainter.Reset();
    TaskRow_.clear();
    RunFailures_.clear();
    Paused_ = Stopping_ = false;

    ApplyLogLevel();
    EnsureOptionWindow();
    CopySettingsToOptionWindow();
    QStringList names; // of the outputs of this start, which no later row may take
    {
        // The builder reserves names from this list while the rows are prepared, and the rows'
        // own names again afterwards, also when a row's preparation raises.
        struct TRowNamesAgain {
            TfrmMain &window;
            ~TRowNamesAgain() { window.EnsureOptionWindow(); }
        } again{*this};
        for (int row = 0; row < lvFiles->rowCount(); ++row)
            PrepareRow(row, names);
    }
    if (TaskRow_.isEmpty()) {
        // Nothing to run: the rows say why, and the list stays as it is to be put right.
        Message(QMessageBox::Warning, FailureListText(QStringLiteral("Nothing could be converted:"), RunFailures_));
        return;
    }

    const int priority = std::clamp(grpPriority->ItemIndex(), static_cast<int>(tpIdle), static_cast<int>(tpNormal));
    VeloxC->SetThreadPriority(static_cast<TConvertPriority>(priority));
    // One file at a time, or as many at once as there are cores: more gain nothing.
    const int cores = std::max(1, QThread::idealThreadCount());
    const int tasks = static_cast<int>(TaskRow_.size());
    edtThreadCount->setText(QString::number(CheckBox1->isChecked() ? std::min(tasks, cores) : 1));
    int threads = 0;
    if (chkThreadMode->isChecked()) {
        bool number = false;
        threads = edtThreadCount->text().trimmed().toInt(&number);
        if (!number)
            threads = 1;
    }
    RunActive_ = true;
    UpdateCommands();
    VeloxC->Start(threads);
}

void TfrmMain::ToolButton7Click() { StartCommand(plToolBar); }
void TfrmMain::btnStartClick() { StartCommand(plHidden); }

void TfrmMain::PauseCommand(TPlace, bool pause)
{
    if (!RunActive_ || Stopping_)
        return;
    Paused_ = pause;
    if (pause)
        VeloxC->Pause();
    else
        VeloxC->Resume();
    UpdateCommands();
}

void TfrmMain::ToolButton5Click() { PauseCommand(plToolBar, true); }
void TfrmMain::btnPauseClick() { PauseCommand(plHidden, true); }
void TfrmMain::ToolButton6Click() { PauseCommand(plToolBar, false); }
void TfrmMain::btnResumeClick() { PauseCommand(plHidden, false); }

void TfrmMain::StopCommand()
{
    if (!RunActive_)
        return;
    Stopping_ = true;
    UpdateCommands();
    VeloxC->Stop();
}

void TfrmMain::ToolButton4Click() { StopCommand(); }
void TfrmMain::btnStopClick() { StopCommand(); }
void TfrmMain::N16Click() { StopCommand(); }

void TfrmMain::RunEnded()
{
    RunActive_ = false;
    Paused_ = Stopping_ = false;
    UpdateCommands();
    VeloxC->ClearTasks();
    TaskRow_.clear();
    if (!RunFailures_.isEmpty()) {
        const QString heading = RunFailures_.size() == 1 ? QStringLiteral("This file was not converted:")
                                                         : QStringLiteral("These files were not converted:");
        Message(QMessageBox::Warning, FailureListText(heading, std::exchange(RunFailures_, {})));
    }
}

// ---- The converter's events ------------------------------------------------------------------

int TfrmMain::RowOfTask(int index) const { return index >= 0 && index < TaskRow_.size() ? TaskRow_[index] : -1; }

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

void TfrmMain::VeloxCProgress(int AIndex, int, int, int ACurrentDuration, float, float, int64_t ACurrentSize,
                              int ATotalOutputDuration)
{
    if (Detached_)
        return;
    const int run = Run_;
    const QString progress = ProgressText(ACurrentDuration, ATotalOutputDuration);
    const QString current = CurrentTimeText(ACurrentDuration);
    const QString size = QString::number(ACurrentSize);
    Relay->Post([this, run, AIndex, progress, current, size] {
        if (run != Run_)
            return;
        const int row = RowOfTask(AIndex);
        // Late reports of an ended row change nothing.
        if (row < 0 || RowState(row) == rsDone || RowState(row) == rsFailed || RowState(row) == rsStopped)
            return;
        SetRowState(row, rsConverting);
        SetCell(row, kProgressColumn, progress);
        SetCell(row, kCurrentTimeColumn, current);
        SetCell(row, kCurrentSizeColumn, size);
        RepaintIfMainThreadRun();
    });
}

void TfrmMain::VeloxCLog(int AIndex, TLogLevel ALogLevel, const std::string &AMsg)
{
    if (Detached_)
        return;
    const QString line = LogLineText(AIndex, ALogLevel, QString::fromStdString(AMsg));
    Relay->Post([this, line] { Log(line); });
}

void TfrmMain::VeloxCTerminate(int AIndex, bool AFinished, bool AException, const std::string &AMessage)
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
        if (run != Run_)
            return;
        const int row = RowOfTask(AIndex);
        if (row < 0)
            return;
        if (AException) {
            SetRowState(row, rsFailed, message);
            RunFailures_.append(InputFileList.value(RowInput_.value(row, -1)) + QStringLiteral(": ") + message);
        } else if (AFinished) {
            SetRowState(row, rsDone);
            if (row < OutputFileList.size())
                OutputFileList[row].Converted = true;
        } else {
            SetRowState(row, rsStopped);
        }
        RepaintIfMainThreadRun();
    });
}

void TfrmMain::VeloxCBeforeHook(int, int64_t APTS, THookAction &AHookAction)
{
    if (Detached_)
        return;
    AHookAction = BeforeHookAction(APTS);
}

void TfrmMain::VeloxCCustomHook(int AIndex, TBitmap24 *ABitmap, int AFrameNumber, int64_t APTS, bool &AUpdate,
                                bool &AStopHook)
{
    if (Detached_ || !ABitmap)
        return;
    HookPainter.Paint(AIndex, *ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
}
