#include "libs/HookLoader.h"
#include "libs/AVEntryPoints.h"
#include "libs/CurrentDirectoryScope.h"
#include "tests/support/HookJournal.h"
#include "tests/support/LibraryLogCapture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

using namespace avlib;
using testing_support::TempDir;

namespace {

std::vector<std::string> Words(const std::string &commandLine)
{
    std::vector<std::string> words;
    for (char *word : SplitHookCommandLine(commandLine))
        words.emplace_back(word);
    return words;
}

// Journal lines written since the mark.
std::string JournalSince(size_t mark) { return RecordingHookJournal().substr(mark); }

// A picture of width x height in one plane, every byte set to value.
struct TestPicture {
    TestPicture(int width, int height, uint8_t value) : bytes(static_cast<size_t>(width * height), value)
    {
        picture.data[0] = bytes.data();
        picture.linesize[0] = width;
    }
    std::vector<uint8_t> bytes;
    THookPicture picture{};
};

int Add(THookList &list, const std::string &commandLine)
{
    std::vector<char *> argv = SplitHookCommandLine(commandLine);
    const int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);
    return list.AddHook(argc, argv.data());
}

class HookLoaderTest : public ::testing::Test {
protected:
    void SetUp() override { testing_support::EnsureLibrariesLoaded(); }
};

} // namespace

TEST(SplitHookCommandLineTest, SplitsAtBarsOrBlanksWithoutEmptyWords)
{
    struct Case {
        std::string line;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"/vhook/hook.so -x 10  -y   20", {"/vhook/hook.so", "-x", "10", "-y", "20"}},
        {"  hook.so  ", {"hook.so"}},
        {"/my hooks/hook.so|-t|some text", {"/my hooks/hook.so", "-t", "some text"}},
        {"/my hooks/hook.so||-t|||some text|", {"/my hooks/hook.so", "-t", "some text"}},
        {"", {}},
        {"   ", {}},
        {"|", {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Words(c.line), c.words) << c.line;
}

TEST(SplitHookCommandLineTest, TakesAtMost63Words)
{
    std::string line = "hook.so";
    for (int i = 1; i < 70; ++i)
        line += " w" + std::to_string(i);
    const std::vector<std::string> words = Words(line);
    ASSERT_EQ(words.size(), 63u);
    EXPECT_EQ(words.front(), "hook.so");
    EXPECT_EQ(words.back(), "w62");
}

TEST_F(HookLoaderTest, ConfigureGetsTheWordsAndProcessRunsInListOrder)
{
    const size_t mark = RecordingHookJournal().size();
    THookList list;
    ASSERT_EQ(Add(list, std::string(RECORDING_HOOK) + " -set  7"), 0);
    ASSERT_EQ(Add(list, std::string(RECORDING_HOOK) + "   -mul 3"), 0);
    EXPECT_EQ(list.Count(), 2u);

    TestPicture picture(4, 2, 1);
    list.RunHooks(&picture.picture, 0, 4, 2, 40000);
    // Set 7, then times 3: the second plug-in sees what the first left.
    for (uint8_t byte : picture.bytes)
        EXPECT_EQ(byte, 21);

    list.ReleaseHooks();
    EXPECT_TRUE(list.Empty());
    const std::string journal = JournalSince(mark);
    const std::string path = RECORDING_HOOK;
    const size_t first = journal.find("configure argc=3 [" + path + "] [-set] [7] id=");
    const size_t second = journal.find("configure argc=3 [" + path + "] [-mul] [3] id=");
    ASSERT_NE(first, std::string::npos) << journal;
    ASSERT_NE(second, std::string::npos) << journal;
    EXPECT_LT(first, second);
    EXPECT_EQ(journal.find("argv-not-terminated"), std::string::npos);
    EXPECT_NE(journal.find("fmt=0 4x2 pts=40000"), std::string::npos) << journal;
    EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), 6) << journal; // 2 configure, 2 process, 2 release
}

TEST_F(HookLoaderTest, ThePluginLibraryIsLoadedOnceWhateverTheLetterCase)
{
    TempDir dir;
    const std::string path = dir.File("Recording.so");
    std::filesystem::create_symlink(RECORDING_HOOK, path);
    const size_t before = LoadedHookLibraryCount();
    THookList list;
    EXPECT_EQ(Add(list, path + " -set 1"), 0);
    EXPECT_EQ(Add(list, path + " -set 2"), 0);
    // No file has this name: only the cache can provide it.
    EXPECT_EQ(Add(list, dir.File("RECORDING.SO") + " -set 3"), 0);
    EXPECT_EQ(LoadedHookLibraryCount(), before + 1);
    EXPECT_EQ(list.Count(), 3u);
}

TEST_F(HookLoaderTest, APathWithABlankSplitAtBars)
{
    TempDir dir;
    std::filesystem::create_directory(dir.Path() / "my hooks");
    const std::string path = (dir.Path() / "my hooks" / "Recording Hook.so").string();
    std::filesystem::create_symlink(RECORDING_HOOK, path);
    const size_t mark = RecordingHookJournal().size();
    THookList list;
    ASSERT_EQ(Add(list, path + "|-title|some text"), 0);
    EXPECT_NE(JournalSince(mark).find("configure argc=3 [" + path + "] [-title] [some text]"), std::string::npos)
        << JournalSince(mark);
}

TEST_F(HookLoaderTest, APathRelativeToTheCurrentDirectoryLoads)
{
    TempDir dir;
    std::filesystem::create_directory(dir.Path() / "vhook");
    std::filesystem::create_symlink(RECORDING_HOOK, dir.Path() / "vhook" / "Relative.so");
    const size_t mark = RecordingHookJournal().size();
    THookList list;
    {
        CurrentDirectoryScope here(dir.Path());
        ASSERT_EQ(Add(list, "vhook/Relative.so -set 4"), 0);
        EXPECT_EQ(std::filesystem::current_path(), dir.Path()) << "the directory was not given back";
    }
    EXPECT_NE(JournalSince(mark).find("configure argc=3 [vhook/Relative.so] [-set] [4]"), std::string::npos)
        << JournalSince(mark);

    // The same relative name seen from another directory is another file.
    TempDir other;
    std::filesystem::create_directory(other.Path() / "vhook");
    std::filesystem::create_symlink(RECORDING_HOOK, other.Path() / "vhook" / "Relative.so");
    const size_t before = LoadedHookLibraryCount();
    {
        CurrentDirectoryScope there(other.Path());
        ASSERT_EQ(Add(list, "vhook/Relative.so -set 5"), 0);
    }
    EXPECT_EQ(LoadedHookLibraryCount(), before + 1);
}

TEST_F(HookLoaderTest, FailuresGiveTheirResultsAndAddNothing)
{
    TempDir dir;
    const std::string missing = dir.File("missing.so");
    struct Case {
        std::string commandLine;
        int result;
        std::string log; // logged at the library's error level; empty: nothing logged
    };
    const Case cases[] = {
        {"", -2, ""},
        {missing, -1, missing + ": cannot open shared object file: No such file or directory\n"},
        {missing + " -x 1", -1, missing + ": cannot open shared object file: No such file or directory\n"},
        {NO_PROCESS_HOOK, -2, std::string("Failed to find Process entrypoint in ") + NO_PROCESS_HOOK + "\n"},
        {std::string(NO_CONFIGURE_HOOK) + " -x", -2,
         std::string("Failed to find Configure entrypoint in ") + NO_CONFIGURE_HOOK + "\n"},
        {std::string(RECORDING_HOOK) + " -fail", -22, std::string("Failed to Configure ") + RECORDING_HOOK + "\n"},
    };
    for (const Case &c : cases) {
        LibraryLogCapture log;
        THookList list;
        EXPECT_EQ(Add(list, c.commandLine), c.result) << c.commandLine;
        EXPECT_TRUE(list.Empty()) << c.commandLine;
        if (c.log.empty())
            EXPECT_TRUE(log.Lines().empty()) << c.commandLine;
        else
            EXPECT_EQ(log.Lines(), (std::vector<std::pair<int, std::string>>{{AV_LOG_ERROR, c.log}})) << c.commandLine;
    }
}

TEST_F(HookLoaderTest, APluginWithoutConfigureRunsWhenNamedAlone)
{
    THookList list;
    ASSERT_EQ(Add(list, NO_CONFIGURE_HOOK), 0);
    TestPicture picture(3, 3, 0);
    list.RunHooks(&picture.picture, 0, 3, 3, 0);
    for (uint8_t byte : picture.bytes)
        EXPECT_EQ(byte, 42);
    list.ReleaseHooks(); // no Release entry point: nothing to call
    EXPECT_TRUE(list.Empty());
}

TEST_F(HookLoaderTest, AListReleasesItsPluginsWhenItGoes)
{
    const size_t mark = RecordingHookJournal().size();
    {
        THookList list;
        ASSERT_EQ(Add(list, std::string(RECORDING_HOOK) + " -set 1"), 0);
    }
    EXPECT_NE(JournalSince(mark).find("release id="), std::string::npos) << JournalSince(mark);
}
