// The command line of "veloxc convert", read into what the command needs.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace veloxc {

// One engine option, name and value kept apart so that no value can turn into another option.
using EngineOption = std::pair<std::string, std::string>;

struct ConvertArguments {
    std::string input, output;
    std::vector<EngineOption> inputOptions;  // applied before the input is opened
    std::vector<EngineOption> outputOptions; // applied before the output is created
    int verbose = 1;
    bool help = false;    // show the usage and do nothing else
    bool version = false; // show the version and do nothing else
};

// Reads the words after "convert". False with error (no "veloxc: " prefix) when they do not
// make a command; a help or version request ends the reading at once.
bool ParseConvertArguments(const std::vector<std::string> &words, ConvertArguments &arguments, std::string &error);

// The text shown with --help and after a usage error.
extern const char *const kConvertUsage;

} // namespace veloxc
