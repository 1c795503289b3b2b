// What the fuzz targets found, kept as cases: inputs and option values that no real recording or
// caller has, refused with a message instead of crashing or costing the run its resources.
#include "engine/AudioShape.h"
#include "tests/engine/OptionsFixture.h"
#include "tests/support/MediaFixtures.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>

using namespace testing_support;

namespace {

void PutLE(std::string &bytes, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A mono WAV of these sample bytes: 16-bit PCM (tag 1) or 32-bit float (tag 3).
void WriteMonoWav(const std::string &path, uint32_t rate, const std::string &data, uint16_t format = 1)
{
    const uint32_t width = format == 3 ? 4 : 2;
    std::string bytes = "RIFF";
    PutLE(bytes, 36 + static_cast<uint32_t>(data.size()), 4);
    bytes += "WAVEfmt ";
    PutLE(bytes, 16, 4); // format chunk size
    PutLE(bytes, format, 2);
    PutLE(bytes, 1, 2);            // channels
    PutLE(bytes, rate, 4);         // samples per second
    PutLE(bytes, rate * width, 4); // bytes per second
    PutLE(bytes, width, 2);        // block size
    PutLE(bytes, 8 * width, 2);    // bits per sample
    bytes += "data";
    PutLE(bytes, static_cast<uint32_t>(data.size()), 4);
    std::ofstream(path, std::ios::binary) << bytes << data;
}

class FuzzFindingsTest : public OptionsTest {
protected:
    // Converts a mono WAV of the given rate to an MP3 (48 kHz at most); true when the run finished.
    bool ConvertWavOfRate(uint32_t rate, uint32_t samples)
    {
        const std::string input = dir.File("in.wav");
        WriteMonoWav(input, rate, std::string(samples * 2, '\0'));
        return Convert(input, dir.File("out.mp3"));
    }

    // A fifth of a second of video without sound.
    std::string Clip()
    {
        MediaRecipe recipe;
        recipe.seconds = 0.2;
        recipe.video.emplace();
        const std::string path = dir.File("clip.avi");
        WriteMediaFile(path, recipe);
        return path;
    }

    TempDir dir;
};

} // namespace

// A 224-byte WAV claiming 536879936 Hz made the MP3 resampler build a filter bank for a ratio of
// 1 : 11185: 7 seconds and 700 MB before the first sample.
TEST_F(FuzzFindingsTest, AnInputRateAboveTheLargestIsNotResampled)
{
    EXPECT_FALSE(ConvertWavOfRate(536879936, 2000));
    EXPECT_EQ(engine.ErrorMessage, "Can not resample 1 channels @ 536879936 Hz to 1 channels @ 48000 Hz: rates "
                                   "above 768000 Hz are not supported");
    EXPECT_EQ(engine.ErrorOccurred, 1);
}

TEST_F(FuzzFindingsTest, TheLargestRateIsResampled)
{
    ASSERT_TRUE(ConvertWavOfRate(audio_shape::kLargestSampleRate, 76800)) << engine.ErrorMessage;
    const DecodedAudio out = DecodeAudio(dir.File("out.mp3"));
    EXPECT_EQ(out.sampleRate, 48000);
    // 0.1 s in, 0.1 s out, give or take the encoder's padding.
    EXPECT_NEAR(static_cast<double>(out.Frames()) / out.sampleRate, 0.1, 0.06);
}

TEST_F(FuzzFindingsTest, OneHertzPastTheLargestRateIsRefused)
{
    EXPECT_FALSE(ConvertWavOfRate(audio_shape::kLargestSampleRate + 1, 76801));
    EXPECT_NE(engine.ErrorMessage.find("rates above 768000 Hz are not supported"), std::string::npos)
        << engine.ErrorMessage;
}

// "inter_matrix" with a text too short leaves the table it began (zeros after what it read), as
// the option always did; handed to an MPEG-1 encoder those zeros were a division by zero that
// killed the process.
TEST_F(FuzzFindingsTest, APartlyReadMatrixIsNotHandedToTheEncoder)
{
    const std::string input = Clip();

    std::string full = "8";
    for (int i = 1; i < 64; ++i)
        full += ",16";
    engine.SetOption("intra_matrix", full);
    EXPECT_EQ(Rejection<FFMpegException>("inter_matrix", "8,16"), "Syntax error in matrix \"8,16\" at coeff 1");
    engine.ParseOptionLines("vcodec=mpeg1video\nan");
    ASSERT_TRUE(engine.AddInputFile(input)) << engine.LastErrorText;
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.mpg"))) << engine.LastErrorText;
    const AVCodecContext *video = engine.OutputCodecs[0][0].Context.get();
    ASSERT_NE(video->intra_matrix, nullptr); // a whole table still goes
    EXPECT_EQ(video->intra_matrix[0], 8);
    EXPECT_EQ(video->inter_matrix, nullptr);

    engine.Start(false, tpNormal);
    EXPECT_EQ(engine.Finished, 1) << engine.ErrorMessage;
    EXPECT_EQ(DecodeVideo(dir.File("out.mpg")).frames.size(), 5u);
}

// 33 bytes of a CRYO APC header whose sample rate is 0: its decoder gives frames without a rate, and
// timing them divided by zero.
TEST_F(FuzzFindingsTest, FramesWithoutASampleRateAreDecodeErrors)
{
    static const unsigned char kHeader[] = {0x43, 0x52, 0x59, 0x4f, 0x5f, 0x41, 0x50, 0x43, 0x02, 0x65, 0x54,
                                            0x49, 0x44, 0x33, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x74, 0x54,
                                            0x00, 0x0f, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xc7, 0xec, 0x16};
    const std::string input = dir.File("in.apc");
    std::ofstream(input, std::ios::binary).write(reinterpret_cast<const char *>(kHeader), sizeof kHeader);
    ASSERT_TRUE(engine.AddInputFile(input)) << engine.LastErrorText;
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.wav"))) << engine.LastErrorText;
    engine.Start(false, tpNormal);
    EXPECT_EQ(engine.Finished, 0);
    EXPECT_EQ(engine.ErrorMessage, "no audio could be converted from '" + input + "'");
}

// Pass 2 from an empty log: the MPEG video rate control counts its entries from the second byte
// on, one past the end of an empty text.
TEST_F(FuzzFindingsTest, AnEmptyPassOneLogIsRefused)
{
    const std::string input = Clip();
    std::ofstream(dir.File("stats-0.log")).flush();

    ASSERT_TRUE(engine.AddInputFile(input)) << engine.LastErrorText;
    engine.ParseOptionLines("passlogfile=" + dir.File("stats") + "\npass=2\nvcodec=mpeg1video\nan");
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.mpg"))) << engine.LastErrorText;
    engine.Start(false, tpNormal);
    EXPECT_EQ(engine.Finished, 0);
    EXPECT_EQ(engine.ErrorMessage, "empty pass-1 log file: " + dir.File("stats") + "-0.log");
    EXPECT_TRUE(engine.OpenEncoders.Empty());
}

// Float samples that are no numbers, or far beyond full scale, made the MP3 encoder's
// psychoacoustic model fail an assertion and end the process.
TEST_F(FuzzFindingsTest, FloatsBeyondAnyScaleEncodeAsClippedSound)
{
    std::string data;
    for (int i = 0; i < 4800; ++i) {
        const float values[] = {std::nanf(""), 1e30f, -INFINITY, 0.5f};
        data.append(reinterpret_cast<const char *>(&values[i % 4]), sizeof(float));
    }
    WriteMonoWav(dir.File("in.wav"), 48000, data, 3);
    EXPECT_TRUE(Convert(dir.File("in.wav"), dir.File("out.mp3"))) << engine.ErrorMessage;
    // As 16-bit samples: silence, full scale up, full scale down, half scale; never wrapped round.
    ASSERT_EQ(ConvertAlone(dir.File("in.wav"), dir.File("out.wav"), {{"acodec", "pcm_s16le"}}), "");
    const DecodedAudio out = DecodeAudio(dir.File("out.wav"));
    ASSERT_EQ(out.samples.size(), 4800u);
    const int expected[] = {0, 32767, -32768, 16384};
    for (size_t i = 0; i < out.samples.size(); ++i)
        ASSERT_NEAR(out.samples[i], expected[i % 4], 2) << "sample " << i;
}
