#include "engine/Mp3Joiner.h"
#include "tests/engine/OptionsFixture.h"
#include "tests/support/MediaFixtures.h"

#include <cmath>
#include <fstream>
#include <iterator>

using namespace testing_support;

namespace {

constexpr int kFrame = 1152;

class SegmentedMp3Test : public OptionsTest {
protected:
    struct Result {
        std::vector<uint8_t> bytes;
        DecodedAudio audio;
    };
    // Music of `samples` samples converted with these options, on idle cores or on one.
    Result Convert(int64_t samples, const std::map<std::string, std::string> &options, bool shared)
    {
        const std::string wav = dir.File("music.wav"), mp3 = dir.File(shared ? "shared.mp3" : "alone.mp3");
        if (!std::ifstream(wav)) {
            MediaRecipe recipe;
            recipe.seconds = static_cast<double>(samples) / 44100;
            recipe.audio = AudioTrack{"pcm_s16le", 44100, 2};
            recipe.audio->music = true;
            recipe.audio->accentEvery = TSegmentedMp3::kSegmentFrames * kFrame / 44100.0;
            WriteMediaFile(wav, recipe);
        }
        TCustomFFmpeg job;
        job.InitializeJob();
        job.SetVerbose(1);
        if (shared)
            job.Cores = std::make_shared<TCoreBudget>(3, 1);
        job.LogCallback = [&](TCustomFFmpeg *, int, const std::string &line) { lines.push_back(line); };
        EXPECT_TRUE(job.AddInputFile(wav)) << job.LastErrorText;
        for (const auto &[name, value] : options)
            job.SetOption(name, value);
        EXPECT_TRUE(job.AddOutputFile(mp3)) << job.LastErrorText;
        job.Start(false, tpNormal);
        EXPECT_TRUE(job.Finished) << job.ErrorMessage;
        std::ifstream in(mp3, std::ios::binary);
        Result result{{std::istreambuf_iterator<char>(in), {}}, DecodeAudio(mp3)};
        return result;
    }
    static double Snr(const DecodedAudio &source, const DecodedAudio &decoded)
    {
        double signal = 0, noise = 0;
        for (size_t i = 0; i < std::min(source.samples.size(), decoded.samples.size()); ++i) {
            signal += double(source.samples[i]) * source.samples[i];
            noise += std::pow(double(source.samples[i]) - decoded.samples[i], 2);
        }
        return 10 * std::log10(signal / noise);
    }
    // The frames after the leading tag and the header frame, each taken apart as a decoder
    // would: false when one refers to bytes outside the frames before it.
    static bool Unpacks(const std::vector<uint8_t> &file, size_t &frames)
    {
        std::span<const uint8_t> rest(file);
        rest = rest.subspan(mp3::LeadingTagSize(rest));
        mp3::TFrameUnpacker unpacker;
        for (frames = 0; rest.size() >= 4; ++frames) {
            const auto header = mp3::ParseHeader(rest);
            if (!header || rest.size() < static_cast<size_t>(header->FrameBytes))
                return rest.size() == 128; // the closing tag
            if (frames > 0 && !unpacker.Add(rest.first(header->FrameBytes)))
                return false;
            rest = rest.subspan(header->FrameBytes);
        }
        return true;
    }

    TempDir dir;
    std::vector<std::string> lines;
};

// Lengths around where the last segment starts and ends, at a constant and a variable bit rate:
// the joined file decodes to exactly the input's length (or the recording time's), every frame's
// reservoir reference stays within the frames kept, and size and sound are those of the file
// encoded on one core.
TEST_F(SegmentedMp3Test, JoinedFilesAreExactValidAndLikeTheOneCoreFile)
{
    const int64_t lastStart = 2 * TSegmentedMp3::kSegmentFrames * kFrame;
    const int64_t overlap = TSegmentedMp3::kOverlapFrames * kFrame;
    const struct {
        int64_t samples;
        std::map<std::string, std::string> options;
        double sizeTolerance;
        int segments;
        int64_t kept = 0; // samples the recording time leaves, 0: all
    } cases[] = {
        {lastStart + overlap - 1, {{"ab", "128000"}}, 0.01, 2},
        {lastStart + overlap, {{"ab", "128000"}}, 0.01, 3},
        {lastStart + overlap + 1, {{"ab", "320000"}}, 0.01, 3},
        {lastStart + 7 * kFrame + 577, {{"aq", "0"}}, 0.03, 3},
        {lastStart + 300 * kFrame + 1, {{"aq", "4"}}, 0.03, 3},
        {lastStart + 300 * kFrame + 1, {{"ab", "128000"}, {"t", "32.5"}}, 0.01, 3, 1433250},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.samples);
        SCOPED_TRACE(c.options.begin()->first + "=" + c.options.begin()->second);
        std::filesystem::remove(dir.File("music.wav"));
        lines.clear();
        const Result shared = Convert(c.samples, c.options, true), alone = Convert(c.samples, c.options, false);
        const DecodedAudio source = DecodeAudio(dir.File("music.wav"));
        ASSERT_EQ(source.Frames(), static_cast<size_t>(c.samples));
        const size_t kept = c.kept > 0 ? static_cast<size_t>(c.kept) : source.Frames();
        EXPECT_EQ(shared.audio.Frames(), kept);
        EXPECT_EQ(alone.audio.Frames(), kept);
        const std::string told = "encoded in " + std::to_string(c.segments) + " segments";
        EXPECT_TRUE(
            std::any_of(lines.begin(), lines.end(), [&](auto &l) { return l.find(told) != std::string::npos; }));
        size_t framesShared = 0, framesAlone = 0;
        EXPECT_TRUE(Unpacks(shared.bytes, framesShared));
        EXPECT_TRUE(Unpacks(alone.bytes, framesAlone));
        EXPECT_EQ(framesShared, framesAlone);
        EXPECT_NEAR(double(shared.bytes.size()) / alone.bytes.size(), 1.0, c.sizeTolerance);
        EXPECT_NEAR(Snr(source, shared.audio), Snr(source, alone.audio), 0.5);
    }
}

// A frame of 128 kbit/s with `extra` bytes of main data more than its own room.
mp3::TLooseFrame Frame(int extra, uint8_t fill)
{
    mp3::TLooseFrame frame;
    frame.Head = {0xff, 0xfb, 0x90, 0x00};
    frame.Header = *mp3::ParseHeader(frame.Head);
    frame.Head.resize(static_cast<size_t>(frame.Header.DataOffset()));
    frame.MainData.assign(static_cast<size_t>(frame.Header.DataRoom() + extra), fill);
    return frame;
}

// Where the planned join cannot carry the reservoir over, a join frame gets a higher bit rate,
// and every frame's main data is still found where its main_data_begin points.
TEST(SegmentJoiner, AJoinThatCannotCarryTheReservoirRaisesOneFrameAndKeepsEveryReference)
{
    mp3::TSegmentJoiner joiner(511, 3);
    std::vector<mp3::TLooseFrame> older, newer;
    for (int i = 0; i < 20; ++i) // the reservoir stays empty
        older.push_back(Frame(0, static_cast<uint8_t>(i)));
    for (int i = 4; i < 30; ++i) // needing 50 bytes of reservoir each up to frame 13, then giving them
        newer.push_back(Frame(i <= 13 ? 50 : -50, static_cast<uint8_t>(i)));
    std::vector<mp3::TJoinedFrame> done;
    ASSERT_TRUE(joiner.Add(0, 0, older, done));
    ASSERT_TRUE(joiner.Add(4, 10, newer, done));
    ASSERT_TRUE(joiner.Finish(done));
    EXPECT_EQ(joiner.Joins(), std::vector<int64_t>{12}); // 104 bytes more carry two frames
    EXPECT_EQ(joiner.RaisedJoins(), 1);
    ASSERT_EQ(done.size(), 30u);
    std::vector<uint8_t> rooms;
    for (size_t i = 0; i < done.size(); ++i) {
        SCOPED_TRACE(i);
        const auto header = mp3::ParseHeader(done[i].Bytes);
        ASSERT_TRUE(header);
        EXPECT_EQ(header->BitrateKbps, i == 12 ? 160 : 128);
        const mp3::TSideInfo side = mp3::ReadSideInfo(*header, done[i].Bytes);
        const size_t start = rooms.size() - side.MainDataBegin;
        rooms.insert(rooms.end(), done[i].Bytes.begin() + header->DataOffset(), done[i].Bytes.end());
        const size_t length = (i < 12 ? older : newer)[i < 12 ? i : i - 4].MainData.size();
        ASSERT_LE(start + length, rooms.size());
        EXPECT_TRUE(
            std::all_of(rooms.begin() + start, rooms.begin() + start + length, [&](uint8_t b) { return b == i; }));
    }
}

} // namespace
