// The command line of a video hook plug-in as the engine's "vhook" option reads it: words
// joined by one blank, or by "|" when a word has a blank of its own.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The words joined. Nothing when a word is empty or holds "|" or a line break: the engine
// could not split such a line back into the same words.
std::optional<std::string> HookCommandLine(const std::vector<std::string> &words);

// A text for a plug-in's command line: trimmed, with "|" and line breaks turned into blanks;
// "VeloxC" when nothing is left.
std::string HookText(const std::string &text);
