// The component's list on worker threads against one task at a time. A plain program rather than a
// benchmark case: each measurement is a process of its own, so that its peak memory is its own.
//
//   component_threads_bench loaded                      loads the libraries, nothing else
//   component_threads_bench run THREADS OUTDIR FILE...  converts every FILE to OUTDIR/<n>.mp3 at
//                                                       128 kbit/s with Start(THREADS)
// Prints "seconds=<Start to the final event> peak_kib=<VmHWM>" (seconds 0 for "loaded").
#include "component/VeloxConverter.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

long PeakKib()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

int Usage()
{
    std::fprintf(stderr, "usage: component_threads_bench loaded | run THREADS OUTDIR FILE...\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 2)
        return Usage();
    const std::string mode = argv[1];
    if (mode != "loaded" && (mode != "run" || argc < 5))
        return Usage();

    TVeloxConverter converter;
    converter.SetLogLevel(llError);
    if (!converter.LoadAVLib(TVeloxConverter::DefaultAVLibFolder(), true)) {
        std::fprintf(stderr, "%s\n", converter.LastErrMsg().c_str());
        return 1;
    }
    if (mode == "loaded") {
        std::printf("seconds=0 peak_kib=%ld\n", PeakKib());
        return 0;
    }

    const int threads = std::atoi(argv[2]);
    const std::string outDir = argv[3];
    for (int i = 4; i < argc; ++i) {
        const int index = converter.AddInput(argv[i], nullptr);
        TOutputOptions output;
        converter.InitOutputOptions(output);
        output.AudioBitrate = 128000;
        if (index < 0 || !converter.AddOutput(index, outDir + "/" + std::to_string(index) + ".mp3", &output)) {
            std::fprintf(stderr, "%s: %s\n", argv[i], converter.LastErrMsg().c_str());
            return 1;
        }
    }

    QEventLoop loop;
    int failures = 0;
    converter.OnLog = [](int index, TLogLevel level, const std::string &message) {
        if (level <= llError)
            std::fprintf(stderr, "%d: %s\n", index, message.c_str());
    };
    // Raised on a worker in thread mode: the loop is told through a queued call.
    converter.OnTerminate = [&](int index, bool finished, bool, const std::string &message) {
        if (index >= 0 && !finished) {
            std::fprintf(stderr, "task %d: %s\n", index, message.c_str());
            ++failures;
        }
        if (index < 0)
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    };
    const auto start = std::chrono::steady_clock::now();
    converter.Start(threads);
    loop.exec();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("seconds=%.3f peak_kib=%ld\n", elapsed.count(), PeakKib());
    return failures == 0 ? 0 : 1;
}
