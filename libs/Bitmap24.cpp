#include "libs/Bitmap24.h"

#include <algorithm>
#include <stdexcept>

TBitmap24 &TBitmap24::operator=(const TBitmap24 &other)
{
    if (this != &other) {
        pixels_ = other.pixels_;
        width_ = other.width_;
        height_ = other.height_;
    }
    return *this;
}

void TBitmap24::SetSize(int width, int height)
{
    if (width < 0 || height < 0)
        throw std::invalid_argument("bitmap size must not be negative");
    if (width == 0 || height == 0)
        width = height = 0;
    width_ = width;
    height_ = height;
    pixels_.assign(BytesPerLineFor(width) * static_cast<size_t>(height), 0);
}

void TBitmap24::FillBlack() { std::fill(pixels_.begin(), pixels_.end(), uint8_t{0}); }
