#include "tests/engine/OptionsFixture.h"

#include <regex>

using namespace avlib;

TEST_F(OptionsTest, AcceptedButIgnoredKeywordsOnlyLog)
{
    const char *keywords[] = {"L", "h", "version", "formats", "i", "y", "benchmark", "apre", "vpre", "spre"};
    for (const char *keyword : keywords)
        EXPECT_EQ(Rejection(keyword, "whatever"), "") << keyword;
    std::vector<LogLine> expected;
    for (const char *keyword : keywords)
        expected.push_back({1, std::string("Do nothing: option - ") + keyword});
    EXPECT_EQ(recorder.Lines(), expected);
    EXPECT_TRUE(engine.GenericOptionNames.empty());
}

TEST_F(OptionsTest, ThreadsIsRejected)
{
    EXPECT_EQ(Rejection<FFMpegException>("threads", "4"), "TODO: option - threads");
    EXPECT_EQ(Rejection<FFMpegException>("threads", ""), "TODO: option - threads");
    EXPECT_EQ(engine.ThreadCount, 1);
}

TEST_F(OptionsTest, FlagsBecomeOneWhateverTheValue)
{
    const std::pair<const char *, Reader> cases[] = {
        {"dump", [](auto &e) { return e.PktDump; }},
        {"hex", [](auto &e) { return e.HexDump; }},
        {"re", [](auto &e) { return e.RateEmu; }},
        {"loop_input", [](auto &e) { return e.LoopInput; }},
        {"copyts", [](auto &e) { return e.CopyTs; }},
        {"shortest", [](auto &e) { return e.Shortest; }},
        {"xerror", [](auto &e) { return e.ExitOnError; }},
        {"intra", [](auto &e) { return e.IntraOnly; }},
        {"vn", [](auto &e) { return e.VideoDisable; }},
        {"sameq", [](auto &e) { return e.SameQuality; }},
        {"deinterlace", [](auto &e) { return e.Deinterlace; }},
        {"psnr", [](auto &e) { return e.DoPsnr; }},
        {"qphist", [](auto &e) { return e.QpHist; }},
        {"an", [](auto &e) { return e.AudioDisable; }},
        {"sn", [](auto &e) { return e.SubtitleDisable; }},
        {"isync", [](auto &e) { return e.InputSync; }},
    };
    for (const auto &[keyword, read] : cases) {
        EXPECT_EQ(read(engine), 0) << keyword;
        engine.SetOption(keyword, "0");
        EXPECT_EQ(read(engine), 1) << keyword;
    }
}

TEST_F(OptionsTest, NumberFieldsTakeTheirValueOrRejectItUnchanged)
{
    struct Case {
        const char *keyword;
        std::string value;
        Reader read;
        double expected;
    };
    const Case accepted[] = {
        {"fs", "5000000000", [](auto &e) { return double(e.LimitFileSize); }, 5e9},
        {"dframes", "5", [](auto &e) { return e.MaxFrames[mkData]; }, 5},
        {"vframes", " +100", [](auto &e) { return e.MaxFrames[mkVideo]; }, 100},
        {"aframes", "$10", [](auto &e) { return e.MaxFrames[mkAudio]; }, 16},
        {"loop_output", "0", [](auto &e) { return e.LoopOutput; }, 0},
        {"vsync", "2", [](auto &e) { return e.VideoSyncMethod; }, 2},
        {"async", "100", [](auto &e) { return e.AudioSyncMethod; }, 100},
        {"vglobal", "0x3", [](auto &e) { return e.VideoGlobalHeader; }, 3},
        {"programid", "-7", [](auto &e) { return e.ProgramId; }, -7},
        {"vdt", "1", [](auto &e) { return e.VideoDiscard; }, 1},
        {"me_threshold", "8", [](auto &e) { return e.MeThreshold; }, 8},
        {"top", "0", [](auto &e) { return e.TopFieldFirst; }, 0},
        {"dc", "10", [](auto &e) { return e.IntraDcPrecision; }, 10},
        {"vol", "50", [](auto &e) { return e.AudioVolume; }, 50},
        {"vol", "-50", [](auto &e) { return e.AudioVolume; }, 50}, // left out: it would invert and clip
        {"vc", "2", [](auto &e) { return e.VideoChannel; }, 2},
        {"ar", "48000", [](auto &e) { return e.AudioSampleRate; }, 48000},
        {"ar", "0", [](auto &e) { return e.AudioSampleRate; }, 48000},
        {"ar", "-8000", [](auto &e) { return e.AudioSampleRate; }, 48000},
        {"ac", "1", [](auto &e) { return e.AudioChannels; }, 1},
        {"ac", "0", [](auto &e) { return e.AudioChannels; }, 1},
        {"v", "0", [](auto &e) { return e.Verbose; }, 0},
        {"adrift_threshold", "0.25", [](auto &e) { return e.AudioDriftThreshold; }, 0.25},
        {"dts_delta_threshold", "2", [](auto &e) { return e.DtsDeltaThreshold; }, 2},
        {"aq", "4.5", [](auto &e) { return e.AudioQScale; }, 4.5},
        {"muxdelay", "1e-1", [](auto &e) { return e.MuxMaxDelay; }, 0.1f},
        {"muxpreload", " 0.75 ", [](auto &e) { return e.MuxPreload; }, 0.75},
    };
    for (const Case &c : accepted) {
        engine.SetOption(c.keyword, c.value);
        EXPECT_EQ(c.read(engine), c.expected) << c.keyword << "=" << c.value;
    }

    const Case rejected[] = {
        {"vframes", "", [](auto &e) { return e.MaxFrames[mkVideo]; }, 100},
        {"vframes", "12x", [](auto &e) { return e.MaxFrames[mkVideo]; }, 100},
        {"vframes", "1.5", [](auto &e) { return e.MaxFrames[mkVideo]; }, 100},
        {"vframes", "2147483648", [](auto &e) { return e.MaxFrames[mkVideo]; }, 100},
        {"vframes", "99999999999999999999", [](auto &e) { return e.MaxFrames[mkVideo]; }, 100},
        {"vol", "12 ", [](auto &e) { return e.AudioVolume; }, 50},
        {"fs", "-", [](auto &e) { return double(e.LimitFileSize); }, 5e9},
        {"ar", "44.1k", [](auto &e) { return e.AudioSampleRate; }, 48000},
    };
    for (const Case &c : rejected) {
        EXPECT_EQ(Rejection<EConvertError>(c.keyword, c.value), "'" + c.value + "' is not a valid integer value")
            << c.keyword << "=" << c.value;
        EXPECT_EQ(c.read(engine), c.expected) << c.keyword << "=" << c.value;
    }
    for (const std::string value : {"", "1,5", "abc", "inf", "nan", "0x10", "1e999", "1e39", "-4e38", "1.5.2"}) {
        EXPECT_EQ(Rejection<EConvertError>("aq", value), "'" + value + "' is not a valid floating point value")
            << value;
        EXPECT_EQ(engine.AudioQScale, 4.5f);
    }
    engine.SetVerbose(1);
}

TEST_F(OptionsTest, TextFieldsKeepOrClearOnEmptyValues)
{
    engine.SetOption("title", "Concert");
    engine.SetOption("title", "");
    EXPECT_EQ(engine.Title, "Concert");
    for (const char *keyword : {"author", "copyright", "comment", "genre", "album", "vfilters"})
        engine.SetOption(keyword, std::string(keyword) + " text");
    EXPECT_EQ(engine.Author, "author text");
    EXPECT_EQ(engine.Copyright, "copyright text");
    EXPECT_EQ(engine.Comment, "comment text");
    EXPECT_EQ(engine.Genre, "genre text");
    EXPECT_EQ(engine.Album, "album text");
    EXPECT_EQ(engine.VideoFilters, "vfilters text");

    engine.SetOption("alang", "eng");
    engine.SetOption("slang", "fre");
    engine.SetOption("passlogfile", "/tmp/pass");
    EXPECT_EQ(engine.AudioLanguage, "eng");
    EXPECT_EQ(engine.PassLogFilePrefix, "/tmp/pass");
    for (const char *keyword : {"alang", "slang", "passlogfile"})
        engine.SetOption(keyword, "");
    EXPECT_EQ(engine.AudioLanguage, "");
    EXPECT_EQ(engine.SubtitleLanguage, "");
    EXPECT_EQ(engine.PassLogFilePrefix, "");

    engine.SetOption("rc_override", "0,100,-3");
    engine.SetOption("tvstd", "pal");
    engine.SetOption("vstats_file", "/tmp/a.log");
    engine.SetOption("vstats_file", "/tmp/b.log");
    EXPECT_EQ(engine.VideoRcOverride, "0,100,-3");
    EXPECT_EQ(engine.VideoStandard, "pal");
    EXPECT_EQ(engine.VstatsFileName, "/tmp/b.log");
    // Stored as given: a rate-control override is checked when the video stream is made.
    engine.SetOption("rc_override", "10,20");
    EXPECT_EQ(engine.VideoRcOverride, "10,20");
}

TEST_F(OptionsTest, FormatsAreLookedUpInBothDirections)
{
    engine.SetOption("f", "wav");
    ASSERT_NE(engine.InputFormat, nullptr);
    ASSERT_NE(engine.OutputFormat, nullptr);
    EXPECT_STREQ(engine.InputFormat->name, "wav");
    EXPECT_STREQ(engine.OutputFormat->name, "wav");

    engine.SetOption("f", "");
    EXPECT_NE(engine.InputFormat, nullptr); // empty: nothing

    engine.SetOption("f", "ipod"); // a muxer name only
    EXPECT_EQ(engine.InputFormat, nullptr);
    EXPECT_STREQ(engine.OutputFormat->name, "ipod");

    engine.SetOption("f", "pgmyuv");
    EXPECT_EQ(engine.UsingPgmYuv, 1);
    EXPECT_STREQ(engine.InputFormat->name, "image2");
    EXPECT_STREQ(engine.OutputFormat->name, "image2");
    EXPECT_EQ(recorder.Lines().back(), (LogLine{1, "pgmyuv format is deprecated, use image2"}));

    const AVInputFormat *input = engine.InputFormat;
    const AVOutputFormat *output = engine.OutputFormat;
    EXPECT_EQ(Rejection<FFMpegException>("f", "nosuchformat"), "Unknown input or output format: nosuchformat");
    EXPECT_EQ(engine.InputFormat, input);
    EXPECT_EQ(engine.OutputFormat, output);
}

TEST_F(OptionsTest, OneWayFormatSettersRaiseTheirOwnMessages)
{
    engine.SetInputFormat("wav");
    EXPECT_STREQ(engine.InputFormat->name, "wav");
    EXPECT_EQ(engine.OutputFormat, nullptr);
    engine.SetOutputFormat("mp3");
    EXPECT_STREQ(engine.OutputFormat->name, "mp3");
    try {
        engine.SetInputFormat("ipod");
        FAIL() << "no demuxer is named ipod";
    } catch (const FFMpegException &e) {
        EXPECT_STREQ(e.what(), "Unknown input format: ipod");
    }
    try {
        engine.SetOutputFormat("nosuch");
        FAIL();
    } catch (const FFMpegException &e) {
        EXPECT_STREQ(e.what(), "Unknown output format: nosuch");
    }
    EXPECT_STREQ(engine.InputFormat->name, "wav");
    EXPECT_STREQ(engine.OutputFormat->name, "mp3");
}

TEST_F(OptionsTest, StreamAndMetaDataMapsAreAppended)
{
    engine.SetOption("map", "0.1");
    engine.SetOption("map", "1:0x2:3.010");
    engine.SetOption("map", "");
    engine.SetOption("map_meta_data", "0:1");
    ASSERT_EQ(engine.StreamMapCount, 3);
    const TStreamMap &first = engine.StreamMaps[0];
    EXPECT_EQ((std::array{first.FileIndex, first.StreamIndex, first.SyncFileIndex, first.SyncStreamIndex}),
              (std::array{0, 1, 0, 1}));
    const TStreamMap &second = engine.StreamMaps[1];
    EXPECT_EQ((std::array{second.FileIndex, second.StreamIndex, second.SyncFileIndex, second.SyncStreamIndex}),
              (std::array{1, 2, 3, 8})); // 010 is octal
    ASSERT_EQ(engine.MetaDataMapCount, 1);
    EXPECT_EQ(engine.MetaDataMaps[0].OutFile, 0);
    EXPECT_EQ(engine.MetaDataMaps[0].InFile, 1);
}

TEST_F(OptionsTest, FullMapTablesRefuseMoreEntries)
{
    for (int i = 0; i < MAX_STREAM_MAPS; ++i)
        engine.SetOption("map", "0.0");
    EXPECT_EQ(Rejection<FFMpegException>("map", "0.0"), "Too many stream maps (at most 400)");
    EXPECT_EQ(engine.StreamMapCount, MAX_STREAM_MAPS);
    for (int i = 0; i < MAX_META_DATA_MAPS; ++i)
        engine.SetOption("map_meta_data", "0:0");
    EXPECT_EQ(Rejection<FFMpegException>("map_meta_data", "0:0"), "Too many meta data maps (at most 20)");
}

TEST_F(OptionsTest, TimesAreDurationsOrDates)
{
    struct Case {
        const char *keyword;
        const char *value;
        int64_t recordingTime;
        int32_t totalDuration;
    };
    const Case cases[] = {
        {"t", "30", 30000000, 30000},          {"t", "3600", 3600000000LL, 3600000},
        {"t", "0", 3600000000LL, 3600000},                                       // zero changes nothing
        {"t", "-1:00", 3600000000LL, 3600000},                                   // nor does a negative duration
        {"t", "00:01:30.5", 90500000, 90500},  {"t", "0.0005", 90500000, 90500}, // below a millisecond
    };
    for (const Case &c : cases) {
        engine.SetOption(c.keyword, c.value);
        EXPECT_EQ(engine.RecordingTime, c.recordingTime) << c.value;
        EXPECT_EQ(engine.TotalDuration, c.totalDuration) << c.value;
    }
    EXPECT_EQ(Rejection<FFMpegException>("t", "junk"), "Invalid duration specification for t: junk");
    EXPECT_EQ(Rejection<FFMpegException>("ss", "1:xx"), "Invalid duration specification for ss: 1:xx");
    // Shifts of timestamps stay within thirty years or so, where no sum of them can overflow.
    EXPECT_EQ(Rejection<FFMpegException>("ss", "-9223372036854"),
              "Invalid duration specification for ss: -9223372036854");
    EXPECT_EQ(Rejection<FFMpegException>("itsoffset", "1000000001"),
              "Invalid duration specification for itsoffset: 1000000001");
    EXPECT_EQ(Rejection<FFMpegException>("timestamp", "yesterday"),
              "Invalid date specification for timestamp: yesterday");
    EXPECT_EQ(engine.RecordingTime, 90500000);

    engine.SetOption("ss", "90.5");
    EXPECT_EQ(engine.StartTime, 90500000);
    engine.SetOption("itsoffset", "-1.25");
    EXPECT_EQ(engine.InputTsOffset, -1250000);
    engine.SetOption("timestamp", "2009-06-01T12:00:00.6Z");
    EXPECT_EQ(engine.RecTimestamp, 1243857601);

    engine.SetRecordingTime(1500);
    EXPECT_EQ(engine.RecordingTime, 1500000);
    EXPECT_EQ(engine.TotalDuration, 1500);
    engine.SetRecordingTime(0);
    EXPECT_EQ(engine.RecordingTime, 1500000);
    engine.SetOption("t", "9999999999"); // longer than a 32-bit millisecond count
    EXPECT_EQ(engine.RecordingTime, 9999999999000000LL);
    EXPECT_EQ(engine.TotalDuration, INT32_MAX);
}

TEST_F(OptionsTest, TimestampScalesApplyToTheNextInput)
{
    engine.SetOption("itsscale", "3:1.5");
    EXPECT_EQ(engine.InputTsScales[0][3], 1.5);
    engine.InputFileCount = 2;
    engine.SetOption("itsscale", "0x1,0.5");
    EXPECT_EQ(engine.InputTsScales[2][1], 0.5);
    engine.SetOption("itsscale", "4");
    EXPECT_EQ(engine.InputTsScales[2][4], 0.0);
    for (const char *value : {"20:1.0", "-1:2", "999999999999:1"})
        EXPECT_EQ(Rejection<FFMpegException>("itsscale", value), "stream index over MAX_STREAMS(20)") << value;
    for (const char *value : {"0:-1", "0:1e15", "0:1000.5"})
        EXPECT_EQ(Rejection<FFMpegException>("itsscale", value), std::string("Invalid timestamp scale ") + value);
    engine.SetOption("itsscale", "0:nan"); // not a number: the stream stays unscaled
    EXPECT_EQ(engine.InputTsScales[2][0], 0.0);
    engine.InputFileCount = MAX_FILES;
    EXPECT_EQ(Rejection<FFMpegException>("itsscale", "0:2"), "Too many input files (at most 20)");
    engine.InputFileCount = 0;
}

TEST_F(OptionsTest, LowBitRatesWarn)
{
    struct Case {
        const char *keyword;
        const char *value;
        bool warns;
    };
    const Case cases[] = {{"b", "64", true},   {"b", "64000", false}, {"ab", "128", true}, {"ab", "128k", false},
                          {"vb", "999", true}, {"vb", "1000", false}, {"b", "", false}};
    const std::string warning =
        "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
    for (const Case &c : cases) {
        const size_t before = recorder.Lines().size();
        engine.SetOption(c.keyword, c.value);
        const auto lines = recorder.Lines();
        EXPECT_EQ(lines.size() - before, c.warns ? 1u : 0u) << c.keyword << "=" << c.value;
        if (c.warns) {
            EXPECT_EQ(lines.back(), (LogLine{1, warning}));
        }
    }
    EXPECT_EQ(engine.CodecDefaults[mkAudio]->bit_rate, 128000);
    EXPECT_EQ(engine.CodecDefaults[mkVideo]->bit_rate, 1000);
}

TEST_F(OptionsTest, FrameRateAndSize)
{
    engine.SetOption("r", "25");
    EXPECT_EQ(engine.FrameRate.num, 25);
    EXPECT_EQ(engine.FrameRate.den, 1);
    engine.SetOption("r", "ntsc");
    EXPECT_EQ(engine.FrameRate.num, 30000);
    EXPECT_EQ(engine.FrameRate.den, 1001);
    engine.SetOption("r", "");
    EXPECT_EQ(engine.FrameRate.num, 30000);
    EXPECT_EQ(Rejection<FFMpegException>("r", "fast"), "Incorrect frame rate");
    EXPECT_EQ(Rejection<FFMpegException>("r", "-5"), "Incorrect frame rate");
    EXPECT_EQ(engine.FrameRate.num, 30000);

    engine.SetOption("s", "640x480");
    EXPECT_EQ(engine.FrameWidth, 640);
    EXPECT_EQ(engine.FrameHeight, 480);
    engine.SetOption("s", "cif");
    EXPECT_EQ(engine.FrameWidth, 352);
    EXPECT_EQ(engine.FrameHeight, 288);
    EXPECT_EQ(Rejection<FFMpegException>("s", "big"), "Incorrect frame size");
    EXPECT_EQ(engine.FrameWidth, 352);
    // An odd size is stored before it is refused.
    EXPECT_EQ(Rejection<FFMpegException>("s", "641x480"), "Frame size must be a multiple of 2");
    EXPECT_EQ(engine.FrameWidth, 641);
    EXPECT_EQ(engine.FrameHeight, 480);
}

TEST_F(OptionsTest, AspectRatios)
{
    const std::pair<const char *, float> accepted[] = {{"16:9", 16.0f / 9.0f}, {"1.5", 1.5f}, {"4:3", 4.0f / 3.0f}};
    for (const auto &[value, ratio] : accepted) {
        engine.SetOption("aspect", value);
        EXPECT_FLOAT_EQ(engine.FrameAspectRatio, ratio) << value;
    }
    EXPECT_FLOAT_EQ(engine.FrameAspectRatio, 1.3333334f);
    for (const char *value : {"4:0", "0", "x:3", "wide", "4:-3"}) {
        EXPECT_EQ(Rejection<FFMpegException>("aspect", value), "Incorrect aspect ratio specification.") << value;
        EXPECT_FLOAT_EQ(engine.FrameAspectRatio, 1.3333334f);
    }
    engine.SetOption("aspect", "");
    EXPECT_FLOAT_EQ(engine.FrameAspectRatio, 1.3333334f);
    engine.SetOption("aspect", "16:9");
    EXPECT_FLOAT_EQ(engine.FrameAspectRatio, 1.7777778f);
}

TEST_F(OptionsTest, PixelAndSampleFormats)
{
    engine.SetOption("pix_fmt", "yuv420p");
    EXPECT_EQ(engine.FramePixFmt, AV_PIX_FMT_YUV420P);
    engine.SetOption("pix_fmt", "nonsense");
    EXPECT_EQ(engine.FramePixFmt, -1);
    engine.SetOption("sample_fmt", "s16");
    EXPECT_EQ(engine.AudioSampleFmt, AV_SAMPLE_FMT_S16);
    engine.SetOption("sample_fmt", "fltp");
    EXPECT_EQ(engine.AudioSampleFmt, AV_SAMPLE_FMT_FLTP);
    engine.SetOption("sample_fmt", "nonsense");
    EXPECT_EQ(engine.AudioSampleFmt, -1);
}

TEST_F(OptionsTest, FormatListsLogTheHeaderThenEveryFormat)
{
    engine.SetOption("pix_fmt", "list");
    auto lines = recorder.Lines();
    ASSERT_EQ(lines.size(), size_t(AV_PIX_FMT_NB) + 1);
    EXPECT_EQ(lines[0], (LogLine{1, "name nb_components nb_bits"}));
    EXPECT_TRUE(std::regex_match(lines[1].text, std::regex("yuv420p +3 +12"))) << lines[1].text;
    const std::string lastName = avutil.av_pix_fmt_desc_get(AVPixelFormat(AV_PIX_FMT_NB - 1))->name;
    EXPECT_EQ(lines.back().text.substr(0, lastName.size() + 1), lastName + " ");
    for (const LogLine &line : lines)
        EXPECT_EQ(line.text, Trim(line.text));
    EXPECT_EQ(engine.FramePixFmt, -1);

    engine.SetOption("sample_fmt", "list");
    lines = recorder.Lines();
    lines.erase(lines.begin(), lines.begin() + AV_PIX_FMT_NB + 1);
    ASSERT_EQ(lines.size(), size_t(AV_SAMPLE_FMT_NB) + 1);
    EXPECT_EQ(lines[0], (LogLine{1, "name   depth"}));
    EXPECT_TRUE(std::regex_match(lines[1].text, std::regex("u8 +8"))) << lines[1].text;
    EXPECT_TRUE(std::regex_match(lines.back().text, std::regex("s64p +64"))) << lines.back().text;
}
