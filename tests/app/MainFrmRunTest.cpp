// Real runs through the main window: files made at test time converted on worker threads and on
// the main thread, paused, resumed, stopped, converted again, and the window closed mid-run.
#include "tests/app/MainWindowTestSupport.h"

#include "app/LogPane.h"
#include "app/OptionFrm.h"
#include "app/RadioGroup.h"
#include "app/TrackBar.h"
#include "component/FFmpegList.h"
#include "engine/Mp3Frames.h"
#include "tests/tags/FormatOutputs.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace main_window_testing;

namespace {

// Seconds of sound in a file, through the libraries.
double Seconds(const std::string &file)
{
    const DecodedAudio audio = DecodeAudio(file);
    return audio.sampleRate ? audio.Frames() / double(audio.sampleRate) : 0.0;
}

// The names of this process's threads, each ending in ';'.
std::string ThreadNames()
{
    std::string names;
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        names += name + ";";
    }
    return names;
}
int Threads() { return static_cast<int>(std::ranges::count(ThreadNames(), ';')); }

class MainFrmRunTest : public MainWindowTest {
protected:
    // The outputs of the rows as the list names them, full paths.
    std::vector<std::string> Outputs() const
    {
        std::vector<std::string> files;
        for (const TOutputFile &output : window->Batch->OutputFileList)
            files.push_back(output.FileName.toStdString());
        return files;
    }
    // Progress of row, as shown.
    std::string Progress(int row) const { return Cell(row, 4).toStdString(); }
    // The output's size, exact in its tooltip ("12,345 bytes").
    int64_t Written(int row) const
    {
        const QTableWidgetItem *item = window->lvFiles->item(row, 6);
        return item ? item->toolTip().section(' ', 0, 0).remove(',').toLongLong() : 0;
    }
    bool EveryRowUnderWay(int rows) const
    {
        for (int row = 0; row < rows; ++row)
            if (Written(row) <= 0)
                return false;
        return true;
    }
    // The context menu's "Convert Again" on every row.
    void ConvertAgain()
    {
        window->lvFiles->selectAll();
        window->mnuConvertAgain->trigger();
        SelectNone();
    }
    // The tool bar and the hidden set alike.
    void Bars(const std::string &states) const
    {
        EXPECT_EQ(ToolBar(), states);
        EXPECT_EQ(Hidden(), states);
    }
    // A start from the tool bar, every row converted again if asked, to the run's end.
    [[nodiscard]] bool Run(bool again = false)
    {
        if (again)
            ConvertAgain();
        window->ToolButton7Click();
        return WaitForRunEnd();
    }
};

// One batch of three inputs, converted in the mode given: to MP3 from the tool bar, a fourth file
// added to the finished list alone, all four converted again to WAV from the main menu, then to
// MP3 again under new names.
class RealBatchTest : public MainFrmRunTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RealBatchTest, ThreeInputsConvertToMp3ThenToWavThenAgainUnderNewNames)
{
    const bool threadMode = GetParam();
    window->chkThreadMode->setChecked(threadMode);
    const std::vector<std::string> inputs = {Wav("a.wav", 1.5), Mp3("b.mp3", 1.5), Wav("c.wav", 1.5)};
    for (const std::string &input : inputs)
        AddByToolBar(input);
    ASSERT_EQ(Rows(), 3);

    // To MP3 from the tool bar.
    window->CobType->setCurrentIndex(0);
    window->ToolButton7->click();
    EXPECT_TRUE(window->RunActive());
    Bars(threadMode ? "+---+-+" : "+-----+");
    EXPECT_EQ(window->Batch->VeloxC->ThreadCount(), threadMode ? 1 : 0);
    ASSERT_TRUE(WaitForRunEnd());
    Bars("+++----"); // every row is converted
    EXPECT_EQ(window->Batch->VeloxC->Tasks().Count(), 0);
    const std::vector<std::string> mp3s = {dir.File("a_(new).mp3"), dir.File("b_(new).mp3"), dir.File("c_(new).mp3")};
    EXPECT_EQ(Outputs(), mp3s);
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(Progress(row), "100%");
        EXPECT_TRUE(window->Batch->OutputFileList[row].Converted);
        EXPECT_NEAR(Seconds(mp3s[row]), 1.5, 0.1);
        EXPECT_EQ(Cell(row, 3).toStdString(), std::filesystem::path(mp3s[row]).filename().string());
    }
    EXPECT_TRUE(shown.empty());
    // The end is summed up in the status bar and told to the desktop; the log names the files.
    const QString summary = window->StatusText->text();
    EXPECT_TRUE(summary.startsWith("Finished in ") && summary.endsWith(": 3 converted, 0 failed"))
        << summary.toStdString();
    EXPECT_EQ(notices, std::vector<QString>{summary});
    for (const char *file : {"a.wav: converted to a_(new).mp3", "b.mp3: converted to b_(new).mp3", "c.wav: conv"})
        EXPECT_TRUE(window->LogPane->Text().contains(file)) << file;
    EXPECT_TRUE(window->LogPane->Text().endsWith(summary)) << "a line for the run";

    // A file added to the finished list is converted alone; the others keep their outputs.
    AddByToolBar(Wav("d.wav", 1.5));
    EXPECT_EQ(ToolBar(), "++++---");
    window->ToolButton7->click();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_TRUE(window->StatusText->text().endsWith(": 1 converted, 0 failed"))
        << window->StatusText->text().toStdString();
    EXPECT_EQ(Outputs().back(), dir.File("d_(new).mp3"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("a_(new_1).mp3")));

    // Converted again to WAV, mono, from Action > Converter.
    window->CobType->setCurrentIndex(1);
    window->Cob_SD->setCurrentIndex(1);
    ConvertAgain();
    EXPECT_EQ(Progress(0), "");
    EXPECT_EQ(Cell(0, 5) + Cell(0, 6), "") << "no figures of the earlier run";
    window->N13->trigger();
    Bars(threadMode ? "+---+-+" : "+-----+");
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(ToolBar(), "+++----");
    const std::vector<std::string> wavs = {dir.File("a_(new).wav"), dir.File("b_(new).wav"), dir.File("c_(new).wav"),
                                           dir.File("d_(new).wav")};
    EXPECT_EQ(Outputs(), wavs);
    for (int row = 0; row < 4; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(Progress(row), "100%");
        const DecodedAudio audio = DecodeAudio(wavs[row]);
        EXPECT_EQ(audio.channels, 1);
        EXPECT_NEAR(audio.Frames() / double(audio.sampleRate), 1.5, 0.1);
    }

    // Converted again as MP3: the earlier outputs stay, the new ones get new names.
    window->CobType->setCurrentIndex(0);
    ConvertAgain();
    window->ToolButton7->click();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(Outputs(), (std::vector<std::string>{dir.File("a_(new_1).mp3"), dir.File("b_(new_1).mp3"),
                                                   dir.File("c_(new_1).mp3"), dir.File("d_(new_1).mp3")}));
    for (const std::vector<std::string> &files : {Outputs(), mp3s})
        for (const std::string &file : files)
            EXPECT_NEAR(Seconds(file), 1.5, 0.1) << file;
    EXPECT_EQ(window->Batch->InputFileList.size(), 4);
    EXPECT_TRUE(shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, RealBatchTest, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "ThreadMode" : "MainThreadMode"; });

TEST_F(MainFrmRunTest, ThreadModeRunsAsManyAtOnceAsThereAreCoresAndUncheckedOneAtATime)
{
    // Files of one name from several folders, all into one output folder.
    const int cores = std::max(1, QThread::idealThreadCount());
    window->Edit1->setText(QString::fromStdString(dir.File("out/")));
    for (int i = 0; i < cores + 1; ++i) {
        std::filesystem::create_directories(dir.File(std::to_string(i)));
        AddByToolBar(Wav(std::to_string(i) + "/a.wav", 0.3));
    }
    for (const bool checked : {true, false, true}) {
        SCOPED_TRACE(checked);
        window->CheckBox1->setChecked(checked);
        ConvertAgain();
        window->ToolButton7Click();
        EXPECT_EQ(window->Batch->VeloxC->ThreadCount(), checked ? cores : 1);
        ASSERT_TRUE(WaitForRunEnd());
        // Rows of one name: each got an output of its own.
        std::vector<std::string> outputs = Outputs();
        std::sort(outputs.begin(), outputs.end());
        EXPECT_EQ(std::unique(outputs.begin(), outputs.end()), outputs.end());
        for (int row = 0; row < cores + 1; ++row)
            EXPECT_EQ(Progress(row), "100%") << row;
    }
    // Fewer rows than cores: one runs, the other cores are there to help it.
    Select(0);
    while (Rows() > 1)
        window->ToolButton3Click();
    ConvertAgain();
    window->ToolButton7Click();
    EXPECT_EQ(window->Batch->VeloxC->ThreadCount(), cores);
    EXPECT_EQ(window->edtThreadCount->text(), "1");
    ASSERT_TRUE(WaitForRunEnd());
}

TEST_F(MainFrmRunTest, ToolBarPauseResumeAndStopInTheMiddleOfAThreadModeRun)
{
    // Long enough not to end on their own while the test pauses, resumes and stops them.
    const std::string a = Wav("a.wav", 300), b = Wav("b.wav", 300);
    AddByToolBar(a);
    AddByToolBar(b);
    window->CheckBox1->setChecked(true); // both at once
    window->ToolButton7Click();
    EXPECT_EQ(window->Batch->VeloxC->ThreadCount(), 2);
    ASSERT_TRUE(WaitUntil([&] { return EveryRowUnderWay(2); }));

    window->ToolButton5->click();
    EXPECT_EQ(ToolBar(), "+----++");
    Spin(400); // what was under way before the pause arrives
    const int64_t paused0 = Written(0), paused1 = Written(1);
    Spin(700);
    EXPECT_EQ(Written(0), paused0) << "a paused task went on";
    EXPECT_EQ(Written(1), paused1);
    EXPECT_TRUE(window->RunActive());
    // The pause is seen: in the rows, the status bar without a time left, and the close question.
    EXPECT_EQ(Progress(0), "Paused");
    EXPECT_EQ(Progress(1), "Paused");
    EXPECT_TRUE(window->StatusText->text().startsWith("Paused - Converted 0, failed 0, left 2 - "))
        << window->StatusText->text().toStdString();
    EXPECT_TRUE(window->StopAndCloseQuestion().startsWith("The conversion is paused"));

    window->ToolButton6->click();
    EXPECT_EQ(ToolBar(), "+---+-+");
    EXPECT_TRUE(Progress(0).ends_with("%")) << Progress(0);
    ASSERT_TRUE(WaitUntil([&] { return Written(0) > paused0 && Written(1) > paused1; }));

    window->ToolButton4->click();
    EXPECT_EQ(ToolBar(), "+------");
    ASSERT_TRUE(WaitForRunEnd());
    Bars("++++---");
    // A stopped conversion leaves nothing: no half file under the final name, no temporary one.
    for (int row = 0; row < 2; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(Progress(row), "Stopped");
        EXPECT_FALSE(window->Batch->OutputFileList[row].Converted);
        EXPECT_FALSE(std::filesystem::exists(Outputs()[row]));
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 3) << "a.wav, b.wav, program/";
    EXPECT_TRUE(shown.empty());
    Select(1);
    window->PopupMenu1Popup();
    EXPECT_FALSE(window->mnuPlay->isEnabled());
}

// Every place shows the run's state: the tool bar, the hidden set, the menus and the context menu.
TEST_F(MainFrmRunTest, MenuPauseResumeAndStopMoveEveryPlaceAlike)
{
    AddByToolBar(Wav("a.wav", 120));
    const auto everywhere = [&](const std::string &states) {
        EXPECT_EQ(Hidden(), states);
        EXPECT_EQ(ToolBar(), states);
        EXPECT_EQ(StatesOf({window->N3, window->N5, window->N4, window->N13, window->N14, window->N15, window->N16}),
                  states);
        window->PopupMenu1Popup();
        EXPECT_EQ(StatesOf({window->mnuAdd, window->mnuClear, window->mnuRemove}), states.substr(0, 3));
    };
    window->N13->trigger();
    everywhere("+---+-+");
    ASSERT_TRUE(WaitUntil([&] { return EveryRowUnderWay(1); }));
    window->N14->trigger();
    everywhere("+----++");
    window->N15->trigger();
    everywhere("+---+-+");
    window->N16->trigger();
    everywhere("+------");
    ASSERT_TRUE(WaitForRunEnd());
    everywhere("++++---");
    EXPECT_EQ(Progress(0), "Stopped");
}

TEST_F(MainFrmRunTest, MainThreadModeOffersNoPauseAndStopBetweenTasksEndsTheRest)
{
    window->chkThreadMode->setChecked(false);
    for (const char *name : {"a.wav", "b.wav", "c.wav"})
        AddByToolBar(Wav(name, 1.0));
    window->N13->trigger();
    EXPECT_EQ(Hidden(), "+-----+"); // no pause on the window's own thread
    EXPECT_EQ(window->Batch->VeloxC->ThreadCount(), 0);
    // The first task runs on this thread from the start timer; its row is painted meanwhile.
    ASSERT_TRUE(WaitUntil([&] { return Progress(0) == "100%"; }));
    EXPECT_EQ(Progress(1), "Waiting");
    window->N16->trigger();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(Hidden(), "++++---");
    EXPECT_NEAR(Seconds(Outputs()[0]), 1.0, 0.1);
    // The two that never started end stopped and made nothing.
    for (int row = 1; row < 3; ++row) {
        EXPECT_EQ(Progress(row), "Stopped") << row;
        EXPECT_FALSE(std::filesystem::exists(Outputs()[row])) << row;
    }
    EXPECT_TRUE(shown.empty());
}

// A file gone before the start fails in its row; when all are gone nothing runs and the list stays
// usable.
TEST_F(MainFrmRunTest, FilesGoneBeforeTheStartFailInTheirRowsAndRemovingALaterRowKeepsTheRightInputs)
{
    const std::string a = Wav("a.wav", 0.3), b = Wav("b.wav", 0.3), c = Wav("c.wav", 0.3);
    for (const std::string &file : {a, b, c})
        AddByToolBar(file);
    std::filesystem::remove(b);
    ASSERT_TRUE(Run());
    ASSERT_EQ(Rows(), 3);
    EXPECT_EQ(window->Batch->RowState(1), rsFailed);
    EXPECT_TRUE(Progress(1).starts_with("Failed: ")) << Progress(1);
    EXPECT_EQ(Progress(0), "100%");
    EXPECT_EQ(Progress(2), "100%");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].text.startsWith("This file was not converted:\n" + QString::fromStdString(b) + ": "))
        << shown[0].text.toStdString();
    // Remove "c.wav" after the run: its own input goes, not b's.
    Select(2);
    window->N4->trigger();
    EXPECT_EQ(window->Batch->InputFileList, QStringList({QString::fromStdString(a), QString::fromStdString(b)}));
    EXPECT_EQ(Rows(), 2);

    std::filesystem::remove(a);
    shown.clear();
    ConvertAgain();
    window->ToolButton7Click();
    EXPECT_EQ(window->Batch->RowState(0), rsFailed);
    EXPECT_FALSE(window->RunActive()) << "a run with no task would never end";
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].text.startsWith("Nothing could be converted:\n" + QString::fromStdString(a)));
    EXPECT_EQ(ToolBar(), "++++---");
    AddByToolBar(Wav("d.wav", 0.3));
    EXPECT_EQ(Rows(), 3);
    window->ToolButton2Click();
    EXPECT_EQ(ToolBar(), "+------");
}

TEST_F(MainFrmRunTest, OutputsGoToTheChosenFolderOrBesideTheirInputs)
{
    std::filesystem::create_directories(dir.Path() / "out");
    window->Edit1->setText(QString::fromStdString((dir.Path() / "out").string()) + "/");
    AddByToolBar(Wav("a.wav", 0.3));
    window->CobType->setCurrentIndex(1);
    ASSERT_TRUE(Run());
    EXPECT_EQ(Outputs(), std::vector<std::string>{dir.File("out/a_(new).wav")});
    EXPECT_NEAR(Seconds(Outputs()[0]), 0.3, 0.1);

    // Without a chosen folder the outputs go beside their inputs, not into the current folder.
    window->Edit1->clear();
    ConvertAgain();
    window->N13->trigger();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(Outputs()[0], dir.File("a_(new).wav"));
    EXPECT_NEAR(Seconds(Outputs()[0]), 0.3, 0.1);
}

// A folder that cannot be written is named with the reason before anything starts; the rows stay,
// and a folder chosen afterwards works at once. A missing one is made.
TEST_F(MainFrmRunTest, AnOutputFolderThatCannotBeWrittenIsNamedAndTheRowsStay)
{
    AddByToolBar(Wav("a.wav", 0.3));
    // Where even root cannot write, else a folder without write permission.
    std::filesystem::path locked = "/sys/kernel";
    if (geteuid() != 0) {
        locked = dir.Path() / "locked";
        std::filesystem::create_directories(locked);
        std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    }
    const struct {
        std::string folder, says;
    } cases[] = {{locked.string() + "/", "cannot be written: Permission denied."},
                 {dir.File("a.wav") + "/out/", "cannot be made: Not a directory."}};
    for (const auto &c : cases) {
        shown.clear();
        window->Edit1->setText(QString::fromStdString(c.folder));
        window->ToolButton7Click();
        EXPECT_FALSE(window->RunActive());
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, QStringLiteral("The output folder \"%1\" %2").arg(c.folder.c_str(), c.says.c_str()));
        EXPECT_EQ(Rows(), 1);
        EXPECT_EQ(ToolBar(), "++++---");
    }
    const std::string missing = dir.File("new/folder/");
    window->ChooseFolder = [&](const QString &, QString &folder) {
        folder = QString::fromStdString(missing);
        return true;
    };
    window->btnOutPathClick();
    EXPECT_EQ(Outputs()[0], missing + "a_(new).mp3");
    ASSERT_TRUE(Run());
    EXPECT_NEAR(Seconds(missing + "a_(new).mp3"), 0.3, 0.1);
}

// During a run files can still be added, and a failed row converted again: their rows wait, and the
// run takes them once what runs has ended. Waiting rows can be removed, handed to the converter or
// not; a converting one stays.
TEST_F(MainFrmRunTest, FilesAddedDuringARunJoinItAndWaitingRowsCanBeRemoved)
{
    std::filesystem::create_directories(dir.File("more"));
    AddByToolBar(Wav("a.wav", 30));
    AddByToolBar(Wav("b.wav", 30));
    const std::string g = Wav("g.wav", 0.5);
    AddByToolBar(g);
    std::filesystem::rename(g, g + ".away"); // it fails as the run starts
    window->N13->trigger();
    window->ToolButton5Click(); // a is held as it starts, so that nothing ends while the list changes
    // The run's conversions are made with the panel's settings: they change after it.
    for (QWidget *control : std::initializer_list<QWidget *>{window->CobType, window->Cob_SD, window->CheckBox1})
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    AddByToolBar(Wav("c.wav", 0.5));
    Wav("more/d.wav", 0.5);
    window->ChooseFolder = [&](const QString &, QString &folder) {
        folder = QString::fromStdString(dir.File("more"));
        return true;
    };
    window->AddFolder->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !window->Adding(); }));
    AddByToolBar(Wav("e.wav", 0.5));
    ASSERT_EQ(Rows(), 6);
    for (int row : {1, 3, 4, 5})
        EXPECT_EQ(Progress(row), "Waiting") << row;

    Select({0, 1, 4});
    window->N4->trigger();
    QStringList names;
    for (int row = 0; row < Rows(); ++row)
        names << Cell(row, 0);
    EXPECT_EQ(names, QStringList({"a.wav", "g.wav", "c.wav", "e.wav"}));
    EXPECT_TRUE(window->statusBar()->currentMessage().startsWith("Files being converted stay"));
    std::filesystem::rename(g + ".away", g);
    Select(1);
    window->mnuConvertAgain->trigger();
    EXPECT_EQ(Progress(1), "Waiting");
    window->ToolButton6Click();
    ASSERT_TRUE(WaitForRunEnd());
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(Progress(row), "100%") << row;
    for (const char *made : {"a_(new).mp3", "g_(new).mp3", "c_(new).mp3", "e_(new).mp3"})
        EXPECT_TRUE(std::filesystem::exists(dir.File(made))) << made;
    for (const char *removed : {"b_(new).mp3", "more/d_(new).mp3"})
        EXPECT_FALSE(std::filesystem::exists(dir.File(removed))) << removed;
    EXPECT_TRUE(window->StatusText->text().endsWith(": 4 converted, 0 failed"));
    EXPECT_TRUE(shown.empty()) << "converted in the end: no failure to tell";
}

TEST_F(MainFrmRunTest, ClearOrANewStartDuringARunDoNothing)
{
    AddByToolBar(Wav("a.wav", 120));
    AddByToolBar(Wav("b.wav", 0.5));
    window->CheckBox1->setChecked(true);
    window->Batch->VeloxC->SetShareIdleWorkers(false); // the long file must outlast the short one
    window->ToolButton7Click();
    ASSERT_TRUE(WaitUntil([&] { return EveryRowUnderWay(1); }));
    const std::vector<std::string> outputs = Outputs();
    window->StartCommand(TfrmMain::plHidden);
    window->ClearCommand(TfrmMain::plToolBar);
    EXPECT_TRUE(window->RunActive());
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(Outputs(), outputs);
    ASSERT_TRUE(WaitUntil([&] { return Progress(1) == "100%"; }));
    window->ToolButton4Click();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(Progress(0), "Stopped");
    EXPECT_NEAR(Seconds(outputs[1]), 0.5, 0.1);
    EXPECT_TRUE(shown.empty());
}

TEST_F(MainFrmRunTest, ClosingWhileTasksRunAsksThenStopsThemAndLeavesNoHalfFile)
{
    AddByToolBar(Wav("a.wav", 120));
    AddByToolBar(Wav("b.wav", 120));
    AddByToolBar(Wav("c.wav", 120));
    window->CheckBox1->setChecked(true);
    window->show();
    Spin(100);
    const int threadsBefore = Threads(); // the toolkit's own ones included
    window->ToolButton7Click();
    ASSERT_TRUE(WaitUntil([&] { return EveryRowUnderWay(window->Batch->VeloxC->ThreadCount()); }));
    window->ToolButton5Click(); // paused, too
    const std::vector<std::string> outputs = Outputs();
    stopAndClose = false; // keep converting
    EXPECT_FALSE(window->close());
    EXPECT_EQ(askedToClose, 1);
    EXPECT_TRUE(window->RunActive());
    stopAndClose = true;
    window->close();
    EXPECT_EQ(askedToClose, 2);
    // Back from close, no worker is left and no half file under an output's name.
    EXPECT_LE(Threads(), threadsBefore) << ThreadNames();
    EXPECT_EQ(window->Batch->VeloxC->Tasks().Count(), 0);
    int stopped = 0;
    for (const std::string &file : outputs) {
        stopped += !std::filesystem::exists(file);
        if (std::filesystem::exists(file)) {
            EXPECT_NEAR(Seconds(file), 120.0, 0.1) << "only a finished output has its name: " << file;
        }
    }
    EXPECT_GE(stopped, 1);
    EXPECT_TRUE(std::filesystem::exists(program / "Config.ini"));
    // Whatever was still on its way to the window stays away.
    const QStringList log = window->Batch->LogLines;
    Spin(200);
    EXPECT_EQ(window->Batch->LogLines, log);
    window.reset();
}

TEST_F(MainFrmRunTest, DestroyingTheWindowMidRunAlsoWaitsForItsTasks)
{
    AddByToolBar(Wav("a.wav", 120));
    window->ToolButton7Click();
    ASSERT_TRUE(WaitUntil([&] { return EveryRowUnderWay(1); }));
    const std::string output = Outputs()[0];
    window.reset();
    EXPECT_FALSE(std::filesystem::exists(output));
}

// Files named at the start are added from the event loop, so the window paints meanwhile; those
// refused are named in one box once all are read.
TEST_F(MainFrmRunTest, QueuedFilesArriveOneAtATimeWithOneBoxForThoseRefused)
{
    std::ofstream(dir.File("corrupt.mp3")) << std::string(4096, '\x5a');
    const QStringList files = {
        QString::fromStdString(Wav("a.wav", 0.3)), QString::fromStdString(dir.File("corrupt.mp3")),
        QString::fromStdString(dir.File("missing.wav")), QString::fromStdString(Wav("b.wav", 0.3))};
    bool done = false;
    QStringList said; // in the status bar
    QObject::connect(window->statusBar(), &QStatusBar::messageChanged, [&](const QString &text) { said << text; });
    window->QueueFiles(files, [&] { done = true; });
    EXPECT_EQ(Rows(), 0);
    EXPECT_TRUE(window->Adding());
    EXPECT_EQ(ToolBar(), "+------");
    ASSERT_TRUE(WaitUntil([&] { return done; }));
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(said, QStringList({"Reading 1 of 4 files...", "Reading 2 of 4 files...", "Reading 3 of 4 files...",
                                 "Reading 4 of 4 files...",
                                 "2 files added; 2 files were not added: 1 without sound, 1 could not be read"}));
    ASSERT_EQ(shown.size(), 1u);
    const QStringList lines = shown[0].text.split('\n');
    ASSERT_EQ(lines.size(), 3) << shown[0].text.toStdString();
    EXPECT_EQ(lines[0], "These files were not added:");
    EXPECT_TRUE(lines[1].startsWith(files[1] + ": ")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith(files[2] + ": ")) << lines[2].toStdString();
}

TEST_F(MainFrmRunTest, TheCustomHookDrawsOnTheFramesOfAVideoRunOnAWorkerThread)
{
    // 17 seconds at 25 pictures a second: frames 1 to 425.
    const std::string clip = dir.File("clip.mp4");
    MediaRecipe recipe;
    recipe.seconds = 17.0;
    VideoTrack video;
    video.width = 128, video.height = 96, video.pattern = VideoPattern::Bands;
    recipe.video = video;
    recipe.audio = AudioTrack{"aac"}; // only files with sound are taken
    WriteMediaFile(clip, recipe);

    AddByToolBar(clip);
    // The row's own options, as the options window gives them: "AVI" with the custom hook.
    TOptionSettings own = window->Batch->SettingsOfRow(0);
    own.Format = 4;
    own.CustomHook = true;
    window->Batch->SetRowSettings({0}, own);
    ASSERT_TRUE(Run());
    ASSERT_TRUE(shown.empty()) << shown[0].text.toStdString();
    EXPECT_EQ(Progress(0), "100%");
    const std::string output = Outputs()[0];
    EXPECT_EQ(std::filesystem::path(output).filename(), "clip_(new).avi");
    const DecodedVideo frames = DecodeVideo(output);
    ASSERT_GE(frames.frames.size(), 420u);

    // Near-white pixels right of the white band, in rows y0..y1 of frame i (frame number i + 1).
    auto whiteText = [&](size_t i, int y0, int y1) {
        int count = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = 20; x < frames.width - 2; ++x) {
                const unsigned char *p = frames.Pixel(i, x, y);
                count += p[0] > 200 && p[1] > 200 && p[2] > 200;
            }
        return count;
    };
    const int top0 = 10, top1 = 30, bottom0 = frames.height - 30, bottom1 = frames.height - 10;
    // Frame 51: "VeloxC - Frame Number: 51" at 10,10.
    EXPECT_GT(whiteText(50, top0, top1), 40);
    EXPECT_LT(whiteText(50, bottom0, bottom1), 5);
    // Frame 121: left as it came.
    EXPECT_LT(whiteText(120, top0, top1), 5);
    // Frame 401: written, then turned upside down.
    EXPECT_GT(whiteText(400, bottom0, bottom1), 40);
    EXPECT_LT(whiteText(400, top0, top1), 5);
}

} // namespace

// The MPEG audio of an MP3: what follows its leading tag.
std::string Mp3Audio(const std::string &file)
{
    const std::string bytes = ReadText(file);
    return bytes.substr(mp3::LeadingTagSize({reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()}));
}

// The panel's MP3 quality reaches the encoder, and the command line's option for the same
// quality encodes the same sound. The leading tags differ: the window stamps the time of the
// encoding, the command line notes the source it came from.
TEST_F(MainFrmRunTest, TheMp3QualityReachesTheEncoderAndMatchesTheCommandLine)
{
    const std::string input = Wav("tone.wav", 2);
    AddByToolBar(input);
    const batch::OutputFormat &mp3 = *batch::OutputFormatNamed("mp3");
    for (size_t choice = 0; choice < mp3.presets.size(); ++choice) {
        const batch::FormatQuality quality = mp3.presets[choice].quality;
        SCOPED_TRACE(mp3.presets[choice].caption);
        const std::string folder = dir.File("window" + std::to_string(choice) + "/");
        window->cboQuality->setCurrentIndex(static_cast<int>(choice));
        window->Edit1->setText(QString::fromStdString(folder));
        ASSERT_TRUE(Run(true));
        const std::string ours = Mp3Audio(Outputs()[0]);
        // The first frame: its bit rate, and the header a player reads the length from.
        const auto first = mp3::ParseHeader({reinterpret_cast<const uint8_t *>(ours.data()), ours.size()});
        ASSERT_TRUE(first && ours.size() > 200u);
        const bool constant = mp3.ladders[quality.ladder].meaning == batch::QualityMeaning::BitRateKbps;
        EXPECT_TRUE(!constant || first->BitrateKbps == quality.value) << first->BitrateKbps;
        EXPECT_EQ(ours.substr(36, 4), constant ? "Info" : "Xing");

        const std::string line = dir.File("line" + std::to_string(choice));
        const std::string command = std::string(VELOXC) + " batch --quiet" + (constant ? " -b " : " -q ") +
                                    std::to_string(quality.value) + " -o " + line + " " + input + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        EXPECT_TRUE(ours == Mp3Audio(line + "/tone.mp3")) << "the sound differs from the command line's";
    }
}

// Every format of the panel from one tagged FLAC with a cover, at the format's first preset; a
// format without tags says so in the log once a run.
TEST_F(MainFrmRunTest, EveryPanelFormatKeepsTagsCoverLengthAndTheChosenQuality)
{
    const tagtest::TFormatSource source = tagtest::MakeFormatSource(dir.File("song.flac"));
    std::filesystem::copy_file(source.path, dir.File("other.flac"));
    AddByToolBar(source.path);
    AddByToolBar(dir.File("other.flac"));
    for (size_t i = 0; i < batch::OutputFormats().size(); ++i) {
        const batch::OutputFormat &format = batch::OutputFormats()[i];
        SCOPED_TRACE(format.name);
        window->CobType->setCurrentIndex(static_cast<int>(i));
        window->cboQuality->setCurrentIndex(0);
        const std::string folder = dir.File(std::string("out-") + format.name + "/");
        window->Edit1->setText(QString::fromStdString(folder));
        ASSERT_TRUE(Run(true));
        ASSERT_TRUE(shown.empty()) << shown[0].text.toStdString();
        const std::string output = folder + "song_(new)" + format.extension;
        ASSERT_EQ(Outputs()[0], output);
        EXPECT_EQ(Written(0), static_cast<int64_t>(std::filesystem::file_size(output))) << "tags and cover included";
        const QString note = QStringLiteral("tags are not kept in %1 files").arg(format.displayName);
        EXPECT_EQ(window->LogPane->Text().count(note), format.HoldsTags() ? 0 : 1);
        tagtest::ExpectMadeOf(format, format.presets.empty() ? batch::FormatQuality{} : format.presets[0].quality,
                              source, output);
    }
}

// The options window opened for selected rows: it shows the first one's file and settings, OK
// gives every selected row those settings (a cut clip as WAV here), Cancel gives nothing, the
// rows carry a mark and convert with their own settings until the panel's are taken back.
TEST_F(MainFrmRunTest, SelectedRowsTakeTheirOwnOptionsFromTheWindowUntilThePanelsAreTakenBack)
{
    for (const char *name : {"a.wav", "b.wav", "c.wav"})
        AddByToolBar(Wav(name, 3));
    QString title, file;
    int opens = 0;
    TOptionSettings opened;
    std::function<void(TfrmOption &)> choose;
    int answer = QDialog::Accepted;
    window->RunOptions = [&](TfrmOption &dialog) {
        title = dialog.windowTitle(), file = dialog.mmoAVFileInfo->toPlainText(), opened = dialog.Settings();
        if (choose)
            choose(dialog);
        return ++opens, answer;
    };
    // A second of the three, as WAV, for the first two rows.
    choose = [](TfrmOption &dialog) {
        dialog.grpFormats->SetItemIndex(OptionsIndexOf("wav"));
        dialog.trcPreview->setValue(dialog.trcPreview->maximum() / 3);
        dialog.btnStartTime->click();
        dialog.trcPreview->setValue(dialog.trcPreview->maximum() * 2 / 3);
        dialog.btnEndTime->click();
        dialog.chkCutClip->setChecked(true);
    };
    Select({0, 1});
    window->RowOptions->trigger();
    ASSERT_EQ(opens, 1);
    EXPECT_EQ(title, "Output Options - 2 files");
    EXPECT_TRUE(file.contains("a.wav")) << file.toStdString();
    EXPECT_EQ(opened.Format, OptionsIndexOf("mp3")); // the panel's, to begin with
    using Row = std::tuple<int, const char *, bool>; // output name, own settings
    for (const auto &[row, name, own] :
         {Row{0, "a_(new).wav", true}, Row{1, "b_(new).wav", true}, Row{2, "c_(new).mp3", false}}) {
        EXPECT_EQ(Cell(row, 3), name);
        EXPECT_EQ(window->lvFiles->item(row, 3)->font().italic(), own) << name;
    }

    // A double-click opens it for its row alone; Cancel changes nothing.
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QRect cell = window->lvFiles->visualRect(window->lvFiles->model()->index(2, 0));
    answer = QDialog::Rejected;
    // A click, then the second press as the system reports it.
    QTest::mouseClick(window->lvFiles->viewport(), Qt::LeftButton, {}, cell.center());
    QMouseEvent twice(QEvent::MouseButtonDblClick, cell.center(),
                      window->lvFiles->viewport()->mapToGlobal(cell.center()), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(window->lvFiles->viewport(), &twice);
    ASSERT_EQ(opens, 2);
    EXPECT_EQ(title, "Output Options - c.wav");
    EXPECT_EQ(Cell(2, 3), "c_(new).mp3");

    // Opened again, a row shows its own settings; the panel's come back on request.
    choose = nullptr;
    Select(1);
    window->mnuOptions->trigger();
    EXPECT_EQ(opened.Format, OptionsIndexOf("wav"));
    EXPECT_TRUE(opened.CutClip);
    EXPECT_TRUE(window->PanelSettings->isEnabled());
    window->PanelSettings->trigger();
    EXPECT_EQ(Cell(1, 3), "b_(new).mp3");
    EXPECT_FALSE(window->PanelSettings->isEnabled());

    ASSERT_TRUE(Run());
    EXPECT_TRUE(shown.empty());
    EXPECT_NEAR(Seconds(dir.File("a_(new).wav")), 1.0, 0.05);
    EXPECT_NEAR(Seconds(dir.File("b_(new).mp3")), 3.0, 0.1);
    EXPECT_NEAR(Seconds(dir.File("c_(new).mp3")), 3.0, 0.1);
    // Settings of its own changed: a converted row waits to be converted again.
    Select(0);
    window->PanelSettings->trigger();
    EXPECT_EQ(Progress(0), "");
    EXPECT_EQ(Progress(1), "100%");
    EXPECT_TRUE(window->ToolButton7->isEnabled());
}
