// Scrubbing through a 720p H.264 file with the probe's preview: seeks to random times, each
// followed by DecodeFrame, as a track bar moved by hand does. A plain program, so that its peak
// memory is the scrubbing's own: the file is written by a child process.
//
//   probe_scrub_bench [FILE [SECONDS [GOP [SEEKS]]]]
//
// FILE is written first when it does not exist (default: a temporary file, removed at the end):
// SECONDS (20) of 1280x720 H.264 at 25 pictures per second, a key picture every GOP (12) pictures,
// with AAC sound. Prints how many pictures there are per key picture; the median, 90th percentile
// and largest time per seek-and-decode in milliseconds over SEEKS (50) random times, the first
// call (which opens the decoder) apart; the median processor time; and the peak memory of the
// process against that of the loaded libraries alone.
#include "libs/AVDeleters.h"
#include "libs/AVEntryPoints.h"
#include "libs/AVLibLoader.h"
#include "probe/AVProbe.h"
#include "tests/support/MediaFixtures.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

// Processor time of the whole process (every thread) so far, in milliseconds.
double CpuMs()
{
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return 0;
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

long PeakKib()
{
    rusage usage{};
    return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : -1;
}

bool LoadLibraries()
{
    if (avlib::LoadAll(avlib::DefaultLibraryDir(), true))
        return true;
    std::fprintf(stderr, "%s\n", avlib::LastErrorText().c_str());
    return false;
}

// Writes the file in a child process, so that the encoder's memory is not counted here.
bool WriteInChild(const std::string &path, double seconds, int gop)
{
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        if (!LoadLibraries())
            _exit(1);
        testing_support::MediaRecipe recipe;
        recipe.seconds = seconds;
        testing_support::VideoTrack video;
        video.codec = "libx264";
        video.width = 1280;
        video.height = 720;
        video.frameRate = 25;
        video.gopSize = gop;
        recipe.video = video;
        testing_support::AudioTrack audio;
        audio.codec = "aac";
        audio.bitRate = 128000;
        recipe.audio = audio;
        try {
            testing_support::WriteMediaFile(path, recipe);
        } catch (const std::exception &e) {
            std::fprintf(stderr, "%s\n", e.what());
            _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Pictures per key picture of the first video stream, from its packets' flags; 0 when unknown.
double KeyInterval(const std::string &path)
{
    AVFormatContext *raw = nullptr;
    if (avlib::avformat.avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return 0;
    avlib::InputFormatContextPtr input(raw);
    if (avlib::avformat.avformat_find_stream_info(raw, nullptr) < 0)
        return 0;
    int video = -1;
    for (unsigned i = 0; i < raw->nb_streams && video < 0; ++i)
        if (raw->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            video = static_cast<int>(i);
    avlib::AVPacketPtr packet(avlib::avcodec.av_packet_alloc());
    if (video < 0 || !packet)
        return 0;
    long pictures = 0, keys = 0;
    while (avlib::avformat.av_read_frame(raw, packet.get()) >= 0) {
        if (packet->stream_index == video) {
            ++pictures;
            keys += (packet->flags & AV_PKT_FLAG_KEY) != 0;
        }
        avlib::avcodec.av_packet_unref(packet.get());
    }
    return keys > 0 ? static_cast<double>(pictures) / keys : 0;
}

// The one-minute load average: other work on the machine stretches the wall times.
std::string LoadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string first;
    file >> first;
    return first.empty() ? "unknown" : first;
}

double Percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(fraction * (values.size() - 1) + 0.5));
    return values[index];
}

} // namespace

int main(int argc, char **argv)
{
    const bool temporary = argc < 2;
    const std::string path =
        temporary
            ? (std::filesystem::temp_directory_path() / ("probe-scrub-" + std::to_string(getpid()) + ".mp4")).string()
            : argv[1];
    const double seconds = argc > 2 ? std::atof(argv[2]) : 20.0;
    const int gop = argc > 3 ? std::atoi(argv[3]) : 12;
    const int seeks = argc > 4 ? std::atoi(argv[4]) : 50;
    if (seconds <= 0 || gop <= 0 || seeks <= 0) {
        std::fprintf(stderr, "usage: probe_scrub_bench [FILE [SECONDS [GOP [SEEKS]]]]\n");
        return 2;
    }

    if (!std::filesystem::exists(path)) {
        std::printf("writing %s: %.0f s of 1280x720 H.264, key picture every %d\n", path.c_str(), seconds, gop);
        std::fflush(stdout);
        if (!WriteInChild(path, seconds, gop)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    if (!LoadLibraries())
        return 1;
    const long loadedKib = PeakKib();
    const double keyInterval = KeyInterval(path);

    int result = 0;
    {
        TAVProbe probe;
        if (!probe.LoadFile(path)) {
            std::fprintf(stderr, "%s\n", probe.LastErrMsg.c_str());
            return 1;
        }
        TAVStreamInfo info;
        probe.GetStreamInfo(-1, info);
        const double duration = info.DurationUS > 0 ? info.DurationUS / 1e6 : seconds;

        using Clock = std::chrono::steady_clock;
        std::mt19937 random(20240601);
        std::uniform_real_distribution<double> when(0.0, duration);
        std::vector<double> times, cpuTimes;
        double first = 0;
        int empty = 0;
        for (int i = 0; i <= seeks; ++i) {
            const int64_t target = static_cast<int64_t>(when(random) * 1e6);
            const Clock::time_point start = Clock::now();
            const double cpuStart = CpuMs();
            probe.Seek(-1, target);
            const TBitmap24 &bitmap = probe.DecodeFrame(-1);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            const double cpuMs = CpuMs() - cpuStart;
            if (bitmap.Width() != info.Width || bitmap.Height() != info.Height)
                ++empty;
            if (i == 0)
                first = ms;
            else {
                times.push_back(ms);
                cpuTimes.push_back(cpuMs);
            }
        }
        std::printf("file: %s, %dx%d, %.1f s, one key picture per %.1f pictures\n", path.c_str(), info.Width,
                    info.Height, duration, keyInterval);
        std::printf("seek+decode over %d random times: median %.1f ms, p90 %.1f ms, max %.1f ms "
                    "(first call, opening the decoder: %.1f ms)\n",
                    seeks, Percentile(times, 0.5), Percentile(times, 0.9), Percentile(times, 1.0), first);
        std::printf("processor time per seek+decode: median %.1f ms (load average then: %s)\n",
                    Percentile(cpuTimes, 0.5), LoadAverage().c_str());
        std::printf("peak memory: %ld KiB (libraries loaded: %ld KiB)\n", PeakKib(), loadedKib);
        if (empty > 0) {
            std::fprintf(stderr, "%d pictures missing or of the wrong size\n", empty);
            result = 1;
        }
    }
    if (temporary)
        std::filesystem::remove(path);
    return result;
}
