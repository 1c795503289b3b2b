// Outside bytes as a media file for the probe: open it, ask for everything it tells, then seek and
// decode pictures as a preview does.
#include "fuzz/FuzzSupport.h"
#include "libs/Bitmap24.h"
#include "probe/AVProbe.h"

#include <cstdint>
#include <exception>
#include <string>
#include <typeinfo>

using namespace fuzz_support;

namespace {

// What a caller asks of an open file.
void Explore(TAVProbe &probe)
{
    TAVFormatInfo format;
    probe.GetFormatInfo(format);
    TAVStreamInfo stream;
    // -1 is the first video stream; one past the end and a negative index must be refused quietly.
    for (int i = -2; i <= probe.StreamCount; ++i)
        probe.GetStreamInfo(i, stream);
    const std::string text = probe.GetInfoText();
    if (text.rfind("File Name: ", 0) != 0)
        Finding("the information text does not start with the file name");
    if (probe.FileName().empty() || probe.FormatName().empty())
        Finding("an open file without a name or format name");
    FormatFileSize(probe.FileSize());
    const int kinds = probe.AudioCount + probe.VideoCount + probe.SubtitleCount;
    if (probe.StreamCount < 0 || kinds > probe.StreamCount)
        Finding("stream counts that do not add up");
}

// A step of the preview: a refusal is an EAVProbeError with a text, and nothing else is raised.
template <typename Step>
void PreviewStep(const char *where, Step &&step)
{
    try {
        step();
    } catch (const EAVProbeError &e) {
        if (e.what()[0] == '\0')
            Finding(std::string(where) + ": refused with an empty text");
    } catch (const std::exception &e) {
        Finding(std::string(where) + ": raised " + typeid(e).name() + ": " + e.what());
    }
}

void CheckPicture(const TBitmap24 &picture)
{
    if (picture.Empty())
        return;
    // The first and the last byte the bitmap claims: the sanitizer sees a buffer smaller than that.
    const unsigned ends = picture.ScanLine(0)[0] + picture.ScanLine(picture.Height() - 1)[picture.BytesPerLine() - 1];
    asm volatile("" : : "r"(ends)); // keeps the reads
}

// Pictures at the start, the middle and past the end, as a preview asks for them.
void Preview(TAVProbe &probe)
{
    TAVFormatInfo format;
    probe.GetFormatInfo(format);
    const int64_t duration = format.Duration > 0 ? format.Duration : 0;
    for (const int64_t pts : {int64_t{0}, duration / 2, duration + 1000000, int64_t{-1}}) {
        PreviewStep("Seek", [&] { probe.Seek(-1, pts); });
        for (int i = 0; i < 2; ++i)
            PreviewStep("DecodeFrame", [&] { CheckPicture(probe.DecodeFrame(-1)); });
    }
    // Pictures of every stream by number; the ones that are no video are refused quietly.
    for (int i = 0; i < probe.StreamCount && i < 4; ++i)
        PreviewStep("DecodeFrame", [&] { CheckPicture(probe.DecodeFrame(i)); });
    CheckPicture(probe.LastFrame());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    LoadLibraries();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = WorkFile("input");
    WriteBytes(path, data, size);
    {
        TAVProbe probe;
        if (probe.LoadFile(path)) {
            Explore(probe);
            Preview(probe);
        } else {
            if (probe.LastErrMsg.empty())
                Finding("LoadFile failed without LastErrMsg");
            if (probe.FormatContext() || !probe.GetInfoText().empty())
                Finding("a failed LoadFile left the probe open");
        }
        probe.Close();
        if (probe.StreamCount != -1 || !probe.GetInfoText().empty())
            Finding("Close left the probe open");
    }
    ClearWorkDir();
    return 0;
}
