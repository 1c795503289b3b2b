// The words of video hook command lines are held for the life of the process only when a plug-in
// has seen them. Every refused "vhook" option used to keep its copy, so a long-running program
// grew with each one (found by fuzzing the option text).
#include "libs/HookLoader.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace avlib;

namespace {

int Add(THookList &list, const std::string &commandLine)
{
    std::vector<char *> argv = SplitHookCommandLine(commandLine);
    const int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);
    return list.AddHook(argc, argv.data());
}

class HookCommandLineTest : public ::testing::Test {
protected:
    void SetUp() override { testing_support::EnsureLibrariesLoaded(); }
};

} // namespace

TEST_F(HookCommandLineTest, ALineWithoutWordsIsNotHeld)
{
    const size_t before = HeldHookCommandLineCount();
    EXPECT_TRUE(SplitHookCommandLine("").empty());
    EXPECT_TRUE(SplitHookCommandLine("   ").empty());
    EXPECT_TRUE(SplitHookCommandLine("||").empty());
    EXPECT_EQ(HeldHookCommandLineCount(), before);
}

TEST_F(HookCommandLineTest, AHookThatFailsBeforeItsPluginSeesTheWordsLetsThemGo)
{
    THookList list;
    const size_t before = HeldHookCommandLineCount();
    EXPECT_EQ(Add(list, "/no/such/folder/hook.so -x 1"), -1);
    EXPECT_EQ(Add(list, NO_PROCESS_HOOK), -2);
    EXPECT_EQ(Add(list, std::string(NO_CONFIGURE_HOOK) + " -x"), -2);
    EXPECT_EQ(HeldHookCommandLineCount(), before);
    EXPECT_TRUE(list.Empty());
}

TEST_F(HookCommandLineTest, TheWordsOfAHookItsPluginSawStay)
{
    THookList list;
    const size_t before = HeldHookCommandLineCount();
    ASSERT_EQ(Add(list, std::string(RECORDING_HOOK) + " -x 1"), 0);
    ASSERT_EQ(Add(list, NO_CONFIGURE_HOOK), 0); // no Configure, but Process may use them
    EXPECT_EQ(HeldHookCommandLineCount(), before + 2);

    // Letting one line go leaves the others, older and newer, where they are.
    const std::vector<char *> older = SplitHookCommandLine("older words");
    EXPECT_EQ(Add(list, "/no/such/folder/hook.so"), -1);
    const std::vector<char *> newer = SplitHookCommandLine("newer|words");
    ASSERT_EQ(older.size(), 2u);
    ASSERT_EQ(newer.size(), 2u);
    EXPECT_STREQ(older[0], "older");
    EXPECT_STREQ(older[1], "words");
    EXPECT_STREQ(newer[0], "newer");
    EXPECT_EQ(HeldHookCommandLineCount(), before + 4);
}
