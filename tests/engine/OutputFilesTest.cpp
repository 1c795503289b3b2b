#include "libs/CurrentDirectoryScope.h"
#include "tests/engine/OptionsFixture.h"
#include "tests/support/MediaFixtures.h"

#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

using namespace avlib;
using namespace testing_support;

namespace {

std::string ReadBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class OutputFilesTest : public OptionsTest {
protected:
    std::string AudioInput()
    {
        const std::string path = dir.File("tone.wav");
        WriteSineWav(path, 0.2);
        return path;
    }

    std::string VideoInput()
    {
        MediaRecipe recipe;
        recipe.seconds = 0.2;
        recipe.video = VideoTrack{"mpeg4", 160, 120, 25};
        recipe.audio = AudioTrack{"mp2", 44100, 2};
        const std::string path = dir.File("clip.avi");
        WriteMediaFile(path, recipe);
        return path;
    }

    // Media types of the streams of output file i.
    std::vector<AVMediaType> Kinds(int i = 0)
    {
        std::vector<AVMediaType> kinds;
        for (const TOutputStreamCodec &codec : engine.OutputCodecs[i])
            kinds.push_back(codec.Context->codec_type);
        return kinds;
    }

    AVCodecContext *Codec(int stream, int file = 0) { return engine.OutputCodecs[file][stream].Context.get(); }

    TempDir dir;
};

} // namespace

TEST_F(OutputFilesTest, AnMp3FromAnAudioInputGetsOnlyAudio)
{
    ASSERT_TRUE(engine.AddInputFile(AudioInput()));
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.mp3"))) << engine.LastErrorText;
    EXPECT_EQ(engine.OutputFileCount, 1);
    EXPECT_STREQ(engine.OutputFiles[0]->oformat->name, "mp3");
    EXPECT_EQ(Kinds(), std::vector<AVMediaType>{AVMEDIA_TYPE_AUDIO});
    EXPECT_EQ(engine.OutputFiles[0]->nb_streams, 1u);
    const AVCodecContext *audio = Codec(0);
    EXPECT_EQ(audio->codec_id, AV_CODEC_ID_MP3);
    EXPECT_EQ(audio->sample_rate, 44100);
    EXPECT_EQ(audio->ch_layout.nb_channels, 2);
    EXPECT_EQ(audio->time_base.den, 44100);
    // The input's s16 is not among the encoder's formats: the same samples planar are taken.
    EXPECT_EQ(audio->sample_fmt, AV_SAMPLE_FMT_S16P);
    EXPECT_TRUE(std::filesystem::exists(dir.File("out.mp3")));
    EXPECT_EQ(engine.OutputFormat, nullptr);
}

TEST_F(OutputFilesTest, AudioDisabledBeforeTheOutputLeavesOutAudio)
{
    ASSERT_TRUE(engine.AddInputFile(VideoInput()));
    engine.SetOption("an", "");
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.avi"))) << engine.LastErrorText;
    EXPECT_EQ(Kinds(), std::vector<AVMediaType>{AVMEDIA_TYPE_VIDEO});
    EXPECT_EQ(engine.AudioDisable, 0);

    // Without it, video and audio.
    ASSERT_TRUE(engine.AddOutputFile(dir.File("both.avi"))) << engine.LastErrorText;
    EXPECT_EQ(Kinds(1), (std::vector<AVMediaType>{AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}));
    EXPECT_EQ(Codec(0, 1)->codec_id, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(Codec(1, 1)->codec_id, AV_CODEC_ID_MP3);
}

TEST_F(OutputFilesTest, VideoEncodingSettings)
{
    // No input: the pending options alone decide.
    engine.SetOption("s", "320x240");
    engine.SetOption("vcodec", "mpeg4");
    engine.SetOption("qscale", "4");
    engine.SetOption("pix_fmt", "rgb24");
    engine.SetOption("vtag", "XVID");
    engine.SetOption("rc_override", "0,100,-50/200,300,10");
    std::string matrix = "8";
    for (int i = 1; i < 64; ++i)
        matrix += ",16";
    engine.SetOption("intra_matrix", matrix);
    engine.SetOption("psnr", "");
    engine.SetOption("pass", "1");
    engine.SetOption("padtop", "8");
    engine.SetOption("an", "");
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.avi"))) << engine.LastErrorText;
    AVCodecContext *video = Codec(0);
    EXPECT_EQ(video->time_base.num, 1);
    EXPECT_EQ(video->time_base.den, 25); // no "r": 25 frames per second
    EXPECT_EQ(video->width, 320);
    EXPECT_EQ(video->height, 248);
    EXPECT_EQ(video->pix_fmt, AV_PIX_FMT_YUV420P); // rgb24 is not the encoder's: its first format
    EXPECT_EQ(video->global_quality, 472);
    EXPECT_FLOAT_EQ(engine.OutputCodecs[0][0].Quality, 472.0f);
    EXPECT_TRUE(video->flags & AV_CODEC_FLAG_QSCALE);
    EXPECT_TRUE(video->flags & AV_CODEC_FLAG_PSNR);
    EXPECT_TRUE(video->flags & AV_CODEC_FLAG_PASS1);
    EXPECT_EQ(video->codec_tag, 0x44495658u);
    EXPECT_EQ(video->intra_dc_precision, 0);
    ASSERT_NE(video->intra_matrix, nullptr);
    EXPECT_EQ(video->intra_matrix[0], 8);
    ASSERT_EQ(video->rc_override_count, 2);
    EXPECT_EQ(video->rc_override[0].start_frame, 0);
    EXPECT_EQ(video->rc_override[0].end_frame, 100);
    EXPECT_EQ(video->rc_override[0].qscale, 0);
    EXPECT_FLOAT_EQ(video->rc_override[0].quality_factor, 0.5f);
    EXPECT_EQ(video->rc_override[1].qscale, 10);
    EXPECT_FLOAT_EQ(video->rc_override[1].quality_factor, 1.0f);
    EXPECT_EQ(video->rc_initial_buffer_occupancy, video->rc_buffer_size * 3 / 4);
    // The pending video values are used up.
    EXPECT_FALSE(engine.VideoCodecName);
}

TEST_F(OutputFilesTest, ExtremeValuesStopAtTheEndsOfTheirFields)
{
    engine.SetOption("vcodec", "mpeg4");
    engine.SetOption("s", "160x120");
    engine.SetOption("padleft", "2147483646");
    engine.SetOption("dc", "-2147483648");
    engine.SetOption("bufsize", "2147483647");
    engine.SetOption("rc_override", "0,100,-2147483648");
    engine.SetOption("aq", "1e30");
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.mkv"))) << engine.LastErrorText;
    const AVCodecContext *video = Codec(0), *audio = Codec(1);
    EXPECT_EQ(video->width, INT_MAX);
    EXPECT_EQ(video->intra_dc_precision, INT_MIN);
    EXPECT_EQ(video->rc_initial_buffer_occupancy, 1610612735); // three quarters of 2147483647
    EXPECT_FLOAT_EQ(video->rc_override[0].quality_factor, 21474836.48f);
    EXPECT_EQ(audio->global_quality, INT_MAX);
}

TEST_F(OutputFilesTest, RateControlOverridesMustBeComplete)
{
    for (const char *text : {"0,100", "x,1,2", "1,2,", "", "0,4294967301,5"}) {
        engine.SetOption("vcodec", "mpeg4");
        engine.SetOption("rc_override", text);
        engine.SetOption("s", "160x120");
        EXPECT_FALSE(engine.AddOutputFile(dir.File("out.avi"))) << text;
        EXPECT_EQ(engine.LastErrorText, "new_video_stream fail: error parsing rc_override") << text;
        EXPECT_EQ(engine.OutputFileCount, 0);
        EXPECT_FALSE(engine.VideoCodecName);
    }
}

TEST_F(OutputFilesTest, FrameRatesComeFromTheEncodersList)
{
    const std::pair<const char *, AVRational> cases[] = {
        {"26", {1, 25}}, {"23.9", {1001, 24000}}, {"30", {1, 30}}, {"100", {1, 60}}};
    for (const auto &[rate, timeBase] : cases) {
        TCustomFFmpeg e;
        e.InitializeJob();
        e.SetOption("s", "352x288");
        e.SetOption("r", rate);
        e.SetOption("vcodec", "mpeg1video");
        ASSERT_TRUE(e.AddOutputFile(dir.File("out.mpg"))) << e.LastErrorText;
        const AVCodecContext *video = e.OutputCodecs[0][0].Context.get();
        EXPECT_EQ(video->time_base.num, timeBase.num) << rate;
        EXPECT_EQ(video->time_base.den, timeBase.den) << rate;
    }
}

TEST_F(OutputFilesTest, ACopiedVideoStreamGetsTheSampleAspectOfItsDisplayAspect)
{
    engine.SetOption("s", "720x576");
    engine.SetOption("aspect", "16:9");
    engine.SetOption("vcodec", "copy");
    engine.SetOption("an", "");
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.mkv"))) << engine.LastErrorText;
    EXPECT_TRUE(engine.OutputCodecs[0][0].StreamCopy);
    const AVRational sar = engine.OutputFiles[0]->streams[0]->sample_aspect_ratio;
    EXPECT_EQ(sar.num, 64);
    EXPECT_EQ(sar.den, 45);
    EXPECT_EQ(engine.VideoStreamCopy, 0);
}

TEST_F(OutputFilesTest, LanguagesAreCutToThreeLetters)
{
    ASSERT_TRUE(engine.AddInputFile(AudioInput()));
    engine.SetOption("alang", "english");
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.mkv"))) << engine.LastErrorText;
    const AVDictionaryEntry *language =
        avutil.av_dict_get(engine.OutputFiles[0]->streams[0]->metadata, "language", nullptr, 0);
    ASSERT_NE(language, nullptr);
    EXPECT_STREQ(language->value, "eng");
    EXPECT_EQ(engine.AudioLanguage, "");
}

TEST_F(OutputFilesTest, MetaDataGoesIntoTheMuxer)
{
    ASSERT_TRUE(engine.AddInputFile(AudioInput()));
    engine.ParseOptionLines("title=Song\nauthor=Band\ncopyright=(c)\ncomment=Nice\nalbum=Record\ngenre=" +
                            std::string(40, 'g') + "\ntimestamp=2009-06-01T12:00:00Z");
    engine.SetYear(2009);
    engine.SetTrack(3);
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.mp3"))) << engine.LastErrorText;
    const std::pair<const char *, std::string> tags[] = {
        {"title", "Song"},
        {"artist", "Band"},
        {"copyright", "(c)"},
        {"comment", "Nice"},
        {"album", "Record"},
        {"date", "2009"},
        {"track", "3"},
        {"genre", std::string(31, 'g')},
        {"creation_time", "2009-06-01T12:00:00.000000Z"},
    };
    for (const auto &[key, value] : tags) {
        const AVDictionaryEntry *entry = avutil.av_dict_get(engine.OutputFiles[0]->metadata, key, nullptr, 0);
        ASSERT_NE(entry, nullptr) << key;
        EXPECT_EQ(entry->value, value) << key;
    }
}

TEST_F(OutputFilesTest, MuxerParametersAndMuxerOptions)
{
    ASSERT_TRUE(engine.AddInputFile(AudioInput()));
    engine.SetOption("muxdelay", "0.5");
    engine.SetOption("muxpreload", "0.25");
    engine.SetOption("muxrate", "1411200");
    engine.SetOption("packetsize", "2324");
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.mpg"))) << engine.LastErrorText;
    AVFormatContext *output = engine.OutputFiles[0].get();
    EXPECT_EQ(output->max_delay, 500000);
    EXPECT_EQ(output->packet_size, 2324u);
    int64_t value = 0;
    ASSERT_GE(avutil.av_opt_get_int(output, "preload", AV_OPT_SEARCH_CHILDREN, &value), 0);
    EXPECT_EQ(value, 250000);
    ASSERT_GE(avutil.av_opt_get_int(output, "muxrate", AV_OPT_SEARCH_CHILDREN, &value), 0);
    EXPECT_EQ(value, 1411200);

    // A value the muxer refuses is left out, as any refused option value is.
    engine.SetOption("muxrate", "abc");
    ASSERT_TRUE(engine.AddOutputFile(dir.File("second.mpg"))) << engine.LastErrorText;
    ASSERT_GE(avutil.av_opt_get_int(engine.OutputFiles[1].get(), "muxrate", AV_OPT_SEARCH_CHILDREN, &value), 0);
    EXPECT_EQ(value, 1411200);
}

TEST_F(OutputFilesTest, OptionsOfOtherEncodersAndMuxersAreListedAsLeftOut)
{
    const LeftOutCase cases[] = {
        {"bitrate", "192000", true, true}, // some encoder's own option, not the MP3 encoder's
        {"muxrate", "10000", true, true},  // some muxers' option, not the MP3 muxer's
        {"joint_stereo", "maybe", true, false}, {"joint_stereo", "0", false, false},
        {"id3v2_version", "3", false, false},   {"id3v2_version", "9", true, false},
    };
    for (const LeftOutCase &c : cases) {
        engine.InitializeJob();
        ASSERT_TRUE(engine.AddInputFile(AudioInput()));
        engine.SetOption(c.name, c.value);
        ASSERT_TRUE(engine.AddOutputFile(dir.File("out.mp3"))) << engine.LastErrorText;
        ExpectListedAsLeftOut(c);
    }
}

TEST_F(OutputFilesTest, FailuresGiveTheirMessageAndCountNothing)
{
    const std::string input = AudioInput();
    const std::string inputBytes = ReadBytes(input);
    std::filesystem::create_symlink(input, dir.Path() / "link.wav");
    std::filesystem::create_hard_link(input, dir.Path() / "hard.wav");
    ASSERT_TRUE(engine.AddInputFile(input));
    ASSERT_TRUE(engine.AddOutputFile(dir.File("first.wav")));
    std::filesystem::create_directory(dir.Path() / "locked");
    chmod((dir.Path() / "locked").c_str(), 0500);
    const std::string tooLong = dir.File(std::string(300, 'n') + ".wav");
    const auto overwrite = [&input](const std::string &output) {
        return "Output file '" + output + "' would overwrite input file '" + input + "'";
    };

    struct Case {
        std::string file;
        std::string options;
        std::string message;
    };
    std::vector<Case> cases = {
        {dir.File("out.xyz"), "", "Unable to find a suitable output format for '" + dir.File("out.xyz") + "'"},
        {dir.File("no/such/folder/out.wav"), "",
         "Could not open '" + dir.File("no/such/folder/out.wav") + "': No such file or directory"},
        {tooLong, "", "Could not open '" + tooLong + "': File name too long"},
        {dir.File("out.wav"), "acodec=nosuch", "new_audio_stream fail: Unknown encoder 'nosuch'"},
        {dir.File("out.wav"), "acodec=mpeg4", "new_audio_stream fail: Invalid encoder type 'mpeg4'"},
        {input, "", overwrite(input)},
        {dir.File("./tone.wav"), "", overwrite(dir.File("./tone.wav"))},
        {dir.File("link.wav"), "", overwrite(dir.File("link.wav"))},
        {dir.File("hard.wav"), "", overwrite(dir.File("hard.wav"))},
        {"file:" + input, "", overwrite("file:" + input)},
        {"file:" + dir.File("./link.wav"), "", overwrite("file:" + dir.File("./link.wav"))},
        {"tee:" + dir.File("copy.wav") + "|" + input, "", overwrite("tee:" + dir.File("copy.wav") + "|" + input)},
        {dir.File("out.wav"), "vfilters=hflip\ncroptop=-1\ncropleft=-1",
         ""}, // negative crops are unset: accepted below
    };
    if (geteuid() != 0) // root writes into any folder
        cases.push_back(
            {dir.File("locked/out.wav"), "", "Could not open '" + dir.File("locked/out.wav") + "': Permission denied"});
    for (const Case &c : cases) {
        const int before = engine.OutputFileCount;
        engine.ParseOptionLines(c.options);
        const bool added = engine.AddOutputFile(c.file);
        if (c.message.empty()) {
            EXPECT_TRUE(added) << engine.LastErrorText;
            continue;
        }
        EXPECT_FALSE(added) << c.file;
        EXPECT_EQ(engine.LastErrorText, c.message);
        EXPECT_EQ(engine.OutputFileCount, before);
        EXPECT_TRUE(engine.OutputCodecs[before].empty());
        EXPECT_EQ(engine.OutputFormat, nullptr);
        EXPECT_FALSE(engine.AudioCodecName);
    }
    chmod((dir.Path() / "locked").c_str(), 0700);
    EXPECT_EQ(ReadBytes(input), inputBytes) << "the input was touched";
    EXPECT_FALSE(std::filesystem::exists(dir.File("copy.wav"))) << "a part of the refused output was made";
}

TEST_F(OutputFilesTest, AFileAddressWritesTheFileItNames)
{
    const std::string input = AudioInput();
    avlib::CurrentDirectoryScope here(dir.Path());
    ASSERT_TRUE(Convert("file:tone.wav", "file:out:1.wav")) << engine.ErrorMessage;
    EXPECT_EQ(DecodeAudio(dir.File("out:1.wav")).Frames(), DecodeAudio(input).Frames());
}

TEST_F(OutputFilesTest, NamesThatLookLikeAddressesAndLongPathsAreLocalFiles)
{
    // "take:1.wav" would be read as the address "1.wav" of a protocol "take".
    WriteSineWav(dir.File("take:1.wav"), 0.2);
    std::filesystem::path folder = dir.Path();
    while (folder.string().size() < 1010)
        folder /= std::string(60, 'd');
    std::filesystem::create_directories(folder);
    const std::string longName = (folder / "a-name-past-the-old-limit-of-1023-characters.wav").string();
    {
        avlib::CurrentDirectoryScope here(dir.Path());
        ASSERT_TRUE(Convert("take:1.wav", "mix:2.wav")) << engine.ErrorMessage;
    }
    EXPECT_EQ(DecodeAudio(dir.File("mix:2.wav")).Frames(), DecodeAudio(dir.File("take:1.wav")).Frames());

    TCustomFFmpeg e;
    e.InitializeJob();
    ASSERT_TRUE(e.AddInputFile(dir.File("take:1.wav")));
    ASSERT_TRUE(e.AddOutputFile(longName)) << e.LastErrorText;
    e.Start(false, tpNormal);
    EXPECT_EQ(e.ErrorMessage, "");
    EXPECT_GT(std::filesystem::file_size(longName), 1000u);
}

TEST_F(OutputFilesTest, FilterChainsExcludeCropAndResizingExcludesPad)
{
    struct Case {
        std::string options;
        std::string message;
    };
    const std::string crop = "Cannot enable crop options and filters at the same time.";
    const std::string pad = "Cannot enable pad options and the filters which resize frame at the same time. (crop, "
                            "rotate, scale, transpose, etc.)";
    const Case cases[] = {
        {"vfilters=scale=320:240,hflip\npadtop=8", pad},
        {"vfilters=hflip,Transpose=1\npadleft=2", pad},
        {"vfilters=scale=320:240\ncroptop=8", crop},
        {"vfilters=hflip\npadtop=8", ""},
        {"vfilters=scaler\npadtop=8", ""},
    };
    for (const Case &c : cases) {
        TCustomFFmpeg e;
        e.InitializeJob();
        e.SetOption("s", "320x240");
        e.ParseOptionLines(c.options);
        const bool added = e.AddOutputFile(dir.File("out.avi"));
        EXPECT_EQ(added, c.message.empty()) << c.options;
        if (!c.message.empty())
            EXPECT_EQ(e.LastErrorText, c.message) << c.options;
        else
            EXPECT_EQ(e.UseVideoFilters, 1);
    }
}

TEST_F(OutputFilesTest, ExtraStreamsJoinTheLastOutput)
{
    EXPECT_EQ(Rejection<FFMpegException>("newaudio", ""), "At least one output file must be specified");
    ASSERT_TRUE(engine.AddInputFile(AudioInput()));
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.mkv"))) << engine.LastErrorText;
    engine.SetOption("acodec", "pcm_s16le");
    engine.SetOption("alang", "ger");
    engine.SetOption("absf", "null");
    engine.SetOption("newaudio", "");
    ASSERT_EQ(engine.OutputFiles[0]->nb_streams, 2u);
    EXPECT_EQ(Codec(1)->codec_id, AV_CODEC_ID_PCM_S16LE);
    EXPECT_EQ(engine.BitstreamFilters[0][1].size(), 1u);
    EXPECT_TRUE(engine.AudioBitstreamFilters.empty());
    engine.SetOption("vcodec", "nosuch");
    EXPECT_EQ(Rejection<FFMpegException>("newvideo", ""), "Unknown encoder 'nosuch'");
    EXPECT_FALSE(engine.VideoCodecName);
    engine.SetOption("acodec", "nosuch");
    engine.SetOption("absf", "null");
    EXPECT_EQ(Rejection<FFMpegException>("newaudio", ""), "Unknown encoder 'nosuch'");
    EXPECT_EQ(engine.OutputFiles[0]->nb_streams, 2u) << "a refused stream stayed in the output";
    EXPECT_TRUE(engine.AudioBitstreamFilters.empty()) << "the refused stream's filters wait for the next one";

    // Filters are kept for the first 20 streams only: a later stream with filters is refused.
    while (engine.OutputFiles[0]->nb_streams < MAX_STREAMS)
        engine.SetOption("newaudio", "");
    engine.SetOption("absf", "null");
    EXPECT_EQ(Rejection<FFMpegException>("newaudio", ""), "stream index over MAX_STREAMS(20)");
    EXPECT_EQ(engine.OutputFiles[0]->nb_streams, static_cast<unsigned>(MAX_STREAMS));
}

TEST_F(OutputFilesTest, TargetPresetsWithAGivenNorm)
{
    engine.SetOption("target", "pal-dvd");
    EXPECT_EQ(engine.VideoCodecName, "mpeg2video");
    EXPECT_EQ(engine.AudioCodecName, "ac3");
    EXPECT_STREQ(engine.OutputFormat->name, "dvd");
    EXPECT_EQ(engine.FrameWidth, 720);
    EXPECT_EQ(engine.FrameHeight, 576);
    EXPECT_EQ(engine.FrameRate.num, 25);
    EXPECT_EQ(engine.FrameRate.den, 1);
    EXPECT_EQ(engine.AudioSampleRate, 48000);
    EXPECT_FLOAT_EQ(engine.FrameAspectRatio, 16.0f / 9.0f);
    EXPECT_EQ(engine.CodecDefaults[mkVideo]->gop_size, 15);
    EXPECT_EQ(engine.CodecDefaults[mkVideo]->bit_rate, 6000000);
    EXPECT_EQ(engine.CodecDefaults[mkAudio]->bit_rate, 448000);
    EXPECT_EQ(engine.FormatDefaults->packet_size, 2048u);
    EXPECT_EQ(recorder.Lines().back(), (LogLine{1, "Assuming 16:9 for aspect ratio"}));

    ASSERT_TRUE(engine.AddOutputFile(dir.File("disc.vob"))) << engine.LastErrorText;
    EXPECT_STREQ(engine.OutputFiles[0]->oformat->name, "dvd");
    int64_t muxRate = 0;
    ASSERT_GE(avutil.av_opt_get_int(engine.OutputFiles[0].get(), "muxrate", AV_OPT_SEARCH_CHILDREN, &muxRate), 0);
    EXPECT_EQ(muxRate, 10080000);
}

TEST_F(OutputFilesTest, TargetNormDetectedFromTheFrameRate)
{
    engine.SetOption("r", "30000/1001");
    engine.SetOption("target", "vcd");
    EXPECT_EQ(engine.FrameWidth, 352);
    EXPECT_EQ(engine.FrameHeight, 240);
    EXPECT_EQ(engine.CodecDefaults[mkVideo]->gop_size, 18);
    EXPECT_EQ(engine.MuxPreload, 0.44f);
    const auto lines = recorder.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], (LogLine{1, "Assuming NTSC for target."}));
    EXPECT_EQ(lines.back(), (LogLine{1, "Assuming 4:3 for aspect ratio"}));

    TCustomFFmpeg quiet;
    quiet.InitializeJob();
    EXPECT_THROW(
        {
            try {
                quiet.SetOption("target", "vcd");
            } catch (const FFMpegException &e) {
                EXPECT_STREQ(e.what(), "frame_rate is invalid.");
                throw;
            }
        },
        FFMpegException);
    quiet.SetOption("r", "25");
    try {
        quiet.SetOption("target", "cd");
        FAIL();
    } catch (const FFMpegException &e) {
        EXPECT_STREQ(e.what(), "Unknown target type");
    }
    quiet.SetOption("target", "film-dv");
    EXPECT_EQ(quiet.FramePixFmt, AV_PIX_FMT_YUV411P);
    EXPECT_EQ(quiet.FrameRate.num, 24000);
    quiet.SetTarget("dv50", "ntsc", "ntsc");
    EXPECT_EQ(quiet.FramePixFmt, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(quiet.FrameHeight, 480);
}

TEST_F(OutputFilesTest, TargetNormFromTheInputsVideoOrTheDefault)
{
    MediaRecipe recipe;
    recipe.seconds = 0.2;
    recipe.video = VideoTrack{"mpeg4", 160, 120, 25};
    WriteMediaFile(dir.File("pal.avi"), recipe);
    ASSERT_TRUE(engine.AddInputFile(dir.File("pal.avi")));
    engine.FrameRate = AVRational{10, 1}; // decides nothing: the input's stream does
    engine.SetOption("target", "svcd");
    EXPECT_EQ(engine.FrameHeight, 576);
    EXPECT_EQ(recorder.Lines().front(), (LogLine{1, "Assuming PAL for target."}));

    TCustomFFmpeg undecided;
    undecided.InitializeJob();
    undecided.SetOption("r", "10");
    undecided.SetOption("target", "svcd"); // default norm of the option: NTSC
    EXPECT_EQ(undecided.FrameHeight, 480);
}

namespace {

// An output that keeps only its first bytes and its size: a long file without the disk space.
struct SizeOnlySink {
    int64_t position = 0, size = 0;
    std::string head = std::string(128, '\0');

    static int Write(void *opaque, uint8_t *data, int length)
    {
        auto &sink = *static_cast<SizeOnlySink *>(opaque);
        for (int i = 0; i < length && sink.position + i < static_cast<int64_t>(sink.head.size()); ++i)
            sink.head[static_cast<size_t>(sink.position + i)] = static_cast<char>(data[i]);
        sink.position += length;
        sink.size = std::max(sink.size, sink.position);
        return length;
    }
    static int64_t Seek(void *opaque, int64_t offset, int whence)
    {
        auto &sink = *static_cast<SizeOnlySink *>(opaque);
        switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return sink.size;
        case SEEK_SET:
            return sink.position = offset;
        case SEEK_CUR:
            return sink.position += offset;
        case SEEK_END:
            return sink.position = sink.size + offset;
        default:
            return -1;
        }
    }
};

uint64_t Little64(const std::string &bytes, size_t at)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
    return value;
}

} // namespace

TEST_F(OutputFilesTest, AWaveOutputSwitchesTo64BitSizesPast4GiB)
{
    // A short WAV output reserves room for the 64-bit sizes...
    ASSERT_TRUE(Convert(AudioInput(), dir.File("short.wav"))) << engine.ErrorMessage;
    std::string head(16, '\0');
    std::ifstream(dir.File("short.wav"), std::ios::binary).read(head.data(), 16);
    EXPECT_EQ(head.substr(0, 4), "RIFF");
    EXPECT_EQ(head.substr(12, 4), "JUNK");

    // ...and the muxer the engine sets up uses it once the data passes 4 GiB.
    using AllocContext = decltype(&avio_alloc_context);
    using FreeContext = decltype(&avio_context_free);
    const auto allocContext = reinterpret_cast<AllocContext>(dlsym(RTLD_DEFAULT, "avio_alloc_context"));
    const auto freeContext = reinterpret_cast<FreeContext>(dlsym(RTLD_DEFAULT, "avio_context_free"));
    const auto writeFrame = reinterpret_cast<decltype(&av_write_frame)>(dlsym(RTLD_DEFAULT, "av_write_frame"));
    ASSERT_TRUE(allocContext && freeContext && writeFrame);
    AVFormatContext *raw = nullptr;
    ASSERT_GE(avformat.avformat_alloc_output_context2(&raw, nullptr, nullptr, "long.wav"), 0);
    OutputFormatContextPtr output(raw);
    AVStream *stream = avformat.avformat_new_stream(raw, nullptr);
    ASSERT_NE(stream, nullptr);
    stream->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    stream->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
    stream->codecpar->sample_rate = 48000;
    avutil.av_channel_layout_default(&stream->codecpar->ch_layout, 2);
    stream->codecpar->bits_per_coded_sample = 16;
    stream->codecpar->block_align = 4;
    stream->time_base = AVRational{1, 48000};
    engine.ApplyMuxerOptions(raw, 0);

    SizeOnlySink sink;
    constexpr int kBufferSize = 1 << 16;
    auto *buffer = static_cast<unsigned char *>(avutil.av_malloc(kBufferSize));
    ASSERT_NE(buffer, nullptr);
    raw->pb = allocContext(buffer, kBufferSize, 1, &sink, nullptr, &SizeOnlySink::Write, &SizeOnlySink::Seek);
    ASSERT_NE(raw->pb, nullptr);
    ASSERT_GE(avformat.avformat_write_header(raw, nullptr), 0);
    constexpr int kPacketBytes = 1 << 20;
    constexpr int64_t kPackets = 4200; // 4200 MiB: past 4 GiB
    std::vector<uint8_t> silence(kPacketBytes, 0);
    AVPacketPtr packet(avcodec.av_packet_alloc());
    for (int64_t i = 0; i < kPackets; ++i) {
        packet->data = silence.data();
        packet->size = kPacketBytes;
        packet->stream_index = 0;
        packet->pts = packet->dts = i * (kPacketBytes / 4);
        packet->duration = kPacketBytes / 4;
        ASSERT_GE(writeFrame(raw, packet.get()), 0);
    }
    packet->data = nullptr; // the muxer never owned the samples
    ASSERT_GE(avformat.av_write_trailer(raw), 0);
    avutil.av_freep(&raw->pb->buffer);
    freeContext(&raw->pb);

    EXPECT_GT(sink.size, int64_t{1} << 32);
    EXPECT_EQ(sink.head.substr(0, 4), "RF64");
    EXPECT_EQ(sink.head.substr(12, 4), "ds64");
    EXPECT_EQ(Little64(sink.head, 20), static_cast<uint64_t>(sink.size - 8));           // the whole file
    EXPECT_EQ(Little64(sink.head, 28), static_cast<uint64_t>(kPackets * kPacketBytes)); // the samples
}

TEST_F(OutputFilesTest, ACoverPictureIsNoVideoToEncode)
{
    MediaRecipe recipe;
    recipe.seconds = 0.3;
    recipe.audio = AudioTrack{"libmp3lame", 44100, 2};
    recipe.video = VideoTrack{"mjpeg", 64, 64, 1, true};
    WriteMediaFile(dir.File("covered.mp3"), recipe);
    ASSERT_TRUE(engine.AddInputFile(dir.File("covered.mp3"))) << engine.LastErrorText;
    ASSERT_EQ(engine.InputFiles[0]->nb_streams, 2u);
    for (const char *name : {"out.m4a", "out.mkv"}) {
        ASSERT_TRUE(engine.AddOutputFile(dir.File(name))) << name << ": " << engine.LastErrorText;
        EXPECT_EQ(Kinds(engine.OutputFileCount - 1), std::vector<AVMediaType>{AVMEDIA_TYPE_AUDIO}) << name;
    }
}
