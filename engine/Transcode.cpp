// The run of a job: set-up, main loop, end of the job.
#include "FFmpeg.h"

void TCustomFFmpeg::Transcode()
{
    // This engine has no transcoding stages yet: refuse the run rather than report
    // a conversion that did not happen.
    throw FFMpegException("Transcoding is not available in this build");
}
