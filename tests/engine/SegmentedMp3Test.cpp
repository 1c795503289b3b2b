#include "engine/Mp3Joiner.h"
#include "tests/engine/OptionsFixture.h"
#include "tests/support/MediaFixtures.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <set>

using namespace testing_support;

namespace {

constexpr int kFrame = 1152;

class SegmentedMp3Test : public OptionsTest {
protected:
    struct Result {
        std::vector<uint8_t> bytes;
        DecodedAudio audio;
    };
    // Music (or the quiet square wave with noise) of `samples` samples converted with these
    // options, on idle cores or on one.
    Result Convert(int64_t samples, const std::map<std::string, std::string> &options, bool shared, bool square)
    {
        const std::string wav = dir.File("music.wav"), mp3 = dir.File(shared ? "shared.mp3" : "alone.mp3");
        if (!std::ifstream(wav)) {
            MediaRecipe recipe;
            recipe.seconds = static_cast<double>(samples) / 44100;
            recipe.audio = AudioTrack{"pcm_s16le", 44100, 2};
            recipe.audio->music = true;
            recipe.audio->noiseAndSquare = square;
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
    struct Frames {
        bool valid = true; // every frame's reservoir reference within the frames before it
        size_t count = 0;  // the header frame's too
        std::set<int> rates;
        std::string tag; // in the header frame: "Info" for a constant bit rate, else "Xing"
    };
    // The frames after the leading tag, each but the header frame taken apart as a decoder would.
    static Frames Walk(const std::vector<uint8_t> &file)
    {
        Frames result;
        std::span<const uint8_t> rest(file);
        rest = rest.subspan(mp3::LeadingTagSize(rest));
        mp3::TFrameUnpacker unpacker;
        for (; rest.size() >= 4; ++result.count) {
            const auto header = mp3::ParseHeader(rest);
            if (!header || rest.size() < static_cast<size_t>(header->FrameBytes)) {
                result.valid = result.valid && rest.size() == 128; // the closing tag
                break;
            }
            const auto frame = rest.first(header->FrameBytes);
            if (result.count == 0) {
                result.tag.assign(reinterpret_cast<const char *>(frame.data()) + header->DataOffset(), 4);
            } else {
                result.valid = unpacker.Add(frame).has_value() && result.valid;
                result.rates.insert(header->BitrateKbps);
            }
            rest = rest.subspan(header->FrameBytes);
        }
        return result;
    }

    TempDir dir;
    std::vector<std::string> lines;
};

// Lengths around where the last segment starts and ends, at a constant and a variable bit rate,
// and a sound that leaves no reservoir to spare at the joins: the joined file decodes to exactly
// the input's length (or the recording time's), every frame's reservoir reference stays within the
// frames kept, a constant bit rate stays constant (every frame at it, the header frame saying so as
// the one-core file's does), and size and sound are those of the file encoded on one core.
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
        bool square = false;
    } cases[] = {
        {lastStart + overlap - 1, {{"ab", "128000"}}, 0.01, 2},
        {lastStart + overlap, {{"ab", "128000"}}, 0.01, 3},
        {lastStart + overlap + 1, {{"ab", "320000"}}, 0.01, 3},
        {lastStart + 7 * kFrame + 577, {{"aq", "0"}}, 0.03, 3},
        {lastStart + 300 * kFrame + 1, {{"aq", "4"}}, 0.03, 3},
        {lastStart + 300 * kFrame + 1, {{"ab", "128000"}, {"t", "32.5"}}, 0.01, 3, 1433250},
        {180 * 44100, {{"ab", "128000"}}, 0.01, 12, 0, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.samples);
        SCOPED_TRACE(c.options.begin()->first + "=" + c.options.begin()->second);
        std::filesystem::remove(dir.File("music.wav"));
        lines.clear();
        const Result shared = Convert(c.samples, c.options, true, c.square),
                     alone = Convert(c.samples, c.options, false, c.square);
        const DecodedAudio source = DecodeAudio(dir.File("music.wav"));
        ASSERT_EQ(source.Frames(), static_cast<size_t>(c.samples));
        const size_t kept = c.kept > 0 ? static_cast<size_t>(c.kept) : source.Frames();
        EXPECT_EQ(shared.audio.Frames(), kept);
        EXPECT_EQ(alone.audio.Frames(), kept);
        const std::string told = "encoded in " + std::to_string(c.segments) + " segments";
        EXPECT_TRUE(
            std::any_of(lines.begin(), lines.end(), [&](auto &l) { return l.find(told) != std::string::npos; }));
        const Frames sharedFrames = Walk(shared.bytes), aloneFrames = Walk(alone.bytes);
        EXPECT_TRUE(sharedFrames.valid);
        EXPECT_TRUE(aloneFrames.valid);
        EXPECT_EQ(sharedFrames.count, aloneFrames.count);
        EXPECT_EQ(sharedFrames.tag, aloneFrames.tag);
        if (const auto rate = c.options.find("ab"); rate != c.options.end()) {
            EXPECT_EQ(sharedFrames.rates, std::set<int>{std::stoi(rate->second) / 1000});
            EXPECT_EQ(sharedFrames.tag, "Info");
        }
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

// Where no join frame near the planned one carries the reservoir over, a variable stream's join
// frame gets a higher bit rate; a constant one waits for the segment before to go on past its end
// and joins later at its own rate. Every frame's main data is still found where its
// main_data_begin points.
TEST(SegmentJoiner, AJoinThatCannotCarryTheReservoirRaisesOnlyAVariableStreamAndKeepsEveryReference)
{
    using TResult = mp3::TSegmentJoiner::TResult;
    std::vector<mp3::TLooseFrame> older, newer;
    for (int i = 0; i < 20; ++i) // the reservoir stays empty
        older.push_back(Frame(0, static_cast<uint8_t>(i)));
    for (int i = 4; i < 30; ++i) // needing 50 bytes of reservoir each up to frame 13, then giving them
        newer.push_back(Frame(i <= 13 ? 50 : -50, static_cast<uint8_t>(i)));
    const struct {
        bool variable;
        int extended; // older frames given one by one until the join is made
        int64_t join;
        int raisedFrame;
    } cases[] = {
        {true, 0, 12, 12}, // 104 bytes more carry two frames
        {false, 1, 14, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.variable);
        mp3::TSegmentJoiner joiner(511, 3, c.variable);
        size_t held = 13;
        std::vector<mp3::TLooseFrame> first(older.begin(), older.begin() + held), second = newer;
        std::vector<mp3::TJoinedFrame> done;
        ASSERT_EQ(joiner.Add(0, 0, first, done), TResult::Joined);
        TResult result;
        while ((result = joiner.Add(4, 10, second, done)) == TResult::NeedsMore && held < older.size())
            joiner.Extend({older[held++]});
        ASSERT_EQ(result, TResult::Joined);
        EXPECT_EQ(held - 13, static_cast<size_t>(c.extended));
        ASSERT_TRUE(joiner.Finish(done));
        EXPECT_EQ(joiner.Joins(), std::vector<int64_t>{c.join});
        EXPECT_EQ(joiner.RaisedJoins(), c.raisedFrame >= 0 ? 1 : 0);
        ASSERT_EQ(done.size(), 30u);
        std::vector<uint8_t> rooms;
        for (size_t i = 0; i < done.size(); ++i) {
            SCOPED_TRACE(i);
            const auto header = mp3::ParseHeader(done[i].Bytes);
            ASSERT_TRUE(header);
            EXPECT_EQ(header->BitrateKbps, static_cast<int>(i) == c.raisedFrame ? 160 : 128);
            const mp3::TSideInfo side = mp3::ReadSideInfo(*header, done[i].Bytes);
            const size_t start = rooms.size() - side.MainDataBegin;
            rooms.insert(rooms.end(), done[i].Bytes.begin() + header->DataOffset(), done[i].Bytes.end());
            const size_t length = (static_cast<int64_t>(i) < c.join ? older[i] : newer[i - 4]).MainData.size();
            ASSERT_LE(start + length, rooms.size());
            EXPECT_TRUE(
                std::all_of(rooms.begin() + start, rooms.begin() + start + length, [&](uint8_t b) { return b == i; }));
        }
    }
}

} // namespace
