#include "FFmpegIncludes.h"
#include "OpenError.h"

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
        {AVERROR(EACCES), "in.wav: Error while opening file"},
        {AVERROR_EOF, "in.wav: Error while opening file"},
        {-1, "in.wav: Error while opening file"},
    };
    for (const auto &[code, message] : cases)
        EXPECT_EQ(PrintOpenError("in.wav", code), message) << code;
}

TEST(PrintOpenErrorTest, TheFileNameIsTakenAsItIs)
{
    EXPECT_EQ(PrintOpenError("100%s d.wav", AVERROR(ENOENT)), "100%s d.wav: no such file or directory");
    EXPECT_EQ(PrintOpenError("", AVERROR(ENOMEM)), ": memory allocation error occurred");
}
