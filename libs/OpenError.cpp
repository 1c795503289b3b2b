#include "OpenError.h"

#include "FFmpegIncludes.h"

#include <cerrno>

std::string PrintOpenError(const std::string &fileName, int errorCode)
{
    const char *reason;
    switch (errorCode) {
    case AVERROR(ENOENT):
        reason = ": no such file or directory";
        break;
    case AVERROR(EIO):
        reason = ": I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted.";
        break;
    case AVERROR(ENOMEM):
        reason = ": memory allocation error occurred";
        break;
    case AVERROR(EINVAL):
        reason = ": Error while parsing header";
        break;
    case AVERROR(EDOM):
        reason = ": Incorrect image filename syntax.\r\n"
                 "Use '%d' to specify the image number:\r\n"
                 "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n"
                 "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'.";
        break;
    case AVERROR_INVALIDDATA: // what opening returns when no demuxer recognises the file
        reason = ": Unknown format";
        break;
    default:
        reason = ": Error while opening file";
        break;
    }
    return fileName + reason;
}
