// The component's option records from outside values: every field of TInputOptions and
// TOutputOptions decoded from the input, translated onto an engine, then an output added.
#include "component/OptionTranslation.h"
#include "fuzz/EngineInputs.h"
#include "fuzz/EngineRules.h"
#include "fuzz/FuzzSupport.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>

using namespace fuzz_support;
using namespace option_translation;

namespace {

EngineInputs inputs;

template <typename T>
T PickOne(FuzzedDataProvider &p, std::initializer_list<T> list)
{
    return *(list.begin() + p.ConsumeIntegralInRange<size_t>(0, list.size() - 1));
}

int32_t PickInt(FuzzedDataProvider &p)
{
    switch (p.ConsumeIntegralInRange(0, 2)) {
    case 0:
        return PickOne<int32_t>(p, {-1, 0, 1, 2, 3, 4, 6, 8, 25, 64, 65, 256, 8000, 44100, 48000, 768001, 1000000,
                                    std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()});
    case 1:
        return p.ConsumeIntegralInRange<int32_t>(-2, 1 << 16);
    default:
        return p.ConsumeIntegral<int32_t>();
    }
}

template <typename Real>
Real PickReal(FuzzedDataProvider &p, std::initializer_list<Real> special)
{
    if (p.ConsumeBool())
        return PickOne(p, special);
    return p.ConsumeFloatingPoint<Real>();
}

std::string PickText(FuzzedDataProvider &p, std::initializer_list<const char *> known, size_t longest = 24)
{
    if (known.size() != 0 && p.ConsumeBool())
        return PickOne(p, known);
    return p.ConsumeRandomLengthString(longest);
}

constexpr float kInfF = std::numeric_limits<float>::infinity();
constexpr float kNanF = std::numeric_limits<float>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

TOutputOptions PickOutputOptions(FuzzedDataProvider &p)
{
    TOutputOptions o;
    o.FileFormat = PickText(p, {"", "wav", "mp3", "null", "avi", "matroska", "vcd", "ogg", "pgmyuv", "image2"});
    o.PacketSize = PickInt(p);
    o.MuxRate = PickInt(p);
    o.MuxDelay = PickReal<float>(p, {-1.0f, 0.0f, 0.7f, 1e-9f, FLT_MAX, kInfF, kNanF});
    o.MuxPreload = PickReal<float>(p, {-1.0f, 0.0f, 0.5f, 1e-9f, FLT_MAX, kInfF, kNanF});
    o.AudioCodec = PickText(p, {"", "copy", "libmp3lame", "pcm_s16le", "mp2", "flac", "aac", "mpeg4"});
    o.DisableAudio = p.ConsumeBool();
    o.AudioVolume = PickInt(p);
    o.AudioChannels = PickInt(p);
    o.AudioSampleRate = PickInt(p);
    o.AudioBitrate = PickInt(p);
    o.AudioBitrateTolerance = PickInt(p);
    o.AudioLanguage = PickText(p, {"", "eng", "deu"});
    o.AudioSyncMethod = PickInt(p);
    o.AudioTag = PickText(p, {"", "abcd", "MP3 "}, 6);
    o.VideoCodec = PickText(p, {"", "copy", "mpeg4", "mjpeg", "libmp3lame"});
    o.DisableVideo = p.ConsumeBool();
    o.FrameRate = PickText(p, {"", "25", "30000/1001", "ntsc", "0/0", "-1"});
    o.FrameSize = PickText(p, {"", "320x240", "vga", "2x2", "65536x65536", "0x0"});
    o.FrameAspectRatio = PickText(p, {"", "16:9", "4:3", "0", "1:0", "-1:1"});
    for (int32_t *field :
         {&o.CropTop, &o.CropBottom, &o.CropLeft, &o.CropRight, &o.PadTop, &o.PadBottom, &o.PadLeft, &o.PadRight})
        *field = PickInt(p);
    o.PadColor = p.ConsumeIntegral<uint32_t>();
    for (int32_t *field : {&o.GOPSize, &o.VideoBitrate, &o.VideoMaxRate, &o.VideoMinRate, &o.VideoBitrateTolerance,
                           &o.VideoBufSize, &o.VideoSyncMethod})
        *field = PickInt(p);
    o.VideoTag = PickText(p, {"", "XVID", "DIVX"}, 6);
    o.VideoFilters = PickText(p, {"", "scale=64:48", "crop=2:2", "null", "transpose"});
    o.DisableSubtitle = p.ConsumeBool();
    o.SubtitleLanguage = PickText(p, {"", "eng"});
    o.CopyTimestamp = p.ConsumeBool();
    o.RecordingTime = PickInt(p);
    o.Timestamp = PickReal<double>(p, {-1.0, 0.0, 25569.0, 45000.25, 1e300, -1e300, kInf, kNan});
    o.Year = PickInt(p);
    o.Track = PickInt(p);
    for (std::string *text : {&o.Title, &o.Author, &o.Copyright, &o.Comment, &o.Album, &o.Genre})
        *text = p.ConsumeRandomLengthString(600);
    o.Target = PickInt(p);
    o.TargetNorm = PickInt(p);
    o.DefaultNorm = PickInt(p);
    o.CustomHook = p.ConsumeBool();
    o.BeforeHook = p.ConsumeBool();
    o.VideoHookPTSs = PickText(p, {"", "0-5000,10000-15000", "-5-10", "5000-0", "9223372036854775807-"}, 64);
    o.ExtOptions = p.ConsumeRandomLengthString(256);
    return o;
}

// A meta-data text as the record promises to hand it on: up to the first NUL and at most limit
// bytes, cut only between UTF-8 characters.
void CheckMetaData(const char *name, const std::string &given, const std::string &held, size_t limit)
{
    const std::string whole = given.substr(0, given.find('\0'));
    if (whole.empty())
        return; // the engine keeps what it had
    if (whole.size() > limit) {
        bool boundary = false;
        for (size_t i = 1; i <= limit && !boundary; ++i)
            boundary = (static_cast<unsigned char>(whole[i]) & 0xC0) != 0x80;
        if (!boundary)
            return; // no character starts within the limit: nothing goes on, the engine keeps what it had
    }
    if (held.size() > limit || whole.compare(0, held.size(), held) != 0)
        Finding(std::string(name) + ": the engine holds no leading part of the record's text within the limit");
    if (held.size() < whole.size() && (static_cast<unsigned char>(whole[held.size()]) & 0xC0) == 0x80)
        Finding(std::string(name) + ": the text was cut inside a UTF-8 character (after " +
                std::to_string(held.size()) + " of " + std::to_string(whole.size()) + " bytes)");
    if (held.size() < whole.size() && whole.size() <= limit)
        Finding(std::string(name) + ": a text within the limit was cut");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    LoadLibraries();
    inputs = WriteEngineInputs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider p(data, size);
    {
        TCustomFFmpeg engine;
        engine.InitializeJob();
        engine.LogCallback = [](TCustomFFmpeg *, int, const std::string &) {};

        const int input = p.ConsumeIntegralInRange(0, 2); // none, the tone, the clip
        if (input != 0) {
            TInputOptions in;
            in.FileFormat = PickText(p, {"", "wav", "avi", "mp3", "pgmyuv", "nothing"});
            in.StartTime = PickInt(p);
            in.ProgramID = PickInt(p);
            in.ExtOptions = p.ConsumeRandomLengthString(128);
            Accepted("ApplyInputOptions", [&] { ApplyInputOptions(engine, in); });
            RequireErrorText("AddInputFile", engine.AddInputFile(input == 1 ? inputs.tone : inputs.clip), engine);
        }

        const std::string extension = PickText(p, {"wav", "mp3", "avi", "mkv", "ogg", "flac", "mpg", ""}, 8);
        const TOutputOptions o = PickOutputOptions(p);
        THookWiring hooks;
        hooks.BeforeHook = [](TCustomFFmpeg *, THookAction &, int64_t) {};
        hooks.CustomHook = [](TCustomFFmpeg *, TBitmap24 *, int, int64_t, bool &, bool &) {};
        if (Accepted("ApplyOutputOptions", [&] { ApplyOutputOptions(engine, o, hooks); })) {
            CheckMetaData("Title", o.Title, engine.Title, 512);
            CheckMetaData("Author", o.Author, engine.Author, 512);
            CheckMetaData("Copyright", o.Copyright, engine.Copyright, 512);
            CheckMetaData("Comment", o.Comment, engine.Comment, 512);
            CheckMetaData("Album", o.Album, engine.Album, 512);
            CheckMetaData("Genre", o.Genre, engine.Genre, 32);
        }
        RequireErrorText("AddOutputFile", engine.AddOutputFile(WorkFile("out." + extension)), engine);

        for (const THookRange &range : ParseHookRanges(o.VideoHookPTSs))
            if (range.Start > range.End || range.End < 0)
                Finding("ParseHookRanges kept a pair that is no range");
        UnixSecondsFromDateTime(o.Timestamp, PickInt(p));
    }
    ClearWorkDir(kEngineInputNames);
    return 0;
}
