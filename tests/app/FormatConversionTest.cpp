// End to end: a clip made at test time, records built by the options window, converted through
// the component, and the output opened again.
#include "app/RadioGroup.h"
#include "app/TrackBar.h"
#include "tests/app/AppTestSupport.h"
#include "tests/component/EventRecorder.h"

#include "component/FFmpegList.h"
#include "component/VeloxConverter.h"
#include "libs/AVEntryPoints.h"
#include "probe/AVProbe.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include <dlfcn.h>

#include <cmath>
#include <map>

using namespace app_testing;
namespace fs = std::filesystem;

namespace {

constexpr int kClipWidth = 176, kClipHeight = 144; // a size every encoder here takes (RealVideo 1: 16s)

struct Streams {
    std::string format, brand;
    std::string video;
    int width = 0, height = 0;
    std::string audio;
    int sampleRate = 0, channels = 0;
    double seconds = 0;
};

void PrintTo(const Streams &s, std::ostream *os)
{
    *os << s.format << " [" << s.brand << "] video " << (s.video.empty() ? "-" : s.video) << " " << s.width << "x"
        << s.height << ", audio " << (s.audio.empty() ? "-" : s.audio) << " " << s.sampleRate << " Hz " << s.channels
        << " ch, " << s.seconds << " s";
}

// What the file holds, read with the project's probe.
Streams Open(const std::string &path)
{
    TAVProbe probe;
    Streams s;
    if (!probe.LoadFile(path)) {
        ADD_FAILURE() << path << ": " << probe.LastErrMsg;
        return s;
    }
    const AVFormatContext *context = probe.FormatContext();
    s.format = probe.FormatName();
    if (const AVDictionaryEntry *brand = avlib::avutil.av_dict_get(context->metadata, "major_brand", nullptr, 0))
        s.brand = brand->value;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVCodecParameters *p = context->streams[i]->codecpar;
        const std::string name = avlib::avcodec.avcodec_get_name(p->codec_id);
        if (p->codec_type == AVMEDIA_TYPE_VIDEO && s.video.empty()) {
            s.video = name;
            s.width = p->width;
            s.height = p->height;
        } else if (p->codec_type == AVMEDIA_TYPE_AUDIO && s.audio.empty()) {
            s.audio = name;
            s.sampleRate = p->sample_rate;
            s.channels = p->ch_layout.nb_channels;
        }
    }
    if (context->duration > 0)
        s.seconds = context->duration / 1e6;
    return s;
}

class FormatConversionTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        ASSERT_TRUE(converter.LoadAVLib(LibraryDir(), true)) << converter.LastErrMsg();
        fs::create_directories(out);
        window->edtOutPath->setText(QString::fromStdString(out.string() + "/"));
    }
    void TearDown() override { avlib::avutil.av_log_set_callback(avlib::avutil.av_log_default_callback); }

    // Loads the input into the converter's probe, builds both records, converts; the output's name.
    std::string Convert(const std::string &input, const std::string &format = "")
    {
        if (!converter.AVProbe().LoadFile(input, format)) {
            ADD_FAILURE() << converter.AVProbe().LastErrMsg;
            return {};
        }
        window->LoadProbeInfo(&converter.AVProbe());
        return ConvertLoaded();
    }
    std::string ConvertLoaded()
    {
        TOutputOptions output;
        TInputOptions input;
        window->BuildOutputOptions(output);
        window->BuildInputOptions(input);
        converter.AVProbe().Close(); // as the main window does after each build
        EventRecorder events(converter);
        // The recorder goes with this call; the converter stays.
        struct Detach {
            TVeloxConverter &c;
            ~Detach()
            {
                c.OnLog = nullptr;
                c.OnTerminate = nullptr;
            }
        } detach{converter};
        const int index = converter.AddInput(input.FileName, &input);
        if (index < 0) {
            ADD_FAILURE() << "AddInput: " << converter.LastErrMsg();
            return {};
        }
        if (!converter.AddOutput(index, output.FileName, &output)) {
            ADD_FAILURE() << "AddOutput: " << converter.LastErrMsg();
            return {};
        }
        converter.Start(1);
        if (!WaitUntil([&] { return events.Finals() > 0; })) {
            ADD_FAILURE() << "the conversion did not end";
            converter.Stop();
            return {};
        }
        const std::vector<TaskEnd> ends = events.Ends();
        EXPECT_EQ(ends.size(), 2u);
        if (!ends.empty()) {
            EXPECT_TRUE(ends[0].finished && !ends[0].exception) << ends[0].message;
        }
        converter.ClearTasks();
        return output.FileName;
    }
    void Format(const QString &item) { window->grpFormats->SetItemIndex(window->grpFormats->Items().indexOf(item)); }

    TVeloxConverter converter;
    fs::path out = dir.Path() / "out";
};

struct FormatCase {
    const char *item;
    const char *suffix;
    Streams expected;
};

void PrintTo(const FormatCase &c, std::ostream *os) { *os << c.item; }

class EveryFormat : public FormatConversionTest, public ::testing::WithParamInterface<FormatCase> {};

const std::string kMov = "mov,mp4,m4a,3gp,3g2,mj2";

} // namespace

TEST_P(EveryFormat, AClipConvertsAndOpensAgainWithTheExpectedStreams)
{
    const FormatCase &c = GetParam();
    const std::string clip = dir.File("clip.avi");
    // Pictures that change every time, so that no encoder may skip one as a repeat.
    WriteClip(clip, 3.0, kClipWidth, kClipHeight, true, VideoPattern::Gradient);
    Format(c.item);
    const std::string output = Convert(clip);
    ASSERT_EQ(output, (out / (std::string("clip_(new)") + c.suffix)).string());
    ASSERT_TRUE(fs::exists(output));

    Streams got = Open(output);
    const Streams &e = c.expected;
    EXPECT_EQ(got.format, e.format);
    SCOPED_TRACE(::testing::PrintToString(got));
    if (!e.brand.empty()) {
        EXPECT_EQ(got.brand.substr(0, e.brand.size()), e.brand);
    }
    EXPECT_EQ(got.video, e.video);
    EXPECT_EQ(got.audio, e.audio);
    if (!e.video.empty()) {
        EXPECT_EQ(got.width, e.width);
        EXPECT_EQ(got.height, e.height);
        // The whole three seconds, as pictures that decode.
        const DecodedVideo pictures = DecodeVideo(output);
        ASSERT_GE(pictures.frames.size(), 40u);
        if (e.format == "mpegvideo") {
            // A bare stream carries no times: count the pictures of three seconds at 25 a second.
            EXPECT_NEAR(static_cast<double>(pictures.frames.size()), 75.0, 2.0);
        } else {
            EXPECT_GT(pictures.seconds.back() - pictures.seconds.front(), 2.8);
            EXPECT_LT(pictures.seconds.back() - pictures.seconds.front(), 3.1);
        }
    }
    if (!e.audio.empty()) {
        EXPECT_EQ(got.sampleRate, e.sampleRate);
        EXPECT_EQ(got.channels, e.channels);
        const DecodedAudio sound = DecodeAudio(output);
        EXPECT_EQ(sound.sampleRate, e.sampleRate);
        EXPECT_NEAR(static_cast<double>(sound.Frames()) / e.sampleRate, 3.0, 0.15) << "seconds of sound that decode";
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(FormatItems, EveryFormat, ::testing::Values(
    FormatCase{"VCD", "_vcd_auto.mpg", {"mpeg", "", "mpeg1video", 352, 288, "mp2", 44100, 2}},
    FormatCase{"SVCD", "_svcd_auto.mpg", {"mpeg", "", "mpeg2video", 480, 576, "mp2", 44100, 2}},
    FormatCase{"DVD", "_dvd_auto.mpg", {"mpeg", "", "mpeg2video", 720, 576, "ac3", 48000, 2}},
    FormatCase{"3GP", ".3gp", {kMov, "3gp", "h263", 128, 96, "aac", 8000, 1}},
    FormatCase{"AVI", ".avi", {"avi", "", "mpeg4", kClipWidth, kClipHeight, "mp3", 44100, 2}},
    FormatCase{"FLV", ".flv", {"flv", "", "flv1", kClipWidth, kClipHeight, "mp3", 22050, 2}},
    FormatCase{"iPod", "_ipod.mp4", {kMov, "isom", "mpeg4", 320, 240, "aac", 44100, 2}},
    FormatCase{"MKV", ".mkv", {"matroska,webm", "", "h264", kClipWidth, kClipHeight, "vorbis", 44100, 2}},
    FormatCase{"MOV", ".mov", {kMov, "qt", "h264", kClipWidth, kClipHeight, "aac", 44100, 2}},
    FormatCase{"MP4", ".mp4", {kMov, "isom", "h264", kClipWidth, kClipHeight, "aac", 44100, 2}},
    FormatCase{"OGG", ".ogg", {"ogg", "", "theora", kClipWidth, kClipHeight, "flac", 44100, 2}},
    FormatCase{"PSP", "_psp.mp4", {kMov, "MSNV", "mpeg4", kClipWidth, kClipHeight, "aac", 24000, 2}},
    FormatCase{"RM10", "_rv10.rm", {"rm", "", "rv10", kClipWidth, kClipHeight, "ac3", 44100, 2}},
    FormatCase{"RM20", "_rv20.rm", {"rm", "", "rv20", kClipWidth, kClipHeight, "ac3", 44100, 2}},
    FormatCase{"SWF", ".swf", {"swf", "", "flv1", kClipWidth, kClipHeight, "mp3", 22050, 2}},
    FormatCase{"WMV", ".wmv", {"asf", "", "wmv2", kClipWidth, kClipHeight, "wmav2", 44100, 2}},
    FormatCase{"M1V", ".m1v", {"mpegvideo", "", "mpeg1video", kClipWidth, kClipHeight, "", 0, 0}},
    FormatCase{"M2V", ".m2v", {"mpegvideo", "", "mpeg2video", kClipWidth, kClipHeight, "", 0, 0}},
    FormatCase{"AAC", ".aac", {"aac", "", "", 0, 0, "aac", 44100, 2}},
    FormatCase{"AC3", ".ac3", {"ac3", "", "", 0, 0, "ac3", 44100, 2}},
    FormatCase{"MP2", ".mp2", {"mp3", "", "", 0, 0, "mp2", 44100, 2}},
    FormatCase{"MP3", ".mp3", {"mp3", "", "", 0, 0, "mp3", 44100, 2}},
    FormatCase{"WAV", ".wav", {"wav", "", "", 0, 0, "pcm_s16le", 44100, 2}},
    FormatCase{"WMA", ".wma", {"asf", "", "", 0, 0, "wmav2", 44100, 2}}),
    [](const ::testing::TestParamInfo<FormatCase> &info) { return std::string(info.param.item); });
// clang-format on

TEST_F(FormatConversionTest, ARotationOfFortyFiveTurnsThePictureByFortyFiveDegrees)
{
    const std::string clip = dir.File("bands.avi");
    WriteClip(clip, 0.6, 160, 120, false);
    Format("AVI");
    window->chkRotate->setChecked(true);
    window->edtRotate->setText("45");
    const std::string output = Convert(clip);
    ASSERT_FALSE(output.empty());
    const DecodedVideo video = DecodeVideo(output);
    ASSERT_EQ(video.width, 160);
    ASSERT_EQ(video.height, 120);
    ASSERT_GE(video.frames.size(), 5u);
    const size_t frame = video.frames.size() / 2;

    // Share of pixels whose colour is the band the source pixel had, for a turn by angle
    // (clockwise, as the filter turns), away from band edges and the frame's border.
    auto agreement = [&](double angle) {
        const double c = std::cos(angle), s = std::sin(angle);
        const double bandWidth = 160.0 / kBandCount;
        int counted = 0, agreeing = 0;
        for (int y = 0; y < video.height; y += 2)
            for (int x = 0; x < video.width; x += 2) {
                const double u = x - (video.width - 1) / 2.0, v = y - (video.height - 1) / 2.0;
                // Near the centre every angle looks alike.
                if (u * u + v * v < 30 * 30)
                    continue;
                const double sx = c * u + s * v + (160 - 1) / 2.0;
                const double sy = -s * u + c * v + (120 - 1) / 2.0;
                if (sx < 4 || sx > 160 - 5 || sy < 4 || sy > 120 - 5)
                    continue;
                const double within = std::fmod(sx, bandWidth);
                if (within < 4 || within > bandWidth - 4)
                    continue;
                const int band = static_cast<int>(sx / bandWidth);
                const unsigned char *p = video.Pixel(frame, x, y);
                int nearest = 0, best = 1 << 30;
                for (int b = 0; b < kBandCount; ++b) {
                    int d = 0;
                    for (int k = 0; k < 3; ++k)
                        d += (p[k] - kBandColours[b][k]) * (p[k] - kBandColours[b][k]);
                    if (d < best) {
                        best = d;
                        nearest = b;
                    }
                }
                ++counted;
                agreeing += nearest == band;
            }
        return counted > 0 ? static_cast<double>(agreeing) / counted : 0.0;
    };
    const double pi = std::acos(-1.0);
    EXPECT_GT(agreement(45 * pi / 180), 0.97);
    // Within ten degrees of it: not by 45 radians (58 degrees), not the other way, not unturned.
    EXPECT_LT(agreement(35 * pi / 180), 0.9);
    EXPECT_LT(agreement(55 * pi / 180), 0.9);
    EXPECT_LT(agreement(45), 0.9);
    EXPECT_LT(agreement(-45 * pi / 180), 0.5);
    EXPECT_LT(agreement(0), 0.5);
}

TEST_F(FormatConversionTest, ACutClipConvertsOnlyTheSelectedSecond)
{
    // Pictures that show their own number; a key picture every 12.
    const std::string clip = dir.File("counter.avi");
    MediaRecipe recipe;
    recipe.seconds = 3.0;
    VideoTrack video;
    video.pattern = VideoPattern::Counter;
    recipe.video = video;
    recipe.audio = AudioTrack{};
    WriteMediaFile(clip, recipe);
    ASSERT_TRUE(converter.AVProbe().LoadFile(clip));
    window->LoadProbeInfo(&converter.AVProbe());
    const int64_t perSecond = 1000000 / window->PreviewStep;
    window->trcPreview->setValue(static_cast<int>(2 * perSecond));
    window->btnEndTime->click();
    window->trcPreview->setValue(static_cast<int>(perSecond));
    window->btnStartTime->click();
    window->chkCutClip->setChecked(true);
    Format("AVI");
    const std::string output = ConvertLoaded();
    ASSERT_FALSE(output.empty());

    // About the second from 1 s to 2 s: the engine starts at the key picture at or before the start.
    const DecodedVideo pictures = DecodeVideo(output);
    ASSERT_FALSE(pictures.frames.empty());
    const int first =
        ReadCounter(pictures.frames.front().data() + (pictures.height / 2) * pictures.width * 3, pictures.width);
    EXPECT_GE(first, 25 - 12);
    EXPECT_LE(first, 25);
    EXPECT_GE(pictures.frames.size(), 25u);
    EXPECT_LE(pictures.frames.size(), 25u + 12u);
    const DecodedAudio sound = DecodeAudio(output);
    const double seconds = static_cast<double>(sound.Frames()) / sound.sampleRate;
    EXPECT_GT(seconds, 0.95);
    EXPECT_LT(seconds, 1.5);
}

TEST_F(FormatConversionTest, NamesWithBlanksLettersBeyondAsciiAndLeadingDashesConvert)
{
    const fs::path folder = dir.Path() / "Öl und -Wasser";
    fs::create_directories(folder);
    out = dir.Path() / "out put ä";
    fs::create_directories(out);
    window->edtOutPath->setText(QString::fromStdString(out.string() + "/"));
    const std::string input = (folder / "-Lied über b.wav").string();
    WriteSineWav(input, 1.0);
    Format("MP3");
    const std::string output = Convert(input);
    EXPECT_EQ(output, (out / "-Lied über b_(new).mp3").string());
    const DecodedAudio sound = DecodeAudio(output);
    EXPECT_NEAR(static_cast<double>(sound.Frames()) / sound.sampleRate, 1.0, 0.1);

    // Beside the input, under a name with a colon.
    window->edtOutPath->setText(kSameAsInput);
    const std::string addressLike = (folder / "take:1.wav").string();
    WriteSineWav(addressLike, 0.5);
    Format("WAV");
    EXPECT_EQ(Convert(addressLike), (folder / "take:1_(new).wav").string());
    EXPECT_EQ(Open((folder / "take:1_(new).wav").string()).audio, "pcm_s16le");
}

TEST_F(FormatConversionTest, AHookFromAFolderWithBlanksGetsItsWordsWhole)
{
    const fs::path spaced = dir.Path() / "Mein Programm ä" / "vhook";
    fs::create_directories(spaced);
    const fs::path plugin = spaced / "watermark.so";
    fs::copy_file(RECORDING_HOOK, plugin);
    window->SetVhookFolder(spaced.string());
    ASSERT_TRUE(window->chkWaterMark->isEnabled());
    window->chkWaterMark->setChecked(true);
    window->chkWaterMarkMode->setChecked(true);

    const std::string clip = dir.File("clip.avi");
    WriteClip(clip, 0.4, 160, 120, false);
    Format("AVI");
    ASSERT_FALSE(Convert(clip).empty());

    void *library = dlopen(plugin.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr) << "the plug-in was not loaded";
    auto journalOf = reinterpret_cast<const char *(*)()>(dlsym(library, "HookJournal"));
    ASSERT_NE(journalOf, nullptr);
    const std::string journal = journalOf();
    dlclose(library);
    EXPECT_NE(journal.find("configure argc=5 [" + plugin.string() + "] [-f] [" + (spaced / "watermark.gif").string() +
                           "] [-m] [1] id="),
              std::string::npos)
        << journal;
    EXPECT_NE(journal.find("process id="), std::string::npos) << journal;
}
