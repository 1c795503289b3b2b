// The builder: the output settings and the probed file as the two option records of a task; on
// plain settings records, and through the window where its controls decide what the record holds.
#include "app/OptionBuilder.h"
#include "app/OptionChoices.h"
#include "app/RadioGroup.h"
#include "app/TrackBar.h"
#include "tests/app/AppTestSupport.h"

#include "component/VeloxConverter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <limits>
#include <map>
#include <sstream>
#include <string_view>
#include <type_traits>

using namespace app_testing;
namespace fs = std::filesystem;

namespace {

// A field as text: strings as they are, numbers and flags as a stream writes them.
template <typename T>
std::string Text(const T &value)
{
    if constexpr (std::is_convertible_v<T, std::string>) {
        return value;
    } else {
        std::ostringstream text;
        text << +value;
        return text.str();
    }
}

// Every field of the record by name, so that a difference names the field.
#define FIELD(name) std::pair<const std::string, std::string>(#name, Text(o.name))
std::map<std::string, std::string> Fields(const TOutputOptions &o)
{
    return {FIELD(FileName),        FIELD(FileExt),
            FIELD(FileFormat),      FIELD(PacketSize),
            FIELD(MuxRate),         FIELD(MuxDelay),
            FIELD(MuxPreload),      FIELD(AudioCodec),
            FIELD(DisableAudio),    FIELD(AudioVolume),
            FIELD(AudioChannels),   FIELD(AudioSampleRate),
            FIELD(AudioBitrate),    FIELD(AudioBitrateTolerance),
            FIELD(AudioLanguage),   FIELD(AudioSyncMethod),
            FIELD(AudioTag),        FIELD(VideoCodec),
            FIELD(DisableVideo),    FIELD(FrameRate),
            FIELD(FrameSize),       FIELD(FrameAspectRatio),
            FIELD(CropTop),         FIELD(CropBottom),
            FIELD(CropLeft),        FIELD(CropRight),
            FIELD(PadTop),          FIELD(PadBottom),
            FIELD(PadLeft),         FIELD(PadRight),
            FIELD(PadColor),        FIELD(GOPSize),
            FIELD(VideoBitrate),    FIELD(VideoMaxRate),
            FIELD(VideoMinRate),    FIELD(VideoBitrateTolerance),
            FIELD(VideoBufSize),    FIELD(VideoSyncMethod),
            FIELD(VideoTag),        FIELD(VideoFilters),
            FIELD(DisableSubtitle), FIELD(SubtitleLanguage),
            FIELD(CopyTimestamp),   FIELD(RecordingTime),
            FIELD(Timestamp),       FIELD(Year),
            FIELD(Track),           FIELD(Title),
            FIELD(Author),          FIELD(Copyright),
            FIELD(Comment),         FIELD(Album),
            FIELD(Genre),           FIELD(Target),
            FIELD(TargetNorm),      FIELD(DefaultNorm),
            FIELD(CustomHook),      FIELD(BeforeHook),
            FIELD(VideoHookPTSs),   FIELD(ExtOptions)};
}
#undef FIELD

int FormatIndex(const char *item) { return static_cast<int>(OutputFormatItems().indexOf(item)); }

// Plug-in boxes ticked and enabled, as the window has them once their plug-ins are found.
const TPluginChoice kFound{true, true};

// The builder on a settings record and the facts of a probed input.
class OptionBuilderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureLibrariesLoaded();
        input.FileName = dir.File("a.wav");
        WriteSineWav(input.FileName, 0.2);
        fs::create_directories(vhook);
        settings.VhookFolder = vhook.string() + "/";
    }

    TOutputOptions Output() const { return OutputOptionsOf(settings, input); }
    TInputOptions Input() const { return InputOptionsOf(settings, input); }
    // The record every build starts from, stamped with the current time.
    static TOutputOptions Defaults()
    {
        TOutputOptions options;
        TCustomMediavane::InitOutputOptions(options);
        options.Timestamp = 0;
        return options;
    }
    void Format(const char *item) { settings.Format = FormatIndex(item); }
    // Loads file into the probe and takes its facts.
    void Load(const std::string &file, const std::string &format = "")
    {
        ASSERT_TRUE(probe.LoadFile(file, format)) << probe.LastErrMsg;
        input = ProbeFactsOf(&probe, probe.FirstVideo);
    }

    TempDir dir;
    std::filesystem::path vhook = dir.Path() / "vhook";
    TOptionSettings settings;
    TProbeFacts input;
    TAVProbe probe;
};

// The window's controls, read into the record the builder takes.
class OptionBuilderWindowTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        input = dir.File("a.wav");
        WriteSineWav(input, 0.2);
        Load(input);
    }

    TOutputOptions Output()
    {
        TOutputOptions options;
        options.Title = "left over"; // replaced as a whole
        window->BuildOutputOptions(options);
        return options;
    }
    TInputOptions Input()
    {
        TInputOptions options;
        options.ProgramID = 7; // replaced as a whole
        window->BuildInputOptions(options);
        return options;
    }
    void Plugins(const std::vector<std::string> &files)
    {
        for (const std::string &file : files)
            Touch((vhook / file).string());
        window->UpdateHookControls();
    }

    std::string input;
};

// A sound format's encoder, bit rate and option lines as the record has them.
std::function<void(TOutputOptions &)> Sound(const char *encoder, int32_t bits = -1, const char *lines = "",
                                            bool noVideo = false)
{
    return [=](TOutputOptions &o) {
        o.AudioCodec = encoder;
        o.AudioBitrate = bits;
        o.ExtOptions = lines;
        o.DisableVideo = noVideo;
    };
}

struct FormatRow {
    const char *item;
    std::function<void(TOutputOptions &)> expect; // beyond the defaults, except the name
    const char *suffix;
    bool audioOnlyInput;
};

} // namespace

TEST_F(OptionBuilderTest, EveryFormatItemGivesItsSuffixContainerCodecsAndOverrides)
{
    const std::vector<FormatRow> rows = {
        {"VCD",
         [](TOutputOptions &o) {
             o.Target = 1;
             o.TargetNorm = 0;
             o.DefaultNorm = 1;
         },
         "_vcd_auto.mpg", false},
        {"SVCD", [](TOutputOptions &o) { o.Target = 2; }, "_svcd_auto.mpg", false},
        {"DVD", [](TOutputOptions &o) { o.Target = 3; }, "_dvd_auto.mpg", false},
        {"3GP",
         [](TOutputOptions &o) {
             o.AudioCodec = "aac";
             o.AudioChannels = 1;
             o.AudioSampleRate = 8000;
             o.AudioBitrate = 7400;
             o.FrameSize = "128x96";
         },
         ".3gp", false},
        {"AVI", [](TOutputOptions &) {}, ".avi", false},
        {"FLV", [](TOutputOptions &o) { o.AudioSampleRate = 22050; }, ".flv", false},
        {"iPod",
         [](TOutputOptions &o) {
             o.VideoCodec = "mpeg4";
             o.AudioCodec = "aac";
             o.FrameSize = "320x240";
         },
         "_ipod.mp4", false},
        {"MKV", [](TOutputOptions &o) { o.VideoCodec = "libx264"; }, ".mkv", false},
        {"MOV", [](TOutputOptions &) {}, ".mov", false},
        {"MP4", [](TOutputOptions &) {}, ".mp4", false},
        {"OGG",
         [](TOutputOptions &o) {
             o.VideoCodec = "libtheora";
             o.AudioCodec = "flac";
         },
         ".ogg", false},
        {"PSP",
         [](TOutputOptions &o) {
             o.FileFormat = "psp";
             o.VideoCodec = "mpeg4";
             o.AudioCodec = "aac";
             o.AudioSampleRate = 24000;
             o.FrameRate = "15000/1001";
         },
         "_psp.mp4", false},
        {"RM10", [](TOutputOptions &o) { o.VideoCodec = "rv10"; }, "_rv10.rm", false},
        {"RM20", [](TOutputOptions &o) { o.VideoCodec = "rv20"; }, "_rv20.rm", false},
        {"SWF", [](TOutputOptions &o) { o.AudioSampleRate = 22050; }, ".swf", false},
        {"WMV",
         [](TOutputOptions &o) {
             o.VideoCodec = "wmv2";
             o.AudioCodec = "wmav2";
         },
         ".wmv", false},
        {"M1V", [](TOutputOptions &) {}, ".m1v", false},
        {"M2V", [](TOutputOptions &) {}, ".m2v", false},
        // The sound formats: their encoder at the default preset's quality, and their extension.
        {"AAC", Sound("aac", 192000), ".aac", true},
        {"AC3", Sound("ac3", 192000), ".ac3", true},
        {"MP2", Sound("mp2", 192000), ".mp2", true},
        {"MP3", Sound("libmp3lame", 128000, "metadata_header_padding=512"), ".mp3", true},
        {"WAV", [](TOutputOptions &) {}, ".wav", true},
        {"WMA", Sound("wmav2", 128000, "", true), ".wma", true},
        {"FLAC", Sound("flac", -1, "compression_level=5"), ".flac", true},
        {"OPUS", Sound("libopus", 128000), ".opus", true},
        {"VORBIS", Sound("libvorbis", -1, "aq=5"), ".ogg", true},
        {"M4A", Sound("aac", 192000), ".m4a", true},
        {"ALAC", Sound("alac"), ".m4a", true},
        {"WV", Sound("wavpack"), ".wv", true},
        {"AIFF", [](TOutputOptions &) {}, ".aiff", true},
    };
    ASSERT_EQ(rows.size(), 31u);
    for (size_t i = 0; i < rows.size(); ++i) {
        const FormatRow &row = rows[i];
        SCOPED_TRACE(row.item);
        ASSERT_EQ(OutputFormatItems().value(static_cast<int>(i)), row.item);
        settings.Format = static_cast<int>(i);
        settings.Quality = -1; // each format's default

        TOutputOptions expected = Defaults();
        row.expect(expected);
        expected.FileExt = row.suffix;
        expected.FileName = dir.File(std::string("a_(new)") + row.suffix);
        EXPECT_EQ(Fields(Output()), Fields(expected));

        const TInputOptions in = Input();
        EXPECT_EQ(in.FileName, input.FileName);
        EXPECT_EQ(in.FileFormat, "");
        EXPECT_EQ(in.StartTime, -1);
        EXPECT_EQ(in.ProgramID, -1);
        EXPECT_EQ(in.ExtOptions, row.audioOnlyInput ? "vn=1" : "");
    }
}

TEST_F(OptionBuilderTest, TheNameTakesTheFirstFreeNumberUnlessOverwriting)
{
    EXPECT_EQ(Output().FileName, dir.File("a_(new).mp3"));
    fs::create_symlink(dir.File("gone"), dir.File("a_(new).mp3")); // a link leading nowhere still takes its name
    EXPECT_EQ(Output().FileName, dir.File("a_(new_1).mp3"));
    Touch(dir.File("a_(new_1).mp3"));
    EXPECT_EQ(Output().FileName, dir.File("a_(new_2).mp3"));
    // A free earlier number is taken first.
    Touch(dir.File("a_(new_3).mp3"));
    fs::remove(dir.File("a_(new_1).mp3"));
    EXPECT_EQ(Output().FileName, dir.File("a_(new_1).mp3"));
    // Only the same suffix counts.
    Format("WAV");
    EXPECT_EQ(Output().FileName, dir.File("a_(new).wav"));

    Format("MP3");
    settings.Overwrite = true;
    EXPECT_EQ(Output().FileName, dir.File("a_(new).mp3"));
}

TEST_F(OptionBuilderTest, TheOutputFolderTakesTheInputsNameWithoutItsFolder)
{
    const fs::path out = dir.Path() / "out put";
    fs::create_directories(out);
    struct Row {
        std::string folder, expected;
    };
    for (const Row &row : {Row{out.string() + "/", (out / "a_(new).mp3").string()},
                           // A folder written without its closing delimiter still is the folder.
                           Row{out.string(), (out / "a_(new).mp3").string()},
                           // No folder: the name alone.
                           Row{"", "a_(new).mp3"}}) {
        SCOPED_TRACE(row.folder);
        settings.OutputFolder = QString::fromStdString(row.folder);
        EXPECT_EQ(Output().FileName, row.expected);
    }
    // The namer looks in the chosen folder, not beside the input.
    settings.OutputFolder = QString::fromStdString(out.string() + "/");
    Touch((out / "a_(new).mp3").string());
    EXPECT_EQ(Output().FileName, (out / "a_(new_1).mp3").string());
}

TEST_F(OptionBuilderTest, NamesWithBlanksLettersBeyondAsciiAndLeadingDashesAreKept)
{
    for (const std::string name : {"-x.wav", "Mein Lied ä.wav", "two.dots.wav", ".hidden"}) {
        SCOPED_TRACE(name);
        const std::string file = dir.File(name);
        MediaRecipe recipe;
        recipe.format = "wav";
        recipe.seconds = 0.1;
        recipe.audio = AudioTrack{};
        WriteMediaFile(file, recipe);
        Load(file);
        const std::string stem = name == ".hidden" ? ".hidden" : name.substr(0, name.rfind('.'));
        EXPECT_EQ(Output().FileName, dir.File(stem + "_(new).mp3"));
        EXPECT_EQ(Input().FileName, file);
    }
}

TEST_F(OptionBuilderTest, DiscFormatsTakeTheirTargetAndNormAndNameTheNorm)
{
    struct Row {
        const char *item;
        int norm;
        int target, targetNorm;
        const char *suffix;
    };
    for (const Row &row : {Row{"DVD", 2, 3, 2, "_dvd_ntsc.mpg"}, Row{"VCD", 0, 1, 0, "_vcd_auto.mpg"},
                           Row{"SVCD", 2, 2, 2, "_svcd_ntsc.mpg"}, Row{"SVCD", 1, 2, 1, "_svcd_pal.mpg"},
                           Row{"VCD", 1, 1, 1, "_vcd_pal.mpg"}, Row{"DVD", 0, 3, 0, "_dvd_auto.mpg"}}) {
        SCOPED_TRACE(std::string(row.item) + " norm " + std::to_string(row.norm));
        Format(row.item);
        settings.Norm = row.norm;
        const TOutputOptions o = Output();
        EXPECT_EQ(o.Target, row.target);
        EXPECT_EQ(o.TargetNorm, row.targetNorm);
        EXPECT_EQ(o.DefaultNorm, 1);
        EXPECT_EQ(o.FileExt, row.suffix);
        EXPECT_EQ(o.FileName, dir.File(std::string("a_(new)") + row.suffix));
    }
    // The norm means nothing to other formats.
    Format("AVI");
    settings.Norm = 2;
    EXPECT_EQ(Output().Target, 0);
    EXPECT_EQ(Output().TargetNorm, 0);
}

TEST_F(OptionBuilderTest, FlashFormatsKeepOnlyTheRatesTheyCanCarry)
{
    struct Row {
        int rateItem; // 0 Auto, 1 8000, 2 11025, 3 22050, 4 44100
        int expected;
    };
    for (const char *item : {"FLV", "SWF"}) {
        Format(item);
        for (const Row &row : {Row{0, 22050}, Row{1, 22050}, Row{2, 11025}, Row{3, 22050}, Row{4, 44100}}) {
            SCOPED_TRACE(std::string(item) + " rate item " + std::to_string(row.rateItem));
            settings.AudioSampleRate = row.rateItem;
            EXPECT_EQ(Output().AudioSampleRate, row.expected);
        }
    }
    // Other formats take the chosen rate as it is.
    Format("AVI");
    settings.AudioSampleRate = 1;
    EXPECT_EQ(Output().AudioSampleRate, 8000);
}

// 3GP overrides the chosen sound and picture size; PSP and iPod ignore the audio encoder group.
TEST_F(OptionBuilderTest, ThreeGpPspAndIpodOverrideTheChosenGroups)
{
    Format("3GP");
    settings.AudioChannels = 2;
    settings.AudioSampleRate = 4;
    settings.SetAudioBitRate = true;
    settings.AudioBitRate = "128";
    settings.AudioCodec = 4; // MP3
    settings.FrameSize = 7;
    const TOutputOptions o = Output();
    EXPECT_EQ(o.AudioChannels, 1);
    EXPECT_EQ(o.AudioSampleRate, 8000);
    EXPECT_EQ(o.AudioBitrate, 7400);
    EXPECT_EQ(o.AudioCodec, "aac");
    EXPECT_EQ(o.FrameSize, "128x96");
    for (int codec = 0; codec < static_cast<int>(kAudioCodecs.size()); ++codec) {
        SCOPED_TRACE(codec);
        settings.AudioCodec = codec;
        Format("PSP");
        EXPECT_EQ(Output().AudioCodec, "aac");
        Format("iPod");
        EXPECT_EQ(Output().AudioCodec, "aac");
    }
}

TEST_F(OptionBuilderTest, EncoderGroupsChooseTheirEncoders)
{
    Format("AVI");
    struct Row {
        int item;
        const char *codec, *tag;
    };
    for (const Row &row : {Row{0, "", ""}, Row{1, "mpeg4", "DIVX"}, Row{2, "libxvid", ""}, Row{3, "libx264", ""}}) {
        SCOPED_TRACE(row.item);
        settings.VideoCodec = row.item;
        EXPECT_EQ(Output().VideoCodec, row.codec);
        EXPECT_EQ(Output().VideoTag, row.tag);
    }
    for (const Row &row :
         {Row{0, "", ""}, Row{1, "aac", ""}, Row{2, "ac3", ""}, Row{3, "flac", ""}, Row{4, "libmp3lame", ""}}) {
        SCOPED_TRACE(row.item);
        settings.AudioCodec = row.item;
        EXPECT_EQ(Output().AudioCodec, row.codec);
    }
    // Format rules come after the groups and win; a rule's encoder takes no tag of another.
    settings.VideoCodec = 1;
    for (const char *item : {"WMV", "MKV", "OGG", "PSP", "iPod", "RM10", "RM20"}) {
        SCOPED_TRACE(item);
        Format(item);
        EXPECT_NE(Output().VideoCodec, "");
        EXPECT_EQ(Output().VideoTag, "");
    }
    Format("MOV");
    EXPECT_EQ(Output().VideoTag, "DIVX");
}

TEST_F(OptionBuilderTest, ChannelRateSizeFrameRateAndAspectFromTheirGroups)
{
    Format("AVI");
    settings.AudioChannels = 1;
    settings.AudioSampleRate = 2;
    settings.FrameRate = 4;
    settings.AspectRatio = 3;
    TOutputOptions o = Output();
    EXPECT_EQ(o.AudioChannels, 1);
    EXPECT_EQ(o.AudioSampleRate, 11025);
    EXPECT_EQ(o.FrameRate, "30");
    EXPECT_EQ(o.FrameAspectRatio, "37:20");
    settings.AudioChannels = 2;
    EXPECT_EQ(Output().AudioChannels, 2);

    struct Row {
        int item;
        const char *size;
    };
    for (const Row &row : {Row{0, ""}, Row{1, "128x96"}, Row{3, "352x288"}, Row{15, "852x480"}, Row{28, "1920x1080"}}) {
        SCOPED_TRACE(row.item);
        settings.FrameSize = row.item;
        EXPECT_EQ(Output().FrameSize, row.size);
    }
}

TEST_F(OptionBuilderTest, NumberTextsFallBackToTheirDefaultsAndStayWithinRange)
{
    settings.Format = FormatIndex("WAV"); // an MP3 takes its bit rate from the quality when none is typed
    struct Row {
        QString text;
        int32_t volume, videoBits, audioBits;
    };
    const int32_t most = std::numeric_limits<int32_t>::max();
    for (const Row &row :
         {Row{"300", 300, 300000, 300000}, Row{" 12 ", 12, 12000, 12000}, Row{"abc", -1, 200000, 64000},
          Row{"", -1, 200000, 64000}, Row{"1.5", -1, 200000, 64000}, Row{"99999999", 99999999, most, most},
          Row{"-5", -5, -5000, -5000}, Row{"99999999999", -1, 200000, 64000}}) {
        SCOPED_TRACE(row.text.toStdString());
        settings.AdjustVolume = settings.SetVideoBitRate = settings.SetAudioBitRate = true;
        settings.AudioVolume = settings.VideoBitRate = settings.AudioBitRate = row.text;
        const TOutputOptions o = Output();
        EXPECT_EQ(o.AudioVolume, row.volume);
        EXPECT_EQ(o.VideoBitrate, row.videoBits);
        EXPECT_EQ(o.AudioBitrate, row.audioBits);
    }
    // Unchecked boxes leave their fields alone, whatever the edits hold.
    settings.AdjustVolume = settings.SetVideoBitRate = settings.SetAudioBitRate = false;
    const TOutputOptions o = Output();
    EXPECT_EQ(o.AudioVolume, -1);
    EXPECT_EQ(o.VideoBitrate, -1);
    EXPECT_EQ(o.AudioBitrate, -1);
}

// The MP3 quality (each one is checked end to end in the window's run tests), or another format's,
// gives way to a bit rate typed in (the format's encoder stays) and to another encoder.
TEST_F(OptionBuilderTest, TheMp3QualityGivesWayToATypedRateAnotherEncoderOrFormat)
{
    struct Row {
        const char *what;
        std::function<void(TOptionSettings &)> change;
        std::string codec;
        int32_t bits;
        std::string lines = "metadata_header_padding=512";
    };
    const TOptionSettings base = settings;
    for (const Row &row : {
             Row{"a typed rate", [](TOptionSettings &s) { s.SetAudioBitRate = true, s.AudioBitRate = "96"; },
                 "libmp3lame", 96000},
             Row{"another encoder", [](TOptionSettings &s) { s.AudioCodec = 1; }, "aac", -1, ""},
             Row{"another format", [](TOptionSettings &s) { s.Format = FormatIndex("VORBIS"); }, "libvorbis", -1,
                 "aq=3"},
             Row{"its own encoder", [](TOptionSettings &s) { s.Format = FormatIndex("FLAC"), s.AudioCodec = 3; },
                 "flac", -1, "compression_level=4"},
             Row{"no such quality", [](TOptionSettings &s) { s.Quality = 99; }, "libmp3lame", 128000},
         }) {
        SCOPED_TRACE(row.what);
        settings = base;
        settings.Quality = 4; // a variable one, which a bit rate could not hide
        row.change(settings);
        const TOutputOptions o = Output();
        EXPECT_EQ(o.AudioCodec, row.codec);
        EXPECT_EQ(o.AudioBitrate, row.bits);
        EXPECT_EQ(o.ExtOptions, row.lines);
    }
}

TEST_F(OptionBuilderTest, CropAndPadAreEvenAndTowardZero)
{
    struct Row {
        QString text;
        int32_t value;
    };
    const std::vector<Row> rows = {{"5", 4}, {"-3", -2}, {"8", 8}, {"x", 0}, {" 7 ", 6}, {"1", 0}, {"-1", 0}};
    settings.Crop = settings.Pad = true;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        settings.CropEdges.fill(row.text);
        settings.PadEdges.fill(row.text);
        const TOutputOptions o = Output();
        for (int32_t value :
             {o.CropTop, o.CropBottom, o.CropLeft, o.CropRight, o.PadTop, o.PadBottom, o.PadLeft, o.PadRight})
            EXPECT_EQ(value, row.value);
        EXPECT_EQ(o.PadColor, 0u);
    }
    // Each edit goes to its own field.
    for (int i = 0; i < 4; ++i) {
        settings.CropEdges[i] = QString::number(2 * (i + 1));
        settings.PadEdges[i] = QString::number(20 * (i + 1));
    }
    TOutputOptions o = Output();
    EXPECT_EQ((std::vector<int32_t>{o.CropTop, o.CropBottom, o.CropLeft, o.CropRight}),
              (std::vector<int32_t>{2, 4, 6, 8}));
    EXPECT_EQ((std::vector<int32_t>{o.PadTop, o.PadBottom, o.PadLeft, o.PadRight}),
              (std::vector<int32_t>{20, 40, 60, 80}));
    settings.Crop = settings.Pad = false;
    o = Output();
    EXPECT_EQ(o.CropTop, -1);
    EXPECT_EQ(o.PadRight, -1);
}

TEST_F(OptionBuilderTest, TheFilterChainListsTheCheckedFiltersInOrderWithTheAngleInDegrees)
{
    EXPECT_EQ(Output().VideoFilters, "");
    for (bool *box : {&settings.VerticalFlip, &settings.HorizontalFlip, &settings.Negate, &settings.Scale,
                      &settings.Rotate, &settings.SetPTS})
        *box = true;
    EXPECT_EQ(Output().VideoFilters, "vflip,hflip,negate,scale=320:240,rotate=45*PI/180,setpts=0.5*PTS");

    struct Row {
        QString scale, rotate, setpts;
        const char *chain;
    };
    for (const Row &row :
         {Row{" 160:120 ", "abc", " 2*PTS ", "vflip,hflip,negate,scale=160:120,rotate=45*PI/180,setpts=2*PTS"},
          Row{"", " -30 ", "", "vflip,hflip,negate,rotate=-30*PI/180"},
          Row{"  ", "90", " ", "vflip,hflip,negate,rotate=90*PI/180"}}) {
        SCOPED_TRACE(row.chain);
        settings.ScaleSize = row.scale;
        settings.RotateDegrees = row.rotate;
        settings.PTSExpression = row.setpts;
        EXPECT_EQ(Output().VideoFilters, row.chain);
    }
    settings.VerticalFlip = settings.Negate = settings.Rotate = false;
    EXPECT_EQ(Output().VideoFilters, "hflip");
}

TEST_F(OptionBuilderTest, CopyTimestampFollowsItsBox)
{
    EXPECT_FALSE(Output().CopyTimestamp);
    settings.CopyTimestamp = true;
    EXPECT_TRUE(Output().CopyTimestamp);
}

TEST_F(OptionBuilderTest, HookLinesNameThePluginsWithTheirArgumentsInOrder)
{
    settings.Format = FormatIndex("AVI");
    for (TPluginChoice *box :
         {&settings.Imlib2Image, &settings.Imlib2Text, &settings.WaterMark, &settings.QuillImage, &settings.QuillText})
        *box = kFound;
    const std::string v = vhook.string() + "/";
    // The probed file has no video: the image goes 64 + 10 pixels in from a size of -1.
    const std::string expected = "vhook=" + v + "imlib2.so -i " + v + "imlib2.jpg -x W-w -y H-h\r\n" + "vhook=" + v +
                                 "imlib2.so -R 255 -G 255 -B 255 -F Tahoma.ttf/16 -t VeloxC -x 10 -y 10\r\n" +
                                 "vhook=" + v + "watermark.so -f " + v + "watermark.gif -m 0\r\n" + "vhook=" + v +
                                 "QuillHook.so -i " + v + "QuillHook.bmp -mc FFFFFF -ix -75 -iy -75\r\n" +
                                 "vhook=" + v +
                                 "QuillHook.so -t VeloxC -tx 10 -ty 10 -fc FFFFFF -fn Tahoma -fs 16 -fst BU\r\n";
    EXPECT_EQ(Output().ExtOptions, expected);

    settings.ImageDancing = settings.TextScrolling = settings.WaterMarkMode = true;
    const std::string moving = Output().ExtOptions;
    EXPECT_NE(moving.find("imlib2.jpg -x (W-w)*(0.5+0.5*sin(N/47*PI)) -y (H-h)*(0.5+0.5*cos(N/97*PI))\r\n"),
              std::string::npos)
        << moving;
    EXPECT_NE(moving.find("-t VeloxC -x 10 -y (H-25)*(0.5+0.50*cos(N/97*PI))\r\n"), std::string::npos) << moving;
    EXPECT_NE(moving.find("watermark.gif -m 1\r\n"), std::string::npos) << moving;

    // Hooks are external plug-ins only while the external kind is chosen.
    settings.CustomHook = true;
    EXPECT_EQ(Output().ExtOptions, "");
}

TEST_F(OptionBuilderTest, TheQuillPictureIsPlacedByItsOwnSizeInTheVideo)
{
    const std::string clip = dir.File("clip.avi");
    WriteClip(clip, 0.2, 176, 144, false);
    Load(clip);
    settings.QuillImage = kFound;
    EXPECT_NE(Output().ExtOptions.find("-ix 102 -iy 70\r\n"), std::string::npos) << Output().ExtOptions;

    QImage picture(32, 16, QImage::Format_RGB888);
    picture.fill(Qt::white);
    ASSERT_TRUE(picture.save(QString::fromStdString((vhook / "QuillHook.bmp").string()), "BMP"));
    EXPECT_NE(Output().ExtOptions.find("-ix 134 -iy 118\r\n"), std::string::npos) << Output().ExtOptions;
}

TEST_F(OptionBuilderTest, APluginPathWithABlankSeparatesThatLineByBars)
{
    settings.Format = FormatIndex("AVI");
    const fs::path spaced = dir.Path() / "Program Files" / "vhook";
    fs::create_directories(spaced);
    settings.VhookFolder = spaced.string() + "/";
    settings.WaterMark = settings.QuillText = settings.Imlib2Text = kFound;
    const std::string v = spaced.string() + "/";
    EXPECT_EQ(Output().ExtOptions, "vhook=" + v +
                                       "imlib2.so|-R|255|-G|255|-B|255|-F|Tahoma.ttf/16|-t|VeloxC|-x|10|-y|10\r\n" +
                                       "vhook=" + v + "watermark.so|-f|" + v + "watermark.gif|-m|0\r\n" + "vhook=" + v +
                                       "QuillHook.so|-t|VeloxC|-tx|10|-ty|10|-fc|FFFFFF|-fn|Tahoma|-fs|16|-fst|BU\r\n");
}

TEST_F(OptionBuilderWindowTest, TheWindowBuildsWhatItsSettingsAndItsProbeGive)
{
    window->grpFormats->SetItemIndex(FormatIndex("AVI"));
    window->chkOverwrite->setChecked(true);
    for (const bool probed : {true, false}) {
        SCOPED_TRACE(probed);
        if (!probed)
            window->LoadProbeInfo(nullptr);
        EXPECT_EQ(Fields(Output()), Fields(OutputOptionsOf(window->Settings(), window->ProbeFacts())));
        const TInputOptions in = Input();
        EXPECT_EQ(in.ProgramID, -1);
        EXPECT_EQ(in.FileName, probed ? input : "");
    }
}

TEST_F(OptionBuilderWindowTest, HookTextsAreTrimmedDefaultedAndKeptInOneWord)
{
    Plugins({"imlib2.so", "QuillHook.so"});
    window->chkImlib2Txt->setChecked(true);
    window->chkQuillHookTxt->setChecked(true);
    struct Row {
        QString typed;
        std::string word, shown, separator;
    };
    for (const Row &row :
         {Row{"  Hi  ", "Hi", "Hi", " "}, Row{"   ", "VeloxC", "VeloxC", " "}, Row{"", "VeloxC", "VeloxC", " "},
          // A blank in the text joins the line by bars, so the text stays one word.
          Row{"Hello World", "Hello World", "Hello World", "|"},
          // A bar cannot be carried: it becomes a blank.
          Row{"a|b", "a b", "a b", "|"}, Row{"-x", "-x", "-x", " "}}) {
        SCOPED_TRACE(row.typed.toStdString());
        window->edtImlib2Txt->setText(row.typed);
        window->edtQuillHookTxt->setText(row.typed);
        const std::string lines = Output().ExtOptions;
        const std::string &s = row.separator;
        EXPECT_NE(lines.find(s + "-t" + s + row.word + s + "-x" + s + "10"), std::string::npos) << lines;
        EXPECT_NE(lines.find(s + "-t" + s + row.word + s + "-tx" + s + "10"), std::string::npos) << lines;
        EXPECT_EQ(window->edtImlib2Txt->text().toStdString(), row.shown);
        EXPECT_EQ(window->edtQuillHookTxt->text().toStdString(), row.shown);
    }
}

// Only checked and enabled hooks give lines, and none from a folder that no line can carry.
TEST_F(OptionBuilderWindowTest, OnlyCheckedAndEnabledHooksGiveLines)
{
    window->grpFormats->SetItemIndex(FormatIndex("AVI"));
    window->chkWaterMark->setChecked(true); // no plug-in file: disabled
    EXPECT_FALSE(window->chkWaterMark->isEnabled());
    EXPECT_EQ(Output().ExtOptions, "");
    Plugins({"watermark.so"});
    EXPECT_TRUE(window->chkWaterMark->isEnabled());
    EXPECT_NE(Output().ExtOptions.find("watermark.so"), std::string::npos);
    window->chkWaterMark->setChecked(false);
    EXPECT_EQ(Output().ExtOptions, "");

    const fs::path barred = dir.Path() / "a|b";
    fs::create_directories(barred);
    Touch((barred / "watermark.so").string());
    window->SetVhookFolder(barred.string());
    window->chkWaterMark->setChecked(true);
    ASSERT_TRUE(window->chkWaterMark->isEnabled());
    EXPECT_EQ(Output().ExtOptions, "");
}

TEST_F(OptionBuilderWindowTest, ARelativePluginFolderGivesAbsolutePaths)
{
    window->grpFormats->SetItemIndex(FormatIndex("AVI"));
    const fs::path here = fs::current_path();
    fs::current_path(dir.Path());
    window->SetVhookFolder("vhook");
    fs::current_path(here);
    EXPECT_EQ(window->VhookFolder(), vhook.string() + "/");
    Plugins({"watermark.so"});
    window->chkWaterMark->setChecked(true);
    EXPECT_EQ(Output().ExtOptions.rfind("vhook=" + vhook.string() + "/watermark.so -f " + vhook.string() + "/", 0), 0u)
        << Output().ExtOptions;
}

TEST_F(OptionBuilderWindowTest, TheHookModeNeedsTheExternalKindAnEnabledModeAndACheckedHook)
{
    // Nothing chosen: standard behaviour.
    TOutputOptions o = Output();
    EXPECT_FALSE(o.BeforeHook);
    EXPECT_FALSE(o.CustomHook);
    EXPECT_EQ(o.VideoHookPTSs, "");

    // A mode chosen while no hook is: the modes are disabled and count for nothing.
    window->rdoBeforeHook->setChecked(true);
    EXPECT_FALSE(window->rdoBeforeHook->isEnabled());
    EXPECT_FALSE(Output().BeforeHook);

    Plugins({"watermark.so"});
    window->chkWaterMark->setChecked(true);
    ASSERT_TRUE(window->rdoBeforeHook->isEnabled());
    EXPECT_TRUE(Output().BeforeHook);
    EXPECT_EQ(Output().VideoHookPTSs, "");

    window->rdoPTSs->setChecked(true);
    window->edtPTSs->setText("1000-2000");
    o = Output();
    EXPECT_FALSE(o.BeforeHook);
    EXPECT_EQ(o.VideoHookPTSs, "1000-2000");

    // A checked hook counts here even when its plug-in went away meanwhile, but the mode must
    // still be enabled.
    fs::remove(vhook / "watermark.so");
    EXPECT_EQ(Output().VideoHookPTSs, "1000-2000");
    window->UpdateHookControls();
    EXPECT_EQ(Output().VideoHookPTSs, "");

    window->rdoCustomHook->setChecked(true);
    o = Output();
    EXPECT_TRUE(o.CustomHook);
    EXPECT_FALSE(o.BeforeHook);
    EXPECT_EQ(o.VideoHookPTSs, "");
}

// Clip times clamp to the file; a cut clip sets length and start only for a real selection.
TEST_F(OptionBuilderWindowTest, ClipTimesClampToTheFileAndACutClipNeedsARealSelection)
{
    const std::string ten = dir.File("ten.wav");
    WriteSineWav(ten, 10.0, 8000, 1);
    Load(ten);
    ASSERT_EQ(window->PreviewStep, 1000); // 10 000 units
    struct Row {
        int selStart, selEnd;
        int32_t start, duration;
    };
    for (const Row &row : {Row{2000, 5000, 2000, 3000}, Row{0, 10000, 0, 10000}, Row{2000, 20000, 2000, 8000},
                           Row{5000, 5000, 5000, 5000}, Row{6000, 5000, 6000, 4000}, Row{10000, 10000, 0, 10000},
                           Row{-5, 3000, 0, 3000}, Row{0, 0, 0, 10000}}) {
        SCOPED_TRACE(std::to_string(row.selStart) + ".." + std::to_string(row.selEnd));
        window->trcPreview->SetSelStart(row.selStart);
        window->trcPreview->SetSelEnd(row.selEnd);
        EXPECT_EQ(window->ClipStartTime(), row.start);
        EXPECT_EQ(window->ClipDuration(), row.duration);
    }
    struct Cut {
        int selStart, selEnd;
        bool check;
        int32_t recording, start;
    };
    for (const Cut &row :
         {Cut{2000, 5000, true, 3000, 2000}, Cut{0, 0, true, -1, -1}, Cut{5000, 5000, true, -1, -1},
          Cut{6000, 5000, true, -1, -1}, Cut{2000, 5000, false, -1, -1}, Cut{0, 4000, true, 4000, 0}}) {
        SCOPED_TRACE(std::to_string(row.selStart) + ".." + std::to_string(row.selEnd));
        window->trcPreview->setValue(row.selEnd);
        window->btnEndTime->click();
        window->trcPreview->setValue(row.selStart);
        window->btnStartTime->click();
        window->chkCutClip->setChecked(row.check);
        EXPECT_EQ(Output().RecordingTime, row.recording);
        // A start at 0 is no start.
        EXPECT_EQ(Input().StartTime, row.start == 0 ? 0 : row.start);
    }
    // Checked but disabled counts for nothing.
    window->trcPreview->SetSelStart(1000);
    window->trcPreview->SetSelEnd(3000);
    window->chkCutClip->setChecked(true);
    window->chkCutClip->setEnabled(false);
    EXPECT_EQ(Output().RecordingTime, -1);
    EXPECT_EQ(Input().StartTime, -1);
}

TEST_F(OptionBuilderTest, TheInputRecordCarriesTheForcedFormatOrNothingWithoutAProbe)
{
    const std::string still = dir.File("still.png");
    WriteStill(still);
    Load(still, "image2");
    Format("AVI");
    const TInputOptions in = Input();
    EXPECT_EQ(in.FileName, still);
    EXPECT_EQ(in.FileFormat, "image2");
    EXPECT_EQ(in.ExtOptions, "");
    // Without a probe the records have no input.
    input = ProbeFactsOf(nullptr, -1);
    settings.Format = FormatIndex("MP3");
    EXPECT_EQ(Input().FileName, "");
    EXPECT_EQ(Input().ExtOptions, "vn=1");
    EXPECT_EQ(Output().FileExt, ".mp3");
}
