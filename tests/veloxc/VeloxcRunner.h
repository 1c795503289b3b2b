// Runs the veloxc program as a user would, for the end-to-end tests of its commands.
#pragma once

#include "tests/support/TestSupport.h"
#include "tests/veloxc/FolderContent.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace testing_support {

inline constexpr const char *kSetpriv = "/usr/bin/setpriv";

struct Result {
    int status = -1; // exit code, or 128 + signal
    int signal = 0;  // the signal that ended it, if one did
    std::string output, errors;
};

struct RunOptions {
    std::function<void(pid_t)> during; // called with veloxc's process id while it runs
    std::string workingDir;            // empty: the test's own
    bool brokenErrors = false;         // standard error a pipe nobody reads
    bool closedStandardFiles = false;  // started with descriptors 0, 1 and 2 closed
    bool asUnprivilegedUser = false;   // as "nobody" when the test runs as root
    std::vector<std::string> limits;   // prlimit's options, such as "--nofile=64"
    bool hangupIgnored = false;        // started with SIGHUP ignored, as nohup does
};

// True once no stop signal sent to the process waits for it any more.
inline bool InterruptsTaken(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("ShdPnd:", 0) == 0) {
            const unsigned long long pending = std::stoull(line.substr(7), nullptr, 16);
            return (pending & (1ull << (SIGINT - 1) | 1ull << (SIGTERM - 1) | 1ull << (SIGHUP - 1))) == 0;
        }
    return true;
}

// Sends the signal once veloxc has taken any earlier one (two pending signals would merge into one).
inline void Interrupt(pid_t pid, int signal = SIGINT)
{
    for (int i = 0; i < 500 && !InterruptsTaken(pid); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(pid, signal);
}

inline RunOptions During(std::function<void(pid_t)> during)
{
    RunOptions options;
    options.during = std::move(during);
    return options;
}

inline RunOptions InterruptAfter(int milliseconds, int signal = SIGINT)
{
    return During([=](pid_t pid) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        Interrupt(pid, signal);
    });
}

// Runs veloxc (VELOXC, the program the build made), its output and errors kept in logs; one that outlives 60 seconds is
// killed, so a hang fails the test, not the suite.
inline Result RunVeloxc(const std::vector<std::string> &arguments, const TempDir &logs, const RunOptions &options = {})
{
    std::vector<std::string> words = {VELOXC};
    if (options.asUnprivilegedUser && geteuid() == 0)
        words.insert(words.begin(), {kSetpriv, "--reuid=65534", "--regid=65534", "--clear-groups"});
    if (!options.limits.empty()) {
        words.insert(words.begin(), "--");
        words.insert(words.begin(), options.limits.begin(), options.limits.end());
        words.insert(words.begin(), "/usr/bin/prlimit");
    }
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string outputFile = logs.File("veloxc.out"), errorsFile = logs.File("veloxc.err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int brokenPipe[2] = {-1, -1};
    if (options.closedStandardFiles) {
        for (int fd = 0; fd <= 2; ++fd)
            posix_spawn_file_actions_addclose(&actions, fd);
    } else if (options.brokenErrors) {
        if (pipe2(brokenPipe, O_CLOEXEC) != 0)
            ADD_FAILURE() << "cannot make a pipe";
        close(brokenPipe[0]);
        posix_spawn_file_actions_adddup2(&actions, brokenPipe[1], 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, errorsFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    if (!options.workingDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDir.c_str());
    pid_t pid = 0;
    Result result;
    // An ignored signal stays ignored across the start of a program.
    const auto hangup = std::signal(SIGHUP, options.hangupIgnored ? SIG_IGN : SIG_DFL);
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    std::signal(SIGHUP, hangup);
    posix_spawn_file_actions_destroy(&actions);
    if (brokenPipe[1] >= 0)
        close(brokenPipe[1]);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start veloxc";
        return result;
    }
    if (options.during)
        options.during(pid);
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
    result.output = ReadFile(outputFile);
    result.errors = ReadFile(errorsFile);
    return result;
}

} // namespace testing_support
