// The picture operations of the video path, checked pixel by pixel.
#include "engine/PictureOps.h"

#include "libs/AVDeleters.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace avlib;

namespace {

class PictureOpsTest : public ::testing::Test {
protected:
    void SetUp() override { testing_support::EnsureLibrariesLoaded(); }

    static AVFramePtr Picture(AVPixelFormat format, int width, int height)
    {
        AVFramePtr frame(avutil.av_frame_alloc());
        frame->format = format;
        frame->width = width;
        frame->height = height;
        EXPECT_GE(avutil.av_frame_get_buffer(frame.get(), 0), 0);
        return frame;
    }
};

// What the 5-tap filter gives for odd line y of a plane whose line i holds value(i) everywhere.
int Expected(int y, int height, int (*value)(int))
{
    const auto at = [&](int i) { return value(std::clamp(i, 0, height - 1)); };
    if (y % 2 == 0)
        return at(y);
    const bool last = y == height - 1;
    const int d = last ? at(y) : at(y + 1), e = last ? at(y) : at(y + 2);
    return std::clamp((-at(y - 2) + 4 * at(y - 1) + 2 * at(y) + 4 * d - e + 4) >> 3, 0, 255);
}

int Lines(int i) { return (i * 37) % 256; } // uneven, so that clipping is reached too

TEST_F(PictureOpsTest, DeinterlacingReplacesOddLinesByTheFiveTapFilterOnEveryPlane)
{
    for (const auto [format, chromaW, chromaH] : {std::tuple{AV_PIX_FMT_GRAY8, 0, 0},
                                                  {AV_PIX_FMT_YUV420P, 1, 1},
                                                  {AV_PIX_FMT_YUV422P, 1, 0},
                                                  {AV_PIX_FMT_YUV444P, 0, 0},
                                                  {AV_PIX_FMT_YUV411P, 2, 0}}) {
        SCOPED_TRACE(avutil.av_get_pix_fmt_name(format));
        const int width = 16, height = 12;
        AVFramePtr source = Picture(format, width, height), target = Picture(format, width, height);
        const int planes = format == AV_PIX_FMT_GRAY8 ? 1 : 3;
        for (int p = 0; p < planes; ++p)
            for (int y = 0; y < (p ? height >> chromaH : height); ++y)
                std::fill_n(source->data[p] + y * source->linesize[p], p ? width >> chromaW : width, Lines(y));
        ASSERT_TRUE(picture_ops::Deinterlace(target.get(), source.get()));
        for (int p = 0; p < planes; ++p) {
            const int h = p ? height >> chromaH : height, w = p ? width >> chromaW : width;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(target->data[p][y * target->linesize[p] + x], Expected(y, h, Lines))
                        << "plane " << p << " line " << y;
        }
    }
}

TEST_F(PictureOpsTest, DeinterlacingRefusesWhatTheFilterNeverTook)
{
    // Worked by hand: lines 0, 100, 200, 50; line 1 = (-0 + 4*0 + 2*100 + 4*200 - 50 + 4) >> 3, and
    // the last line has only itself below it: (-100 + 4*200 + 2*50 + 4*50 - 50 + 4) >> 3.
    AVFramePtr grey = Picture(AV_PIX_FMT_GRAY8, 4, 4), greyOut = Picture(AV_PIX_FMT_GRAY8, 4, 4);
    const uint8_t lines[4] = {0, 100, 200, 50};
    for (int y = 0; y < 4; ++y)
        std::fill_n(grey->data[0] + y * grey->linesize[0], 4, lines[y]);
    ASSERT_TRUE(picture_ops::Deinterlace(greyOut.get(), grey.get()));
    const int expected[4] = {0, 119, 200, 119};
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(greyOut->data[0][y * greyOut->linesize[0] + 2], expected[y]) << "line " << y;

    AVFramePtr rgb = Picture(AV_PIX_FMT_RGB24, 16, 16), rgbOut = Picture(AV_PIX_FMT_RGB24, 16, 16);
    EXPECT_FALSE(picture_ops::Deinterlace(rgbOut.get(), rgb.get()));
    AVFramePtr odd = Picture(AV_PIX_FMT_YUV420P, 18, 16), oddOut = Picture(AV_PIX_FMT_YUV420P, 18, 16);
    EXPECT_FALSE(picture_ops::Deinterlace(oddOut.get(), odd.get()));
    AVFramePtr small = Picture(AV_PIX_FMT_YUV420P, 16, 8), big = Picture(AV_PIX_FMT_YUV420P, 16, 16);
    EXPECT_FALSE(picture_ops::Deinterlace(small.get(), big.get()));
}

TEST_F(PictureOpsTest, ACropViewMovesEachPlaneByItsOwnSubsamplingAndPixelSize)
{
    AVFramePtr yuv = Picture(AV_PIX_FMT_YUV420P, 32, 16);
    uint8_t *const planes[3] = {yuv->data[0], yuv->data[1], yuv->data[2]};
    ASSERT_TRUE(picture_ops::CropView(yuv.get(), 4, 6, 20, 10));
    EXPECT_EQ(yuv->data[0], planes[0] + 4 * yuv->linesize[0] + 6);
    EXPECT_EQ(yuv->data[1], planes[1] + 2 * yuv->linesize[1] + 3);
    EXPECT_EQ(yuv->data[2], planes[2] + 2 * yuv->linesize[2] + 3);
    EXPECT_EQ(yuv->width, 20);
    EXPECT_EQ(yuv->height, 10);

    AVFramePtr packed = Picture(AV_PIX_FMT_RGB24, 32, 16);
    uint8_t *const start = packed->data[0];
    ASSERT_TRUE(picture_ops::CropView(packed.get(), 1, 3, 8, 8));
    EXPECT_EQ(packed->data[0], start + packed->linesize[0] + 9);

    AVFramePtr bits = Picture(AV_PIX_FMT_MONOWHITE, 32, 16);
    EXPECT_FALSE(picture_ops::CropView(bits.get(), 0, 8, 8, 8));
    AVFramePtr outside = Picture(AV_PIX_FMT_YUV420P, 32, 16);
    EXPECT_FALSE(picture_ops::CropView(outside.get(), 8, 8, 32, 8));
}

TEST_F(PictureOpsTest, PaddingFillsTheBorderWithTheColourAndCopiesThePictureInside)
{
    AVFramePtr inner = Picture(AV_PIX_FMT_YUV420P, 8, 4), padded = Picture(AV_PIX_FMT_YUV420P, 12, 10);
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < (p ? 2 : 4); ++y)
            std::fill_n(inner->data[p] + y * inner->linesize[p], p ? 4 : 8, static_cast<uint8_t>(100 + p));
    ASSERT_TRUE(picture_ops::PadPicture(padded.get(), inner.get(), 2, 4, 2, 2, {16, 128, 200}));
    const int colour[3] = {16, 128, 200};
    for (int p = 0; p < 3; ++p) {
        const int shift = p ? 1 : 0, w = 12 >> shift, h = 10 >> shift;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool inside =
                    y >= (2 >> shift) && y < ((2 + 4) >> shift) && x >= (2 >> shift) && x < ((2 + 8) >> shift);
                ASSERT_EQ(padded->data[p][y * padded->linesize[p] + x], inside ? 100 + p : colour[p])
                    << "plane " << p << " at " << x << "," << y;
            }
    }
    AVFramePtr rgb = Picture(AV_PIX_FMT_RGB24, 12, 10);
    EXPECT_FALSE(picture_ops::PadPicture(rgb.get(), nullptr, 2, 2, 2, 2, {16, 128, 128}));
    EXPECT_FALSE(picture_ops::PadPicture(padded.get(), nullptr, 6, 6, 2, 2, {16, 128, 128}));
}

} // namespace
