// Building the main window: its tool bar, menus, file list, settings panel, the hidden controls
// and the open dialog, sized to the screen.
#include "app/MainFrm.h"

#include "app/BrowseForFolder.h"
#include "app/DesktopNotice.h"
#include "app/FileDialogKeys.h"
#include "app/FileListColumns.h"
#include "app/LogPane.h"
#include "app/OptionChoices.h"
#include "app/OptionFrm.h"
#include "app/RadioGroup.h"
#include "app/ScreenRoom.h"
#include "app/ToolImages.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const QString kTitle = QStringLiteral("Marvento Wav Mp3 Converter");

template <class T>
T *Named(T *control, const char *name)
{
    control->setObjectName(QString::fromLatin1(name));
    return control;
}

// Calls handler for any of keys pressed in control, before the control's own handling.
class TKeyHandler : public QObject {
public:
    TKeyHandler(QWidget *control, std::initializer_list<int> keys, std::function<void()> handler)
        : QObject(control), Keys_(keys), Handler_(std::move(handler))
    {
        control->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() != Qt::NoModifier || !Keys_.contains(key->key()))
            return false;
        Handler_();
        return true;
    }

private:
    QList<int> Keys_;
    std::function<void()> Handler_;
};

void OnKeys(QWidget *control, std::initializer_list<int> keys, std::function<void()> handler)
{
    new TKeyHandler(control, keys, std::move(handler));
}

} // namespace

void TfrmMain::FormCreate()
{
    setObjectName(QStringLiteral("frmMain"));
    QGuiApplication::setApplicationDisplayName(kTitle);
    setWindowTitle(kTitle);
    setWindowIcon(QIcon(QPixmap::fromImage(ApplicationIconImage(64))));
    setAcceptDrops(true); // files and folders from a file manager
    CreateShellServices();

    CreateToolBar();
    CreatePanel();
    CreateStatusAndLog();
    CreateMenus();
    CreateHiddenControls();
    CreateOpenDialog();

    ConnectBatch();
    connect(CobType, &QComboBox::currentIndexChanged, this, Guarded([this] {
                ShowPanelQualities();
                RefreshOutputNames();
                UpdateCommands();
            }));
    connect(cboQuality, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!PanelFormat().presets.empty() && index >= 0)
            PanelPresets_.insert(QString::fromLatin1(PanelFormat().name), index);
    });
    connect(Edit1, &QLineEdit::textChanged, this, Guarded([this] {
                RefreshOutputNames();
                UpdateCommands();
            }));
    UpdateCommands();
    FitToScreen();
}

void TfrmMain::CreateShellServices()
{
    ChooseFiles = [this] { return RunOpenDialog(); };
    Notify = [](const QString &summary, const QString &body) { NotifyDesktop(summary, body); };
    ChooseFolder = [this](const QString &title, QString &folder) {
        return BrowseForFolder(this, title, QString(), folder);
    };
    // What the desktop answers later: nothing opened it.
    OpenUrl = [this](const QUrl &url) {
        return OpenWithDesktop(url, this, [this, url] { Message(QMessageBox::Warning, NoOpenerText(url)); });
    };
    ShowMessage = [this](QMessageBox::Icon icon, const QString &text) {
        QMessageBox box(icon, QGuiApplication::applicationDisplayName(), text, QMessageBox::Ok, this);
        box.exec();
    };

    RunOptions = [](TfrmOption &dialog) { return dialog.exec(); };
    AskStopAndClose = [this] {
        QMessageBox box(QMessageBox::Question, QGuiApplication::applicationDisplayName(), StopAndCloseQuestion(),
                        QMessageBox::NoButton, this);
        QPushButton *stop = box.addButton(QStringLiteral("Stop and Close"), QMessageBox::AcceptRole);
        box.setDefaultButton(box.addButton(QStringLiteral("Keep Converting"), QMessageBox::RejectRole));
        box.exec();
        return box.clickedButton() == stop;
    };
}

void TfrmMain::CreateOpenDialog()
{
    OpenDialog1 = Named(new QFileDialog(this), "OpenDialog1");
    OpenDialog1->setNameFilters({QStringLiteral("Mp3文件 (*.mp3)"), QStringLiteral("Wav文件 (*.wav)")});
    OpenDialog1->setFileMode(QFileDialog::ExistingFiles);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setSizeGripEnabled(true);
    MakeCompletionsAccept(OpenDialog1);
}

void TfrmMain::FitToScreen()
{
    // Wide enough for every column, within the screen.
    const double scale = std::max(1.0, fontMetrics().height() / kDesignLineHeight);
    int columns = 2 * lvFiles->frameWidth() + lvFiles->verticalScrollBar()->sizeHint().width();
    for (int i = 0; i < kFileListColumnCount; ++i)
        columns += lvFiles->columnWidth(i);
    QSize size(std::max(static_cast<int>(std::lround(592 * scale)), columns),
               static_cast<int>(std::lround(469 * scale)));
    resize(size.boundedTo(ClientRoom(*this, nullptr)));
    move(CentredPosition(*this, nullptr, this->size()));
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
    // Captions with their access keys; the shortcut where a command has one.
    auto action = [this](QMenu *menu, const char *name, const char *caption, std::function<void()> handler,
                         QKeySequence shortcut = QKeySequence()) {
        QAction *item = menu->addAction(QString::fromUtf8(caption));
        item->setObjectName(QString::fromLatin1(name));
        item->setShortcut(shortcut);
        connect(item, &QAction::triggered, this, Guarded(std::move(handler)));
        return item;
    };
    QMenuBar *MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    QMenu *file = MainMenu1->addMenu(QStringLiteral("&File"));
    N3 = action(
        file, "N3", "&Add file", [this] { btnAddClick(); }, QKeySequence::Open);
    AddFolder = action(
        file, "AddFolder", "Add f&older...", [this] { AddFolderCommand(); },
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    N4 = action(
        file, "N4", "&Remove", [this] { btnRemoveClick(); }, QKeySequence::Delete);
    N5 = action(file, "N5", "&Clear", [this] { btnClearClick(); });
    file->addSeparator();
    N8 = action(
        file, "N8", "E&xit", [this] { N8Click(); }, QKeySequence(Qt::CTRL | Qt::Key_Q));
    QMenu *run = MainMenu1->addMenu(QStringLiteral("&Action"));
    N13 = action(
        run, "N13", "&Converter", [this] { btnStartClick(); }, QKeySequence(Qt::CTRL | Qt::Key_Return));
    N14 = action(run, "N14", "&Pause", [this] { btnPauseClick(); });
    N15 = action(run, "N15", "R&esume", [this] { btnResumeClick(); });
    N16 = action(run, "N16", "&Stop", [this] { N16Click(); });
    run->addSeparator();
    RowOptions = action(
        run, "RowOptions", "Output &Options...", [this] { RowOptionsCommand(); },
        QKeySequence(Qt::ALT | Qt::Key_Return));
    PanelSettings = action(run, "PanelSettings", "&Use Panel Settings", [this] { PanelSettingsCommand(); });
    QMenu *view = MainMenu1->addMenu(QStringLiteral("&View"));
    ViewLog = LogPane->toggleViewAction();
    ViewLog->setText(QStringLiteral("&Log"));
    ViewLog->setObjectName(QStringLiteral("ViewLog"));
    ViewLog->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    view->addAction(ViewLog);
    QMenu *help = MainMenu1->addMenu(QStringLiteral("&Help"));
    A1 = action(help, "A1", "&About", [this] { A1Click(); });
    // The list's rows are removed with Delete only while the list has the focus.
    N4->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    lvFiles->addAction(N4);

    PopupMenu1 = Named(new QMenu(this), "PopupMenu1");
    mnuAdd = action(PopupMenu1, "mnuAdd", "&Add", [this] { btnAddClick(); });
    mnuRemove = action(PopupMenu1, "mnuRemove", "&Remove", [this] { btnRemoveClick(); });
    mnuClear = action(PopupMenu1, "mnuClear", "&Clear", [this] { btnClearClick(); });
    PopupMenu1->addSeparator();
    mnuPlay = action(PopupMenu1, "mnuPlay", "&Play Output", [this] { mnuPlayClick(); });
    mnuOpenFolder = action(PopupMenu1, "mnuOpenFolder", "Open &Folder", [this] { mnuOpenFolderClick(); });
    PopupMenu1->addSeparator();
    mnuOptions = action(PopupMenu1, "mnuOptions", "Output &Options...", [this] { RowOptionsCommand(); });
    mnuPanelSettings =
        action(PopupMenu1, "mnuPanelSettings", "&Use Panel Settings", [this] { PanelSettingsCommand(); });
    PopupMenu1->addSeparator();
    mnuConvertAgain = action(PopupMenu1, "mnuConvertAgain", "Con&vert Again", [this] { ConvertAgainCommand(); });
    // The options of a row from the keyboard while the list has the focus, as from the menu.
    RowOptions->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    lvFiles->addAction(RowOptions);
}

void TfrmMain::CreateStatusAndLog()
{
    StatusText = Named(new QLabel(statusBar()), "StatusText");
    statusBar()->addWidget(StatusText, 1);
    LogPane = new TLogPane(this);
    addDockWidget(Qt::BottomDockWidgetArea, LogPane);
    LogPane->hide();
    // Shown the first time, it takes a quarter of the window and leaves the list its rows.
    connect(LogPane, &QDockWidget::visibilityChanged, this, [this, first = true](bool visible) mutable {
        if (visible && std::exchange(first, false))
            resizeDocks({LogPane}, {std::max(height() / 4, 6 * fontMetrics().height())}, Qt::Vertical);
    });
    connect(Batch.get(), &TBatchControl::LogAdded, LogPane, &TLogPane::AddLine);
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

    CreateFileList(central);
    layout->addWidget(lvFiles, 1);
    CreateSettingsPanel(central);
    layout->addWidget(Panel1);

    setCentralWidget(central);
}

void TfrmMain::CreateFileList(QWidget *parent)
{
    lvFiles = Named(new QTableWidget(0, kFileListColumnCount, parent), "lvFiles");
    QStringList captions;
    for (const TFileListColumn &column : kFileListColumns)
        captions << QString::fromLatin1(column.caption);
    lvFiles->setHorizontalHeaderLabels(captions);
    lvFiles->verticalHeader()->hide();
    lvFiles->setShowGrid(true);
    lvFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Several rows can share output options or be removed at once.
    lvFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvFiles->setWordWrap(false);
    lvFiles->setAlternatingRowColors(true);
    lvFiles->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    // One stop for Tab: the arrows move within the list.
    lvFiles->setTabKeyNavigation(false);
    QHeaderView *header = lvFiles->horizontalHeader();
    header->setHighlightSections(false);
    header->setTextElideMode(Qt::ElideMiddle);
    lvFiles->setTextElideMode(Qt::ElideMiddle);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int i = 0; i < kFileListColumnCount; ++i)
        if (kFileListColumns[i].number)
            lvFiles->horizontalHeaderItem(i)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    SizeFileListColumns();
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
    connect(lvFiles, &QTableWidget::cellDoubleClicked, this, Guarded([this] { RowOptionsCommand(); }));
    connect(lvFiles->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            Guarded([this] { UpdateCommands(); }));
    lvFiles->viewport()->installEventFilter(this);
    // The menu key reaches the list as a context menu request; Shift+F10 does not by itself.
    auto *popupKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), lvFiles);
    popupKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(popupKey, &QShortcut::activated, this, Guarded([this] { PopupFromKeyboard(); }));
}

void TfrmMain::CreateSettingsPanel(QWidget *parent)
{
    Panel1 = Named(new QWidget(parent), "Panel1");
    auto *grid = new QGridLayout(Panel1);
    const QString colon = QString(QChar(0xFF1A));
    auto label = [this](const QString &text, const char *name) { return Named(new QLabel(text, Panel1), name); };

    // Choices, not fields: nothing can be typed into the lists.
    CobType = Named(new QComboBox(Panel1), "CobType");
    // The sound formats in the table's order: a stored index keeps its meaning.
    for (const batch::OutputFormat &format : batch::OutputFormats())
        CobType->addItem(QString::fromUtf8(format.caption));
    CobType->setMaxVisibleItems(CobType->count()); // every format at once, without scrolling
    CobType->setCurrentIndex(0);
    cboQuality = Named(new QComboBox(Panel1), "cboQuality");
    cboQuality->addItems(AllPresetCaptions());
    cboQuality->setMinimumWidth(cboQuality->sizeHint().width());
    cboQuality->clear();
    cboQuality->addItems(PresetCaptions(PanelFormat()));
    cboQuality->setCurrentIndex(PanelFormat().defaultPreset);
    cboQuality->setToolTip(QStringLiteral("How the sound is encoded: a bit rate, a variable quality that spends "
                                          "bits where the sound needs them, or how hard a lossless encoder works"));
    lblQuality = label(QStringLiteral("&Quality") + colon, "lblQuality");
    lblQuality->setBuddy(cboQuality);

    Cob_SD = Named(new QComboBox(Panel1), "Cob_SD");
    // The options window's channel items, chosen there by the same index.
    Cob_SD->addItems(ChoiceItems(kAudioChannelItems));
    Cob_SD->setCurrentIndex(0);
    CheckBox1 = Named(new QCheckBox(QStringLiteral("&Thread Mode"), Panel1), "CheckBox1");

    Edit1 = Named(new QLineEdit(Panel1), "Edit1");
    Edit1->setReadOnly(true);
    QPalette face = Edit1->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    Edit1->setPalette(face);
    ResetFolder = Edit1->addAction(style()->standardIcon(QStyle::SP_LineEditClearButton), QLineEdit::TrailingPosition);
    ResetFolder->setObjectName(QStringLiteral("ResetFolder"));
    ResetFolder->setToolTip(QStringLiteral("Put the outputs beside their inputs (Delete)"));
    connect(ResetFolder, &QAction::triggered, this, Guarded([this] { ResetOutputFolder(); }));
    // The button in the field takes no focus: its key is Delete while the field has it.
    OnKeys(Edit1, {Qt::Key_Delete, Qt::Key_Backspace}, [this] {
        if (ResetFolder->isEnabled())
            ResetFolder->trigger();
    });
    btnOutPath = Named(new QPushButton(QStringLiteral("..."), Panel1), "btnOutPath");
    btnOutPath->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    Button2 = Named(new QPushButton(QStringLiteral("&Open"), Panel1), "Button2");
    connect(btnOutPath, &QPushButton::clicked, this, Guarded([this] { btnOutPathClick(); }));
    connect(Button2, &QPushButton::clicked, this, Guarded([this] { Button2Click(); }));

    QLabel *formatLabel = label(QStringLiteral("Output For&mat") + colon, "Label1");
    QLabel *channelLabel = label(QStringLiteral("Audio &Channel") + colon, "Label2");
    QLabel *folderLabel = label(QStringLiteral("Output Fol&der") + colon, "Label3");
    formatLabel->setBuddy(CobType);
    channelLabel->setBuddy(Cob_SD);
    folderLabel->setBuddy(Edit1);
    grid->addWidget(formatLabel, 0, 0);
    grid->addWidget(CobType, 0, 1);
    grid->addWidget(lblQuality, 0, 2);
    grid->addWidget(cboQuality, 0, 3);
    grid->addWidget(channelLabel, 1, 0);
    grid->addWidget(Cob_SD, 1, 1);
    grid->addWidget(CheckBox1, 1, 2, 1, 2);
    grid->addWidget(folderLabel, 2, 0);
    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(Edit1, 1);
    folderRow->addWidget(btnOutPath);
    folderRow->addWidget(Button2);
    grid->addLayout(folderRow, 2, 1, 1, 4);
    grid->setColumnStretch(4, 1);
    const int comboWidth = fontMetrics().horizontalAdvance(QStringLiteral("Mp3 Encoder (*.MP3)")) + 48;
    CobType->setMinimumWidth(comboWidth);
    Cob_SD->setMinimumWidth(comboWidth);
    // Tab goes from the list through the panel as it reads.
    QWidget *chain[] = {lvFiles, CobType, cboQuality, Cob_SD, CheckBox1, Edit1, btnOutPath, Button2};
    for (size_t i = 1; i < std::size(chain); ++i)
        setTabOrder(chain[i - 1], chain[i]);
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
    grpPriority = new TRadioGroup(
        QStringLiteral("grpPriority"), QStringLiteral("Thread Priority"),
        {QStringLiteral("Idle"), QStringLiteral("Lowest"), QStringLiteral("Lower"), QStringLiteral("Normal")}, 1,
        HiddenControls);
    grpPriority->SetItemIndex(2);
    layout->addWidget(grpPriority);
    layout->addWidget(new QLabel(QStringLiteral("采 样 率"), HiddenControls));
    cobrate = Named(new QComboBox(HiddenControls), "cobrate");
    cobrate->addItems(ChoiceItems(kAudioSampleRates)); // chosen in the options window by index
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
