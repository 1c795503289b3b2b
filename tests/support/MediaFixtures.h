// Media files made at test time through the libraries: sine tones, simple moving pictures, tags.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct AudioTrack {
    std::string codec = "pcm_s16le";
    int sampleRate = 44100;
    int channels = 2;
    double frequency = 440.0; // Hz
    double amplitude = 0.5;   // of full scale
    int64_t bitRate = 0;      // 0: the encoder's default
    int frameSamples = 0;     // samples per frame for encoders that take any size; 0: 1024
    double gapAt = 0.0;       // seconds: where the timestamps jump ahead
    int64_t gapSamples = 0;   // by this many samples, with no data for them
    bool music = false;       // MusicSample instead of the sine
    double accentEvery = 0.0; // seconds: a sharp transient this often in the music (0: none)
    // Such as "s32" for 24-bit FLAC; empty: the encoder's first.
    std::string sampleFormat{};
    bool noiseAndSquare = false; // NoiseAndSquareSample instead of the sine (before music)
};

// Something like music, channel by channel: chords with note attacks, a kick and noisy hi-hats,
// a second of silence in every twenty, and accents if asked. Within full scale.
double MusicSample(int64_t index, int sampleRate, int channel, double accentEvery = 0.0);

// A quiet low square wave (55 Hz, -50 dBFS) with fainter white noise, channel by channel: at a
// constant bit rate an MP3 encoder keeps its reservoir all but empty on it.
double NoiseAndSquareSample(int64_t index, int sampleRate, int channel);

// What the pictures show.
enum class VideoPattern {
    Gradient, // a gradient that moves with the frame number; outside yuv420p red x + 3n, green 2y, blue x + y
    Bands,    // vertical bands of the colours in kBandColours, left to right, on every frame
    Counter,  // the frame number in binary: kCounterBits blocks across the width, white = 1, first = highest
};

inline constexpr int kBandCount = 8;
// Red, green, blue of each band.
inline constexpr unsigned char kBandColours[kBandCount][3] = {
    {255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0}, {255, 0, 255}, {255, 0, 0}, {0, 0, 255}, {0, 0, 0}};
inline constexpr int kCounterBits = 8;

struct VideoTrack {
    std::string codec = "mpeg4";
    int width = 160;
    int height = 120;
    int frameRate = 25;
    bool coverArt = false; // one picture marked as the file's cover (for example "mjpeg" in an MP3)
    VideoPattern pattern = VideoPattern::Gradient;
    std::string pixelFormat; // empty: the encoder's first
    int gopSize = 12;        // pictures from one key picture to the next
};

// A file attached to a Matroska file, such as a cover picture.
struct Attachment {
    std::string fileName; // "cover.jpg"
    std::string mimeType; // "image/jpeg"
    std::vector<unsigned char> data;
};

struct MediaRecipe {
    std::string format; // muxer name; empty: chosen from the file name
    double seconds = 1.0;
    std::optional<AudioTrack> audio;
    std::vector<AudioTrack> moreAudio; // further audio streams, after audio's
    std::optional<VideoTrack> video;
    std::map<std::string, std::string> tags;         // container metadata
    std::map<std::string, std::string> muxerOptions; // such as "output_ts_offset"
    std::vector<unsigned char> attachedJpeg;         // a Matroska file's attached cover
    std::vector<Attachment> attachments;             // more, in this order after it
};

// For the small programs that write a fixture: loads the libraries beside the program, runs write,
// and gives the exit status, what went wrong said on standard error.
int WriteFromProgram(const std::function<void()> &write);

// Writes the file; throws std::runtime_error naming the step that failed. Needs the libraries loaded.
void WriteMediaFile(const std::string &path, const MediaRecipe &recipe);

// The first audio stream of a file, decoded to interleaved signed 16-bit samples.
struct DecodedAudio {
    std::string container;    // the demuxer's name
    std::string codec;        // the codec's name: "mp3", "opus", "pcm_s24le"
    int64_t bitRate = 0;      // as the file tells it for the stream; 0 when it does not
    int64_t statedFrames = 0; // the stream's length as the file tells it, where timed in samples; else 0
    int sampleRate = 0;
    int channels = 0;
    std::vector<int16_t> samples;
    size_t Frames() const { return channels ? samples.size() / channels : 0; }
};
DecodedAudio DecodeAudio(const std::string &path);

// The first video stream of a file, decoded to packed RGB24 pictures (rows of width * 3 bytes).
struct DecodedVideo {
    int width = 0;
    int height = 0;
    double frameRate = 0; // the stream's average rate
    std::vector<std::vector<unsigned char>> frames;
    std::vector<double> seconds; // presentation time of each frame
    // Red, green, blue of the pixel at (x, y) of a frame.
    const unsigned char *Pixel(size_t frame, int x, int y) const { return &frames[frame][(y * width + x) * 3]; }
};
DecodedVideo DecodeVideo(const std::string &path);

// The number a Counter picture shows, read from row y of packed 24-bit pixels (RGB or BGR alike).
int ReadCounter(const unsigned char *row, int width);

// Replaces every occurrence of from by to (same length) in the file's bytes.
void PatchBytes(const std::string &path, const std::string &from, const std::string &to);

// Shorthands.
void WriteSineWav(const std::string &path, double seconds = 1.0, int sampleRate = 44100, int channels = 2);
void WriteSineMp3(const std::string &path, double seconds = 1.0, const std::map<std::string, std::string> &tags = {});

} // namespace testing_support
