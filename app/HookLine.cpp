#include "app/HookLine.h"

#include <algorithm>

std::optional<std::string> HookCommandLine(const std::vector<std::string> &words)
{
    bool blank = false;
    for (const std::string &word : words) {
        if (word.empty() || word.find_first_of("|\r\n") != std::string::npos)
            return std::nullopt;
        blank = blank || word.find(' ') != std::string::npos;
    }
    const char *separator = blank ? "|" : " ";
    std::string line;
    for (size_t i = 0; i < words.size(); ++i) {
        if (i > 0)
            line += separator;
        line += words[i];
    }
    return line;
}

std::string HookText(const std::string &text)
{
    // Control characters and blanks at either end go, as a trim does.
    auto visible = [](char c) { return static_cast<unsigned char>(c) > ' '; };
    const auto first = std::find_if(text.begin(), text.end(), visible);
    if (first == text.end())
        return "VeloxC";
    const auto last = std::find_if(text.rbegin(), text.rend(), visible).base();
    std::string cleaned(first, last);
    std::replace_if(
        cleaned.begin(), cleaned.end(), [](char c) { return c == '|' || c == '\r' || c == '\n'; }, ' ');
    return cleaned;
}
