// Converts every file named on the command line into an MP3 beside it, through the converter
// component: convert_files FILE...  Exit status 0 when every file converted, 1 otherwise.
#include "AVLibLoader.h"
#include "VeloxConverter.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

// "song.wav" gives "song.mp3"; an MP3 input gives "song.converted.mp3" rather than itself.
std::string OutputName(const std::string &input)
{
    std::filesystem::path output(input);
    output.replace_extension(".mp3");
    if (output == std::filesystem::path(input))
        output.replace_extension(".converted.mp3");
    return output.string();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE...\n", argv[0]);
        return 2;
    }
    TVeloxConverter converter;
    converter.SetLogLevel(llError);
    if (!converter.LoadAVLib(avlib::DefaultLibraryDir(), true)) {
        std::fprintf(stderr, "%s\n", converter.LastErrMsg().c_str());
        return 1;
    }

    int failures = 0;
    converter.OnLog = [](int, TLogLevel level, const std::string &message) {
        if (level <= llError)
            std::fprintf(stderr, "%s\n", message.c_str());
    };
    converter.OnTerminate = [&](int index, bool finished, bool, const std::string &message) {
        const TFFmpeg &task = converter.Tasks().Items(index);
        if (finished) {
            std::printf("%s -> %s\n", task.InputOptions.FileName.c_str(), task.OutputOptions.FileName.c_str());
        } else {
            std::fprintf(stderr, "%s: %s\n", task.InputOptions.FileName.c_str(), message.c_str());
            ++failures;
        }
    };

    for (int i = 1; i < argc; ++i) {
        TInputOptions input;
        converter.InitInputOptions(input);
        const int index = converter.AddInput(argv[i], &input);
        if (index < 0) {
            std::fprintf(stderr, "%s\n", converter.LastErrMsg().c_str()); // names the file
            ++failures;
            continue;
        }
        TOutputOptions output;
        converter.InitOutputOptions(output);
        output.DisableVideo = true;
        output.DisableSubtitle = true;
        output.AudioBitrate = 192000;
        if (!converter.AddOutput(index, OutputName(argv[i]), &output)) {
            std::fprintf(stderr, "%s: %s\n", argv[i], converter.LastErrMsg().c_str());
            converter.RemoveTask(index);
            ++failures;
        }
    }

    // The component's own Start, which schedules the whole list, is still to come: here each task
    // runs on the calling thread through its engine, one after another.
    for (int i = 0; i < converter.Tasks().Count(); ++i)
        converter.Tasks().Items(i).Start(false, tpNormal);
    return failures == 0 ? 0 : 1;
}
