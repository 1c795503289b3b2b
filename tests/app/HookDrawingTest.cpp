#include "app/HookDrawing.h"

#include <QFont>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

TEST(BeforeHook, TimeWindowsAreHalfOpenOnTheFull64BitTime)
{
    const std::pair<int64_t, THookAction> cases[] = {
        {INT64_MIN, haContinue},
        {-1, haContinue},
        {0, haContinue},
        {4999999, haContinue},
        {5000000, haIgnore},
        {9999999, haIgnore},
        {10000000, haContinue},
        {14999999, haContinue},
        {15000000, haStop},
        {INT64_C(1) << 40, haStop},
        {INT64_MAX, haStop},
        // A time that would wrap to a small number in 32 bits still counts as late.
        {(INT64_C(1) << 32) + 1000, haStop},
    };
    for (const auto &[pts, action] : cases)
        EXPECT_EQ(BeforeHookAction(pts), action) << pts;
}

// A bitmap whose every pixel tells where it was: blue x, green y, red 7.
TBitmap24 Numbered(int width, int height)
{
    TBitmap24 bitmap(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t *pixel = bitmap.ScanLine(y) + 3 * x;
            pixel[0] = static_cast<uint8_t>(x);
            pixel[1] = static_cast<uint8_t>(y);
            pixel[2] = 7;
        }
    // The row padding carries a mark that must survive.
    for (int y = 0; y < height; ++y)
        for (size_t i = static_cast<size_t>(width) * 3; i < bitmap.BytesPerLine(); ++i)
            bitmap.ScanLine(y)[i] = 0xEE;
    return bitmap;
}

TEST(HookFrames, FlipAndMirrorMovePixelsAndKeepTheRowPadding)
{
    for (const auto &[width, height] : std::vector<std::pair<int, int>>{{5, 3}, {4, 4}, {1, 1}, {7, 2}, {2, 7}}) {
        SCOPED_TRACE(testing::Message() << width << "x" << height);
        TBitmap24 flipped = Numbered(width, height);
        FlipVertically(flipped);
        TBitmap24 mirrored = Numbered(width, height);
        MirrorHorizontally(mirrored);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const uint8_t *f = flipped.ScanLine(y) + 3 * x;
                EXPECT_EQ(f[0], x);
                EXPECT_EQ(f[1], height - 1 - y);
                const uint8_t *m = mirrored.ScanLine(y) + 3 * x;
                EXPECT_EQ(m[0], width - 1 - x);
                EXPECT_EQ(m[1], y);
                EXPECT_EQ(m[2], 7);
            }
            for (size_t i = static_cast<size_t>(width) * 3; i < flipped.BytesPerLine(); ++i) {
                EXPECT_EQ(flipped.ScanLine(y)[i], 0xEE);
                EXPECT_EQ(mirrored.ScanLine(y)[i], 0xEE);
            }
        }
    }
    TBitmap24 empty;
    FlipVertically(empty);
    MirrorHorizontally(empty);
}

class CustomHookTest : public ::testing::Test {
protected:
    static constexpr int kWidth = 321, kHeight = 240; // an odd width: rows are padded
    TCustomHookPainter painter{QFont().family(), ApplicationIconImage(32)};

    // A grey frame.
    static TBitmap24 Grey(int width = kWidth)
    {
        TBitmap24 bitmap(width, kHeight);
        for (int y = 0; y < kHeight; ++y)
            std::fill(bitmap.ScanLine(y), bitmap.ScanLine(y) + width * 3, uint8_t{0x60});
        return bitmap;
    }
    // Pixels of a region that are no longer grey, and of those the white ones.
    static std::pair<int, int> Marked(const TBitmap24 &bitmap, int x0, int y0, int x1, int y1)
    {
        int changed = 0, white = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const uint8_t *p = bitmap.ScanLine(y) + 3 * x;
                changed += p[0] != 0x60 || p[1] != 0x60 || p[2] != 0x60;
                white += p[0] > 0xF0 && p[1] > 0xF0 && p[2] > 0xF0;
            }
        return {changed, white};
    }
    // Runs frames first..last of task 0; returns the flags of the last.
    std::pair<bool, bool> Run(int first, int last, TBitmap24 &bitmap)
    {
        bool update = true, stop = false;
        for (int frame = first; frame <= last; ++frame) {
            update = true;
            stop = false;
            painter.Paint(0, bitmap, frame, 1000000 + frame, update, stop);
        }
        return {update, stop};
    }
};

TEST_F(CustomHookTest, FrameOneWritesWhiteTextAtTenTenAndNothingElseChanges)
{
    TBitmap24 frame = Grey();
    const auto [update, stop] = Run(1, 1, frame);
    EXPECT_TRUE(update);
    EXPECT_FALSE(stop);
    const auto [changed, white] = Marked(frame, 10, 10, kWidth, 10 + 40);
    EXPECT_GT(white, 50) << "no white text under 10,10";
    EXPECT_EQ(Marked(frame, 0, 0, kWidth, 10).first, 0) << "above the text";
    EXPECT_EQ(Marked(frame, 0, 0, 10, kHeight).first, 0) << "left of the text";
    EXPECT_EQ(Marked(frame, 0, 60, kWidth, kHeight).first, 0) << "below the text";
    const THookFont font = painter.Font(0);
    EXPECT_EQ(font.Color, QColor(Qt::white));
    EXPECT_EQ(font.PointSize, 12);
    EXPECT_TRUE(font.Bold && font.Underline);
    (void)changed;
}

TEST_F(CustomHookTest, FramesOneHundredToOneFortyNineAreLeftAsTheyCame)
{
    for (int frame : {100, 120, 149}) {
        TBitmap24 bitmap = Grey();
        bool update = true, stop = false;
        painter.Paint(0, bitmap, frame, 0, update, stop);
        EXPECT_FALSE(update) << frame;
        EXPECT_FALSE(stop) << frame;
        EXPECT_EQ(Marked(bitmap, 0, 0, kWidth, kHeight).first, 0) << frame;
    }
    TBitmap24 bitmap = Grey();
    bool update = true, stop = false;
    painter.Paint(0, bitmap, 150, 0, update, stop);
    EXPECT_TRUE(update);
    EXPECT_GT(Marked(bitmap, 10, 10, kWidth, 50).first, 0) << "frame 150 writes the time stamp";
}

TEST_F(CustomHookTest, FromFrameFiveHundredFiftyTheHookAsksToStop)
{
    for (int frame : {549, 550, 551, 100000}) {
        TBitmap24 bitmap = Grey();
        bool update = true, stop = false;
        painter.Paint(0, bitmap, frame, 0, update, stop);
        EXPECT_EQ(stop, frame >= 550) << frame;
        if (frame >= 550)
            EXPECT_EQ(Marked(bitmap, 0, 0, kWidth, kHeight).first, 0) << frame;
    }
}

TEST_F(CustomHookTest, FramesBelowOneWriteTheFrameNumberWithTheFontAsItStands)
{
    TBitmap24 bitmap = Grey();
    bool update = true, stop = false;
    painter.Paint(3, bitmap, 0, 0, update, stop);
    EXPECT_TRUE(update && !stop);
    EXPECT_GT(Marked(bitmap, 10, 10, kWidth, 40).first, 0);
    EXPECT_EQ(painter.Font(3).PointSize, 8); // frame 1 never came: the first font stands
}

TEST_F(CustomHookTest, FramesThreeFiftyToFourFortyNineAreFlippedWithTheirTextNearTheBottom)
{
    TBitmap24 bitmap = Grey();
    Run(1, 349, bitmap); // the font as the run leaves it
    bitmap = Grey();
    // A red mark in the top-left corner must end up in the bottom-left one.
    bitmap.ScanLine(0)[2] = 0xFF;
    bool update = true, stop = false;
    painter.Paint(0, bitmap, 350, 0, update, stop);
    EXPECT_TRUE(update);
    EXPECT_EQ(bitmap.ScanLine(kHeight - 1)[2], 0xFF);
    EXPECT_GT(Marked(bitmap, 10, kHeight - 50, kWidth, kHeight - 10).second, 50) << "no white text at the bottom";
    EXPECT_EQ(Marked(bitmap, 0, 0, kWidth, kHeight - 60).first, 0) << "text left at the top";
    const THookFont font = painter.Font(0);
    EXPECT_EQ(font.Color, QColor(Qt::white));
    EXPECT_TRUE(font.Bold);
    EXPECT_FALSE(font.Underline);
}

TEST_F(CustomHookTest, FramesFourFiftyOnAreMirroredWithPlainText)
{
    constexpr int kWide = 1001; // room for the whole text on one side
    TBitmap24 bitmap = Grey(kWide);
    Run(1, 449, bitmap);
    bitmap = Grey(kWide);
    bool update = true, stop = false;
    painter.Paint(0, bitmap, 450, 0, update, stop);
    // The text starts 10 pixels from the left edge, so mirrored it ends 10 from the right one.
    EXPECT_GT(Marked(bitmap, kWide / 2, 10, kWide - 10, 50).first, 0);
    EXPECT_EQ(Marked(bitmap, kWide - 10, 0, kWide, kHeight).first, 0);
    EXPECT_EQ(Marked(bitmap, 0, 0, kWide / 3, kHeight).first, 0) << "text left on the left";
    const THookFont font = painter.Font(0);
    EXPECT_FALSE(font.Bold || font.Underline);
    EXPECT_EQ(font.PointSize, 16);
}

TEST_F(CustomHookTest, FramesTwoFiftyToThreeFortyNineWriteRedTextAndDrawTheIconInTheCorner)
{
    TBitmap24 bitmap = Grey();
    Run(1, 249, bitmap);
    bitmap = Grey();
    bool update = true, stop = false;
    painter.Paint(0, bitmap, 250, 0, update, stop);
    const THookFont font = painter.Font(0);
    EXPECT_EQ(font.Color, QColor(Qt::red));
    EXPECT_EQ(font.PointSize, 16);
    int red = 0;
    for (int y = 10; y < 50; ++y)
        for (int x = 10; x < 120; ++x) {
            const uint8_t *p = bitmap.ScanLine(y) + 3 * x;
            red += p[2] > 0xE0 && p[1] < 0x40 && p[0] < 0x40;
        }
    EXPECT_GT(red, 30);
    // The icon's lower right corner sits 10 pixels inside the frame's.
    EXPECT_GT(Marked(bitmap, kWidth - 42, kHeight - 42, kWidth - 10, kHeight - 10).first, 200);
    EXPECT_EQ(Marked(bitmap, kWidth - 10, 0, kWidth, kHeight).first, 0);
    EXPECT_EQ(Marked(bitmap, 0, kHeight - 10, kWidth, kHeight).first, 0);
}

TEST_F(CustomHookTest, EachTaskKeepsItsOwnFontAndResetForgetsThem)
{
    TBitmap24 bitmap = Grey();
    bool update = true, stop = false;
    painter.Paint(0, bitmap, 1, 0, update, stop);
    painter.Paint(0, bitmap, 250, 0, update, stop);
    painter.Paint(1, bitmap, 1, 0, update, stop);
    EXPECT_EQ(painter.Font(0).PointSize, 16);
    EXPECT_EQ(painter.Font(1).PointSize, 12);
    painter.Reset();
    EXPECT_EQ(painter.Font(0).PointSize, 8);
}

TEST_F(CustomHookTest, AnEmptyFrameIsLeftAlone)
{
    TBitmap24 empty;
    bool update = true, stop = false;
    painter.Paint(0, empty, 1, 0, update, stop);
    painter.Paint(0, empty, 400, 0, update, stop);
    EXPECT_TRUE(update && !stop);
}

} // namespace
