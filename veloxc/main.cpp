// veloxc: the engine from the command line, for people and for end-to-end tests.
#include "AVLibLoader.h"
#include "FFmpeg.h"

#include <atomic>
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
    "still finalised. A second Ctrl-C ends veloxc at once.\n"
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

// Ctrl-C and SIGTERM are taken by a thread of their own, not a handler. The first asks the job
// to stop, which also makes a read that blocks give up; the second ends the program at once, for
// what even that cannot stop (an open that waits in the kernel).
class InterruptWatcher {
public:
    explicit InterruptWatcher(TCustomFFmpeg &engine) : engine_(engine), thread_([this] { Watch(); }) {}
    ~InterruptWatcher()
    {
        done_ = true;
        pthread_kill(thread_.native_handle(), SIGTERM);
        thread_.join();
    }
    InterruptWatcher(const InterruptWatcher &) = delete;
    InterruptWatcher &operator=(const InterruptWatcher &) = delete;

    bool Interrupted() const { return interrupted_; }

private:
    void Watch()
    {
        const sigset_t interrupt = InterruptSignals();
        for (;;) {
            int signal = 0;
            if (sigwait(&interrupt, &signal) != 0 || done_)
                return;
            if (interrupted_) {
                std::signal(signal, SIG_DFL);
                sigset_t one;
                sigemptyset(&one);
                sigaddset(&one, signal);
                pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
                raise(signal);
                return;
            }
            interrupted_ = true;
            engine_.RequestStop();
        }
    }

    TCustomFFmpeg &engine_;
    std::atomic<bool> interrupted_{false};
    std::atomic<bool> done_{false};
    std::thread thread_; // last: starts once the flags exist
};

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
    engine.InitializeJob();
    // Signals were blocked in main, so one that came before this point waits for the watcher.
    InterruptWatcher watcher(engine);
    const auto setUpFailed = [&watcher](const std::string &message) {
        if (watcher.Interrupted()) // the interrupt made the set-up give up
            return 130;
        std::cerr << "veloxc: " << message << "\n";
        return 1;
    };
    try {
        engine.SetVerbose(arguments.verbose);
        engine.ParseOptionLines(arguments.inputOptions);
        if (!engine.AddInputFile(arguments.input))
            return setUpFailed(engine.LastErrorText);
        engine.ParseOptionLines(arguments.outputOptions);
        if (!engine.AddOutputFile(arguments.output))
            return setUpFailed(engine.LastErrorText);
    } catch (const std::exception &e) {
        return setUpFailed(e.what());
    }
    if (watcher.Interrupted())
        return 130;

    // The start clears any stop request, so one that came before it is made again before the worker runs.
    TFFmpegThread *worker = engine.Start(true, tpNormal);
    if (!worker) {
        std::cerr << "veloxc: " << engine.ErrorMessage << "\n";
        return 1;
    }
    if (watcher.Interrupted())
        engine.RequestStop();
    worker->Resume();
    worker->WaitFor();

    if (engine.Finished)
        return 0;
    if (engine.ErrorOccurred) { // also after a stop: the output may not be finalised
        std::cerr << "veloxc: " << engine.ErrorMessage << "\n";
        return 1;
    }
    return watcher.Interrupted() ? 130 : 1;
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
    try {
        return Convert(arguments);
    } catch (const std::exception &e) { // such as a thread that cannot be created
        std::cerr << "veloxc: " << e.what() << "\n";
        return 1;
    }
}
