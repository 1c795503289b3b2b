// A 24-bit picture in memory: blue, green, red bytes per pixel, rows top-first, each row padded to
// four bytes (so a QImage of format Format_BGR888 can wrap the same memory). The canvas lock is
// held by whoever draws on it while another thread may read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

class TBitmap24 {
public:
    TBitmap24() = default;
    TBitmap24(int width, int height) { SetSize(width, height); }
    TBitmap24(const TBitmap24 &other) : pixels_(other.pixels_), width_(other.width_), height_(other.height_) {}
    TBitmap24 &operator=(const TBitmap24 &other);

    // Resizes; the contents become black. A size of 0 x 0 empties the bitmap.
    void SetSize(int width, int height);
    void FillBlack();
    bool Empty() const { return width_ == 0 || height_ == 0; }

    int Width() const { return width_; }
    int Height() const { return height_; }
    int PixelBits() const { return 24; }
    size_t BytesPerLine() const { return BytesPerLineFor(width_); }
    static size_t BytesPerLineFor(int width) { return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3}; }

    uint8_t *ScanLine(int y) { return pixels_.data() + static_cast<size_t>(y) * BytesPerLine(); }
    const uint8_t *ScanLine(int y) const { return pixels_.data() + static_cast<size_t>(y) * BytesPerLine(); }
    uint8_t *Bits() { return pixels_.data(); }
    const uint8_t *Bits() const { return pixels_.data(); }

    // Held while the picture is handed to code that may draw on it.
    void LockCanvas() { canvas_.lock(); }
    void UnlockCanvas() { canvas_.unlock(); }
    std::recursive_mutex &Canvas() { return canvas_; }

private:
    std::vector<uint8_t> pixels_;
    int width_ = 0;
    int height_ = 0;
    std::recursive_mutex canvas_;
};
