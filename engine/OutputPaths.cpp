// Output paths of re-encoded video and subtitle streams: not built yet, refused rather than faked.
#include "FFmpeg.h"

int TCustomFFmpeg::DoVideoOut(TOutputStreamRec &, TInputStreamRec &, AVFrame *)
{
    throw FFMpegException("Video encoding is not available in this build");
}

void TCustomFFmpeg::DoSubtitleOut(TOutputStreamRec &, TInputStreamRec &, int64_t)
{
    throw FFMpegException("Subtitle encoding is not available in this build");
}
