// Speed of a stream copy of a 10-minute MP3: seconds of media per second of wall clock.
#include "engine/FFmpeg.h"
#include "libs/AVLibLoader.h"
#include "tests/support/MediaFixtures.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <unistd.h>

namespace {

const std::string &TenMinuteMp3()
{
    static const std::string path = [] {
        const std::string file =
            (std::filesystem::temp_directory_path() / ("velox-bench-" + std::to_string(getpid()) + ".mp3")).string();
        testing_support::WriteSineMp3(file, 600.0);
        return file;
    }();
    return path;
}

void BM_StreamCopyTenMinuteMp3(benchmark::State &state)
{
    if (!avlib::LoadAll(avlib::DefaultLibraryDir(), true)) {
        state.SkipWithError(avlib::LastErrorText().c_str());
        return;
    }
    const std::string input = TenMinuteMp3();
    const std::string output = input + ".copy.mp3";
    for (auto _ : state) {
        TCustomFFmpeg engine;
        engine.InitializeJob();
        engine.SetVerbose(-1);
        engine.AddInputFile(input);
        engine.SetOption("acodec", "copy");
        engine.AddOutputFile(output);
        engine.Start(false, tpNormal);
        if (!engine.Finished) {
            state.SkipWithError(engine.ErrorMessage.c_str());
            break;
        }
    }
    state.counters["media_seconds_per_second"] =
        benchmark::Counter(600.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    std::filesystem::remove(output);
}
BENCHMARK(BM_StreamCopyTenMinuteMp3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace
