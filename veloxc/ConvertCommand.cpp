#include "veloxc/ConvertCommand.h"

#include "batch/OutputFormats.h"
#include "batch/SafeOutput.h"
#include "batch/TagCarry.h"
#include "engine/FFmpeg.h"
#include "libs/AVLibLoader.h"
#include "libs/LibraryLog.h"
#include "libs/LocalFile.h"
#include "libs/TextFormat.h"
#include "veloxc/ConvertArguments.h"
#include "veloxc/ExitStatus.h"
#include "veloxc/InterruptWatcher.h"
#include "veloxc/Version.h"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>

namespace veloxc {

using namespace batch;

namespace {

void PrintError(const std::string &message) { std::cerr << "veloxc: " << message << "\n"; }

// The output whose temporary name the libraries' own lines show (the format dumps among them).
std::atomic<const SafeOutput *> shownOutput{nullptr};

// The libraries' lines as their own printer gives them, with the output's real name.
void LibraryLine(void *context, int level, const char *format, va_list args)
{
    if (level > avlib::LogThreshold())
        return;
    thread_local bool lineStart = true;
    std::string line;
    const AVClass *avc = context ? *static_cast<const AVClass *const *>(context) : nullptr;
    if (lineStart && avc)
        line = avlib::FormatText("[%s @ %p] ", avc->item_name ? avc->item_name(context) : avc->class_name, context);
    line += avlib::FormatTextV(format, args);
    lineStart = !line.empty() && line.back() == '\n';
    if (const SafeOutput *output = shownOutput.load())
        line = output->ShowingOutputName(line);
    std::cerr << line;
}

// Shows the output's real name in the libraries' lines while it lives.
class ShownOutputName {
public:
    explicit ShownOutputName(const SafeOutput &output)
    {
        shownOutput = &output;
        avlib::avutil.av_log_set_callback(LibraryLine);
    }
    ~ShownOutputName()
    {
        avlib::avutil.av_log_set_callback(avlib::avutil.av_log_default_callback);
        shownOutput = nullptr;
    }
    ShownOutputName(const ShownOutputName &) = delete;
    ShownOutputName &operator=(const ShownOutputName &) = delete;
};

// The last line of a stopped run says so: the summary before it is no sign of success.
int Stopped(int signal, bool direct, const std::string &outputName)
{
    const char *name = sigabbrev_np(signal);
    const std::string stopped =
        std::string("stopped by ") + (name ? std::string("SIG") + name : std::to_string(signal));
    PrintError(direct ? stopped : stopped + "; '" + outputName + "' is left as it was");
    return StoppedBySignal(signal);
}

// The sound format of a local input's output written through a temporary file, by its container;
// nullptr when it is none of them.
const batch::OutputFormat *SoundFormatOf(const TCustomFFmpeg &engine, const SafeOutput &output,
                                         const std::string &input)
{
    std::error_code ec;
    if (output.Direct() || engine.OutputFileCount != 1 || !std::filesystem::is_regular_file(input, ec))
        return nullptr;
    const std::string muxer = engine.OutputFiles[0]->oformat->name;
    for (const batch::OutputFormat &format : batch::OutputFormats())
        if (muxer == format.muxer)
            return &format;
    return nullptr;
}

// Says which options the engine left out since the count already told; true when there were any.
bool ReportRejectedOptions(const TCustomFFmpeg &engine, size_t &told)
{
    const bool any = engine.RejectedOptions.size() > told;
    for (; told < engine.RejectedOptions.size(); ++told) {
        const TRejectedOption &option = engine.RejectedOptions[told];
        PrintError(option.UnknownName ? "unknown option '" + option.Name + "'"
                                      : "invalid value '" + option.Value + "' for option '" + option.Name + "'");
    }
    return any;
}

// Options go to the engine one pair at a time: a value never passes through its line parser.
// False, after saying why, when the engine refused one.
bool ApplyOptions(TCustomFFmpeg &engine, const std::vector<EngineOption> &options, size_t &toldRejected)
{
    for (const auto &[name, value] : options) {
        try {
            engine.SetOption(name, value);
        } catch (const std::exception &e) { // a value the engine refuses outright
            PrintError("option '" + name + "': " + e.what());
            return false;
        }
    }
    return !ReportRejectedOptions(engine, toldRejected);
}

int Convert(const ConvertArguments &arguments)
{
    if (!avlib::LoadAll(avlib::DefaultLibraryDir(), true)) {
        PrintError(avlib::LastErrorText());
        return kExitFailed;
    }
    // The engine sees a temporary name, so its own check of this cannot see the two are one file.
    if (SameLocalFile(arguments.input, arguments.output)) {
        PrintError("Output file '" + arguments.output + "' would overwrite input file '" + arguments.input + "'");
        return kExitFailed;
    }
    std::optional<SafeOutput> output; // made once the options tell which muxer writes it
    TCustomFFmpeg engine;
    engine.LogCallback = [&output](TCustomFFmpeg *, int level, const std::string &text) {
        if (level < 0) // the failure the engine records: told once, as veloxc's last line
            return;
        std::string line = output ? output->ShowingOutputName(text) : text;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        std::cerr << line << "\n";
    };
    engine.InitializeJob();
    // Signals were blocked in main, so one that came before this point waits for the watcher.
    InterruptWatcher watcher([&engine] { engine.RequestStop(); }, [] { SafeOutput::DiscardAllBeforeAbruptEnd(); });
    const auto failed = [&](const std::string &message) {
        if (watcher.Interrupted()) // the interrupt made the set-up give up
            return Stopped(watcher.Signal(), output ? output->Direct() : true, arguments.output);
        PrintError(output ? output->ShowingOutputName(message) : message);
        return kExitFailed;
    };

    size_t toldRejected = 0;
    engine.SetVerbose(arguments.verbose);
    if (!ApplyOptions(engine, arguments.inputOptions, toldRejected))
        return kExitUsage;
    try {
        if (!engine.AddInputFile(arguments.input))
            return failed(engine.LastErrorText);
        if (!ApplyOptions(engine, arguments.outputOptions, toldRejected))
            return kExitUsage;
        output.emplace(arguments.output, engine.OutputFormat);
        // What a killed run left beside it goes now that this output is written.
        for (const std::string &note : output->RemoveStaleTemporaries({arguments.input}).notes)
            PrintError(note);
    } catch (const std::exception &e) {
        return failed(e.what());
    }
    const ShownOutputName shown(*output);
    try {
        if (!engine.AddOutputFile(output->EngineName()))
            return failed(engine.LastErrorText);
    } catch (const std::exception &e) {
        return failed(e.what());
    }
    // The run frees what tells.
    const batch::OutputFormat *soundFormat = SoundFormatOf(engine, *output, arguments.input);
    const bool carriesTags = soundFormat && soundFormat->HoldsTags();
    if (ReportRejectedOptions(engine, toldRejected)) // refused as the output was made
        return kExitUsage;
    if (watcher.Interrupted())
        return Stopped(watcher.Signal(), output->Direct(), arguments.output);

    // The start clears any stop request, so one that came before it is made again before the worker runs.
    TFFmpegThread *worker = engine.Start(true, tpNormal);
    if (!worker) {
        PrintError(output->ShowingOutputName(engine.ErrorMessage));
        return kExitFailed;
    }
    if (watcher.Interrupted())
        engine.RequestStop();
    worker->Resume();
    worker->WaitFor();

    if (engine.Finished) {
        std::string note, error;
        if (carriesTags && !batch::CarryTags(arguments.input, output->TemporaryPath(), {}, note, error)) {
            PrintError(output->ShowingOutputName(error));
            return kExitFailed;
        }
        if (soundFormat && !carriesTags)
            note = std::string(" (tags are not kept in ") + soundFormat->displayName + " files)";
        if (!note.empty()) // " (what) (what)": told as a line of its own
            PrintError(output->ShowingOutputName(note.substr(2, note.size() - 3)));
        if (output->Commit(error))
            return kExitFinished;
        PrintError(error);
        return kExitFailed;
    }
    if (engine.ErrorOccurred) { // also after a stop: the output may not be finalised
        PrintError(output->ShowingOutputName(engine.ErrorMessage));
        return kExitFailed;
    }
    return watcher.Interrupted() ? Stopped(watcher.Signal(), output->Direct(), arguments.output) : kExitFailed;
}

} // namespace

int ConvertCommand(const std::vector<std::string> &words)
{
    ConvertArguments arguments;
    std::string error;
    if (!ParseConvertArguments(words, arguments, error)) {
        std::cerr << "veloxc: " << error << "\nTry 'veloxc convert --help'.\n";
        return kExitUsage;
    }
    if (arguments.help) {
        std::cout << kConvertUsage;
        return kExitFinished;
    }
    if (arguments.version) {
        std::cout << kVersionLine << "\n";
        return kExitFinished;
    }
    try {
        return Convert(arguments);
    } catch (const std::exception &e) { // such as a thread or a temporary file that cannot be made
        PrintError(e.what());
        return kExitFailed;
    }
}

} // namespace veloxc
