// Costs paid per task before any conversion: loading the binding, and preparing and releasing
// an engine job (the component rebuilds every task when a batch starts).
#include "engine/FFmpeg.h"
#include "libs/AVLibLoader.h"

#include <benchmark/benchmark.h>

namespace {

void EnsureLoaded(benchmark::State &state)
{
    if (!avlib::LoadAll(avlib::DefaultLibraryDir(), true))
        state.SkipWithError(avlib::LastErrorText().c_str());
}

void BM_LoadAndUnloadAll(benchmark::State &state)
{
    for (auto _ : state) {
        if (!avlib::LoadAll(avlib::DefaultLibraryDir(), true)) {
            state.SkipWithError(avlib::LastErrorText().c_str());
            break;
        }
        avlib::UnloadAll();
    }
}
BENCHMARK(BM_LoadAndUnloadAll)->Unit(benchmark::kMicrosecond);

void BM_InitializeAndReleaseJob(benchmark::State &state)
{
    EnsureLoaded(state);
    TCustomFFmpeg engine;
    for (auto _ : state) {
        engine.InitializeJob();
        engine.ReleaseJob();
    }
}
BENCHMARK(BM_InitializeAndReleaseJob)->Unit(benchmark::kMicrosecond);

void BM_CreateAndDestroyEngine(benchmark::State &state)
{
    EnsureLoaded(state);
    for (auto _ : state) {
        TCustomFFmpeg engine;
        engine.InitializeJob();
        benchmark::DoNotOptimize(engine.CodecDefaults[0].get());
    }
}
BENCHMARK(BM_CreateAndDestroyEngine)->Unit(benchmark::kMicrosecond);

void BM_ThreadedStartToTerminate(benchmark::State &state)
{
    EnsureLoaded(state);
    // The run fails at once (no transcoding stages yet): this measures the worker round trip.
    for (auto _ : state) {
        TCustomFFmpeg engine;
        engine.InitializeJob();
        engine.InputFiles[engine.InputFileCount++].reset(avlib::avformat.avformat_alloc_context());
        engine.OutputFiles[engine.OutputFileCount++].reset(avlib::avformat.avformat_alloc_context());
        engine.Start(true, tpNormal)->Resume();
    } // the destructor waits for the worker
}
BENCHMARK(BM_ThreadedStartToTerminate)->Unit(benchmark::kMicrosecond);

} // namespace
