// The main window: layout, start-up and shut-down, the batch list, its commands and the run.
#include "MainFrm.h"

#include "BatchTexts.h"
#include "BrowseForFolder.h"
#include "EventRelay.h"
#include "OptionFrm.h"
#include "RadioGroup.h"
#include "ToolImages.h"
#include "U_About.h"

#include "FFMpegException.h"
#include "VeloxConverter.h"

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
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

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

    VeloxC = std::make_unique<TVeloxConverter>();
    VeloxC->setObjectName(QStringLiteral("VeloxC"));
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

    WireConverter();

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

TfrmMain::TCommands TfrmMain::Commands(TPlace place) const
{
    if (place == plToolBar)
        return {ToolButton1, ToolButton2, ToolButton3, ToolButton7, ToolButton5, ToolButton6, ToolButton4};
    return {btnAdd, btnClear, btnRemove, btnStart, btnPause, btnResume, btnStop};
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
    ShutDown();
    ConfigIni.WriteDir(Edit1->text());
    event->accept();
}

void TfrmMain::ShutDown()
{
    if (Detached_.exchange(true))
        return;
    // The handlers go quiet first: replacing them while workers may be calling them would race.
    Relay->Close();
    if (!VeloxC)
        return;
    VeloxC->Stop();
    // Waits for every task to end, its output finished; afterwards no thread calls in.
    VeloxC->ClearTasks();
    VeloxC->OnBeforeHook = nullptr;
    VeloxC->OnCustomHook = nullptr;
    VeloxC->OnLog = nullptr;
    VeloxC->OnProgress = nullptr;
    VeloxC->OnTerminate = nullptr;
    RunActive_ = false;
}

void TfrmMain::N8Click()
{
    VeloxC->Stop();
    close();
}

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

bool TfrmMain::LoadLibraries()
{
    const std::string folder = QDir(ProgramFolder_).filePath(QStringLiteral("LibAV")).toStdString();
    if (VeloxC->LoadAVLib(folder, chkVerNum->isChecked()))
        return true;
    Log(QString::fromStdString(VeloxC->LastErrMsg()));
    return false;
}

void TfrmMain::ApplyLogLevel()
{
    const int level = std::clamp(grpLogLevel->ItemIndex(), static_cast<int>(llQuiet), static_cast<int>(llAll));
    VeloxC->SetLogLevel(static_cast<TLogLevel>(level));
}

QString TfrmMain::RunOpenDialog()
{
    if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty())
        return QString();
    return OpenDialog1->selectedFiles().first();
}

void TfrmMain::AddCommand()
{
    // A task added to a running list would never run, and the list would never report its end.
    if (RunActive_)
        return;
    if (!LoadLibraries())
        return;
    ApplyLogLevel();
    const QString file = ChooseFile ? ChooseFile() : QString();
    if (file.isEmpty())
        return;
    AddFile(file);
}

void TfrmMain::ToolButton1Click() { AddCommand(); }
void TfrmMain::btnAddClick() { AddCommand(); }

bool TfrmMain::AddFile(const QString &fileName)
{
    if (RunActive_)
        return false;
    if (!LoadLibraries())
        return false;
    ApplyLogLevel();
    TAVProbe &probe = VeloxC->AVProbe();
    if (!probe.LoadFile(fileName.toStdString())) {
        Log(QString());
        Log(QStringLiteral("***File load error: ") + QString::fromStdString(probe.LastErrMsg));
        Log(QString());
        return false;
    }
    EnsureOptionWindow();
    InputFileList.append(fileName);
    return AddProbedFile(static_cast<int>(InputFileList.size()) - 1);
}

void TfrmMain::EnsureOptionWindow()
{
    if (!frmOption) {
        frmOption = new TfrmOption(this);
        frmOption->setObjectName(QStringLiteral("frmOption"));
    }
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

bool TfrmMain::AddConvertTask(TInputOptions &AInput, TOutputOptions &AOutput)
{
    const int index = VeloxC->AddInput(AInput.FileName, &AInput);
    if (index < 0) {
        Log(QString());
        Log(QStringLiteral("***File open error: ") + QString::fromStdString(VeloxC->LastErrMsg()));
        Log(QString());
        return false;
    }
    if (!VeloxC->AddOutput(index, AOutput.FileName, &AOutput)) {
        VeloxC->RemoveTask(index);
        Log(QString());
        Log(QStringLiteral("***Cannot do convert, error: ") + QString::fromStdString(VeloxC->LastErrMsg()));
        Log(QString());
        return false;
    }
    // The task's own probe looks at the input just opened.
    TAVProbe &probe = VeloxC->Tasks().Items(index).Probe;
    TAVFormatInfo info;
    probe.GetFormatInfo(info);
    const int64_t size = probe.FileSize();
    const QString input = QString::fromStdString(AInput.FileName);
    const QString output = QString::fromStdString(AOutput.FileName);

    const int row = lvFiles->rowCount();
    lvFiles->insertRow(row);
    const QString texts[kColumnCount] = {QFileInfo(input).fileName(),
                                         TotalTimeText(info.Duration),
                                         size < 0 ? QStringLiteral("-") : QString::number(size),
                                         QFileInfo(output).fileName(),
                                         QString(),
                                         QString(),
                                         QString()};
    for (int column = 0; column < kColumnCount; ++column) {
        auto *item = new QTableWidgetItem(texts[column]);
        if (kColumns[column].number)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (column == 0)
            item->setToolTip(input);
        else if (column == 3)
            item->setToolTip(output);
        lvFiles->setItem(row, column, item);
    }
    OutputFolderList.append(FolderOf(output));
    OutputFileList.append({output, false});
    RowInput_.append(AddingInput_);

    Log(QString());
    Log(QStringLiteral("***File has been added to convert list."));
    Log(QString());
    ToolButton2->setEnabled(true);
    ToolButton3->setEnabled(true);
    ToolButton7->setEnabled(true);
    return true;
}

// ---- Removing and clearing -------------------------------------------------------------------

int TfrmMain::SelectedRow() const
{
    const QModelIndexList rows = lvFiles->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TfrmMain::RemoveRow(int row)
{
    // After a run the converter has let its tasks go while the rows stay.
    if (row < VeloxC->Tasks().Count())
        VeloxC->RemoveTask(row);
    if (row < OutputFolderList.size())
        OutputFolderList.removeAt(row);
    if (row < OutputFileList.size())
        OutputFileList.removeAt(row);
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

void TfrmMain::RemoveCommand(TPlace place)
{
    // Removing a task renumbers the others while the list may be starting them.
    if (RunActive_)
        return;
    const int row = SelectedRow();
    if (row < 0)
        return;
    RemoveRow(row);
    const bool rows = lvFiles->rowCount() > 0;
    const TCommands commands = Commands(place);
    commands.EnableForRows(rows);
}

void TfrmMain::ToolButton3Click() { RemoveCommand(plToolBar); }
void TfrmMain::btnRemoveClick() { RemoveCommand(plHidden); }

void TfrmMain::ClearRows()
{
    OutputFolderList.clear();
    OutputFileList.clear();
    RowInput_.clear();
    lvFiles->setRowCount(0);
}

void TfrmMain::ClearCommand(TPlace place)
{
    VeloxC->ClearTasks();
    ++Run_;
    RunActive_ = false;
    InputFileList.clear();
    ClearRows();
    const TCommands commands = Commands(place);
    commands.Add->setEnabled(true);
    commands.EnableForRows(false);
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

void TfrmMain::Button2Click()
{
    if (!Edit1->text().isEmpty())
        OpenUrl(QUrl::fromLocalFile(Edit1->text()));
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
        OpenUrl(QUrl::fromLocalFile(folder));
}

void TfrmMain::mnuPlayClick()
{
    const int row = PlayRow();
    if (row < 0 || row >= OutputFileList.size())
        return;
    const TOutputFile &output = OutputFileList[row];
    if (output.Converted && QFileInfo(output.FileName).isFile())
        OpenUrl(QUrl::fromLocalFile(output.FileName));
}

void TfrmMain::PopupMenu1Popup()
{
    mnuAdd->setEnabled(btnAdd->isEnabled());
    mnuRemove->setEnabled(btnRemove->isEnabled());
    mnuClear->setEnabled(btnClear->isEnabled());
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

void TfrmMain::StartCommand(TPlace place)
{
    if (lvFiles->rowCount() == 0)
        return;
    VeloxC->ClearTasks();
    ++Run_; // events of the tasks just cleared change no row of the new list
    RunActive_ = false;
    HookPainter.Reset();
    ClearRows();
    const TCommands commands = Commands(place);
    commands.Add->setEnabled(true);
    commands.EnableForRows(false);

    for (int i = 0; i < InputFileList.size(); ++i) {
        if (!LoadLibraries())
            return;
        ApplyLogLevel();
        if (!VeloxC->AVProbe().LoadFile(InputFileList[i].toStdString()))
            continue;
        EnsureOptionWindow();
        CopySettingsToOptionWindow();
        AddProbedFile(i);
    }
    // Nothing to run: the list would never report an end, so the commands stay as they are.
    if (lvFiles->rowCount() == 0)
        return;

    ApplyLogLevel();
    const int priority = std::clamp(grpPriority->ItemIndex(), static_cast<int>(tpIdle), static_cast<int>(tpNormal));
    VeloxC->SetThreadPriority(static_cast<TConvertPriority>(priority));

    commands.Add->setEnabled(false);
    commands.EnableForRows(false);
    commands.Stop->setEnabled(chkThreadMode->isChecked());
    commands.Pause->setEnabled(chkThreadMode->isChecked());
    commands.Resume->setEnabled(false);

    if (CheckBox1->isChecked())
        edtThreadCount->setText(QString::number(lvFiles->rowCount()));
    int threads = 0;
    if (chkThreadMode->isChecked()) {
        bool number = false;
        threads = edtThreadCount->text().trimmed().toInt(&number);
        if (!number)
            threads = 1;
    }
    RunActive_ = true;
    VeloxC->Start(threads);
}

void TfrmMain::ToolButton7Click() { StartCommand(plToolBar); }
void TfrmMain::btnStartClick() { StartCommand(plHidden); }

void TfrmMain::PauseCommand(TPlace place, bool pause)
{
    const TCommands commands = Commands(place);
    commands.Pause->setEnabled(!pause);
    commands.Resume->setEnabled(pause);
    if (pause)
        VeloxC->Pause();
    else
        VeloxC->Resume();
}

void TfrmMain::ToolButton5Click() { PauseCommand(plToolBar, true); }
void TfrmMain::btnPauseClick() { PauseCommand(plHidden, true); }
void TfrmMain::ToolButton6Click() { PauseCommand(plToolBar, false); }
void TfrmMain::btnResumeClick() { PauseCommand(plHidden, false); }

void TfrmMain::ToolButton4Click()
{
    ToolButton4->setEnabled(false);
    ToolButton5->setEnabled(false);
    ToolButton6->setEnabled(false);
    ToolButton2->setEnabled(true);
    VeloxC->Stop();
}

void TfrmMain::btnStopClick()
{
    btnStop->setEnabled(false);
    VeloxC->Stop();
}

void TfrmMain::N16Click() { btnStopClick(); }

void TfrmMain::RunEnded()
{
    for (TPlace place : {plHidden, plToolBar}) {
        const TCommands commands = Commands(place);
        commands.Add->setEnabled(false);
        commands.Remove->setEnabled(false);
        commands.Clear->setEnabled(true);
        commands.Start->setEnabled(false);
        commands.Stop->setEnabled(false);
        commands.Pause->setEnabled(false);
        commands.Resume->setEnabled(false);
    }
    RunActive_ = false;
    VeloxC->ClearTasks();
}

// ---- The converter's events ------------------------------------------------------------------

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
        SetCell(AIndex, kProgressColumn, progress);
        SetCell(AIndex, kCurrentTimeColumn, current);
        SetCell(AIndex, kCurrentSizeColumn, size);
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
    Relay->Post([this, run, AIndex, AFinished, AException] {
        if (run != Run_)
            return;
        if (AFinished) {
            SetCell(AIndex, kProgressColumn, QStringLiteral("100%"));
            RepaintIfMainThreadRun();
        }
        if (!AException && AIndex < OutputFileList.size())
            OutputFileList[AIndex].Converted = true;
    });
    if (AException) {
        const QString message = QString::fromStdString(AMessage);
        Relay->Post([this, message] { Message(QMessageBox::Warning, message); }, true);
    }
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
