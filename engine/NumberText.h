// Numbers in option values. Option lines are machine text: the decimal separator is "."
// whatever the user's locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Whole-value integer: leading blanks and a sign allowed, decimal or hexadecimal after "$" or
// "0x". Anything else, or a value out of range, raises EConvertError
// "'%s' is not a valid integer value".
int32_t StrToInt(const std::string &text);
int64_t StrToInt64(const std::string &text);
// Whole-value decimal number with an optional exponent; blanks around it allowed. Raises
// EConvertError "'%s' is not a valid floating point value".
double StrToFloat(const std::string &text);

// The same conversions without raising.
std::optional<int64_t> TryStrToInt64(const std::string &text);
std::optional<double> TryStrToFloat(const std::string &text);

// Leading integer of text as strtol reads it in the given base (0: decimal, 0... octal,
// 0x... hexadecimal); end receives the position after it (the start when there is none).
long LeadingInteger(const char *text, const char **end, int base);
