// Writes the seed corpora of the fuzz targets, made by the project's own fixtures:
//   SeedCorpus FOLDER  ->  FOLDER/{options,probe,conversion,record}/...
#include "libs/AVEntryPoints.h"
#include "libs/AVLibLoader.h"
#include "tests/support/MediaFixtures.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

void WriteText(const fs::path &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

AudioTrack Audio(const char *codec, int rate, int channels, int64_t bitRate = 0)
{
    AudioTrack track;
    track.codec = codec;
    track.sampleRate = rate;
    track.channels = channels;
    track.bitRate = bitRate;
    return track;
}

VideoTrack Video(const char *codec, int width, int height, int frameRate)
{
    VideoTrack track;
    track.codec = codec;
    track.width = width;
    track.height = height;
    track.frameRate = frameRate;
    return track;
}

// Short files, so that libFuzzer's length limit stays small: each a few kilobytes.
void WriteMedia(const fs::path &folder)
{
    struct Seed {
        const char *name;
        const char *format;
        double seconds;
        std::optional<AudioTrack> audio;
        std::optional<VideoTrack> video;
        std::map<std::string, std::string> tags;
    };
    const std::map<std::string, std::string> tags = {
        {"title", "Seed"}, {"artist", "Velox"}, {"date", "2024"}, {"track", "3/12"}, {"genre", "Test"}};
    const Seed seeds[] = {
        {"tone-8k-mono.wav", "", 0.1, Audio("pcm_s16le", 8000, 1), {}, tags},
        {"tone-u8.wav", "", 0.05, Audio("pcm_u8", 11025, 2), {}, {}},
        {"tone-f32.wav", "", 0.02, Audio("pcm_f32le", 48000, 2), {}, {}},
        {"tone.mp3", "", 0.2, Audio("libmp3lame", 22050, 1, 32000), {}, tags},
        {"tone.flac", "", 0.2, Audio("flac", 8000, 1), {}, tags},
        {"tone.ogg", "ogg", 0.2, Audio("libvorbis", 8000, 1), {}, tags},
        {"tone.opus", "ogg", 0.1, Audio("libopus", 48000, 1, 16000), {}, {}},
        {"tone.m4a", "ipod", 0.1, Audio("aac", 8000, 1, 16000), {}, tags},
        {"tone.mkv", "matroska", 0.05, Audio("pcm_s16le", 8000, 2), {}, tags},
        {"tone.mp2", "mp2", 0.1, Audio("mp2", 22050, 1, 32000), {}, {}},
        {"clip.avi", "avi", 0.2, Audio("mp2", 22050, 1, 32000), Video("mpeg4", 32, 24, 10), {}},
        {"clip.mkv", "matroska", 0.2, {}, Video("mpeg4", 32, 24, 10), tags},
        {"clip.ts", "mpegts", 0.1, Audio("mp2", 22050, 1, 32000), Video("mpeg4", 32, 24, 10), {}},
        {"cover.mp3", "", 0.1, Audio("libmp3lame", 22050, 1, 32000),
         [] {
             VideoTrack cover = Video("mjpeg", 16, 16, 1);
             cover.coverArt = true;
             return cover;
         }(),
         tags},
    };
    for (const Seed &seed : seeds) {
        MediaRecipe recipe;
        recipe.format = seed.format;
        recipe.seconds = seed.seconds;
        recipe.audio = seed.audio;
        recipe.video = seed.video;
        recipe.tags = seed.tags;
        WriteMediaFile((folder / seed.name).string(), recipe);
    }
}

// Scripts of the option target: option lines, and control bytes that add the tone (0x00) or the
// clip (0x01) as an input, add an output (0x02) or run the job (0x03).
void WriteOptionScripts(const fs::path &folder)
{
    using namespace std::string_literals;
    const std::vector<std::string> scripts = {
        "acodec=libmp3lame\nab=128000\nar=22050\nac=1",
        "f=wav\nacodec=pcm_s16le\nvol=512",
        "t=0.5\nfs=100000\x00"s + "acodec=pcm_s16le\x02" + "acodec=libmp3lame\x03",
        "ss=0.05\nitsoffset=1\nitsscale=0:2\x00"s + "map=0.0\nmap_meta_data=0:0\x03",
        "\x01"s + "vcodec=copy\nacodec=copy\nf=matroska\x02" + "newaudio\x03",
        "\x01"s + "vcodec=mpeg4\ns=320x240\nqscale=4\npix_fmt=yuv420p\nvtag=XVID\npadtop=8\naspect=16:9\x02",
        "\x01"s + "croptop=8\ncropleft=8\nvfilters=scale=32:24\x02",
        "intra_matrix=8" +
            [] {
                std::string rest;
                for (int i = 1; i < 64; ++i)
                    rest += ",16";
                return rest;
            }() +
            "\ninter_matrix=1,2,3\nrc_override=0,100,-50/200,300,10",
        "target=pal-dvd\x02target=ntsc-vcd\x02target=film-svcd",
        "absf=null\nvbsf=noise=amount=1\nsbsf=x",
        "title=Concert\nauthor=Band\ncomment=Live\nalbum=Tour\ngenre=Rock\ntimestamp=2020-01-01 12:00:00",
        "programid=1\nasync=1\nvsync=2\nadrift_threshold=0.25\ndts_delta_threshold=2\x00\x03",
        "pass=1\npasslogfile=stats\nb=64000\nmuxdelay=0.1\nmuxpreload=0.75\npacketsize=188",
        "pix_fmt=list\nsample_fmt=list\nv=3\x02",
        "atag=abcd\nalang=eng\nslang=deu\nvc=2\ntvstd=pal\nloop_output=0\nre\x00\x03",
        "aframes=$10\nvframes=0x5\ndframes=1\nshortest\ncopyts\nisync\x00\x00\x03",
    };
    for (size_t i = 0; i < scripts.size(); ++i)
        WriteText(folder / ("script-" + std::to_string(i)), scripts[i]);
}

// FuzzedDataProvider reads integers from the end and text from the front; a few shapes to start from.
void WriteRecordSeeds(const fs::path &folder)
{
    std::string counting;
    for (int i = 0; i < 512; ++i)
        counting += static_cast<char>(i * 7);
    WriteText(folder / "zeros", std::string(256, '\0'));
    WriteText(folder / "ones", std::string(256, '\xff'));
    WriteText(folder / "counting", counting);
    WriteText(folder / "text", "Title\\with\\escapes\nacodec=libmp3lame\nar=8000\nt=1\n" + counting);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    try {
        if (!avlib::LoadAll(avlib::DefaultLibraryDir(), true))
            throw std::runtime_error("cannot load the media libraries: " + avlib::LastErrorText());
        avlib::avutil.av_log_set_level(AV_LOG_ERROR); // the encoders' statistics are no news here
        const fs::path root = argv[1];
        for (const char *name : {"options", "probe", "conversion", "record"})
            fs::create_directories(root / name);
        WriteMedia(root / "probe");
        WriteMedia(root / "conversion");
        WriteOptionScripts(root / "options");
        WriteRecordSeeds(root / "record");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
