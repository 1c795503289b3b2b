// Text shown to the user with its control characters as escapes ("\n", "\x01"), so that a file
// name or an option cannot move the terminal's cursor or break one line into two.
#pragma once

#include <string>

namespace veloxc {

bool IsControl(char c);
std::string Visible(const std::string &text);

} // namespace veloxc
