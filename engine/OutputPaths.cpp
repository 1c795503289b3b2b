// Output paths of re-encoded streams.
#include "FFmpeg.h"

void TCustomFFmpeg::DoAudioOut(TOutputStreamRec &, TInputStreamRec &, const uint8_t *, int)
{
    throw FFMpegException("Audio encoding is not available in this build");
}

void TCustomFFmpeg::FlushAudioFifo(TOutputStreamRec &) {}

int TCustomFFmpeg::DoVideoOut(TOutputStreamRec &, TInputStreamRec &, AVFrame *)
{
    throw FFMpegException("Video encoding is not available in this build");
}

void TCustomFFmpeg::DoSubtitleOut(TOutputStreamRec &, TInputStreamRec &, int64_t)
{
    throw FFMpegException("Subtitle encoding is not available in this build");
}
