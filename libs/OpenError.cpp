#include "libs/OpenError.h"

#include "libs/AVEntryPoints.h"

#include <cerrno>
#include <cstring>

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
    default: {
        // The mapped text stays as it is; the system's reason, when the code has one, says which
        // failure it was (no permission, a name too long, a folder).
        const std::string system = SystemReason(errorCode);
        return fileName + ": Error while opening file" + (system.empty() ? "" : " (" + system + ")");
    }
    }
    return fileName + reason;
}

std::string SystemReason(int errorCode)
{
    // -1 is AVERROR(EPERM), but much library code returns it for any failure: no reason is given.
    const int error = -errorCode;
    if (error <= 1 || error >= 4096)
        return {};
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer); // the GNU form returns the text
}

std::string LibraryErrorText(int errorCode)
{
    if (avlib::avutil.av_strerror) {
        char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
        avlib::avutil.av_strerror(errorCode, buffer, sizeof buffer); // fills in a text even for unknown codes
        return buffer;
    }
    const std::string system = SystemReason(errorCode);
    return system.empty() ? "error " + std::to_string(errorCode) : system;
}

std::string PrintWriteError(const std::string &fileName, int errorCode)
{
    return "Could not write to '" + fileName + "': " + LibraryErrorText(errorCode);
}
