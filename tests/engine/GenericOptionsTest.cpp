#include "tests/engine/OptionsFixture.h"

using namespace avlib;

namespace {

int64_t IntOption(void *context, const char *name)
{
    int64_t value = -1;
    EXPECT_GE(avutil.av_opt_get_int(context, name, 0, &value), 0) << name;
    return value;
}

} // namespace

TEST_F(OptionsTest, CodecOptionsReachEveryMediaTypeThatHasThem)
{
    EXPECT_TRUE(engine.SetCodecOption("b", "256000"));
    // "b" is a video and an audio option; the data and attachment contexts take any option.
    EXPECT_EQ(engine.CodecDefaults[mkVideo]->bit_rate, 256000);
    EXPECT_EQ(engine.CodecDefaults[mkAudio]->bit_rate, 256000);
    EXPECT_EQ(engine.CodecDefaults[mkData]->bit_rate, 256000);
    EXPECT_NE(engine.CodecDefaults[mkSubtitle]->bit_rate, 256000);
    EXPECT_EQ(engine.CodecDefaults[mkAttachment]->bit_rate, 256000);

    EXPECT_TRUE(engine.SetCodecOption("g", "25")); // video only
    EXPECT_EQ(engine.CodecDefaults[mkVideo]->gop_size, 25);
    EXPECT_NE(engine.CodecDefaults[mkAudio]->gop_size, 25);
    EXPECT_EQ(engine.GenericOptionNames, (std::vector<std::string>{"b", "g"}));
}

TEST_F(OptionsTest, FormatThenScalerOptionsWhenNoCodecKnowsTheName)
{
    EXPECT_TRUE(engine.SetCodecOption("probesize", "65536"));
    EXPECT_EQ(engine.FormatDefaults->probesize, 65536);
    EXPECT_TRUE(engine.SetCodecOption("sws_flags", "bilinear"));
    EXPECT_EQ(IntOption(engine.ScalerDefaults.get(), "sws_flags"), SWS_BILINEAR);
    EXPECT_EQ(engine.GenericOptionNames, (std::vector<std::string>{"probesize", "sws_flags"}));
}

TEST_F(OptionsTest, APrefixedNameSetsTheRestOnItsMediaType)
{
    EXPECT_TRUE(engine.SetCodecOption("ag", "12")); // "g" on the audio context
    EXPECT_EQ(engine.CodecDefaults[mkAudio]->gop_size, 12);
    EXPECT_TRUE(engine.SetCodecOption("vqmin", "3"));
    EXPECT_EQ(engine.CodecDefaults[mkVideo]->qmin, 3);
    EXPECT_EQ(engine.GenericOptionNames, (std::vector<std::string>{"g", "qmin"}));
}

TEST_F(OptionsTest, UnknownNamesAndRefusedValuesAreNotAccepted)
{
    struct Case {
        const char *name;
        const char *value;
    };
    const int64_t defaultBitRate = engine.CodecDefaults[mkVideo]->bit_rate;
    const Case cases[] = {{"nosuchoption", "1"}, {"b", "lots"}, {"", "1"},   {"b", ""},
                          {"  ", "1"},           {"g", "  "},   {"xyz", "2"}};
    for (const Case &c : cases)
        EXPECT_FALSE(engine.SetCodecOption(c.name, c.value)) << c.name << "=" << c.value;
    EXPECT_TRUE(engine.GenericOptionNames.empty());
    EXPECT_EQ(engine.CodecDefaults[mkVideo]->bit_rate, defaultBitRate);
    EXPECT_TRUE(engine.SetCodecOptionInt("g", 50));
    EXPECT_EQ(engine.CodecDefaults[mkVideo]->gop_size, 50);
}

TEST_F(OptionsTest, OptionsLeftOutAreListedWithTheirReason)
{
    const LeftOutCase cases[] = {
        {"bogus", "1", true, true},
        {"bitrate2", "192000", true, true},
        {"bogus", "", true, true},
        {"ab", "abc", true, false},
        {"ab", "192kbps", true, false},
        {"b", "", true, false},
        {"fs", "-1", true, false},
        {"ar", "0", true, false},
        {"ac", "-2", true, false},
        {"t", "0", true, false},
        {"t", "-1", true, false},
        {"vol", "-1", true, false},
        {"t", "0.0005", true, false},
        {"vol", "0", false, false},
        {"t", "0.5", false, false},
        {"ar", "768001", true, false},
        {"ac", "65", true, false},
        {"ar", "768000", false, false},
        {"ab", "192000", false, false},
        {"ab", "192k", false, false},
        {"fs", "0", false, false},
        {"joint_stereo", "1", false, false}, // an option of some encoders only: they decide when they open
        {"muxrate", "10000", false, false},  // and of some muxers
    };
    for (const LeftOutCase &c : cases) {
        engine.RejectedOptions.clear();
        engine.SetOption(c.name, c.value);
        ExpectListedAsLeftOut(c);
    }
    // What was left out changed nothing, and a new job starts with an empty list.
    EXPECT_EQ(engine.LimitFileSize, 0);
    EXPECT_EQ(engine.AudioSampleRate, 768000); // the one rate taken
    EXPECT_EQ(engine.AudioChannels, 2);
    engine.SetOption("bogus", "1");
    engine.InitializeJob();
    EXPECT_TRUE(engine.RejectedOptions.empty());
}

TEST_F(OptionsTest, DebugOptionsRaiseTheVerbosity)
{
    engine.SetVerbose(1);
    EXPECT_TRUE(engine.SetCodecOption("debug", "pict"));
    EXPECT_EQ(engine.Verbose, 2);
    EXPECT_EQ(avutil.av_log_get_level(), AV_LOG_DEBUG);

    TCustomFFmpeg other;
    other.InitializeJob();
    EXPECT_TRUE(other.SetCodecOption("fdebug", "ts")); // the format context's debug option
    EXPECT_EQ(other.Verbose, 2);
    engine.SetVerbose(1);
}

TEST_F(OptionsTest, AnOptionWithoutAJobIsNotAccepted)
{
    TCustomFFmpeg fresh; // InitializeJob never ran: no default contexts
    EXPECT_FALSE(fresh.SetCodecOption("b", "1000"));
    EXPECT_TRUE(fresh.GenericOptionNames.empty());
}

TEST_F(OptionsTest, GenericOptionsAreReplayedWhereTheirFlagsMatch)
{
    ASSERT_TRUE(engine.SetCodecOption("b", "96000"));  // audio and video, encoding
    ASSERT_TRUE(engine.SetCodecOption("g", "30"));     // video, encoding
    ASSERT_TRUE(engine.SetCodecOption("ar", "22050")); // audio, encoding and decoding

    AVCodecContextPtr audio(avcodec.avcodec_alloc_context3(nullptr));
    engine.ApplyGenericOptions(audio.get(), engine.CodecDefaults[mkAudio].get(),
                               AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(audio->bit_rate, 96000);
    EXPECT_EQ(audio->sample_rate, 22050);
    EXPECT_NE(audio->gop_size, 30);

    AVCodecContextPtr video(avcodec.avcodec_alloc_context3(nullptr));
    engine.ApplyGenericOptions(video.get(), engine.CodecDefaults[mkVideo].get(),
                               AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(video->bit_rate, 96000);
    EXPECT_EQ(video->gop_size, 30);

    AVCodecContextPtr decoder(avcodec.avcodec_alloc_context3(nullptr));
    engine.ApplyGenericOptions(decoder.get(), engine.CodecDefaults[mkAudio].get(),
                               AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
    EXPECT_EQ(decoder->sample_rate, 22050);
    EXPECT_NE(decoder->bit_rate, 96000);
}
