#include "veloxc/BatchArguments.h"

#include <algorithm>
#include <charconv>
#include <functional>

namespace veloxc {

const char *const kBatchUsage =
    "Usage: veloxc batch [OPTIONS] [--] PATH...\n"
    "\n"
    "Converts the sound of media files, several at once. Folders are searched with their\n"
    "subfolders; what is not a media file with sound is left alone and counted.\n"
    "  -f, --format FORMAT      output format (default mp3):\n"
    "                           mp3, opus, ogg (Vorbis), m4a (AAC), aac, ac3, mp2, wma (lossy);\n"
    "                           flac, alac (in .m4a), wv (WavPack), aiff, wav (lossless)\n"
    "  -q, --quality Q          variable quality: mp3 0..9, 0 best (default 2);\n"
    "                           ogg -1..10, 10 best (default 5)\n"
    "  -b, --bitrate KBPS       bit rate: mp3 constant 8-320 (32-320 at 32 kHz and above, 8-160\n"
    "                           at 16-24 kHz, 8-64 below; the nearest is used, and said);\n"
    "                           opus 32-256 (variable, default 128); m4a and aac 96-320\n"
    "                           (default 192); ac3, mp2 and wma their encoders' rates\n"
    "      --level N            flac compression 0..8 (default 5); the sound is the same\n"
    "  -r, --rate HZ            sample rate (default: the input's, or the nearest MP3 takes)\n"
    "  -c, --channels 1|2       channels (default: the input's, at most 2 for MP3)\n"
    "      --bits 16|24|32|float\n"
    "                           WAV samples (default: the input's depth and kind; 16-bit from\n"
    "                           lossy sources); a reduction is dithered\n"
    "  -o, --output-dir DIR     outputs go there, a folder's tree below it mirrored;\n"
    "                           without it each output goes beside its input\n"
    "  -j, --jobs N             conversions at once (default: the number of cores); with fewer\n"
    "                           files left than jobs, idle ones help encode a long MP3 in segments\n"
    "      --no-segments        each MP3 is encoded on one core only\n"
    "      --on-exists skip|rename|overwrite\n"
    "                           an output that exists already: left alone (default), the new one\n"
    "                           named \"name (1).mp3\", or replaced\n"
    "      --no-tags            do not carry tags and cover pictures over\n"
    "      --dry-run            show what would be done, and do nothing\n"
    "      --quiet              only errors and the summary\n"
    "      --help, --version\n"
    "\n"
    "An output is written under a hidden temporary name beside it and takes its name only when it\n"
    "is complete. Ctrl-C, SIGTERM or SIGHUP stops the running conversions and removes their\n"
    "temporary files; a second one ends veloxc at once.\n"
    "Exit status: 0 every input converted or skipped, 1 some failed, 2 wrong command line,\n"
    "128 + the signal's number when stopped (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP).\n";

namespace {

bool ReadNumber(const std::string &text, int &number)
{
    const char *end = text.data() + text.size();
    const auto [stop, fault] = std::from_chars(text.data(), end, number);
    return !text.empty() && fault == std::errc() && stop == end;
}

// "-f X", "--format X" and "--format=X" alike.
struct Option {
    const char *shortName; // nullptr: long only
    const char *longName;
    bool takesValue;
    std::function<bool(const std::string &value, BatchArguments &arguments, std::string &error)> apply;
};

std::function<bool(const std::string &, BatchArguments &, std::string &)>
Bounded(std::optional<int> BatchArguments::*field, const char *name, int lowest, int highest)
{
    return [=](const std::string &value, BatchArguments &arguments, std::string &error) {
        int number = 0;
        if (!ReadNumber(value, number) || number < lowest || number > highest) {
            error = std::string(name) + " needs a number from " + std::to_string(lowest) + " to " +
                    std::to_string(highest) + ", not '" + value + "'";
            return false;
        }
        arguments.*field = number;
        return true;
    };
}

// The value is checked against the format once every option is read.
std::function<bool(const std::string &, BatchArguments &, std::string &)> Quality(const char *term)
{
    return [=](const std::string &value, BatchArguments &arguments, std::string &error) {
        int number = 0;
        if (!ReadNumber(value, number)) {
            error = "--" + std::string(term) + " needs a number, not '" + value + "'";
            return false;
        }
        if (arguments.qualityTerm && *arguments.qualityTerm != term) {
            error = "--" + *arguments.qualityTerm + " and --" + term + " exclude each other";
            return false;
        }
        arguments.qualityTerm = term;
        arguments.qualityValue = number;
        return true;
    };
}

const Option kOptions[] = {
    {"-f", "--format", true,
     [](const std::string &value, BatchArguments &arguments, std::string &error) {
         const batch::OutputFormat *format = batch::OutputFormatNamed(value);
         if (!format) {
             error = "--format is one of " + batch::OutputFormatNames() + ", not '" + value + "'";
             return false;
         }
         arguments.format = format->name;
         return true;
     }},
    {"-q", "--quality", true, Quality("quality")},
    {"-b", "--bitrate", true, Quality("bitrate")},
    {nullptr, "--level", true, Quality("level")},
    {"-r", "--rate", true, Bounded(&BatchArguments::rate, "--rate", 8000, 768000)},
    {"-c", "--channels", true, Bounded(&BatchArguments::channels, "--channels", 1, 2)},
    {"-o", "--output-dir", true,
     [](const std::string &value, BatchArguments &arguments, std::string &error) {
         if (value.empty()) {
             error = "--output-dir needs a folder";
             return false;
         }
         arguments.outputDir = value;
         return true;
     }},
    {"-j", "--jobs", true,
     [](const std::string &value, BatchArguments &arguments, std::string &error) {
         int jobs = 0;
         if (!ReadNumber(value, jobs) || jobs < 1 || jobs > 64) {
             error = "--jobs needs a number from 1 to 64, not '" + value + "'";
             return false;
         }
         arguments.jobs = jobs;
         return true;
     }},
    {nullptr, "--on-exists", true,
     [](const std::string &value, BatchArguments &arguments, std::string &error) {
         if (value == "skip")
             arguments.onExists = OnExists::Skip;
         else if (value == "rename")
             arguments.onExists = OnExists::Rename;
         else if (value == "overwrite")
             arguments.onExists = OnExists::Overwrite;
         else {
             error = "--on-exists is skip, rename or overwrite, not '" + value + "'";
             return false;
         }
         return true;
     }},
    {nullptr, "--bits", true,
     [](const std::string &value, BatchArguments &arguments, std::string &error) {
         if (!BatchArguments::WaveCodecOfBits(value)) {
             error = "--bits is 16, 24, 32 or float, not '" + value + "'";
             return false;
         }
         arguments.bits = value;
         return true;
     }},
    {nullptr, "--no-segments", false,
     [](const std::string &, BatchArguments &a, std::string &) { return a.noSegments = true; }},
    {nullptr, "--no-tags", false,
     [](const std::string &, BatchArguments &a, std::string &) { return a.noTags = true; }},
    {nullptr, "--dry-run", false,
     [](const std::string &, BatchArguments &a, std::string &) { return a.dryRun = true; }},
    {nullptr, "--quiet", false, [](const std::string &, BatchArguments &a, std::string &) { return a.quiet = true; }},
    {"-h", "--help", false, [](const std::string &, BatchArguments &a, std::string &) { return a.help = true; }},
    {nullptr, "--version", false,
     [](const std::string &, BatchArguments &a, std::string &) { return a.version = true; }},
};

// The MP3 encoder's rates; another would be refused by it for every file.
constexpr int kMp3Rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

bool CheckTogether(const BatchArguments &arguments, std::string &error)
{
    if (arguments.paths.empty()) {
        error = "batch needs at least one file or folder";
        return false;
    }
    if (arguments.qualityTerm) {
        if (const auto refusal =
                batch::CheckQuality(arguments.Format(), *arguments.qualityTerm, arguments.qualityValue)) {
            error = *refusal;
            return false;
        }
    }
    if (arguments.format != "wav" && arguments.bits) {
        error = "--bits is for wav only";
        return false;
    }
    if (arguments.format == "mp3" && arguments.rate &&
        std::find(std::begin(kMp3Rates), std::end(kMp3Rates), *arguments.rate) == std::end(kMp3Rates)) {
        error = "--rate " + std::to_string(*arguments.rate) +
                " is no MP3 rate (8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000)";
        return false;
    }
    return true;
}

} // namespace

const batch::OutputFormat &BatchArguments::Format() const
{
    const batch::OutputFormat *named = batch::OutputFormatNamed(format);
    return named ? *named : batch::OutputFormats().front();
}

batch::FormatQuality BatchArguments::Quality() const
{
    const batch::OutputFormat &row = Format();
    if (!qualityTerm)
        return row.DefaultQuality();
    const batch::QualityLadder *ladder = row.LadderOf(*qualityTerm);
    return ladder ? batch::FormatQuality{static_cast<int>(ladder - row.ladders.data()), qualityValue}
                  : row.DefaultQuality();
}

const char *BatchArguments::WaveCodecOfBits(const std::string &bits)
{
    static const std::pair<const char *, const char *> kCodecs[] = {
        {"16", "pcm_s16le"}, {"24", "pcm_s24le"}, {"32", "pcm_s32le"}, {"float", "pcm_f32le"}};
    for (const auto &[name, codec] : kCodecs)
        if (bits == name)
            return codec;
    return nullptr;
}

bool ParseBatchArguments(const std::vector<std::string> &words, int defaultJobs, BatchArguments &arguments,
                         std::string &error)
{
    arguments.jobs = std::clamp(defaultJobs, 1, 64);
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string &word = words[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            arguments.paths.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const bool longForm = word.rfind("--", 0) == 0;
        const size_t equals = longForm ? word.find('=') : std::string::npos;
        std::string name = word.substr(0, equals);
        std::string attached; // "-q2": a short option with its value joined on
        if (!longForm && word.size() > 2) {
            name = word.substr(0, 2);
            attached = word.substr(2);
        }
        const Option *option = nullptr;
        for (const Option &candidate : kOptions)
            if (name == candidate.longName || (candidate.shortName && name == candidate.shortName))
                option = &candidate;
        if (!option) {
            error = "unknown option '" + word + "'";
            return false;
        }
        std::string value;
        if (!attached.empty()) {
            if (!option->takesValue) {
                error = "unknown option '" + word + "'";
                return false;
            }
            value = attached;
        } else if (equals != std::string::npos) {
            if (!option->takesValue) {
                error = name + " takes no value";
                return false;
            }
            value = word.substr(equals + 1);
        } else if (option->takesValue) {
            if (i + 1 >= words.size()) {
                error = name + " needs a value";
                return false;
            }
            value = words[++i];
        }
        if (!option->apply(value, arguments, error))
            return false;
        if (arguments.help || arguments.version)
            return true;
    }
    return CheckTogether(arguments, error);
}

} // namespace veloxc
