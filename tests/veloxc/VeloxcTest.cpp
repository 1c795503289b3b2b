#include "MediaFixtures.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace testing_support;

extern char **environ;

namespace {

struct Result {
    int status = -1; // exit code, or 128 + signal
    int signal = 0;  // the signal that ended it, if one did
    std::string errors;
};

// True once no SIGINT or SIGTERM sent to the process waits for it any more.
bool InterruptsTaken(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("ShdPnd:", 0) == 0) {
            const unsigned long long pending = std::stoull(line.substr(7), nullptr, 16);
            return (pending & (1ull << (SIGINT - 1) | 1ull << (SIGTERM - 1))) == 0;
        }
    return true;
}

// Sends SIGINT once veloxc has taken any earlier one (two pending signals would merge into one).
void Interrupt(pid_t pid)
{
    for (int i = 0; i < 500 && !InterruptsTaken(pid); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(pid, SIGINT);
}

// Runs veloxc with the arguments; during, if given, is called with its process id while it runs.
// A run that outlives 60 seconds is killed, so a hang fails the test instead of the suite.
Result RunVeloxc(const std::vector<std::string> &arguments, const TempDir &dir,
                 const std::function<void(pid_t)> &during = {})
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
    if (during)
        during(pid);
    int status = 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; ++waited) {
        if (waited == 6000) {
            ADD_FAILURE() << "veloxc did not end";
            kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
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
        {"convert", dir.File("in.mp3"), dir.File("out.mp3"), "--in", "re=", "--out", "acodec=copy"}, dir,
        [](pid_t pid) {
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            kill(pid, SIGINT);
        });
    EXPECT_EQ(result.status, 130) << result.errors;
    EXPECT_NE(result.errors.find("muxing overhead"), std::string::npos) << result.errors; // the end still ran
    const auto size = std::filesystem::file_size(dir.File("out.mp3"));
    EXPECT_GT(size, 1000u);
    EXPECT_LT(size, 200000u);
}

TEST_F(VeloxcTest, CtrlCGivesUpWaitingForAnInputThatNeverAnswers)
{
    // A server that accepts the connection and never answers.
    const int server = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(server, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(server, 1), 0);
    socklen_t length = sizeof address;
    getsockname(server, reinterpret_cast<sockaddr *>(&address), &length);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/tone.wav";

    int connection = -1;
    const Result result = RunVeloxc({"convert", url, dir.File("out.wav")}, dir, [server, &connection](pid_t pid) {
        pollfd waiting{server, POLLIN, 0};
        if (poll(&waiting, 1, 20000) != 1) {
            ADD_FAILURE() << "veloxc never connected";
            return;
        }
        connection = accept(server, nullptr, nullptr);
        Interrupt(pid);
    });
    if (connection >= 0)
        close(connection); // only now: the stop request alone has to end the wait
    close(server);
    EXPECT_EQ(result.status, 130) << result.errors;
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.wav")));
}

TEST_F(VeloxcTest, ASecondCtrlCEndsVeloxcAtOnce)
{
    // Opening a named pipe nobody writes to waits in the kernel, where no stop request reaches.
    const std::string pipe = dir.File("never.wav");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const Result result = RunVeloxc({"convert", pipe, dir.File("out.wav")}, dir, [](pid_t pid) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Interrupt(pid);
        Interrupt(pid);
    });
    EXPECT_EQ(result.signal, SIGINT) << result.errors; // killed, not an orderly exit with 130
}

TEST_F(VeloxcTest, AFailureWhileStoppingIsAFailure)
{
    // Stopped after half a second, the output still has to be finished, and a full disk refuses that.
    WriteSineWav(dir.File("in.wav"), 5.0, 8000, 1);
    const Result result =
        RunVeloxc({"convert", dir.File("in.wav"), "/dev/full", "--in", "re=", "--out", "f=wav"}, dir, [](pid_t pid) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            Interrupt(pid);
        });
    EXPECT_EQ(result.status, 1) << result.errors;
    EXPECT_NE(result.errors.find("veloxc: av_write_trailer(): Error while opening file"), std::string::npos)
        << result.errors;
}
