#include "engine/OptionValues.h"

#include "engine/NumberText.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

std::array<int32_t, 3> RgbToYuv(int32_t rgb)
{
    const int r = rgb & 0xFF;
    const int g = (rgb >> 8) & 0xFF;
    const int b = (rgb >> 16) & 0xFF;
    const int y = (307 * r + 602 * g + 117 * b + 512) >> 10;
    const int u = (((-173 * r - 340 * g + 512 * b + 511) >> 10) + 128) & 0xFF;
    const int v = (((512 * r - 429 * g - 84 * b + 511) >> 10) + 128) & 0xFF;
    return {y, u, v};
}

uint32_t FourCharTag(const std::string &text)
{
    return static_cast<uint8_t>(text[0]) | static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}

float ParseAspectRatio(const std::string &text)
{
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        const double ratio = TryStrToFloat(text).value_or(0.0);
        return std::fabs(ratio) <= std::numeric_limits<float>::max() ? static_cast<float>(ratio) : 0.0f;
    }
    const int64_t before = TryStrToInt64(text.substr(0, colon)).value_or(0);
    const int64_t after = TryStrToInt64(text.substr(colon + 1)).value_or(0);
    if (after <= 0)
        return 0.0f;
    return static_cast<float>(static_cast<double>(before) / static_cast<double>(after));
}

bool ParseMatrix(const std::string &text, std::array<uint16_t, 64> &matrix, int &lastIndex)
{
    const char *p = text.c_str();
    for (int i = 0; i < 64; ++i) {
        // Each entry is the leading integer at its position; what follows up to the comma is skipped.
        // Coefficients are 8-bit and divide: 0 or more than 255 would make the encoder fail.
        const long value = LeadingInteger(p, nullptr, 10);
        lastIndex = i;
        if (value < 1 || value > 255)
            return false;
        matrix[i] = static_cast<uint16_t>(value);
        p = std::strchr(p, ',');
        if (!p)
            return i == 63;
        ++p;
    }
    return true;
}

double LeadingFloat(const char *text, const char **end)
{
    const char *p = text;
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p == '+')
        ++p;
    double value = 0;
    const auto [stop, error] = std::from_chars(p, p + std::strlen(p), value);
    if (error != std::errc() || !std::isfinite(value)) {
        if (end)
            *end = text;
        return 0;
    }
    if (end)
        *end = stop;
    return value;
}

std::string Trim(const std::string &text)
{
    // Blanks and control characters go, as in every text the option lines carry.
    size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
        --last;
    return text.substr(first, last - first);
}
