#include "veloxc/VisibleText.h"

#include <cstdio>

namespace veloxc {

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

std::string Visible(const std::string &text)
{
    std::string shown;
    for (const char c : text) {
        if (c == '\n')
            shown += "\\n";
        else if (c == '\r')
            shown += "\\r";
        else if (c == '\t')
            shown += "\\t";
        else if (IsControl(c)) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(c));
            shown += escape;
        } else
            shown += c;
    }
    return shown;
}

} // namespace veloxc
