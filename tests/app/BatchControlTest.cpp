// The batch with no window: two files added, converted to MP3s beside their inputs, and what it
// reports on the way.
#include "app/BatchControl.h"
#include "tests/app/MainWindowTestSupport.h"

#include <map>

using namespace main_window_testing;

TEST(BatchControlTest, TwoFilesConvertWithNoWindowAndEveryRowIsReportedDone)
{
    EnsureLibrariesLoaded();
    TempDir dir;
    TBatchControl batch(QString::fromStdString((dir.Path() / "program").string()));
    std::map<int, TRowState> shown;
    QStringList warnings;
    QObject::connect(&batch, &TBatchControl::RowStateChanged,
                     [&](int row, TRowState state, const QString &) { shown[row] = state; });
    QObject::connect(&batch, &TBatchControl::Warning, [&](const QString &text) { warnings << text; });
    const std::string wav = dir.File("a.wav"), mp3 = dir.File("b.mp3");
    WriteSineWav(wav, 0.5);
    WriteSineMp3(mp3, 0.5);
    ASSERT_TRUE(batch.AddFile(QString::fromStdString(wav)));
    ASSERT_TRUE(batch.AddFile(QString::fromStdString(mp3)));

    batch.Start();
    EXPECT_TRUE(batch.RunActive());
    ASSERT_TRUE(WaitUntil([&] { return !batch.RunActive(); }));
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
    const std::string outputs[] = {dir.File("a_(new).mp3"), dir.File("b_(new).mp3")};
    for (int row = 0; row < 2; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(batch.RowState(row), rsDone);
        EXPECT_EQ(shown[row], rsDone);
        EXPECT_TRUE(batch.OutputFileList[row].Converted);
        EXPECT_EQ(batch.OutputFileList[row].FileName.toStdString(), outputs[row]);
        const DecodedAudio audio = DecodeAudio(outputs[row]);
        ASSERT_GT(audio.sampleRate, 0);
        EXPECT_NEAR(audio.Frames() / double(audio.sampleRate), 0.5, 0.1);
    }
}
