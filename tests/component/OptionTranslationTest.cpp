#include "component/OptionTranslation.h"

#include "libs/AVEntryPoints.h"
#include "probe/AVProbe.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>

using namespace avlib;
using namespace option_translation;
using namespace testing_support;

namespace {

using YuvColour = std::array<int32_t, 3>;
using TextPairs = std::vector<std::pair<std::string, std::string>>;

// Sets the process's time zone for one test and puts the previous one back.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char *zone)
    {
        if (const char *previous = std::getenv("TZ"))
            previous_ = previous;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (previous_)
            setenv("TZ", previous_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone &) = delete;
    ScopedTimeZone &operator=(const ScopedTimeZone &) = delete;

private:
    std::optional<std::string> previous_;
};

// An engine with a prepared job, as the component has it when it applies a record.
class PreparedEngine : public TCustomFFmpeg {
public:
    PreparedEngine()
    {
        InitializeJob();
        LogCallback = [this](TCustomFFmpeg *, int, const std::string &line) {
            std::lock_guard<std::mutex> lock(linesLock_);
            lines_.push_back(line);
        };
    }
    ~PreparedEngine() override { StopAndWait(); } // before the log lines go
    bool Logged(const std::string &line) const
    {
        std::lock_guard<std::mutex> lock(linesLock_);
        return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
    }

private:
    mutable std::mutex linesLock_;
    std::vector<std::string> lines_;
};

class OptionTranslationTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureLibrariesLoaded(); }

    // The message of what applying the record raises, or "" when it raises nothing.
    static std::string OutputFailure(TCustomFFmpeg &engine, const TOutputOptions &options)
    {
        try {
            ApplyOutputOptions(engine, options, {});
        } catch (const std::exception &e) {
            return e.what();
        }
        return "";
    }
    static std::string InputFailure(TCustomFFmpeg &engine, const TInputOptions &options)
    {
        try {
            ApplyInputOptions(engine, options);
        } catch (const std::exception &e) {
            return e.what();
        }
        return "";
    }

    static const char *FormatName(const AVOutputFormat *format) { return format ? format->name : "(none)"; }
};

// One row per step of the translation table: the field set, the rest default.
struct StepCase {
    const char *step;
    std::function<void(TOutputOptions &)> set;
    std::function<void(const TCustomFFmpeg &)> expect;
};

TEST_F(OptionTranslationTest, EachOutputFieldReachesItsEngineSetting)
{
    const ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0"); // standard bias 300 minutes
    const auto video = [](const TCustomFFmpeg &e) { return e.CodecDefaults[mkVideo].get(); };
    const auto audio = [](const TCustomFFmpeg &e) { return e.CodecDefaults[mkAudio].get(); };
    const StepCase cases[] = {
        {"1 FileFormat", [](auto &o) { o.FileFormat = "mp3"; },
         [](auto &e) { EXPECT_STREQ(FormatName(e.OutputFormat), "mp3"); }},
        {"2 PacketSize", [](auto &o) { o.PacketSize = 2324; },
         [](auto &e) { EXPECT_EQ(e.FormatDefaults->packet_size, 2324u); }},
        {"3 MuxRate", [](auto &o) { o.MuxRate = 1411200; },
         [](auto &e) {
             EXPECT_EQ(e.MuxerOptions, (TextPairs{{"muxrate", "1411200"}}));
         }},
        {"4 MuxDelay", [](auto &o) { o.MuxDelay = 0.25f; }, [](auto &e) { EXPECT_EQ(e.MuxMaxDelay, 0.25f); }},
        {"5 MuxPreload", [](auto &o) { o.MuxPreload = 0.125f; }, [](auto &e) { EXPECT_EQ(e.MuxPreload, 0.125f); }},
        {"6 AudioCodec", [](auto &o) { o.AudioCodec = "mp2"; }, [](auto &e) { EXPECT_EQ(e.AudioCodecName, "mp2"); }},
        {"6 AudioCodec copy", [](auto &o) { o.AudioCodec = "copy"; },
         [](auto &e) { EXPECT_TRUE(e.AudioStreamCopy == 1 && !e.AudioCodecName); }},
        {"7 DisableAudio", [](auto &o) { o.DisableAudio = true; }, [](auto &e) { EXPECT_EQ(e.AudioDisable, 1); }},
        {"8 AudioVolume 0", [](auto &o) { o.AudioVolume = 0; }, [](auto &e) { EXPECT_EQ(e.AudioVolume, 0); }},
        {"9 AudioChannels", [](auto &o) { o.AudioChannels = 1; },
         [](auto &e) { EXPECT_TRUE(e.AudioChannels == 1 && e.AudioChannelsGiven); }},
        {"10 AudioSampleRate", [](auto &o) { o.AudioSampleRate = 22050; },
         [](auto &e) { EXPECT_TRUE(e.AudioSampleRate == 22050 && e.AudioSampleRateGiven); }},
        {"11 AudioBitrate", [](auto &o) { o.AudioBitrate = 96000; },
         [&](auto &e) { EXPECT_TRUE(audio(e)->bit_rate == 96000 && video(e)->bit_rate != 96000); }},
        {"12 AudioBitrateTolerance", [](auto &o) { o.AudioBitrateTolerance = 3000; },
         [&](auto &e) { EXPECT_TRUE(audio(e)->bit_rate_tolerance == 3000 && video(e)->bit_rate_tolerance != 3000); }},
        {"13 AudioLanguage", [](auto &o) { o.AudioLanguage = "eng"; },
         [](auto &e) { EXPECT_EQ(e.AudioLanguage, "eng"); }},
        {"14 AudioSyncMethod", [](auto &o) { o.AudioSyncMethod = 1; },
         [](auto &e) { EXPECT_EQ(e.AudioSyncMethod, 1); }},
        {"15 AudioTag", [](auto &o) { o.AudioTag = "mp4a"; },
         [](auto &e) { EXPECT_EQ(e.AudioCodecTag, MKTAG('m', 'p', '4', 'a')); }},
        {"16 VideoCodec", [](auto &o) { o.VideoCodec = "mpeg4"; },
         [](auto &e) { EXPECT_EQ(e.VideoCodecName, "mpeg4"); }},
        {"17 DisableVideo", [](auto &o) { o.DisableVideo = true; }, [](auto &e) { EXPECT_EQ(e.VideoDisable, 1); }},
        {"18 FrameRate", [](auto &o) { o.FrameRate = "30000/1001"; },
         [](auto &e) { EXPECT_TRUE(e.FrameRate.num == 30000 && e.FrameRate.den == 1001); }},
        {"19 FrameSize", [](auto &o) { o.FrameSize = "320x240"; },
         [](auto &e) { EXPECT_TRUE(e.FrameWidth == 320 && e.FrameHeight == 240); }},
        {"20 FrameAspectRatio", [](auto &o) { o.FrameAspectRatio = "4:3"; },
         [](auto &e) { EXPECT_FLOAT_EQ(e.FrameAspectRatio, 4.0f / 3.0f); }},
        // The frame size is applied first, so the crops have a frame to cut.
        {"21 CropTop", [](auto &o) { o.FrameSize = "320x240", o.CropTop = 16; },
         [](auto &e) { EXPECT_TRUE(e.CropTop == 16 && e.FrameHeight == 224); }},
        {"21 CropBottom", [](auto &o) { o.FrameSize = "320x240", o.CropBottom = 8; },
         [](auto &e) { EXPECT_TRUE(e.CropBottom == 8 && e.FrameHeight == 232); }},
        {"21 CropLeft", [](auto &o) { o.FrameSize = "320x240", o.CropLeft = 2; },
         [](auto &e) { EXPECT_TRUE(e.CropLeft == 2 && e.FrameWidth == 318); }},
        {"21 CropRight", [](auto &o) { o.FrameSize = "320x240", o.CropRight = 32; },
         [](auto &e) { EXPECT_TRUE(e.CropRight == 32 && e.FrameWidth == 288); }},
        {"22 PadTop", [](auto &o) { o.PadTop = 8; }, [](auto &e) { EXPECT_EQ(e.PadTop, 8); }},
        {"22 PadBottom", [](auto &o) { o.PadBottom = 4; }, [](auto &e) { EXPECT_EQ(e.PadBottom, 4); }},
        {"22 PadLeft", [](auto &o) { o.PadLeft = 2; }, [](auto &e) { EXPECT_EQ(e.PadLeft, 2); }},
        {"22 PadRight", [](auto &o) { o.PadRight = 10; }, [](auto &e) { EXPECT_EQ(e.PadRight, 10); }},
        // Y, U, V of pure red and pure blue by the engine's fixed-point coefficients.
        {"23 PadColor red", [](auto &o) { o.PadColor = 0x0000FF; },
         [](auto &e) {
             EXPECT_EQ(e.PadColor, (YuvColour{76, 85, 255}));
         }},
        {"23 PadColor blue", [](auto &o) { o.PadColor = 0xFF0000; },
         [](auto &e) {
             EXPECT_EQ(e.PadColor, (YuvColour{29, 255, 107}));
         }},
        {"23 PadColor with high byte", [](auto &o) { o.PadColor = 0xFF0000FF; },
         [](auto &e) {
             EXPECT_EQ(e.PadColor, (YuvColour{76, 85, 255}));
         }},
        {"24 GOPSize", [](auto &o) { o.GOPSize = 12; }, [&](auto &e) { EXPECT_EQ(video(e)->gop_size, 12); }},
        {"25 VideoBitrate", [](auto &o) { o.VideoBitrate = 800000; },
         [&](auto &e) { EXPECT_TRUE(video(e)->bit_rate == 800000 && audio(e)->bit_rate != 800000); }},
        {"26 VideoMaxRate", [](auto &o) { o.VideoMaxRate = 2000000; },
         [&](auto &e) { EXPECT_EQ(video(e)->rc_max_rate, 2000000); }},
        {"27 VideoMinRate", [](auto &o) { o.VideoMinRate = 100000; },
         [&](auto &e) { EXPECT_EQ(video(e)->rc_min_rate, 100000); }},
        {"28 VideoBitrateTolerance", [](auto &o) { o.VideoBitrateTolerance = 5000; },
         [&](auto &e) { EXPECT_EQ(video(e)->bit_rate_tolerance, 5000); }},
        {"29 VideoBufSize", [](auto &o) { o.VideoBufSize = 1835008; },
         [&](auto &e) { EXPECT_EQ(video(e)->rc_buffer_size, 1835008); }},
        {"30 VideoSyncMethod", [](auto &o) { o.VideoSyncMethod = 2; },
         [](auto &e) { EXPECT_EQ(e.VideoSyncMethod, 2); }},
        {"31 VideoTag", [](auto &o) { o.VideoTag = "XVID"; },
         [](auto &e) { EXPECT_EQ(e.VideoCodecTag, MKTAG('X', 'V', 'I', 'D')); }},
        {"32 VideoFilters", [](auto &o) { o.VideoFilters = "hflip"; },
         [](auto &e) { EXPECT_EQ(e.VideoFilters, "hflip"); }},
        {"33 DisableSubtitle", [](auto &o) { o.DisableSubtitle = true; },
         [](auto &e) { EXPECT_EQ(e.SubtitleDisable, 1); }},
        {"34 SubtitleLanguage", [](auto &o) { o.SubtitleLanguage = "fre"; },
         [](auto &e) { EXPECT_EQ(e.SubtitleLanguage, "fre"); }},
        {"35 CopyTimestamp", [](auto &o) { o.CopyTimestamp = true; }, [](auto &e) { EXPECT_EQ(e.CopyTs, 1); }},
        {"36 RecordingTime", [](auto &o) { o.RecordingTime = 2500; },
         [](auto &e) { EXPECT_TRUE(e.RecordingTime == 2500000 && e.TotalDuration == 2500); }},
        // Noon of 1970-01-01 on the clocks of a zone five hours behind UTC.
        {"37 Timestamp", [](auto &o) { o.Timestamp = 25569.5; },
         [](auto &e) { EXPECT_EQ(e.RecTimestamp, 43200 + 5 * 3600); }},
        {"38 Year", [](auto &o) { o.Year = 2009; }, [](auto &e) { EXPECT_EQ(e.Year, 2009); }},
        {"39 Track", [](auto &o) { o.Track = 7; }, [](auto &e) { EXPECT_EQ(e.Track, 7); }},
        {"40 Title", [](auto &o) { o.Title = "A title"; }, [](auto &e) { EXPECT_EQ(e.Title, "A title"); }},
        {"40 Author", [](auto &o) { o.Author = "An author"; }, [](auto &e) { EXPECT_EQ(e.Author, "An author"); }},
        {"40 Copyright", [](auto &o) { o.Copyright = "(c)"; }, [](auto &e) { EXPECT_EQ(e.Copyright, "(c)"); }},
        {"40 Comment", [](auto &o) { o.Comment = "Remark"; }, [](auto &e) { EXPECT_EQ(e.Comment, "Remark"); }},
        {"40 Album", [](auto &o) { o.Album = "Record"; }, [](auto &e) { EXPECT_EQ(e.Album, "Record"); }},
        {"40 Genre", [](auto &o) { o.Genre = "Jazz"; }, [](auto &e) { EXPECT_EQ(e.Genre, "Jazz"); }},
    };
    for (const StepCase &c : cases) {
        SCOPED_TRACE(c.step);
        PreparedEngine engine;
        TOutputOptions options;
        c.set(options);
        ApplyOutputOptions(engine, options, {});
        c.expect(engine);
        EXPECT_TRUE(engine.RejectedOptions.empty()) << engine.RejectedOptions[0].Name;
    }
}

TEST_F(OptionTranslationTest, UnsetAndZeroFieldsLeaveTheEngineAsItWas)
{
    TOutputOptions zeros; // every field applied only when > 0 at its boundary
    zeros.PacketSize = zeros.MuxRate = zeros.AudioChannels = zeros.AudioSampleRate = 0;
    zeros.AudioBitrate = zeros.AudioBitrateTolerance = zeros.GOPSize = zeros.VideoBitrate = 0;
    zeros.VideoMaxRate = zeros.VideoMinRate = zeros.VideoBitrateTolerance = zeros.VideoBufSize = 0;
    zeros.MuxDelay = zeros.MuxPreload = 0.0f;
    zeros.RecordingTime = zeros.Year = zeros.Track = 0;
    zeros.Target = 4; // no such target
    for (const TOutputOptions &options : {TOutputOptions{}, zeros}) {
        SCOPED_TRACE(options.PacketSize);
        PreparedEngine engine, untouched;
        const int64_t audioBitRate = engine.CodecDefaults[mkAudio]->bit_rate;
        ApplyOutputOptions(engine, options, {});
        EXPECT_TRUE(engine.GenericOptionNames.empty());
        EXPECT_TRUE(engine.MuxerOptions.empty());
        EXPECT_TRUE(engine.RejectedOptions.empty());
        EXPECT_EQ(engine.CodecDefaults[mkAudio]->bit_rate, audioBitRate);
        EXPECT_EQ(engine.OutputFormat, nullptr);
        EXPECT_EQ(engine.MuxMaxDelay, untouched.MuxMaxDelay);
        EXPECT_EQ(engine.MuxPreload, untouched.MuxPreload);
        EXPECT_EQ(engine.AudioVolume, 256);
        EXPECT_EQ(engine.AudioChannels, untouched.AudioChannels);
        EXPECT_FALSE(engine.AudioChannelsGiven);
        EXPECT_EQ(engine.AudioSampleRate, untouched.AudioSampleRate);
        EXPECT_FALSE(engine.AudioSampleRateGiven);
        EXPECT_EQ(engine.RecordingTime, INT64_MAX);
        EXPECT_EQ(engine.TotalDuration, -1);
        EXPECT_EQ(engine.RecTimestamp, 0); // Timestamp -1: no date
        EXPECT_EQ(engine.Year, 0);
        EXPECT_EQ(engine.Track, 0);
        EXPECT_EQ(engine.AudioDisable + engine.VideoDisable + engine.SubtitleDisable, 0);
        EXPECT_EQ(engine.FrameWidth, 0);
        EXPECT_EQ(engine.CropTop + engine.PadTop, 0);
        EXPECT_TRUE(engine.HookRanges.empty());
        EXPECT_FALSE(engine.CustomHookCallback);
        EXPECT_FALSE(engine.BeforeHookCallback);
        // The steps applied always: black padding is not the engine's reset colour.
        EXPECT_EQ(engine.PadColor, (YuvColour{0, 128, 128}));
    }
}

TEST_F(OptionTranslationTest, AudioBitrateBecomesTheGenericOptionAbOnlyWhenPositive)
{
    const struct {
        int32_t bitRate;
        bool applied;
    } cases[] = {{128000, true}, {1, true}, {0, false}, {-1, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bitRate);
        PreparedEngine engine;
        const int64_t defaultBitRate = engine.CodecDefaults[mkAudio]->bit_rate;
        TOutputOptions options;
        options.AudioBitrate = c.bitRate;
        ApplyOutputOptions(engine, options, {});
        // "ab" is the audio encoders' name for the bit rate.
        EXPECT_EQ(engine.GenericOptionNames, c.applied ? std::vector<std::string>{"ab"} : std::vector<std::string>{});
        EXPECT_EQ(engine.CodecDefaults[mkAudio]->bit_rate, c.applied ? c.bitRate : defaultBitRate);
    }
}

TEST_F(OptionTranslationTest, FieldsAppliedAlwaysOverrideExtOptionsAndTheOthersOnlyWhenSet)
{
    struct Case {
        const char *extOptions;
        std::function<void(TOutputOptions &)> set; // nothing: the defaults
        std::function<void(const TCustomFFmpeg &)> expect;
    };
    const auto defaults = [](TOutputOptions &) {};
    const Case cases[] = {
        {"async=2", defaults, [](auto &e) { EXPECT_EQ(e.AudioSyncMethod, 0); }},
        {"alang=eng", defaults, [](auto &e) { EXPECT_EQ(e.AudioLanguage, ""); }},
        {"padcolor=16777215", defaults,
         [](auto &e) {
             EXPECT_EQ(e.PadColor, (YuvColour{0, 128, 128}));
         }},
        {"vsync=2", defaults, [](auto &e) { EXPECT_EQ(e.VideoSyncMethod, -1); }},
        {"slang=eng", defaults, [](auto &e) { EXPECT_EQ(e.SubtitleLanguage, ""); }},
        {"copyts=1", defaults, [](auto &e) { EXPECT_EQ(e.CopyTs, 0); }},
        {"ab=64000", defaults, [](auto &e) { EXPECT_EQ(e.CodecDefaults[mkAudio]->bit_rate, 64000); }},
        {"ab=64000", [](auto &o) { o.AudioBitrate = 192000; },
         [](auto &e) { EXPECT_EQ(e.CodecDefaults[mkAudio]->bit_rate, 192000); }},
        {"vol=100", defaults, [](auto &e) { EXPECT_EQ(e.AudioVolume, 100); }},
        {"vol=100", [](auto &o) { o.AudioVolume = 300; }, [](auto &e) { EXPECT_EQ(e.AudioVolume, 300); }},
        {"t=5\r\ntitle=From lines", defaults,
         [](auto &e) {
             EXPECT_EQ(e.RecordingTime, 5000000);
             EXPECT_EQ(e.Title, "From lines");
         }},
        {"title=From lines", [](auto &o) { o.Title = "From record"; },
         [](auto &e) { EXPECT_EQ(e.Title, "From record"); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.extOptions);
        PreparedEngine engine;
        TOutputOptions options;
        options.ExtOptions = c.extOptions;
        c.set(options);
        ApplyOutputOptions(engine, options, {});
        c.expect(engine);
    }
}

TEST_F(OptionTranslationTest, MetaDataTextsEndAtTheirFirstNulOrTheirFieldSize)
{
    const std::string accent = "\xC3\xA9"; // one character, two bytes
    struct Case {
        const char *what;
        std::string title, genre;
        std::string expectedTitle, expectedGenre;
    };
    const Case cases[] = {
        {"NUL", std::string("abc\0def", 7), std::string("\0rock", 5), "abc", ""},
        {"exact size", std::string(512, 't'), std::string(32, 'g'), std::string(512, 't'), std::string(32, 'g')},
        {"too long", std::string(600, 't'), std::string(40, 'g'), std::string(512, 't'), std::string(32, 'g')},
        {"cut inside a character", std::string(511, 't') + accent, std::string(31, 'g') + accent, std::string(511, 't'),
         std::string(31, 'g')},
        {"character at the end", std::string(510, 't') + accent, std::string(30, 'g') + accent,
         std::string(510, 't') + accent, std::string(30, 'g') + accent},
        // Broken text whose field size holds no character start keeps nothing rather than a fragment.
        {"no character starts", "ok", std::string(40, '\x80'), "ok", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        PreparedEngine engine;
        TOutputOptions options;
        options.Title = c.title;
        options.Genre = c.genre;
        ApplyOutputOptions(engine, options, {});
        EXPECT_EQ(engine.Title, c.expectedTitle);
        EXPECT_EQ(engine.Genre, c.expectedGenre);
    }
}

TEST_F(OptionTranslationTest, TargetsTakeTheirNormOrTheFallback)
{
    struct Case {
        int32_t target, norm, defaultNorm;
        const char *frameRate; // decides an automatic norm when it is 25 or an NTSC rate
        const char *format;
        int width, height;
    };
    const Case cases[] = {
        {1, 1, 1, "", "vcd", 352, 288},    {1, 2, 1, "", "vcd", 352, 240},
        {2, 0, 1, "25", "svcd", 480, 576}, {2, 0, 1, "30000/1001", "svcd", 480, 480},
        {3, 0, 1, "10", "dvd", 720, 576},  {3, 0, 2, "10", "dvd", 720, 480},
        {3, 7, 7, "10", "dvd", 720, 480},  {3, 2, 1, "25", "dvd", 720, 480},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.target) + " " + std::to_string(c.norm) + " " + std::to_string(c.defaultNorm));
        PreparedEngine engine;
        TOutputOptions options;
        options.Target = c.target;
        options.TargetNorm = c.norm;
        options.DefaultNorm = c.defaultNorm;
        options.FrameRate = c.frameRate;
        ApplyOutputOptions(engine, options, {});
        EXPECT_STREQ(FormatName(engine.OutputFormat), c.format);
        EXPECT_EQ(engine.FrameWidth, c.width);
        EXPECT_EQ(engine.FrameHeight, c.height);
    }
}

TEST_F(OptionTranslationTest, RefusedFieldsRaiseTheEngineMessage)
{
    struct Case {
        std::function<void(TOutputOptions &)> set;
        const char *message;
    };
    const Case cases[] = {
        {[](auto &o) { o.FileFormat = "nosuchformat"; }, "Unknown output format: nosuchformat"},
        {[](auto &o) { o.AudioTag = "abc"; }, "audio tag parameter must be 4 chars"},
        {[](auto &o) { o.VideoTag = "abcde"; }, "video tag parameter must be 4 chars"},
        {[](auto &o) { o.FrameSize = "huge"; }, "Incorrect frame size"},
        {[](auto &o) { o.FrameSize = "321x240"; }, "Frame size must be a multiple of 2"},
        {[](auto &o) { o.FrameRate = "fast"; }, "Incorrect frame rate"},
        {[](auto &o) { o.FrameSize = "320x240", o.CropTop = 3; }, "Top crop size must be a multiple of 2"},
        // 0 is a crop to apply, and with no frame size yet it is outside the frame.
        {[](auto &o) { o.CropLeft = 0; }, "Horizontal crop dimensions are outside the range of the original image.\n"
                                          "Remember to crop first and scale second."},
        {[](auto &o) { o.PadLeft = 5; }, "Left pad size must be a multiple of 2"},
        {[](auto &o) { o.Target = 1; }, "frame_rate is invalid."}, // automatic norm, no rate to go by
        {[](auto &o) { o.ExtOptions = "threads=2"; }, "TODO: option - threads"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        PreparedEngine engine;
        TOutputOptions options;
        c.set(options);
        EXPECT_EQ(OutputFailure(engine, options), c.message);
    }

    PreparedEngine engine;
    TInputOptions input;
    input.FileFormat = "nosuchformat";
    EXPECT_EQ(InputFailure(engine, input), "Unknown input format: nosuchformat");
}

TEST_F(OptionTranslationTest, ARefusedExtOptionLineStopsTheFieldsAfterIt)
{
    PreparedEngine engine;
    TOutputOptions options;
    options.ExtOptions = "vol=100\nthreads=2\nvol=50";
    options.DisableAudio = true;
    EXPECT_EQ(OutputFailure(engine, options), "TODO: option - threads");
    EXPECT_EQ(engine.AudioVolume, 100);
    EXPECT_EQ(engine.AudioDisable, 0);
}

TEST_F(OptionTranslationTest, PgmyuvIsWrittenAndReadAsImage2)
{
    PreparedEngine engine;
    TOutputOptions output;
    output.FileFormat = "pgmyuv";
    ApplyOutputOptions(engine, output, {});
    EXPECT_STREQ(FormatName(engine.OutputFormat), "image2");
    EXPECT_TRUE(engine.Logged("pgmyuv format is deprecated, use image2"));

    PreparedEngine reader;
    TInputOptions input;
    input.FileFormat = "pgmyuv";
    ApplyInputOptions(reader, input);
    ASSERT_NE(reader.InputFormat, nullptr);
    EXPECT_STREQ(reader.InputFormat->name, "image2");
    EXPECT_TRUE(reader.Logged("pgmyuv format is deprecated, use image2"));
}

TEST_F(OptionTranslationTest, InputFieldsReachTheEngineWhenSet)
{
    struct Case {
        const char *what;
        std::function<void(TInputOptions &)> set;
        std::function<void(const TCustomFFmpeg &)> expect;
    };
    const auto inputFormat = [](const TCustomFFmpeg &e) { return e.InputFormat ? e.InputFormat->name : "(none)"; };
    const Case cases[] = {
        {"defaults", [](auto &) {},
         [](auto &e) {
             EXPECT_EQ(e.InputFormat, nullptr);
             EXPECT_EQ(e.StartTime, 0);
             EXPECT_EQ(e.ProgramId, 0);
         }},
        {"format", [](auto &o) { o.FileFormat = "wav"; }, [&](auto &e) { EXPECT_STREQ(inputFormat(e), "wav"); }},
        {"format overrides f", [](auto &o) { o.FileFormat = "wav", o.ExtOptions = "f=mp3"; },
         [&](auto &e) { EXPECT_STREQ(inputFormat(e), "wav"); }},
        {"start time", [](auto &o) { o.StartTime = 1500; }, [](auto &e) { EXPECT_EQ(e.StartTime, 1500000); }},
        {"start time 1 ms", [](auto &o) { o.StartTime = 1; }, [](auto &e) { EXPECT_EQ(e.StartTime, 1000); }},
        {"start time 0 keeps ss", [](auto &o) { o.StartTime = 0, o.ExtOptions = "ss=2"; },
         [](auto &e) { EXPECT_EQ(e.StartTime, 2000000); }},
        {"start time overrides ss", [](auto &o) { o.StartTime = 500, o.ExtOptions = "ss=2"; },
         [](auto &e) { EXPECT_EQ(e.StartTime, 500000); }},
        {"program", [](auto &o) { o.ProgramID = 3; }, [](auto &e) { EXPECT_EQ(e.ProgramId, 3); }},
        {"program 0 overrides programid", [](auto &o) { o.ProgramID = 0, o.ExtOptions = "programid=5"; },
         [](auto &e) { EXPECT_EQ(e.ProgramId, 0); }},
        {"program -1 keeps programid", [](auto &o) { o.ExtOptions = "programid=5"; },
         [](auto &e) { EXPECT_EQ(e.ProgramId, 5); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        PreparedEngine engine;
        TInputOptions options;
        c.set(options);
        ApplyInputOptions(engine, options);
        c.expect(engine);
    }
}

TEST_F(OptionTranslationTest, HookRangesAreReadInTextOrder)
{
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    struct Case {
        const char *text;
        std::vector<std::pair<int64_t, int64_t>> ranges; // microseconds
    };
    const Case cases[] = {
        {"0-5000,10000-15000", {{0, 5000000}, {10000000, 15000000}}},
        {"1000-2000,500-800", {{1000000, 2000000}, {500000, 800000}}},
        {"-3000", {{-1000, 3000000}}},
        {"5000", {}},
        {"", {}},
        {"garbage", {}},
        {"abc-def", {}},
        {"abc-3000", {{-1000, 3000000}}},
        {"1.5-2000", {{-1000, 2000000}}},
        {"3000-1000", {}},
        {"0-0", {{0, 0}}},
        {"1-2-3", {}},
        {"  100 - 200 , ,300-400,  ", {{100000, 200000}, {300000, 400000}}},
        {"9223372036854775807-9223372036854775807", {{kMax, kMax}}},
        {"1-99999999999999999999", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::pair<int64_t, int64_t>> ranges;
        for (const THookRange &range : ParseHookRanges(c.text))
            ranges.emplace_back(range.Start, range.End);
        EXPECT_EQ(ranges, c.ranges);
    }
}

TEST_F(OptionTranslationTest, HookChoiceWiresExactlyOneOfTheThree)
{
    int customCalls = 0, beforeCalls = 0;
    THookWiring hooks;
    hooks.CustomHook = [&](TCustomFFmpeg *, TBitmap24 *, int, int64_t, bool &, bool &) { ++customCalls; };
    hooks.BeforeHook = [&](TCustomFFmpeg *, THookAction &, int64_t) { ++beforeCalls; };
    struct Case {
        bool custom, before;
        bool customWired, beforeWired;
        size_t ranges;
    };
    const Case cases[] = {{true, true, true, false, 0},
                          {true, false, true, false, 0},
                          {false, true, false, true, 0},
                          {false, false, false, false, 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.custom) + std::to_string(c.before));
        PreparedEngine engine;
        TOutputOptions options;
        options.CustomHook = c.custom;
        options.BeforeHook = c.before;
        options.VideoHookPTSs = "1000-2000,500-800";
        ApplyOutputOptions(engine, options, hooks);
        EXPECT_EQ(static_cast<bool>(engine.CustomHookCallback), c.customWired);
        EXPECT_EQ(static_cast<bool>(engine.BeforeHookCallback), c.beforeWired);
        ASSERT_EQ(engine.HookRanges.size(), c.ranges);
        EXPECT_EQ(engine.HookRangeCount, static_cast<int32_t>(c.ranges));
        if (c.ranges) { // the engine orders them by their end
            EXPECT_EQ(engine.HookRanges[0].Start, 500000);
            EXPECT_EQ(engine.HookRanges[0].End, 800000);
            EXPECT_EQ(engine.HookRanges[1].Start, 1000000);
            EXPECT_EQ(engine.HookRanges[1].End, 2000000);
        }
        // The wired callback is the component's own.
        customCalls = beforeCalls = 0;
        bool update = false, stop = false;
        THookAction action = haContinue;
        if (engine.CustomHookCallback)
            engine.CustomHookCallback(&engine, nullptr, 1, 0, update, stop);
        if (engine.BeforeHookCallback)
            engine.BeforeHookCallback(&engine, action, 0);
        EXPECT_EQ(customCalls, c.customWired ? 1 : 0);
        EXPECT_EQ(beforeCalls, c.beforeWired ? 1 : 0);
    }
}

TEST_F(OptionTranslationTest, DateTimesBecomeSecondsSince1970WithTheStandardBias)
{
    struct Case {
        double dateTime;
        int bias;
        int64_t seconds;
    };
    const Case cases[] = {
        {25569.5, 0, 43200},           {25569.0, -60, -3600},         {25569.0, 330, 19800},
        {44378.0, 300, 1625115600}, // 2021-07-01 00:00 at UTC-5, daylight not applied
        {25569.0 + 0.4 / 86400, 0, 0}, {25569.0 + 0.6 / 86400, 0, 1}, {1e300, 0, std::numeric_limits<int64_t>::max()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.dateTime);
        EXPECT_EQ(UnixSecondsFromDateTime(c.dateTime, c.bias), c.seconds);
    }
}

TEST_F(OptionTranslationTest, TheBiasIsTheZoneStandardOffsetWhateverTheSeason)
{
    const struct {
        const char *zone;
        int bias;
    } cases[] = {{"UTC0", 0},
                 {"EST5EDT,M3.2.0,M11.1.0", 300},
                 {"CET-1CEST,M3.5.0,M10.5.0/3", -60},
                 {"IST-5:30", -330},
                 {"NZST-12NZDT,M9.5.0,M4.1.0/3", -720}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.zone);
        const ScopedTimeZone zone(c.zone);
        EXPECT_EQ(StandardTimeZoneBiasMinutes(), c.bias);
    }
}

TEST_F(OptionTranslationTest, NowIsTheLocalClock)
{
    for (const auto &[zone, offsetSeconds] : {std::pair{"UTC0", 0}, std::pair{"EST5", -5 * 3600}}) {
        SCOPED_TRACE(zone);
        const ScopedTimeZone pinned(zone);
        const std::time_t before = std::time(nullptr);
        const double now = LocalDateTimeNow();
        const std::time_t after = std::time(nullptr);
        const double utc = (now - 25569.0) * 86400.0 - offsetSeconds;
        EXPECT_GE(utc, static_cast<double>(before) - 0.01);
        EXPECT_LE(utc, static_cast<double>(after) + 1.01);
    }
}

TEST_F(OptionTranslationTest, TimestampZeroIsNowAndNegativeIsUnset)
{
    const ScopedTimeZone zone("UTC0");
    PreparedEngine now, unset;
    TOutputOptions options;
    options.Timestamp = 0.0;
    const std::time_t before = std::time(nullptr);
    ApplyOutputOptions(now, options, {});
    const std::time_t after = std::time(nullptr);
    EXPECT_GE(now.RecTimestamp, before);
    EXPECT_LE(now.RecTimestamp, after + 1); // rounded to the nearest second

    options.Timestamp = -1.0;
    unset.RecTimestamp = 12345; // as "timestamp" in ExtOptions would have set it
    ApplyOutputOptions(unset, options, {});
    EXPECT_EQ(unset.RecTimestamp, 12345);
}

// End to end: the engine set up only through the two records.
class OptionTranslationConversionTest : public OptionTranslationTest {
protected:
    // The engine was made before the libraries were sure to be loaded: its job is prepared again.
    void SetUp() override
    {
        OptionTranslationTest::SetUp();
        engine.InitializeJob();
    }

    // Opens input with the input record, adds output with the output record, runs the job here.
    bool Convert(const std::string &input, const TInputOptions &in, const std::string &output,
                 const TOutputOptions &out)
    {
        ApplyInputOptions(engine, in);
        if (!engine.AddInputFile(input)) {
            ADD_FAILURE() << engine.LastErrorText;
            return false;
        }
        ApplyOutputOptions(engine, out, {});
        if (!engine.AddOutputFile(output)) {
            ADD_FAILURE() << engine.LastErrorText;
            return false;
        }
        engine.Start(false, tpNormal);
        EXPECT_EQ(engine.ErrorOccurred, 0) << engine.ErrorMessage;
        return engine.Finished != 0;
    }

    TempDir dir;
    PreparedEngine engine;
};

TEST_F(OptionTranslationConversionTest, WavToMonoMp3At192Kbits)
{
    WriteSineWav(dir.File("in.wav"), 2.0);
    TOutputOptions out;
    out.AudioChannels = 1;
    out.AudioBitrate = 192000;
    out.Title = "Tone";
    out.Author = "Test bench";
    out.Track = 3;
    ASSERT_TRUE(Convert(dir.File("in.wav"), {}, dir.File("out.mp3"), out));

    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(dir.File("out.mp3"))) << probe.LastErrMsg;
    ASSERT_EQ(probe.FormatContext()->nb_streams, 1u);
    const AVCodecParameters *stream = probe.FormatContext()->streams[0]->codecpar;
    EXPECT_EQ(stream->codec_id, AV_CODEC_ID_MP3);
    // The first frame of the file is the encoder's information frame, whose rate says nothing;
    // the file's size over its length does.
    TAVFormatInfo info;
    probe.GetFormatInfo(info);
    EXPECT_NEAR(info.BitRate, 192000, 6000);
    EXPECT_EQ(info.Title, "Tone");
    EXPECT_EQ(info.Author, "Test bench");
    EXPECT_EQ(info.Track, 3);
    probe.Close();

    const DecodedAudio decoded = DecodeAudio(dir.File("out.mp3"));
    EXPECT_EQ(decoded.channels, 1);
    EXPECT_EQ(decoded.sampleRate, 44100);
    EXPECT_NEAR(static_cast<double>(decoded.Frames()), 2.0 * 44100, 0.05 * 44100);
}

TEST_F(OptionTranslationConversionTest, Mp3ToWavAt22050HzForTheRecordingTime)
{
    WriteSineMp3(dir.File("in.mp3"), 3.0);
    TOutputOptions out;
    out.AudioSampleRate = 22050;
    out.RecordingTime = 1000;
    ASSERT_TRUE(Convert(dir.File("in.mp3"), {}, dir.File("out.wav"), out));
    EXPECT_EQ(engine.TotalDuration, 1000);

    const DecodedAudio decoded = DecodeAudio(dir.File("out.wav"));
    EXPECT_EQ(decoded.sampleRate, 22050);
    EXPECT_EQ(decoded.channels, 2);
    // One second, give or take an MP3 frame at either end.
    EXPECT_NEAR(static_cast<double>(decoded.Frames()), 22050.0, 1200.0);
}

TEST_F(OptionTranslationConversionTest, VideoFileToMp3WithTheVideoDisabled)
{
    MediaRecipe recipe;
    recipe.format = "avi";
    recipe.seconds = 2.0;
    recipe.video = VideoTrack{};
    recipe.audio = AudioTrack{"mp2", 44100, 2};
    WriteMediaFile(dir.File("clip.avi"), recipe);

    TInputOptions in;
    in.FileFormat = "avi";
    TOutputOptions out;
    out.DisableVideo = true;
    out.AudioCodec = "libmp3lame";
    ASSERT_TRUE(Convert(dir.File("clip.avi"), in, dir.File("sound.mp3"), out));

    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(dir.File("sound.mp3"))) << probe.LastErrMsg;
    ASSERT_EQ(probe.FormatContext()->nb_streams, 1u);
    EXPECT_EQ(probe.FormatContext()->streams[0]->codecpar->codec_id, AV_CODEC_ID_MP3);
    probe.Close();
    const DecodedAudio decoded = DecodeAudio(dir.File("sound.mp3"));
    EXPECT_EQ(decoded.channels, 2);
    EXPECT_NEAR(static_cast<double>(decoded.Frames()), 2.0 * 44100, 0.05 * 44100);
}

} // namespace
