// veloxc: the engine from the command line, for people and for end-to-end tests.
#include "AVLibLoader.h"
#include "FFmpeg.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

namespace {

const char *const kUsage =
    "Usage: veloxc convert INPUT OUTPUT [--in NAME=VALUE]... [--out NAME=VALUE]... [--verbose N]\n"
    "\n"
    "Converts INPUT into OUTPUT with the engine of the batch converter.\n"
    "  --in NAME=VALUE    an engine option applied before the input is opened\n"
    "                     (for example --in ss=10 or --in f=wav)\n"
    "  --out NAME=VALUE   an engine option applied before the output is created\n"
    "                     (for example --out acodec=libmp3lame --out ab=192000 --out ac=1)\n"
    "  --verbose N        -1 quiet, 0 errors, 1 information (default), 2 debug, 3 all\n"
    "\n"
    "Log lines and progress go to standard error. Ctrl-C stops the conversion; the output is\n"
    "still finalised.\n"
    "Exit status: 0 finished, 1 failed or could not be set up, 130 interrupted.\n";

struct Arguments {
    std::string input, output;
    std::string inputOptions, outputOptions;
    int verbose = 1;
};

bool Parse(int argc, char **argv, Arguments &arguments, std::string &error)
{
    std::vector<std::string> positional;
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--in" || word == "--out" || word == "--verbose") {
            if (i + 1 >= argc) {
                error = word + " needs a value";
                return false;
            }
            const std::string value = argv[++i];
            if (word == "--verbose") {
                try {
                    arguments.verbose = std::stoi(value);
                } catch (const std::exception &) {
                    error = "--verbose needs a number, not '" + value + "'";
                    return false;
                }
            } else {
                (word == "--in" ? arguments.inputOptions : arguments.outputOptions) += value + "\n";
            }
        } else if (word.rfind("--", 0) == 0) {
            error = "unknown option " + word;
            return false;
        } else {
            positional.push_back(word);
        }
    }
    if (positional.size() != 2) {
        error = "convert needs an input and an output";
        return false;
    }
    arguments.input = positional[0];
    arguments.output = positional[1];
    return true;
}

sigset_t InterruptSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

int Convert(const Arguments &arguments)
{
    if (!avlib::LoadAll(avlib::DefaultLibraryDir(), true)) {
        std::cerr << "veloxc: " << avlib::LastErrorText() << "\n";
        return 1;
    }
    TCustomFFmpeg engine;
    engine.LogCallback = [](TCustomFFmpeg *, int, const std::string &text) {
        std::string line = text;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        std::cerr << line << "\n";
    };
    try {
        engine.InitializeJob();
        engine.SetVerbose(arguments.verbose);
        engine.ParseOptionLines(arguments.inputOptions);
        if (!engine.AddInputFile(arguments.input)) {
            std::cerr << "veloxc: " << engine.LastErrorText << "\n";
            return 1;
        }
        engine.ParseOptionLines(arguments.outputOptions);
        if (!engine.AddOutputFile(arguments.output)) {
            std::cerr << "veloxc: " << engine.LastErrorText << "\n";
            return 1;
        }
    } catch (const std::exception &e) {
        std::cerr << "veloxc: " << e.what() << "\n";
        return 1;
    }

    // Ctrl-C asks the run to stop; the signal is taken by a thread of its own, not a handler.
    // It is blocked from the start (main), so one that came during the set-up waits here.
    const sigset_t interrupt = InterruptSignals();
    std::thread watcher([&engine, interrupt] {
        int signal = 0;
        sigwait(&interrupt, &signal);
        if (signal == SIGINT || signal == SIGTERM)
            engine.RequestStop();
    });
    engine.Start(false, tpNormal);
    const bool stopped = engine.StopRequested != 0;
    // Wake the watcher if no signal came.
    pthread_kill(watcher.native_handle(), SIGTERM);
    watcher.join();

    if (engine.ErrorOccurred) {
        std::cerr << "veloxc: " << engine.ErrorMessage << "\n";
        return 1;
    }
    if (stopped || !engine.Finished)
        return 130;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const sigset_t interrupt = InterruptSignals();
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << kUsage;
        return 0;
    }
    if (argc < 2 || std::strcmp(argv[1], "convert") != 0) {
        std::cerr << kUsage;
        return 1;
    }
    Arguments arguments;
    std::string error;
    if (!Parse(argc, argv, arguments, error)) {
        std::cerr << "veloxc: " << error << "\n\n" << kUsage;
        return 1;
    }
    return Convert(arguments);
}
