// Converts every file named on the command line into an MP3 beside it, through the converter
// component: convert_files FILE...  Exit status 0 when every file converted, 1 otherwise.
#include "component/FFmpegList.h"
#include "component/VeloxConverter.h"

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
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
    if (!converter.LoadAVLib(TVeloxConverter::DefaultAVLibFolder(), true)) {
        std::fprintf(stderr, "%s\n", converter.LastErrMsg().c_str());
        return 1;
    }

    // Events come on the worker threads: what they share is guarded, and the end of the whole
    // list (index -1) wakes the main thread.
    std::mutex lock;
    std::condition_variable ended;
    bool allEnded = false;
    int failures = 0;
    converter.OnLog = [](int, TLogLevel level, const std::string &message) {
        if (level <= llError)
            std::fprintf(stderr, "%s\n", message.c_str());
    };
    converter.OnTerminate = [&](int index, bool finished, bool, const std::string &message) {
        std::lock_guard<std::mutex> guard(lock);
        if (index < 0) {
            allEnded = true;
            ended.notify_all();
            return;
        }
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

    // Two at a time on worker threads: no event loop is needed for that (one-by-one mode, 0, needs one).
    if (converter.Tasks().Count() > 0) {
        converter.Start(2);
        std::unique_lock<std::mutex> guard(lock);
        ended.wait(guard, [&] { return allEnded; });
    }
    return failures == 0 ? 0 : 1;
}
