#include "veloxc/ConvertArguments.h"

#include "veloxc/VisibleText.h"

#include <charconv>

namespace veloxc {

const char *const kConvertUsage =
    "Usage: veloxc convert [OPTIONS] [--] INPUT OUTPUT\n"
    "\n"
    "Converts INPUT into OUTPUT with the engine of the batch converter.\n"
    "  --in NAME=VALUE    an engine option applied before the input is opened\n"
    "                     (for example --in ss=10 or --in f=wav)\n"
    "  --out NAME=VALUE   an engine option applied before the output is created\n"
    "                     (for example --out acodec=libmp3lame --out ab=192000 --out ac=1)\n"
    "  --verbose N        -1 quiet, 0 errors, 1 information (default), 2 debug, 3 all\n"
    "  --help, --version  show this text or the version, and do nothing else\n"
    "  --                 ends the options: the words after it are INPUT and OUTPUT\n"
    "\n"
    "An option the engine does not know or whose value it refuses is an error.\n"
    "A local OUTPUT is written to a hidden file beside it and takes its place only when the\n"
    "conversion finished: a failed or stopped run leaves an older OUTPUT as it was.\n"
    "Log lines and progress go to standard error. Ctrl-C, SIGTERM or SIGHUP stops the\n"
    "conversion; a second one ends veloxc at once.\n"
    "Exit status: 0 finished, 1 failed or could not be set up, 2 wrong command line or option,\n"
    "128 + the signal's number when stopped (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP).\n";

namespace {

bool HasControl(const std::string &text)
{
    for (const char c : text)
        if (IsControl(c))
            return true;
    return false;
}

// NAME=VALUE, or NAME alone for an empty value.
bool ReadOption(const std::string &flag, const std::string &word, std::vector<EngineOption> &options,
                std::string &error)
{
    const size_t equals = word.find('=');
    EngineOption option{word.substr(0, equals), equals == std::string::npos ? "" : word.substr(equals + 1)};
    if (option.first.empty()) {
        error = flag + " needs NAME=VALUE, not '" + Visible(word) + "'";
        return false;
    }
    if (HasControl(option.first)) {
        error = "control character in option name '" + Visible(option.first) + "'";
        return false;
    }
    if (HasControl(option.second)) {
        error = "control character in the value of option '" + option.first + "'";
        return false;
    }
    options.push_back(std::move(option));
    return true;
}

bool ReadVerbose(const std::string &word, int &verbose, std::string &error)
{
    int level = 0;
    const char *end = word.data() + word.size();
    const auto [stop, fault] = std::from_chars(word.data(), end, level);
    if (word.empty() || fault != std::errc() || stop != end || level < -1 || level > 3) {
        error = "--verbose needs a number from -1 to 3, not '" + Visible(word) + "'";
        return false;
    }
    verbose = level;
    return true;
}

} // namespace

bool ParseConvertArguments(const std::vector<std::string> &words, ConvertArguments &arguments, std::string &error)
{
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string &word = words[i];
        if (optionsEnded || word.rfind("--", 0) != 0) {
            if (!optionsEnded && word == "-h")
                return arguments.help = true;
            positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
        } else if (word == "--help") {
            return arguments.help = true;
        } else if (word == "--version") {
            return arguments.version = true;
        } else if (word == "--in" || word == "--out" || word == "--verbose") {
            if (i + 1 >= words.size()) {
                error = word + " needs a value";
                return false;
            }
            const std::string &value = words[++i];
            if (word == "--verbose"
                    ? !ReadVerbose(value, arguments.verbose, error)
                    : !ReadOption(word, value, word == "--in" ? arguments.inputOptions : arguments.outputOptions,
                                  error))
                return false;
        } else {
            error = "unknown option '" + Visible(word) + "'";
            return false;
        }
    }
    if (positional.size() != 2) {
        error = "convert needs an input and an output";
        return false;
    }
    arguments.input = positional[0];
    arguments.output = positional[1];
    return true;
}

} // namespace veloxc
