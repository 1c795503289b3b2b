#include "libs/OpenError.h"
#include "libs/FFmpegIncludes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(PrintOpenErrorTest, CodesMapByMeaningOntoTheirMessages)
{
    const std::pair<int, std::string> cases[] = {
        {AVERROR(ENOENT), "in.wav: no such file or directory"},
        {AVERROR(EIO), "in.wav: I/O error occurred\r\nUsually that means that input file is truncated and/or "
                       "corrupted."},
        {AVERROR(ENOMEM), "in.wav: memory allocation error occurred"},
        {AVERROR(EINVAL), "in.wav: Error while parsing header"},
        {AVERROR(EDOM), "in.wav: Incorrect image filename syntax.\r\nUse '%d' to specify the image number:\r\n"
                        "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n"
                        "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'."},
        {AVERROR_INVALIDDATA, "in.wav: Unknown format"},
        // Codes without a text of their own: the system's reason when the code is one of its.
        {AVERROR(EACCES), "in.wav: Error while opening file (Permission denied)"},
        {AVERROR(ENAMETOOLONG), "in.wav: Error while opening file (File name too long)"},
        {AVERROR(EISDIR), "in.wav: Error while opening file (Is a directory)"},
        {AVERROR(EPERM), "in.wav: Error while opening file"}, // -1: also the libraries' "failed"
        {AVERROR_EOF, "in.wav: Error while opening file"},
        {AVERROR_PROTOCOL_NOT_FOUND, "in.wav: Error while opening file"},
        {-4096, "in.wav: Error while opening file"},
        {0, "in.wav: Error while opening file"},
    };
    for (const auto &[code, message] : cases)
        EXPECT_EQ(PrintOpenError("in.wav", code), message) << code;
}

TEST(LibraryErrorTextTest, WriteFailuresNameTheFileAndTheLibrariesReason)
{
    testing_support::EnsureLibrariesLoaded();
    const std::pair<int, std::string> cases[] = {
        {AVERROR(ENOSPC), "Could not write to 'out.wav': No space left on device"},
        {AVERROR(EPERM), "Could not write to 'out.wav': Operation not permitted"},
        {AVERROR_EOF, "Could not write to 'out.wav': End of file"},
        {AVERROR_PROTOCOL_NOT_FOUND, "Could not write to 'out.wav': Protocol not found"},
    };
    for (const auto &[code, message] : cases)
        EXPECT_EQ(PrintWriteError("out.wav", code), message) << code;
    EXPECT_EQ(PrintWriteError("", AVERROR(EIO)), "Could not write to '': Input/output error");
}

TEST(PrintOpenErrorTest, TheFileNameIsTakenAsItIs)
{
    EXPECT_EQ(PrintOpenError("100%s d.wav", AVERROR(ENOENT)), "100%s d.wav: no such file or directory");
    EXPECT_EQ(PrintOpenError("", AVERROR(ENOMEM)), ": memory allocation error occurred");
}
