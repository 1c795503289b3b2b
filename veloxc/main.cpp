// veloxc: the engine from the command line, for people, scripts and end-to-end tests.
#include "veloxc/BatchCommand.h"
#include "veloxc/ConvertCommand.h"
#include "veloxc/ExitStatus.h"
#include "veloxc/InterruptWatcher.h"
#include "veloxc/Version.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

struct Command {
    std::string_view name;
    std::string_view summary;
    int (*run)(const std::vector<std::string> &words); // the words after the name
};

constexpr Command kCommands[] = {
    {"convert", "converts one input into one output", veloxc::ConvertCommand},
    {"batch", "converts files and folders of recordings to MP3 or WAV, several at once", veloxc::BatchCommand},
};

void PrintUsage(std::ostream &out)
{
    out << "Usage: veloxc COMMAND [ARGUMENTS]\n"
           "       veloxc --help | --version\n"
           "\n"
           "Commands:\n";
    for (const Command &command : kCommands)
        out << "  " << command.name << "    " << command.summary << "\n";
    out << "\n"
           "\"veloxc COMMAND --help\" tells more of a command.\n"
           "Exit status: 0 done, 1 failed, 2 wrong command line, 128 + N stopped by signal N.\n";
}

} // namespace

// A closed standard descriptor would be given to the next file opened, the output among them, and
// log lines would land in it: each one closed gets /dev/null first.
void ReserveStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != fd)
            _exit(veloxc::kExitFailed);
}

int main(int argc, char **argv)
{
    ReserveStandardDescriptors();
    // Before any thread starts: every thread inherits the mask, and the watcher takes the signals.
    veloxc::InterruptWatcher::BlockSignals();
    // A reader of standard error that went away makes writes fail, not the conversion.
    std::signal(SIGPIPE, SIG_IGN);
    // A file grown past the size limit fails its write, and that file, not the whole run.
    std::signal(SIGXFSZ, SIG_IGN);

    const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (words.empty()) {
        PrintUsage(std::cerr);
        return veloxc::kExitUsage;
    }
    if (words[0] == "--help" || words[0] == "-h") {
        PrintUsage(std::cout);
        return veloxc::kExitFinished;
    }
    if (words[0] == "--version") {
        std::cout << veloxc::kVersionLine << "\n";
        return veloxc::kExitFinished;
    }
    for (const Command &command : kCommands)
        if (words[0] == command.name)
            return command.run({words.begin() + 1, words.end()});
    std::cerr << "veloxc: unknown command '" << words[0] << "'\n\n";
    PrintUsage(std::cerr);
    return veloxc::kExitUsage;
}
