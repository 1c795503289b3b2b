// The main window without long runs: layout, adding, removing and clearing, the shell commands,
// the settings file, the event handlers fed by hand, errors and the about box.
#include "tests/app/MainWindowTestSupport.h"

#include "app/FileListColumns.h"
#include "app/LogPane.h"
#include "app/OptionFrm.h"
#include "app/RadioGroup.h"
#include "app/ToolImages.h"
#include "app/U_About.h"
#include "component/FFmpegList.h"
#include "engine/FFMpegException.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace main_window_testing;

namespace {

const QString kColon = QString(QChar(0xFF1A));

class MainFrmTest : public MainWindowTest {};

TEST_F(MainFrmTest, TheWindowStartsWithItsCaptionControlsAndCommandStates)
{
    EXPECT_EQ(window->windowTitle(), "Marvento Wav Mp3 Converter");
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Marvento Wav Mp3 Converter");

    struct Button {
        QToolButton *button;
        const char *name, *caption;
        int image;
    };
    const Button buttons[] = {
        {window->ToolButton1, "ToolButton1", "Add file", 4}, {window->ToolButton2, "ToolButton2", "Clear", 8},
        {window->ToolButton3, "ToolButton3", "Remove", 1},   {window->ToolButton7, "ToolButton7", "Converter", 6},
        {window->ToolButton5, "ToolButton5", "Pause", 5},    {window->ToolButton6, "ToolButton6", "Resume", 0},
        {window->ToolButton4, "ToolButton4", "Stop", 3}};
    for (const Button &b : buttons) {
        EXPECT_EQ(b.button->objectName(), b.name);
        EXPECT_EQ(b.button->text(), b.caption);
        EXPECT_EQ(b.button->property("imageIndex").toInt(), b.image) << b.name;
        EXPECT_FALSE(b.button->icon().pixmap(24, 24).isNull()) << b.name;
    }
    EXPECT_EQ(ToolBar(), "+------");
    EXPECT_EQ(Hidden(), "+------");

    const QStringList columns = {"File Title", "Total Time",   "File Size",  "Output",
                                 "Progress",   "Current Time", "Output Size"};
    ASSERT_EQ(window->lvFiles->columnCount(), columns.size());
    for (int i = 0; i < columns.size(); ++i)
        EXPECT_EQ(window->lvFiles->horizontalHeaderItem(i)->text(), columns[i]);
    EXPECT_EQ(window->lvFiles->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(window->lvFiles->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(window->lvFiles->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_TRUE(window->lvFiles->showGrid());

    EXPECT_EQ(window->CobType->currentIndex(), 0);
    EXPECT_EQ(window->CobType->currentText(), "Mp3 Encoder (*.MP3)");
    EXPECT_EQ(window->CobType->itemText(0), "Mp3 Encoder (*.MP3)");
    EXPECT_EQ(window->CobType->itemText(1), "WAV(*.WAV)");
    EXPECT_EQ(window->CobType->itemText(5), "WMA (*.WMA)");
    EXPECT_EQ(window->CobType->count(), 13);
    EXPECT_EQ(window->cboQuality->currentText(), "128 kbit/s");
    EXPECT_TRUE(window->cboQuality->isEnabled());
    for (const QComboBox *box : {window->CobType, window->cboQuality, window->Cob_SD})
        EXPECT_FALSE(box->isEditable()) << "nothing is typed into a choice";
    EXPECT_EQ(window->Cob_SD->currentIndex(), 0);
    EXPECT_EQ(window->Cob_SD->count(), 3);
    EXPECT_EQ(window->CheckBox1->text(), "&Thread Mode");
    EXPECT_FALSE(window->CheckBox1->isChecked());
    EXPECT_TRUE(window->Edit1->isReadOnly());
    EXPECT_EQ(window->btnOutPath->text(), "...");
    EXPECT_EQ(window->Button2->text(), "&Open");
    QStringList labels;
    for (const QLabel *label : window->Panel1->findChildren<QLabel *>())
        labels << QString(label->text()).remove('&');
    for (const char *caption : {"Output Format", "Quality", "Audio Channel", "Output Folder"})
        EXPECT_TRUE(labels.contains(QString::fromLatin1(caption) + kColon)) << caption;

    // The hidden settings.
    EXPECT_FALSE(window->HiddenControls->isVisibleTo(window.get()));
    EXPECT_TRUE(window->chkThreadMode->isChecked());
    EXPECT_EQ(window->edtThreadCount->text(), "1");
    EXPECT_TRUE(window->chkVerNum->isChecked());
    EXPECT_EQ(window->grpLogLevel->ItemIndex(), 2);
    EXPECT_EQ(window->grpLogLevel->Items(), QStringList({"None", "Error", "Info", "Debug", "All"}));
    EXPECT_EQ(window->grpPriority->ItemIndex(), 2);
    EXPECT_EQ(window->grpPriority->Items(), QStringList({"Idle", "Lowest", "Lower", "Normal"}));
    EXPECT_EQ(window->cobrate->currentIndex(), 0);
    EXPECT_EQ(window->cobrate->count(), 5);
    EXPECT_TRUE(window->Batch->LogLines.isEmpty());
    EXPECT_EQ(window->frmOption, nullptr);
}

TEST(ToolImages, EveryButtonHasAnImageEvenWithoutAnIconTheme)
{
    for (int index : {0, 1, 2, 3, 4, 5, 6, 8}) {
        SCOPED_TRACE(index);
        EXPECT_FALSE(ToolImageName(index).isEmpty());
        EXPECT_FALSE(ToolImage(index).pixmap(24, 24).isNull());
        // The drawn stand-in is no empty square.
        const QImage drawn = DrawnToolImage(index).pixmap(24, 24).toImage();
        ASSERT_EQ(drawn.size(), QSize(24, 24));
        int opaque = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 24; ++x)
                opaque += qAlpha(drawn.pixel(x, y)) > 128;
        EXPECT_GT(opaque, 20);
    }
    EXPECT_TRUE(ToolImageName(7).isEmpty());
}

TEST_F(MainFrmTest, MenusCarryTheirItemsAndTheCommandStates)
{
    // Captions as shown; each has an access key, and the common commands their shortcuts.
    const auto shown = [](const QAction *action) { return QString(action->text()).remove('&'); };
    QStringList menus;
    for (QAction *menu : window->menuBar()->actions()) {
        menus << shown(menu);
        EXPECT_TRUE(menu->text().contains('&')) << menu->text().toStdString();
    }
    EXPECT_EQ(menus, QStringList({"File", "Action", "View", "Help"}));
    const struct {
        QAction *action;
        const char *text, *shortcut;
    } items[] = {{window->N3, "Add file", "Ctrl+O"},
                 {window->AddFolder, "Add folder...", "Ctrl+Shift+O"},
                 {window->N4, "Remove", "Del"},
                 {window->N5, "Clear", ""},
                 {window->N8, "Exit", "Ctrl+Q"},
                 {window->N13, "Converter", "Ctrl+Return"},
                 {window->N14, "Pause", ""},
                 {window->N15, "Resume", ""},
                 {window->N16, "Stop", ""},
                 {window->ViewLog, "Log", "Ctrl+L"},
                 {window->A1, "About", ""},
                 {window->RowOptions, "Output Options...", "Alt+Return"},
                 {window->PanelSettings, "Use Panel Settings", ""}};
    // Nothing to remove, clear, convert, pause, resume, stop or set up yet.
    const std::set<QAction *> idle = {window->N4,  window->N5,  window->N13,        window->N14,
                                      window->N15, window->N16, window->RowOptions, window->PanelSettings};
    for (const auto &item : items) {
        EXPECT_EQ(shown(item.action), item.text);
        EXPECT_TRUE(item.action->text().contains('&')) << item.text;
        EXPECT_EQ(item.action->shortcut().toString(), item.shortcut) << item.text;
        EXPECT_EQ(item.action->isEnabled(), !idle.count(item.action)) << item.text;
    }
    QStringList popup;
    for (QAction *action : window->PopupMenu1->actions())
        popup << (action->isSeparator() ? QStringLiteral("-") : shown(action));
    // No two commands of a menu share an access key, the context menu's included.
    QList<QMenu *> all = {window->PopupMenu1};
    for (QAction *menu : window->menuBar()->actions())
        all << menu->menu();
    for (const QMenu *menu : all) {
        std::set<QChar> keys;
        for (const QAction *action : menu->actions()) {
            const qsizetype at = action->text().indexOf('&');
            if (!action->isSeparator())
                EXPECT_TRUE(at >= 0 && keys.insert(action->text().at(at + 1).toLower()).second)
                    << action->text().toStdString();
        }
    }
    EXPECT_EQ(popup, QStringList({"Add", "Remove", "Clear", "-", "Play Output", "Open Folder", "-", "Output Options...",
                                  "Use Panel Settings", "-", "Convert Again"}));
}

TEST_F(MainFrmTest, TheOpenDialogOffersEveryMediaTypeFirstAndTakesSeveralFiles)
{
    EXPECT_EQ(window->OpenDialog1->nameFilters(), QStringList({"Mp3文件 (*.mp3)", "Wav文件 (*.wav)"}));
    EXPECT_EQ(window->OpenDialog1->fileMode(), QFileDialog::ExistingFiles);

    // The real dialog, answered while it runs.
    const std::string wav = Wav("dialog.wav", 0.5);
    TfrmMain plain(nullptr, QString::fromStdString(program.string()), QString::fromStdString(user.string()));
    plain.OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
    bool answered = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (plain.OpenDialog1->isVisible()) {
            poll.stop();
            answered = true;
            // Typed whole, as a person may: selectFile's name would be read against a folder
            // the dialog may still be loading, and a name not found there opens a box of its own.
            auto *name = plain.OpenDialog1->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(QString::fromStdString(wav));
            static_cast<QDialog *>(plain.OpenDialog1)->accept();
        }
    });
    poll.start(10);
    plain.ToolButton1Click();
    EXPECT_TRUE(answered);
    ASSERT_EQ(plain.lvFiles->rowCount(), 1);
    EXPECT_EQ(plain.lvFiles->item(0, 0)->text(), "dialog.wav");
    // Once the libraries are there, every type they read comes first.
    const QStringList filters = plain.OpenDialog1->nameFilters();
    ASSERT_EQ(filters.size(), 3);
    EXPECT_TRUE(filters[0].startsWith("All media files (")) << filters[0].toStdString();
    for (const char *type : {"*.mp3 ", "*.wav ", "*.flac ", "*.mkv ", "*.m4a "})
        EXPECT_TRUE(filters[0].contains(type)) << type;
    EXPECT_EQ(filters.mid(1), QStringList({"Mp3文件 (*.mp3)", "Wav文件 (*.wav)"}));

    // Typed in part, the highlighted completion taken with Enter: added at once, and the list of
    // completions goes with the dialog. It waits for the folder's listing, not for a time.
    Mp3("second.mp3", 0.5); // the filter first offered shows MP3s
    auto *name = plain.OpenDialog1->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    ASSERT_TRUE(name && name->completer());
    QAbstractItemView *completions = name->completer()->popup();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool typed = false, chosen = false;
    QTimer keys;
    QObject::connect(&keys, &QTimer::timeout, [&] {
        if (!plain.OpenDialog1->isVisible())
            return;
        if (std::chrono::steady_clock::now() > giveUp) { // still open: a hang would stop the suite
            keys.stop();
            plain.OpenDialog1->reject();
        } else if (!typed) {
            typed = true;
            // The completer takes to the field when it gets the focus, as it does on a screen.
            QFocusEvent focus(QEvent::FocusIn, Qt::OtherFocusReason);
            QCoreApplication::sendEvent(name, &focus);
            name->clear(); // it shows the last choice
            QTest::keyClicks(name, QString::fromStdString(dir.File("seco")));
        } else if (!chosen && completions->isVisible()) {
            chosen = true;
            QTest::keyClick(completions, Qt::Key_Down);
            QTest::keyClick(completions, Qt::Key_Return);
        }
    });
    keys.start(10);
    plain.ToolButton1Click();
    ASSERT_TRUE(chosen) << "no completion was offered";
    ASSERT_EQ(plain.lvFiles->rowCount(), 2);
    EXPECT_EQ(plain.lvFiles->item(1, 0)->text(), "second.mp3");
    EXPECT_FALSE(completions->isVisible());
}

TEST_F(MainFrmTest, AnAddedFileGetsItsRowWithTruncatedTimeAndAnMp3BesideItsInput)
{
    const std::string wav = Wav("tone.wav", 59.9);
    window->CobType->setCurrentIndex(1); // WAV, which the row shows at once
    window->Cob_SD->setCurrentIndex(2);
    AddByToolBar(wav);
    EXPECT_EQ(dialogs, 1);
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, 0), "tone.wav");
    EXPECT_EQ(Cell(0, 1), "0:59");
    EXPECT_EQ(window->lvFiles->item(0, 1)->toolTip(), "0:59.900");
    EXPECT_EQ(Cell(0, 2), "10.6 MB");
    EXPECT_EQ(window->lvFiles->item(0, 2)->toolTip(), "10,566,438 bytes");
    EXPECT_EQ(Cell(0, 3), "tone_(new).wav");
    EXPECT_EQ(Cell(0, 4), "");
    EXPECT_EQ(Cell(0, 5), "");
    EXPECT_EQ(Cell(0, 6), "");
    EXPECT_EQ(window->Batch->InputFileList, QStringList({QString::fromStdString(wav)}));
    EXPECT_EQ(window->Batch->OutputFolderList, QStringList({QString::fromStdString(dir.Path().string()) + "/"}));
    ASSERT_EQ(window->Batch->OutputFileList.size(), 1);
    EXPECT_EQ(window->Batch->OutputFileList[0].FileName, QString::fromStdString(dir.File("tone_(new).wav")));
    EXPECT_FALSE(window->Batch->OutputFileList[0].Converted);
    // Nothing beside the input until its conversion starts.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2) << "tone.wav and program/";
    EXPECT_EQ(window->Batch->VeloxC->Tasks().Count(), 1);
    ASSERT_NE(window->frmOption, nullptr);
    EXPECT_FALSE(window->frmOption->isVisible());
    EXPECT_EQ(window->Batch->LogLines.mid(window->Batch->LogLines.size() - 3),
              QStringList({"", "***File has been added to convert list.", ""}));
    EXPECT_EQ(ToolBar(), "++++---");
    EXPECT_EQ(Hidden(), "++++---");

    // The Output column follows the format and the folder at once, and the folder can be reset. A
    // format without presets shows "Lossless", disabled; a preset chosen comes back with its format.
    window->CobType->setCurrentIndex(12);
    EXPECT_EQ(Cell(0, 3), "tone_(new).aiff");
    EXPECT_EQ(window->cboQuality->currentText(), "Lossless");
    EXPECT_FALSE(window->cboQuality->isEnabled());
    window->CobType->setCurrentIndex(2);
    window->cboQuality->setCurrentIndex(0);
    window->CobType->setCurrentIndex(0);
    EXPECT_EQ(window->cboQuality->currentText(), "128 kbit/s");
    window->CobType->setCurrentIndex(2);
    EXPECT_EQ(window->cboQuality->currentText(), "96 kbit/s");
    window->CobType->setCurrentIndex(0);
    EXPECT_EQ(Cell(0, 3), "tone_(new).mp3");
    window->Edit1->setText(QString::fromStdString(dir.File("out/")));
    EXPECT_EQ(window->Batch->OutputFileList[0].FileName, QString::fromStdString(dir.File("out/tone_(new).mp3")));
    ASSERT_TRUE(window->ResetFolder->isEnabled());
    window->ResetFolder->trigger();
    EXPECT_EQ(window->Edit1->text(), "");
    EXPECT_EQ(window->Batch->OutputFileList[0].FileName, QString::fromStdString(dir.File("tone_(new).mp3")));
}

TEST_F(MainFrmTest, EveryAddEntryPointAddsTheSameWay)
{
    // Four files of one name in four folders, all to one output folder.
    window->Edit1->setText(QString::fromStdString(dir.File("out/")));
    const std::function<void()> entries[] = {[&] { window->N3->trigger(); }, [&] { window->mnuAdd->trigger(); },
                                             [&] { window->btnAdd->click(); }, [&] { window->ToolButton1->click(); }};
    for (int i = 0; i < 4; ++i) {
        std::filesystem::create_directories(dir.File(std::to_string(i)));
        next = QString::fromStdString(Wav(std::to_string(i) + "/tone.wav", 0.5));
        entries[i]();
    }
    EXPECT_EQ(dialogs, 4);
    ASSERT_EQ(Rows(), 4);
    // A file in the list already is not added again, and the box says so.
    window->ToolButton1->click();
    EXPECT_EQ(Rows(), 4);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].text.contains("tone.wav: it is in the list already")) << shown[0].text.toStdString();
    // Each row's output name is its own, although nothing is made before the start.
    const char *names[] = {"tone_(new).mp3", "tone_(new_1).mp3", "tone_(new_2).mp3", "tone_(new_3).mp3"};
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(Cell(row, 3), names[row]);
    EXPECT_EQ(window->Batch->InputFileList.size(), 4);
}

TEST_F(MainFrmTest, ACancelledDialogOrAFileThatIsNoMediaAddsNothing)
{
    next.clear();
    window->ToolButton1Click();
    EXPECT_EQ(Rows(), 0);
    EXPECT_TRUE(window->Batch->LogLines.isEmpty());

    // Each refusal names the file and the reason, in the log and in a box.
    const std::string text = dir.File(".wav");
    std::ofstream(text) << "this is no sound at all";
    MediaRecipe film;
    film.video = VideoTrack{};
    WriteMediaFile(dir.File("silent film.mp4"), film);
    for (const std::string &file : {text, dir.File("silent film.mp4")}) {
        SCOPED_TRACE(file);
        shown.clear();
        window->Batch->LogLines.clear();
        AddByToolBar(file);
        EXPECT_EQ(Rows(), 0);
        EXPECT_TRUE(window->Batch->InputFileList.isEmpty());
        const QString line = window->Batch->LogLines.filter("***Cannot add ").value(0);
        EXPECT_TRUE(line.startsWith(QStringLiteral("***Cannot add %1: ").arg(file.c_str()))) << line.toStdString();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, "This file was not added:\n" + line.mid(14));
    }
    EXPECT_TRUE(window->Batch->LogLines.last(2).first().endsWith("it has no sound"));
    EXPECT_EQ(ToolBar(), "+------");
}

// A task that cannot be made is logged and leaves no task or row; a start with the list empty
// then does nothing, not even clearing the tasks (and with them the last error).
TEST_F(MainFrmTest, TaskCreationFailuresAreLoggedAndAnEmptyStartDoesNothing)
{
    TInputOptions input;
    TOutputOptions output;
    TVeloxConverter::InitInputOptions(input);
    TVeloxConverter::InitOutputOptions(output);
    input.FileName = dir.File("missing.wav");
    output.FileName = dir.File("out.mp3");
    EXPECT_FALSE(window->Batch->AddConvertTask(input, output));
    EXPECT_EQ(window->Batch->LogLines.filter("***File open error: ").size(), 1);

    input.FileName = Wav("tone.wav", 0.5);
    output.AudioCodec = "no_such_encoder";
    window->Batch->LogLines.clear();
    EXPECT_FALSE(window->Batch->AddConvertTask(input, output));
    EXPECT_EQ(window->Batch->LogLines.filter("***Cannot do convert, error: ").size(), 1)
        << window->Batch->LogLines.join('|').toStdString();
    EXPECT_EQ(window->Batch->VeloxC->Tasks().Count(), 0); // the half-made task went again
    EXPECT_EQ(Rows(), 0);
    const std::string error = window->Batch->VeloxC->LastErrMsg();
    ASSERT_FALSE(error.empty());
    window->ToolButton7Click();
    window->N13->trigger();
    EXPECT_EQ(window->Batch->VeloxC->LastErrMsg(), error);
    EXPECT_EQ(ToolBar(), "+------");
    EXPECT_EQ(Hidden(), "+------");
    EXPECT_FALSE(window->RunActive());
}

// Remove without a selected row, and pause, resume and stop without a run, change nothing; the
// context menu agrees with the tool bar.
TEST_F(MainFrmTest, CommandsWithNothingToActOnChangeNothing)
{
    window->PopupMenu1Popup();
    EXPECT_EQ(StatesOf({window->mnuAdd, window->mnuRemove, window->mnuClear}), "+--");
    AddByToolBar(Wav("a.wav", 0.5));
    window->PopupMenu1Popup();
    EXPECT_EQ(StatesOf({window->mnuAdd, window->mnuRemove, window->mnuClear}), "+++");
    SelectNone();
    for (QAction *command : {window->N14, window->N15, window->N16})
        command->trigger();
    for (auto click : {&TfrmMain::ToolButton3Click, &TfrmMain::btnRemoveClick, &TfrmMain::ToolButton5Click,
                       &TfrmMain::ToolButton6Click, &TfrmMain::ToolButton4Click})
        (window.get()->*click)();
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(window->Batch->VeloxC->Tasks().Count(), 1);
    EXPECT_EQ(window->Batch->InputFileList.size(), 1);
    EXPECT_EQ(ToolBar(), "++++---");
    EXPECT_EQ(Hidden(), "++++---");
}

TEST_F(MainFrmTest, RemoveTakesTheSelectedRowAndItsEntriesAndSetsTheStatesEverywhere)
{
    const std::string a = Wav("a.wav", 0.5), b = Wav("b.wav", 0.5), c = Wav("c.wav", 0.5);
    for (const std::string &file : {a, b, c})
        AddByToolBar(file);
    Select(1);
    window->N4->trigger(); // File > Remove: the hidden set
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(0, 0), "a.wav");
    EXPECT_EQ(Cell(1, 0), "c.wav");
    EXPECT_EQ(window->Batch->InputFileList, QStringList({QString::fromStdString(a), QString::fromStdString(c)}));
    EXPECT_EQ(window->Batch->OutputFileList[1].FileName, QString::fromStdString(dir.File("c_(new).mp3")));
    EXPECT_EQ(window->Batch->OutputFolderList.size(), 2);
    ASSERT_EQ(window->Batch->VeloxC->Tasks().Count(), 2);
    EXPECT_EQ(window->Batch->VeloxC->Tasks().Items(1).InputOptions.FileName, c);
    EXPECT_EQ(Hidden(), "++++---"); // rows remain: Clear, Remove, Start on
    EXPECT_EQ(ToolBar(), "++++---");

    Select(0);
    window->ToolButton3Click();
    Select(0);
    window->ToolButton3Click();
    EXPECT_EQ(Rows(), 0);
    EXPECT_TRUE(window->Batch->InputFileList.isEmpty());
    EXPECT_EQ(ToolBar(), "+------"); // none remain
    EXPECT_EQ(Hidden(), "+------");
}

TEST_F(MainFrmTest, ClearFromEachOfItsPlacesEmptiesTheListsAndALaterStartConvertsNothing)
{
    const std::function<void()> places[] = {[&] { window->ToolButton2->click(); }, [&] { window->N5->trigger(); },
                                            [&] { window->mnuClear->trigger(); }};
    const QString wavs[] = {QString::fromStdString(Wav("a.wav", 0.5)), QString::fromStdString(Wav("b.wav", 0.5))};
    for (int place = 0; place < 3; ++place) {
        SCOPED_TRACE(place); // tool bar, main menu, context menu
        window = std::make_unique<TfrmMain>(nullptr, QString::fromStdString(program.string()),
                                            QString::fromStdString(user.string()));
        int chosen = 0;
        window->ChooseFiles = [&] { return QStringList{wavs[chosen++ % 2]}; };
        window->ToolButton1Click();
        window->ToolButton1Click();
        places[place]();
        EXPECT_EQ(Rows(), 0);
        EXPECT_TRUE(window->Batch->InputFileList.isEmpty());
        EXPECT_TRUE(window->Batch->OutputFileList.isEmpty());
        EXPECT_TRUE(window->Batch->OutputFolderList.isEmpty());
        EXPECT_EQ(window->Batch->VeloxC->Tasks().Count(), 0);
        EXPECT_EQ(ToolBar(), "+------");
        EXPECT_EQ(Hidden(), "+------");
        window->ToolButton7Click();
        window->btnStartClick();
        EXPECT_EQ(Rows(), 0);
        EXPECT_EQ(window->Batch->VeloxC->Tasks().Count(), 0);
        EXPECT_FALSE(window->RunActive());
    }
}

TEST_F(MainFrmTest, ProgressFillsTheRowsColumnsAndAnUnknownTotalShowsADash)
{
    AddByToolBar(Wav("a.wav", 0.5));
    AddByToolBar(Wav("b.wav", 0.5));
    window->Batch->VeloxCProgress(1, 10, 25, 1999, 2.0f, 128.0f, 12345, 4000);
    EXPECT_EQ(Cell(1, 4), "49%");
    // Readable figures, exact in the tooltip.
    const auto figure = [&](int row, int column) {
        return Cell(row, column) + "|" + window->lvFiles->item(row, column)->toolTip();
    };
    EXPECT_EQ(figure(1, 5), "0:01|0:01.999");
    EXPECT_EQ(figure(1, 6), "12.3 kB|12,345 bytes");
    EXPECT_EQ(Cell(0, 4), "");
    window->Batch->VeloxCProgress(0, 0, 0, 2500, 0, 0, INT64_C(5000000000), 0);
    EXPECT_EQ(Cell(0, 4), "-");
    EXPECT_EQ(figure(0, 5), "0:02|0:02.500");
    EXPECT_EQ(figure(0, 6), "5.00 GB|5,000,000,000 bytes");
    window->Batch->VeloxCProgress(0, 0, 0, 3'723'000, 0, 0, 999'600, 0);
    EXPECT_EQ(figure(0, 5), "1:02:03|1:02:03.000");
    EXPECT_EQ(figure(0, 6), "1.00 MB|999,600 bytes");
    window->Batch->VeloxCProgress(0, 0, 0, 100, 0, 0, 1, -40);
    EXPECT_EQ(Cell(0, 4), "-");
    // Rows that are not there change nothing.
    window->Batch->VeloxCProgress(2, 0, 0, 100, 0, 0, 1, 200);
    window->Batch->VeloxCProgress(-1, 0, 0, 100, 0, 0, 1, 200);
    EXPECT_EQ(Rows(), 2);
}

TEST_F(MainFrmTest, EventsFromAWorkerThreadReachTheRowsInTheOrderTheyWereRaised)
{
    AddByToolBar(Wav("a.wav", 0.5));
    std::thread worker([&] {
        for (int ms = 0; ms <= 4000; ms += 10)
            window->Batch->VeloxCProgress(0, 0, 0, ms, 0, 0, ms, 4000);
        for (int i = 0; i < 100; ++i)
            window->Batch->VeloxCLog(0, llInfo, std::to_string(i));
        window->Batch->VeloxCTerminate(0, true, false, "");
    });
    worker.join();
    EXPECT_EQ(Cell(0, 4), ""); // nothing is touched off the window's thread
    ASSERT_TRUE(WaitUntil([&] { return window->Batch->OutputFileList[0].Converted; }));
    EXPECT_EQ(Cell(0, 4), "100%");
    EXPECT_EQ(Cell(0, 5), "0:04");
    EXPECT_EQ(Cell(0, 6), "") << "the size on the disk, and no file was made";
    const QStringList lines = window->Batch->LogLines.filter("#0.2: "); // the file's result follows
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(lines[i], QStringLiteral("#0.2: %1").arg(i));
}

TEST_F(MainFrmTest, LogLinesNameTheTaskAndTheLevel)
{
    window->Batch->VeloxCLog(0, llInfo, "Input #0, wav");
    window->Batch->VeloxCLog(-1, llQuiet, "no task");
    window->Batch->VeloxCLog(3, llAll, "Ünïcödé");
    EXPECT_EQ(window->Batch->LogLines, QStringList({"#0.2: Input #0, wav", "#-1.0: no task", "#3.4: Ünïcödé"}));
}

TEST_F(MainFrmTest, TerminateMarksRowsAndTheRunEndSetsBothSetsAndLetsTheTasksGo)
{
    for (const char *name : {"a.wav", "b.wav", "c.wav"})
        AddByToolBar(Wav(name, 0.5));
    window->Batch->VeloxCTerminate(0, true, false, "");
    EXPECT_EQ(Cell(0, 4), "100%");
    EXPECT_TRUE(window->Batch->OutputFileList[0].Converted);
    EXPECT_EQ(window->Batch->RowState(0), rsDone);
    // Stopped by the user: its partial output is gone, so there is nothing to play.
    window->Batch->VeloxCProgress(1, 0, 0, 1000, 0, 0, 10, 4000);
    window->Batch->VeloxCTerminate(1, false, false, "");
    EXPECT_EQ(Cell(1, 4), "Stopped");
    EXPECT_EQ(Cell(1, 6), "");
    EXPECT_FALSE(window->Batch->OutputFileList[1].Converted);
    // A failed task: the reason in its row and its tooltip, not flagged.
    window->Batch->VeloxCTerminate(2, false, true, "Error while opening encoder");
    EXPECT_FALSE(window->Batch->OutputFileList[2].Converted);
    EXPECT_EQ(Cell(2, 4), "Failed: Error while opening encoder");
    EXPECT_EQ(window->lvFiles->item(2, 4)->toolTip(), "Error while opening encoder");
    EXPECT_GT(window->lvFiles->rowHeight(2), window->lvFiles->rowHeight(1)) << "its row grows to show it";
    window->Batch->VeloxCProgress(2, 0, 0, 1000, 0, 0, 10, 4000); // late: changes nothing
    EXPECT_EQ(Cell(2, 4), "Failed: Error while opening encoder");
    EXPECT_TRUE(shown.empty()) << "one box for the whole run, at its end";

    window->Batch->VeloxCTerminate(-1, true, false, "");
    ASSERT_TRUE(WaitUntil([&] { return window->Batch->VeloxC->Tasks().Count() == 0; }));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].icon, QMessageBox::Warning);
    EXPECT_EQ(shown[0].text,
              "This file was not converted:\n" + window->Batch->InputFileList[2] + ": Error while opening encoder");
    EXPECT_EQ(ToolBar(), "++++---");
    EXPECT_EQ(Hidden(), "++++---");
    EXPECT_EQ(Rows(), 3);
    EXPECT_EQ(window->Batch->OutputFileList.size(), 3);
    EXPECT_EQ(window->Batch->OutputFolderList.size(), 3);
}

TEST_F(MainFrmTest, PlayOutputAndOpenFolderFollowTheSelectedOrTheLastRow)
{
    window->PopupMenu1Popup();
    EXPECT_FALSE(window->mnuPlay->isEnabled());
    EXPECT_FALSE(window->mnuOpenFolder->isEnabled());
    window->mnuPlayClick();
    window->mnuOpenFolderClick();
    EXPECT_TRUE(opened.empty());

    std::filesystem::create_directories(dir.Path() / "second");
    const std::string a = Wav("a.wav", 0.5), b = (dir.Path() / "second" / "b.wav").string();
    WriteSineWav(b, 0.5);
    AddByToolBar(a);
    AddByToolBar(b);
    SelectNone();
    window->PopupMenu1Popup();
    EXPECT_FALSE(window->mnuPlay->isEnabled()) << "not converted yet";
    EXPECT_TRUE(window->mnuOpenFolder->isEnabled());
    window->mnuOpenFolderClick(); // the last row's folder
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile((dir.Path() / "second").string().c_str() + QString("/")));

    // Row 0 ends; with it selected it can be played.
    window->Batch->VeloxCTerminate(0, true, false, "");
    std::ofstream(dir.File("a_(new).mp3")) << "ID3"; // what its run would have made
    Select(0);
    window->PopupMenu1Popup();
    EXPECT_TRUE(window->mnuPlay->isEnabled());
    window->mnuPlayClick();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1], QUrl::fromLocalFile(QString::fromStdString(dir.File("a_(new).mp3"))));
    window->mnuOpenFolderClick();
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[2], QUrl::fromLocalFile(QString::fromStdString(dir.Path().string()) + "/"));

    // No selection: the last row, which has not ended.
    SelectNone();
    window->PopupMenu1Popup();
    EXPECT_FALSE(window->mnuPlay->isEnabled());
    // A failed row stays unplayable.
    window->Batch->VeloxCTerminate(1, false, true, "failed");
    window->PopupMenu1Popup();
    EXPECT_FALSE(window->mnuPlay->isEnabled());

    // The output deleted meanwhile: nothing happens.
    Select(0);
    std::filesystem::remove(dir.File("a_(new).mp3"));
    window->mnuPlayClick();
    EXPECT_EQ(opened.size(), 3u);
    // A folder that went away is not opened either.
    SelectNone();
    std::filesystem::remove_all(dir.Path() / "second");
    window->mnuOpenFolderClick();
    EXPECT_EQ(opened.size(), 3u);
}

TEST_F(MainFrmTest, TheFirstRunHasNoSettingsFileAndClosingCreatesItWithAnEmptyFolder)
{
    const std::filesystem::path ini = program / "Config.ini";
    ASSERT_FALSE(std::filesystem::exists(ini));
    window->show();
    EXPECT_EQ(window->Edit1->text(), "");
    window->close();
    ASSERT_TRUE(std::filesystem::exists(ini));
    const std::string text = ReadText(ini.string());
    EXPECT_NE(text.find("[FormConfig]"), std::string::npos) << text;
    EXPECT_NE(text.find("dir="), std::string::npos) << text;
    EXPECT_FALSE(std::filesystem::exists(user));
}

TEST_F(MainFrmTest, TheChosenOutputFolderIsKeptBetweenRuns)
{
    QString asked;
    window->ChooseFolder = [&](const QString &title, QString &folder) {
        asked = title;
        folder = "/srv/converted";
        return true;
    };
    window->show();
    window->btnOutPathClick();
    EXPECT_EQ(asked, "Select Output Folder");
    EXPECT_EQ(window->Edit1->text(), "/srv/converted/");
    window->Button2Click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile("/srv/converted/"));
    window->close();

    TfrmMain again(nullptr, QString::fromStdString(program.string()), QString::fromStdString(user.string()));
    again.show();
    EXPECT_EQ(again.Edit1->text(), "/srv/converted/");
    // A cancelled choice keeps the folder.
    again.ChooseFolder = [](const QString &, QString &) { return false; };
    again.btnOutPathClick();
    EXPECT_EQ(again.Edit1->text(), "/srv/converted/");
}

// Without a chosen folder, Open opens the first row's, where its output goes, or says there is none.
TEST_F(MainFrmTest, OpenWithoutAFolderOpensTheFirstRowsOrSaysThereIsNone)
{
    window->Button2Click();
    EXPECT_TRUE(opened.empty());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "There is no folder to open: no output folder is chosen, and the list is empty.");
    AddByToolBar(Wav("a.wav", 0.3));
    window->Button2Click();
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(dir.Path().string()) + "/")});
}

TEST_F(MainFrmTest, DroppedOrChosenFoldersAddTheirMediaOnceAndNothingElse)
{
    // A folder with nested media, a hidden file, a text and a file listed already.
    for (const char *folder : {"in/deep", "in/.hidden"})
        std::filesystem::create_directories(dir.File(folder));
    const QString listed = QString::fromStdString(Wav("in/a.wav", 0.3));
    Mp3("in/deep/b.mp3", 0.3);
    Wav("in/.c.wav", 0.3);
    Wav("in/.hidden/d.wav", 0.3);
    std::ofstream(dir.File("in/notes.txt")) << "no sound";
    ASSERT_EQ(mkfifo(dir.File("in/pipe.wav").c_str(), 0600), 0); // nobody writes it: reading it would hang
    const QString loose = QString::fromStdString(Wav("e.wav", 0.3));
    next = listed;
    window->ToolButton1Click();

    const auto drop = [&](const QList<QUrl> &urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &enter);
        QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &dropped);
        return enter.isAccepted() && dropped.isAccepted();
    };
    EXPECT_FALSE(drop({QUrl("https://example.org/x.mp3")}));
    ASSERT_TRUE(drop({QUrl::fromLocalFile(QString::fromStdString(dir.File("in"))), QUrl::fromLocalFile(loose)}));
    ASSERT_TRUE(WaitUntil([&] { return !window->Adding(); }));
    QStringList names;
    for (int row = 0; row < Rows(); ++row)
        names << Cell(row, 0);
    EXPECT_EQ(names, QStringList({"a.wav", "b.mp3", "e.wav"}));
    EXPECT_TRUE(shown.empty()) << shown[0].text.toStdString(); // what a folder holds besides is no error
    // ... but it is said, and the log has each file and why.
    EXPECT_EQ(window->statusBar()->currentMessage(),
              "2 files added; 3 files were not added: 1 without sound, 1 in the list already, 1 could not be read");
    EXPECT_TRUE(window->LogPane->Text().contains("notes.txt: not added: ")) << window->LogPane->Text().toStdString();

    // File > Add folder adds the same way: nothing new here.
    window->ChooseFolder = [&](const QString &, QString &folder) {
        folder = QString::fromStdString(dir.File("in"));
        return true;
    };
    window->AddFolder->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !window->Adding(); }));
    EXPECT_EQ(Rows(), 3);
    EXPECT_EQ(window->statusBar()->currentMessage(),
              "0 files added; 4 files were not added: 1 without sound, 2 in the list already, 1 could not be read");
}

TEST_F(MainFrmTest, TheChoicesAndTheWindowAreAsTheUserLeftThem)
{
    window->show();
    window->CobType->setCurrentIndex(3);
    window->cboQuality->setCurrentIndex(4);
    window->Cob_SD->setCurrentIndex(2);
    window->CheckBox1->setChecked(true);
    window->resize(900, 600);
    window->lvFiles->setColumnWidth(kProgressColumn, 222);
    // Kept as they change, not only when the window closes.
    for (const auto &[key, value] : {std::pair{"format", "3"}, {"quality", "4"}, {"channel", "2"}, {"threadMode", "1"}})
        EXPECT_EQ(window->ConfigIni.Read(key), value) << key;
    window->close();
    TfrmMain again(nullptr, QString::fromStdString(program.string()), QString::fromStdString(user.string()));
    again.show();
    EXPECT_EQ(again.CobType->currentIndex(), 3);
    EXPECT_EQ(again.cboQuality->currentText(), "448 kbit/s"); // of the AC3 presets
    EXPECT_EQ(again.Cob_SD->currentIndex(), 2);
    EXPECT_TRUE(again.CheckBox1->isChecked());
    EXPECT_EQ(again.size(), QSize(900, 600));
    EXPECT_EQ(again.lvFiles->columnWidth(kProgressColumn), 222);

    // As earlier versions wrote it, Config.ini means what it meant (formats 0 to 5, a quality of the
    // MP3 presets); a quality is one of the stored format's presets, a value out of range the default.
    using Row = std::tuple<const char *, const char *, int, const char *>; // format, quality, shown
    for (const auto &[format, quality, index, shown] :
         {Row{"-1", "4", 0, "V0 (variable, about 245 kbit/s)"}, Row{"1", "4", 1, "Lossless"},
          Row{"3", "5", 3, "640 kbit/s"}, Row{"3", "9", 3, "192 kbit/s"}, Row{"13", "2", 0, "128 kbit/s"}}) {
        ASSERT_TRUE(window->ConfigIni.Write({{"format", format}, {"quality", quality}}));
        TfrmMain stored(nullptr, QString::fromStdString(program.string()), QString::fromStdString(user.string()));
        stored.show();
        EXPECT_EQ(stored.CobType->currentIndex(), index) << format;
        EXPECT_EQ(stored.cboQuality->currentText(), shown) << format << " " << quality;
    }
}

// File Title and Output share what the figures leave, each with room for a readable name (the list
// scrolls below that); a figure is as wide as its caption or entry, at a doubled font too.
TEST_F(MainFrmTest, TheNamesShareTheWidthAndTheFiguresFitTheirContent)
{
    const std::string wav = Wav("Morning Walk.wav", 0.3);
    const struct Restore {
        QFont usual = QApplication::font();
        ~Restore() { QApplication::setFont(usual); }
    } fonts;
    using Case = std::tuple<double, int, bool>; // font scale, window width, both names whole
    for (const auto &[scale, width, whole] :
         {Case{1, 1000, true}, Case{1, 683, false}, Case{2, 1366, true}, Case{1, 420, false}}) {
        SCOPED_TRACE(testing::Message() << scale << "x, " << width);
        QFont font = fonts.usual;
        font.setPointSizeF(fonts.usual.pointSizeF() * scale); // as the desktop's scale makes it
        QApplication::setFont(font);
        TfrmMain list(nullptr, QString::fromStdString(program.string()), QString::fromStdString(user.string()));
        list.ChooseFiles = [&] { return QStringList{QString::fromStdString(wav)}; };
        list.ToolButton1Click();
        list.show();
        list.resize(width, 500);
        QCoreApplication::processEvents();
        const QTableWidget &files = *list.lvFiles;
        const auto text = [&](int column) {
            return files.fontMetrics().horizontalAdvance(files.item(0, column)->text());
        };
        const int zero = files.fontMetrics().horizontalAdvance('0'), room = files.viewport()->width();
        int all = 0;
        for (int column = 0; column < kFileListColumnCount; ++column) {
            all += files.columnWidth(column);
            if (kFileListColumns[column].fit != cfContent)
                continue;
            const int least = std::max(files.horizontalHeader()->sectionSizeHint(column), text(column));
            EXPECT_GE(files.columnWidth(column), least) << column;
            EXPECT_LE(files.columnWidth(column), std::max(least, 7 * zero) + 2 * zero) << column;
        }
        EXPECT_GE(files.columnWidth(0), 12 * zero);
        EXPECT_GE(files.columnWidth(kOutputColumn), 14 * zero);
        if (all > room) {
            EXPECT_GT(files.horizontalScrollBar()->maximum(), 0) << "the rest is scrolled to";
        } else {
            EXPECT_EQ(all, room);
            EXPECT_GT(files.columnWidth(kOutputColumn), files.columnWidth(0)) << "the longer names";
            EXPECT_TRUE(!whole || (files.columnWidth(0) > text(0) && files.columnWidth(kOutputColumn) > text(3)));
        }
    }
}

// Tab leaves the list at once (the arrows move in it) and goes through the panel; each label's
// access key reaches its control, Delete in the folder field puts the outputs beside their inputs,
// and the menu key opens the context menu.
TEST_F(MainFrmTest, TheKeyboardReachesEveryControlOfTheListAndThePanel)
{
    AddByToolBar(Wav("a.wav", 0.3));
    AddByToolBar(Wav("b.wav", 0.3));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    window->lvFiles->setFocus();
    window->lvFiles->setCurrentCell(0, 0);
    QTest::keyClick(window->lvFiles, Qt::Key_Down);
    EXPECT_EQ(window->lvFiles->currentRow(), 1);
    std::vector<QWidget *> stops;
    while (stops.size() < 40 && (stops.empty() || stops.back() != window->lvFiles)) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        stops.push_back(QApplication::focusWidget());
    }
    const std::vector<QWidget *> panel = {window->CobType, window->cboQuality, window->Cob_SD, window->CheckBox1,
                                          window->Edit1,   window->btnOutPath, window->Button2};
    ASSERT_GE(stops.size(), panel.size());
    EXPECT_EQ(std::vector<QWidget *>(stops.begin(), stops.begin() + 7), panel);
    EXPECT_EQ(stops.back(), window->lvFiles) << "around to the list again";

    const struct {
        const char *label;
        Qt::Key key;
        QWidget *control;
    } keys[] = {{"Label1", Qt::Key_M, window->CobType},
                {"lblQuality", Qt::Key_Q, window->cboQuality},
                {"Label2", Qt::Key_C, window->Cob_SD},
                {"Label3", Qt::Key_D, window->Edit1}};
    for (const auto &k : keys) {
        auto *label = window->Panel1->findChild<QLabel *>(k.label);
        ASSERT_TRUE(label && label->buddy() == k.control) << k.label;
        QTest::keyClick(window.get(), k.key, Qt::AltModifier);
        EXPECT_EQ(QApplication::focusWidget(), k.control) << k.label;
    }
    window->Edit1->setText("/srv/converted/");
    QTest::keyClick(window->Edit1, Qt::Key_Delete);
    EXPECT_EQ(window->Edit1->text(), "");
    QTest::keyClick(window.get(), Qt::Key_T, Qt::AltModifier);
    EXPECT_TRUE(WaitUntil([&] { return window->CheckBox1->isChecked(); })) << "a button's key clicks it";

    window->lvFiles->setFocus();
    QTest::keyClick(window->lvFiles, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(window->PopupMenu1->isVisible());
    window->PopupMenu1->close();
}

// The window's own opener: xdg-open's exit status tells whether anything opened, and without it
// Qt's services answer; nothing opened is said.
TEST_F(MainFrmTest, WhatTheDesktopDoesNotOpenIsSaidOnceItAnswers)
{
    const std::filesystem::path bin = dir.Path() / "bin", script = bin / "xdg-open", asked = dir.Path() / "asked";
    std::filesystem::create_directories(bin);
    struct Environment { // no portal on the session bus: this is about xdg-open
        QByteArray path = qgetenv("PATH"), bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        ~Environment() { qputenv("PATH", path), qputenv("DBUS_SESSION_BUS_ADDRESS", bus); }
    } kept;
    qputenv("PATH", bin.c_str());
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    TfrmMain plain(nullptr, QString::fromStdString(program.string()), QString::fromStdString(user.string()));
    plain.ShowMessage = [this](QMessageBox::Icon icon, const QString &text) { shown.push_back({icon, text}); };
    const QString folder = QString::fromStdString(dir.Path().string()) + "/";
    plain.Edit1->setText(folder);
    using Case = std::pair<const char *, bool>; // how xdg-open ends (none: there is none), said
    for (const auto &[end, said] : {Case{"exit 0", false}, Case{"exit 3", true}, Case{nullptr, true}}) {
        SCOPED_TRACE(end ? end : "no xdg-open");
        std::filesystem::remove(script);
        std::filesystem::remove(asked);
        if (end) {
            std::ofstream(script) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << asked.string() << "'\n" << end << "\n";
            std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        }
        shown.clear();
        plain.Button2Click();
        ASSERT_TRUE(WaitUntil([&] {
            const QList<QProcess *> runs = plain.findChildren<QProcess *>();
            return std::all_of(runs.cbegin(), runs.cend(),
                               [](QProcess *run) { return run->state() == QProcess::NotRunning; }) &&
                   (!end || std::filesystem::exists(asked));
        }));
        QCoreApplication::processEvents();
        ASSERT_EQ(shown.size(), said ? 1u : 0u);
        if (said)
            EXPECT_EQ(shown[0].text, "No program is set up on this desktop to open \"" + folder + "\".");
        if (end)
            EXPECT_EQ(ReadText(asked.string()), folder.toStdString());
    }
}

// The log shows the batch's lines; the converter's, a repeated one once with its count, with
// "Details". It follows new lines unless scrolled up, and is saved as shown.
TEST_F(MainFrmTest, TheLogFollowsNewLinesKeepsDetailsAsideAndIsSavedAsShown)
{
    TLogPane &log = *window->LogPane;
    log.AddLine("/music/a.flac", "#0.2: Output #0, mp3");
    for (int i = 0; i < 3; ++i)
        log.AddLine("/music/a.flac", "Header missing", true);
    log.AddLine("", "***Cannot add x");
    EXPECT_EQ(log.Text(), "a.flac: #0.2: Output #0, mp3\n***Cannot add x");
    log.Details->setChecked(true);
    EXPECT_EQ(log.Text(), "a.flac: #0.2: Output #0, mp3\na.flac: Header missing (3 times)\n***Cannot add x");
    log.AddLine("/music/a.flac", "Header missing", true);
    log.AddLine("/music/a.flac", "Header missing", true);
    EXPECT_TRUE(log.Text().endsWith("a.flac: Header missing (2 times)"));
    window->show();
    window->ViewLog->trigger();
    QScrollBar *bar = log.Lines->verticalScrollBar();
    const auto lines = [&] {
        for (int i = 0; i < 100; ++i)
            log.AddLine("", QString::number(i));
    };
    lines();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    bar->setValue(10); // the user scrolls up
    lines();
    EXPECT_EQ(bar->value(), 10);
    bar->setValue(bar->maximum());
    lines();
    EXPECT_EQ(bar->value(), bar->maximum());
    log.Details->setChecked(false);
    window->LogPane->ChooseSaveFile = [&] { return QString::fromStdString(dir.File("log.txt")); };
    window->LogPane->SaveLines();
    EXPECT_TRUE(ReadText(dir.File("log.txt")).starts_with("a.flac: #0.2: Output #0, mp3\n***Cannot add x\n0\n"));
    QString error;
    window->LogPane->ShowError = [&](const QString &text) { error = text; };
    window->LogPane->ChooseSaveFile = [&] { return QString::fromStdString(dir.File("no/such/folder/log.txt")); };
    window->LogPane->SaveLines();
    EXPECT_TRUE(error.startsWith("The log could not be saved as")) << error.toStdString();
}

TEST_F(MainFrmTest, AProgramFolderThatCannotBeWrittenKeepsTheSettingsInTheUsersFolder)
{
    TfrmMain installed(nullptr, "/proc/self", QString::fromStdString(user.string()));
    installed.ChooseFolder = [](const QString &, QString &folder) {
        folder = "/home/me/music/";
        return true;
    };
    installed.show();
    installed.btnOutPathClick();
    installed.close();
    EXPECT_TRUE(std::filesystem::exists(user / "Config.ini"));
    TfrmMain again(nullptr, "/proc/self", QString::fromStdString(user.string()));
    again.show();
    EXPECT_EQ(again.Edit1->text(), "/home/me/music/");
}

TEST_F(MainFrmTest, ErrorsReachingTheProgramAreShownWithTheApplicationTitlesBox)
{
    window->AppException(std::make_exception_ptr(FFMpegException("Unknown encoder x")));
    window->AppException(std::make_exception_ptr(std::runtime_error("Disk full!")));
    window->AppException(std::make_exception_ptr(std::out_of_range("List index out of bounds (3)")));
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].icon, QMessageBox::Warning);
    EXPECT_EQ(shown[0].text.toStdString(), "Unknown encoder x.");
    EXPECT_EQ(shown[1].icon, QMessageBox::Critical);
    EXPECT_EQ(shown[1].text.toStdString(), "Disk full!"); // '!' sorts before '.'
    EXPECT_EQ(shown[2].icon, QMessageBox::Critical);
    EXPECT_EQ(shown[2].text.toStdString(), "List index out of bounds (3)"); // so does ')'

    // A command that raises goes to the same box instead of into the event loop.
    window->ChooseFiles = []() -> QStringList { throw std::runtime_error("no dialog today"); };
    window->N3->trigger();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[3].text.toStdString(), "no dialog today.");
}

// Help and version are text only: they work where no display is. Without one, or with one that
// cannot be reached, the window says in a line where to go instead.
TEST(VeloxProgram, HelpAndVersionNeedNoDisplayAndTheWindowSaysItNeedsOne)
{
    const std::string none = "velox needs a graphical desktop; veloxc converts from a terminal\n";
    const struct {
        const char *display, *arguments;
        std::string starts;
        int status;
    } cases[] = {{"-u DISPLAY", "--help", "Usage: ", 0},
                 {"-u DISPLAY", "--version", "velox 2.2a", 0},
                 {"-u DISPLAY", "song.wav", none, 1},
                 {"DISPLAY=:4093", "--options", none, 1}};
    for (const auto &c : cases) {
        const std::string command = std::string("env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") + c.display + " '" +
                                    VELOX + "' " + c.arguments + " 2>&1";
        FILE *pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string text;
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            text.append(buffer, n);
        EXPECT_EQ(WEXITSTATUS(pclose(pipe)), c.status) << text;
        EXPECT_TRUE(c.status == 0 ? text.starts_with(c.starts) : text == c.starts) << text;
    }
}

TEST_F(MainFrmTest, TheAboutBoxShowsTheNameAndOpensTheAddresses)
{
    QString title, name, email;
    bool bold = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *about = qobject_cast<TFrm_About *>(QApplication::activeModalWidget());
        if (!about)
            return;
        poll.stop();
        title = about->windowTitle();
        name = about->lblTitle->text();
        bold = about->lblTitle->font().bold();
        email = about->lblEMail->text();
        about->lblEMailClick();
        about->lblHomepageClick();
        about->accept();
    });
    poll.start(10);
    window->A1->trigger();
    EXPECT_EQ(title, "About");
    EXPECT_EQ(name, "Marvento Wav Mp3 Converter");
    EXPECT_TRUE(bold);
    EXPECT_EQ(email, TFrm_About::EMailAddress());
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].scheme(), "mailto");
    EXPECT_EQ(opened[0].path(), TFrm_About::EMailAddress());
    EXPECT_EQ(opened[1], QUrl(TFrm_About::HomepageAddress()));
    EXPECT_EQ(window->findChildren<TFrm_About *>().size(), 0) << "the box is freed when it closes";
}

} // namespace
