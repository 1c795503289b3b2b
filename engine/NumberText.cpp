#include "engine/NumberText.h"

#include "engine/FFMpegException.h"
#include "libs/TextFormat.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

} // namespace

std::optional<int64_t> TryStrToInt64(const std::string &text)
{
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return std::nullopt;
    uint64_t magnitude = 0;
    const char *first = text.data() + i;
    const char *last = text.data() + text.size();
    const auto [end, error] = std::from_chars(first, last, magnitude, base);
    if (error != std::errc() || end != last)
        return std::nullopt;
    // Hexadecimal spells the bit pattern: $FFFFFFFFFFFFFFFF is -1.
    if (base == 16)
        return static_cast<int64_t>(negative ? 0 - magnitude : magnitude);
    if (negative) {
        if (magnitude > static_cast<uint64_t>(INT64_MAX) + 1)
            return std::nullopt;
        return static_cast<int64_t>(0 - magnitude);
    }
    if (magnitude > static_cast<uint64_t>(INT64_MAX))
        return std::nullopt;
    return static_cast<int64_t>(magnitude);
}

int64_t StrToInt64(const std::string &text)
{
    if (const auto value = TryStrToInt64(text))
        return *value;
    throw EConvertError(avlib::FormatText("'%s' is not a valid integer value", text.c_str()));
}

int32_t StrToInt(const std::string &text)
{
    const auto value = TryStrToInt64(text);
    if (value) {
        const bool hex = text.find_first_of("$xX") != std::string::npos;
        if (*value >= INT32_MIN && *value <= INT32_MAX)
            return static_cast<int32_t>(*value);
        // A 32-bit hexadecimal pattern such as $FFFFFFFF stands for a negative number.
        if (hex && *value > INT32_MAX && *value <= UINT32_MAX)
            return static_cast<int32_t>(static_cast<uint32_t>(*value));
    }
    throw EConvertError(avlib::FormatText("'%s' is not a valid integer value", text.c_str()));
}

std::optional<double> TryStrToFloat(const std::string &text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    if (begin == end)
        return std::nullopt;
    // Plain decimal notation only: no "inf", "nan" or hexadecimal floats.
    size_t i = begin;
    if (text[i] == '+' || text[i] == '-')
        ++i;
    size_t digits = 0;
    while (i < end && std::isdigit(static_cast<unsigned char>(text[i])))
        ++i, ++digits;
    if (i < end && text[i] == '.') {
        ++i;
        while (i < end && std::isdigit(static_cast<unsigned char>(text[i])))
            ++i, ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    if (i < end && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < end && (text[i] == '+' || text[i] == '-'))
            ++i;
        size_t exponentDigits = 0;
        while (i < end && std::isdigit(static_cast<unsigned char>(text[i])))
            ++i, ++exponentDigits;
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (i != end)
        return std::nullopt;
    double value = 0;
    const char *first = text.data() + (text[begin] == '+' ? begin + 1 : begin);
    const auto [parsed, error] = std::from_chars(first, text.data() + end, value);
    if (error != std::errc() || parsed != text.data() + end)
        return std::nullopt;
    return value;
}

double StrToFloat(const std::string &text)
{
    if (const auto value = TryStrToFloat(text))
        return *value;
    throw EConvertError(avlib::FormatText("'%s' is not a valid floating point value", text.c_str()));
}

long LeadingInteger(const char *text, const char **end, int base)
{
    char *stop = nullptr;
    errno = 0;
    const long value = std::strtol(text, &stop, base);
    if (end)
        *end = stop;
    return value;
}
