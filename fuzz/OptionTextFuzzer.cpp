// Option text from outside: lines of "name=value" through ParseOptionLines, with inputs and outputs
// added in between.
//
// The input is a small script. Text runs are option lines; a control byte ends a run and says what
// comes next:
//   0x00  add the tone (a short WAV) as an input
//   0x01  add the clip (a short video with sound) as an input
//   0x02  add an output
//   0x03  run the job (at most 2 s), then stop reading
// The end of the input adds an output. Outputs go to the "null" muxer unless the option lines name
// another format; their files are in the process's work folder.
#include "fuzz/EngineInputs.h"
#include "fuzz/EngineRules.h"
#include "fuzz/FuzzSupport.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

using namespace fuzz_support;

namespace {

EngineInputs inputs;

// Each line on its own, so that a refused line does not hide the ones after it.
void ApplyLines(TCustomFFmpeg &engine, const std::string &text)
{
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        Accepted("ParseOptionLines", [&] { engine.ParseOptionLines(line); });
        start = end + 1;
    }
}

void AddOutput(TCustomFFmpeg &engine, int &outputs, const std::string &pending)
{
    // The default for this output only: a format named in the lines replaces it.
    engine.SetOutputFormat("null");
    ApplyLines(engine, pending);
    const std::string name = WorkFile("out" + std::to_string(outputs++));
    RequireErrorText("AddOutputFile", engine.AddOutputFile(name), engine);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    LoadLibraries();
    inputs = WriteEngineInputs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    {
        TCustomFFmpeg engine;
        engine.InitializeJob();
        engine.LogCallback = [](TCustomFFmpeg *, int, const std::string &) {};
        int outputs = 0;
        std::string pending;
        bool ran = false;
        for (size_t i = 0; i < size && !ran; ++i) {
            const char c = static_cast<char>(data[i]);
            switch (c) {
            case '\x00':
            case '\x01':
                ApplyLines(engine, pending);
                RequireErrorText("AddInputFile", engine.AddInputFile(c == '\x00' ? inputs.tone : inputs.clip), engine);
                break;
            case '\x02':
                AddOutput(engine, outputs, pending);
                break;
            case '\x03': {
                ApplyLines(engine, pending);
                BoundRunTime(engine, std::chrono::seconds(2));
                // "vstats" writes its file beside the executable: one the run made goes again.
                const std::optional<std::string> vstats = engine.VstatsFileName;
                std::error_code ec;
                const bool existed = vstats && std::filesystem::exists(*vstats, ec);
                RunAndCheck(engine);
                if (vstats && !existed)
                    std::filesystem::remove(*vstats, ec);
                ran = true;
                break;
            }
            default:
                pending += c;
                continue;
            }
            pending.clear();
        }
        if (!ran)
            AddOutput(engine, outputs, pending);
    }
    ClearWorkDir(kEngineInputNames);
    return 0;
}
