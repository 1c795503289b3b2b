#include "MediaFixtures.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace testing_support;

extern char **environ;

namespace {

struct Result {
    int status = -1; // exit code, or 128 + signal
    std::string errors;
};

// Runs veloxc with the arguments; signalAfter > 0 sends SIGINT after that many milliseconds.
Result RunVeloxc(const std::vector<std::string> &arguments, const TempDir &dir, int signalAfter = 0)
{
    std::vector<std::string> words = {VELOXC};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string errorsFile = dir.File("veloxc.err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errorsFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    Result result;
    if (posix_spawn(&pid, VELOXC, &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        ADD_FAILURE() << "cannot start veloxc";
        return result;
    }
    posix_spawn_file_actions_destroy(&actions);
    if (signalAfter > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(signalAfter));
        kill(pid, SIGINT);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream in(errorsFile);
    result.errors.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return result;
}

class VeloxcTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureLibrariesLoaded(); }
    TempDir dir;
};

} // namespace

TEST_F(VeloxcTest, HelpDocumentsTheCommand)
{
    EXPECT_EQ(RunVeloxc({"--help"}, dir).status, 0);
    const Result wrong = RunVeloxc({"convert", "only-one"}, dir);
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.errors.find("veloxc: convert needs an input and an output"), std::string::npos) << wrong.errors;
    EXPECT_NE(wrong.errors.find("Usage: veloxc convert INPUT OUTPUT"), std::string::npos);
    EXPECT_EQ(RunVeloxc({"convert", "a", "b", "--bogus"}, dir).status, 1);
}

TEST_F(VeloxcTest, CopiesAnMp3AndReportsTheRun)
{
    WriteSineMp3(dir.File("in.mp3"), 2.0);
    const Result result = RunVeloxc({"convert", dir.File("in.mp3"), dir.File("out.mp3"), "--out", "acodec=copy"}, dir);
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_GT(std::filesystem::file_size(dir.File("out.mp3")), 20000u);
    EXPECT_NE(result.errors.find("Stream mapping:"), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("muxing overhead"), std::string::npos) << result.errors;
}

TEST_F(VeloxcTest, SetUpFailuresExitWithTheirMessage)
{
    WriteSineMp3(dir.File("in.mp3"), 0.5);
    const Result missing = RunVeloxc({"convert", dir.File("missing.mp3"), dir.File("out.mp3")}, dir);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.errors.find("veloxc: " + dir.File("missing.mp3") + ": no such file or directory"),
              std::string::npos)
        << missing.errors;
    const Result badOption =
        RunVeloxc({"convert", dir.File("in.mp3"), dir.File("out.mp3"), "--out", "pass=3"}, dir);
    EXPECT_EQ(badOption.status, 1);
    EXPECT_NE(badOption.errors.find("veloxc: pass number can be only 1 or 2"), std::string::npos) << badOption.errors;
    const Result badOutput = RunVeloxc({"convert", dir.File("in.mp3"), dir.File("out.xyz")}, dir);
    EXPECT_EQ(badOutput.status, 1);
    EXPECT_NE(badOutput.errors.find("Unable to find a suitable output format for '" + dir.File("out.xyz") + "'"),
              std::string::npos);
}

TEST_F(VeloxcTest, CtrlCStopsWithAFinishedOutput)
{
    WriteSineMp3(dir.File("in.mp3"), 30.0);
    const Result result = RunVeloxc(
        {"convert", dir.File("in.mp3"), dir.File("out.mp3"), "--in", "re=", "--out", "acodec=copy"}, dir, 700);
    EXPECT_EQ(result.status, 130) << result.errors;
    EXPECT_NE(result.errors.find("muxing overhead"), std::string::npos) << result.errors; // the end still ran
    const auto size = std::filesystem::file_size(dir.File("out.mp3"));
    EXPECT_GT(size, 1000u);
    EXPECT_LT(size, 200000u);
}
