// Outside bytes as the input of a whole conversion to a WAV and an MP3 output, bounded by the
// engine's own time ("t") and size ("fs") limits and by a wall-clock budget.
#include "fuzz/EngineRules.h"
#include "fuzz/FuzzSupport.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

using namespace fuzz_support;

namespace {

constexpr const char *kTimeLimit = "0.5"; // "t", seconds of every output
constexpr int64_t kSizeLimit = 500000;    // "fs", bytes of the first output
// The size is checked before each packet is read, so one packet's worth and the trailer may follow;
// anything far beyond means the limit did not hold.
constexpr int64_t kSizeSlack = 8 << 20;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    LoadLibraries();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input = WorkFile("input");
    const std::string wav = WorkFile("out.wav");
    WriteBytes(input, data, size);
    {
        TCustomFFmpeg engine;
        engine.InitializeJob();
        engine.LogCallback = [](TCustomFFmpeg *, int, const std::string &) {};
        const bool opened = engine.AddInputFile(input);
        RequireErrorText("AddInputFile", opened, engine);
        if (opened) {
            if (!Accepted("limits", [&] {
                    engine.ParseOptionLines(std::string("t=") + kTimeLimit + "\nfs=" + std::to_string(kSizeLimit));
                }))
                Finding("the limits of the run were refused");
            RequireErrorText("AddOutputFile", engine.AddOutputFile(wav), engine);
            RequireErrorText("AddOutputFile", engine.AddOutputFile(WorkFile("out.mp3")), engine);
            BoundRunTime(engine, std::chrono::seconds(3));
            RunAndCheck(engine);
            std::error_code ec;
            const auto written = std::filesystem::file_size(wav, ec);
            if (!ec && static_cast<int64_t>(written) > kSizeLimit + kSizeSlack)
                Finding("the WAV output grew to " + std::to_string(written) + " bytes past its size limit");
        }
    }
    ClearWorkDir();
    return 0;
}
