#include "tests/engine/OptionsFixture.h"
#include "tests/support/HookJournal.h"

#include <filesystem>
#include <regex>

using namespace avlib;

TEST_F(OptionsTest, CropShrinksTheFrameOrRefusesOutsideIt)
{
    engine.FrameWidth = 640;
    engine.FrameHeight = 480;
    struct Case {
        const char *keyword;
        const char *value;
        const char *message; // "" when accepted
        int width, height;
    };
    const std::string vertical = "Vertical crop dimensions are outside the range of the original image.\n"
                                 "Remember to crop first and scale second.";
    const std::string horizontal = "Horizontal crop dimensions are outside the range of the original image.\n"
                                   "Remember to crop first and scale second.";
    const Case cases[] = {
        {"croptop", "-1", "", 640, 480},
        {"croptop", "3", "Top crop size must be a multiple of 2", 640, 480},
        {"croptop", "480", vertical.c_str(), 640, 480},
        {"croptop", "16", "", 640, 464},
        {"cropbottom", "7", "Bottom crop size must be a multiple of 2", 640, 464},
        {"cropbottom", "464", vertical.c_str(), 640, 464},
        {"cropbottom", "8", "", 640, 456},
        {"cropleft", "1", "Left crop size must be a multiple of 2", 640, 456},
        {"cropleft", "640", horizontal.c_str(), 640, 456},
        {"cropleft", "32", "", 608, 456},
        {"cropright", "-9", "", 608, 456},
        {"cropright", "9", "Right crop size must be a multiple of 2", 608, 456},
        {"cropright", "606", "", 2, 456},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Rejection<FFMpegException>(c.keyword, c.value), c.message) << c.keyword << "=" << c.value;
        EXPECT_EQ(engine.FrameWidth, c.width) << c.keyword << "=" << c.value;
        EXPECT_EQ(engine.FrameHeight, c.height) << c.keyword << "=" << c.value;
    }
    EXPECT_EQ((std::array{engine.CropTop, engine.CropBottom, engine.CropLeft, engine.CropRight}),
              (std::array{16, 8, 32, 606}));
    EXPECT_EQ(Rejection<EConvertError>("croptop", "ten"), "'ten' is not a valid integer value");
}

TEST_F(OptionsTest, PaddingMustBeEven)
{
    struct Case {
        const char *keyword;
        const char *value;
        const char *message;
    };
    const Case cases[] = {
        {"padtop", "3", "Top pad size must be a multiple of 2"},
        {"padbottom", "5", "Bottom pad size must be a multiple of 2"},
        {"padleft", "7", "Left pad size must be a multiple of 2"},
        {"padright", "9", "Right pad size must be a multiple of 2"},
        {"padtop", "10", ""},
        {"padbottom", "12", ""},
        {"padleft", "-1", ""},
        {"padright", "14", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Rejection<FFMpegException>(c.keyword, c.value), c.message) << c.keyword << "=" << c.value;
    EXPECT_EQ((std::array{engine.PadTop, engine.PadBottom, engine.PadLeft, engine.PadRight}),
              (std::array{10, 12, 0, 14}));
}

TEST_F(OptionsTest, PadColourIsConvertedToYuv)
{
    const std::pair<const char *, std::array<int32_t, 3>> cases[] = {
        {"0", {0, 128, 128}},        {"16777215", {255, 128, 128}}, {"$0000FF", {76, 85, 255}}, // red
        {"65280", {150, 43, 21}},                                                               // green
        {"$FF0000", {29, 255, 107}},                                                            // blue
    };
    for (const auto &[value, yuv] : cases) {
        engine.SetOption("padcolor", value);
        EXPECT_EQ(engine.PadColor, yuv) << value;
    }
}

TEST_F(OptionsTest, VideoQuantiserRange)
{
    for (const char *value : {"0", "-1", "255.5", "1000"}) {
        EXPECT_EQ(Rejection<FFMpegException>("qscale", value), "qscale must be > 0.0 and <= 255") << value;
        EXPECT_EQ(engine.VideoQScale, 0.0f);
    }
    engine.SetOption("qscale", "255");
    EXPECT_EQ(engine.VideoQScale, 255.0f);
    engine.SetOption("qscale", "0.5");
    EXPECT_EQ(engine.VideoQScale, 0.5f);
}

TEST_F(OptionsTest, CodecNamesAndStreamCopy)
{
    engine.SetOption("vcodec", "mpeg4");
    engine.SetOption("acodec", "libmp3lame");
    engine.SetOption("scodec", "mov_text");
    EXPECT_EQ(engine.VideoCodecName, "mpeg4");
    EXPECT_EQ(engine.AudioCodecName, "libmp3lame");
    EXPECT_EQ(engine.SubtitleCodecName, "mov_text");
    engine.SetOption("vcodec", "");
    EXPECT_EQ(engine.VideoCodecName, "mpeg4");
    // Unknown names are kept: they are looked up when a stream needs them.
    engine.SetOption("acodec", "nosuchcodec");
    EXPECT_EQ(engine.AudioCodecName, "nosuchcodec");
    for (const char *keyword : {"vcodec", "acodec", "scodec"})
        engine.SetOption(keyword, "copy");
    EXPECT_FALSE(engine.VideoCodecName);
    EXPECT_FALSE(engine.AudioCodecName);
    EXPECT_FALSE(engine.SubtitleCodecName);
    EXPECT_EQ((std::array{engine.VideoStreamCopy, engine.AudioStreamCopy, engine.SubtitleStreamCopy}),
              (std::array{1, 1, 1}));
}

TEST_F(OptionsTest, TagsAreFourCharacters)
{
    engine.SetOption("vtag", "XVID");
    EXPECT_EQ(engine.VideoCodecTag, uint32_t('X') | uint32_t('V') << 8 | uint32_t('I') << 16 | uint32_t('D') << 24);
    engine.SetOption("atag", "mp4a");
    EXPECT_EQ(engine.AudioCodecTag, 0x6134706Du);
    engine.SetOption("vtag", "");
    EXPECT_EQ(engine.VideoCodecTag, 0x44495658u);
    EXPECT_EQ(Rejection<EAssertionFailed>("vtag", "DIVX5"), "video tag parameter must be 4 chars");
    EXPECT_EQ(Rejection<EAssertionFailed>("atag", "mp3"), "audio tag parameter must be 4 chars");
    EXPECT_EQ(engine.VideoCodecTag, 0x44495658u);
    EXPECT_EQ(engine.AudioCodecTag, 0x6134706Du);
}

TEST_F(OptionsTest, PassIsOneOrTwo)
{
    engine.SetOption("pass", "2");
    EXPECT_EQ(engine.DoPass, 2);
    for (const char *value : {"3", "0", "-1"})
        EXPECT_EQ(Rejection<FFMpegException>("pass", value), "pass number can be only 1 or 2") << value;
    EXPECT_EQ(Rejection<EConvertError>("pass", "first"), "'first' is not a valid integer value");
    EXPECT_EQ(engine.DoPass, 2);
}

TEST_F(OptionsTest, VideoStatisticsFileIsNamedAfterTheClock)
{
    engine.SetOption("vstats", "");
    ASSERT_TRUE(engine.VstatsFileName);
    const std::string folder = ExecutableDir() + "/";
    ASSERT_EQ(engine.VstatsFileName->substr(0, folder.size()), folder);
    EXPECT_TRUE(std::regex_match(engine.VstatsFileName->substr(folder.size()),
                                 std::regex("vstats_([01][0-9]|2[0-3])[0-5][0-9][0-5][0-9]\\.log")))
        << *engine.VstatsFileName;
}

TEST_F(OptionsTest, QuantiserMatrices)
{
    std::string full;
    for (int i = 1; i <= 64; ++i)
        full += (i > 1 ? "," : "") + std::to_string(i);
    engine.SetOption("intra_matrix", full + ",99 trailing text");
    ASSERT_TRUE(engine.IntraMatrix);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ((*engine.IntraMatrix)[i], i + 1);

    std::string fours;
    for (int i = 3; i < 64; ++i)
        fours += ",4";
    engine.SetOption("inter_matrix", " 8, 255 ,16x" + fours);
    ASSERT_TRUE(engine.InterMatrix);
    EXPECT_EQ((*engine.InterMatrix)[0], 8);
    EXPECT_EQ((*engine.InterMatrix)[1], 255);
    EXPECT_EQ((*engine.InterMatrix)[2], 16);
    EXPECT_EQ((*engine.InterMatrix)[3], 4);
    EXPECT_EQ((*engine.InterMatrix)[63], 4);

    // Coefficients are 1 to 255: a zero, which the encoder divides by, is refused like a missing one.
    for (const char *bad : {"8,0", "8,-2", "8,256", "8,,9"}) {
        const std::string text = std::string(bad) + fours;
        EXPECT_EQ(Rejection<FFMpegException>("inter_matrix", text),
                  "Syntax error in matrix \"" + text + "\" at coeff 1");
    }

    const std::string ten = "1,2,3,4,5,6,7,8,9,10";
    EXPECT_EQ(Rejection<FFMpegException>("intra_matrix", ten), "Syntax error in matrix \"" + ten + "\" at coeff 9");
    // The failed option has already replaced the table with what it read.
    ASSERT_TRUE(engine.IntraMatrix);
    EXPECT_EQ((*engine.IntraMatrix)[9], 10);
    EXPECT_EQ((*engine.IntraMatrix)[10], 0);
    EXPECT_EQ(Rejection<FFMpegException>("inter_matrix", ""), "Syntax error in matrix \"\" at coeff 0");
}

TEST_F(OptionsTest, BitstreamFiltersJoinThePendingChains)
{
    engine.SetOption("vbsf", "dump_extra");
    engine.SetOption("vbsf", "remove_extra=k=keyframe");
    engine.SetOption("absf", "aac_adtstoasc");
    engine.SetOption("sbsf", "null");
    engine.SetOption("absf", "");
    engine.SetOption("absf", "=noise");
    ASSERT_EQ(engine.VideoBitstreamFilters.size(), 2u);
    EXPECT_STREQ(engine.VideoBitstreamFilters[0]->name, "dump_extra");
    EXPECT_STREQ(engine.VideoBitstreamFilters[1]->name, "remove_extra");
    ASSERT_EQ(engine.AudioBitstreamFilters.size(), 1u);
    EXPECT_STREQ(engine.AudioBitstreamFilters[0]->name, "aac_adtstoasc");
    ASSERT_EQ(engine.SubtitleBitstreamFilters.size(), 1u);
    EXPECT_EQ(Rejection<FFMpegException>("vbsf", " nosuch=1 "), "Unknown bitstream filter nosuch=1");
    EXPECT_EQ(engine.VideoBitstreamFilters.size(), 2u);
}

TEST_F(OptionsTest, VideoHooksAreAddedOrRefused)
{
    const size_t mark = RecordingHookJournal().size();
    engine.SetOption("vhook", std::string(RECORDING_HOOK) + "  -set   5");
    EXPECT_EQ(engine.UsingVhook, 1);
    EXPECT_EQ(engine.VhookList.Count(), 1u);
    EXPECT_NE(RecordingHookJournal().substr(mark).find("configure argc=3"), std::string::npos);

    testing_support::TempDir dir;
    const std::string missing = dir.File("missing.so") + " -x";
    EXPECT_EQ(Rejection<FFMpegException>("vhook", missing), "Failed to add video hook function: " + missing);
    EXPECT_EQ(Rejection<FFMpegException>("vhook", ""), "Failed to add video hook function: ");
    EXPECT_EQ(Rejection<FFMpegException>("vhook", std::string(NO_CONFIGURE_HOOK) + " -x"),
              std::string("Failed to add video hook function: ") + NO_CONFIGURE_HOOK + " -x");
    EXPECT_EQ(engine.VhookList.Count(), 1u);

    // Releasing the job releases its plug-ins.
    engine.ReleaseJob();
    EXPECT_TRUE(engine.VhookList.Empty());
    EXPECT_NE(RecordingHookJournal().substr(mark).find("release id="), std::string::npos);
}

TEST_F(OptionsTest, UnknownKeywordsChangeNothing)
{
    engine.SetOption("nosuchoption", "1");
    engine.SetOption("", "");
    engine.SetOption("Title", "case matters");
    EXPECT_TRUE(engine.GenericOptionNames.empty());
    EXPECT_EQ(engine.Title, "");
    EXPECT_TRUE(recorder.Lines().empty());
}

TEST_F(OptionsTest, OptionLinesAreSplitAtLineBreaksAndTheFirstEquals)
{
    engine.ParseOptionLines("  \r\ntitle=a=b\r\nalbum=x\rgenre=y\n\ny\nvtag=\ncomment=  spaced  \r\n");
    EXPECT_EQ(engine.Title, "a=b");
    EXPECT_EQ(engine.Album, "x");
    EXPECT_EQ(engine.Genre, "y");
    EXPECT_EQ(engine.Comment, "  spaced"); // the text's own end is trimmed, a line is not
    EXPECT_EQ(recorder.Lines(), (std::vector<LogLine>{{1, "Do nothing: option - y"}}));

    // A failing line stops the lines after it.
    try {
        engine.ParseOptionLines("author=first\npass=5\ncopyright=never");
        FAIL();
    } catch (const FFMpegException &e) {
        EXPECT_STREQ(e.what(), "pass number can be only 1 or 2");
    }
    EXPECT_EQ(engine.Author, "first");
    EXPECT_EQ(engine.Copyright, "");
}

TEST_F(OptionsTest, TypedSettersGuardTheirValues)
{
    engine.SetAudioVolume(-1);
    EXPECT_EQ(engine.AudioVolume, 256);
    engine.SetAudioVolume(0);
    EXPECT_EQ(engine.AudioVolume, 0);
    engine.SetAudioSyncMethod(-3);
    EXPECT_EQ(engine.AudioSyncMethod, -3);
    engine.SetVideoSyncMethod(2);
    EXPECT_EQ(engine.VideoSyncMethod, 2);
    engine.SetMuxMaxDelay(0);
    engine.SetMuxPreload(-1);
    EXPECT_EQ(engine.MuxMaxDelay, 0.7f);
    EXPECT_EQ(engine.MuxPreload, 0.5f);
    engine.SetMuxMaxDelay(1.5f);
    engine.SetMuxPreload(0.25f);
    EXPECT_EQ(engine.MuxMaxDelay, 1.5f);
    EXPECT_EQ(engine.MuxPreload, 0.25f);
    engine.SetStartTime(0);
    EXPECT_EQ(engine.StartTime, 0);
    engine.SetStartTime(2500000);
    EXPECT_EQ(engine.StartTime, 2500000);
    engine.SetProgramId(-1);
    EXPECT_EQ(engine.ProgramId, 0);
    engine.SetProgramId(3);
    EXPECT_EQ(engine.ProgramId, 3);
    engine.SetYear(0);
    engine.SetTrack(-2);
    EXPECT_EQ(engine.Year, 0);
    EXPECT_EQ(engine.Track, 0);
    engine.SetYear(2009);
    engine.SetTrack(7);
    EXPECT_EQ(engine.Year, 2009);
    EXPECT_EQ(engine.Track, 7);
    engine.SetTitle("T");
    engine.SetTitle("");
    engine.SetAuthor("A");
    engine.SetCopyright("C");
    engine.SetComment("M");
    engine.SetGenre("G");
    engine.SetAlbum("L");
    EXPECT_EQ(engine.Title + engine.Author + engine.Copyright + engine.Comment + engine.Genre + engine.Album, "TACMGL");
}
