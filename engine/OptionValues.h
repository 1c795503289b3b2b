// Parsers for the value syntaxes of option lines that need no engine state.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// A 32-bit colour value (red in bits 0-7, green 8-15, blue 16-23) as Y, U, V.
std::array<int32_t, 3> RgbToYuv(int32_t rgb);

// Four characters as a tag, the first in the lowest byte.
uint32_t FourCharTag(const std::string &text);

// "16:9" as 16/9, or a plain number; 0 when the text gives no usable ratio.
float ParseAspectRatio(const std::string &text);

// 64 comma-separated coefficients. Entries are filled in order; when the text ends before the
// 64th, lastIndex is the index of the last entry read and the result is false.
bool ParseMatrix(const std::string &text, std::array<uint16_t, 64> &matrix, int &lastIndex);

// Leading floating-point number as strtod reads it in the "C" locale; 0 when there is none.
double LeadingFloat(const char *text, const char **end);

std::string Trim(const std::string &text);
