#include "probe/MediaExtensions.h"

#include "libs/AVEntryPoints.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <sstream>

namespace probe {

namespace {

// Readers that name no extension because they tell their files by content.
constexpr std::pair<const char *, const char *> kUsualNames[] = {
    {"wav", "wav"},
    {"w64", "w64"},
    {"aiff", "aif,aiff,aifc"},
    {"asf", "asf,wma,wmv"},
    {"mpeg", "mpg,mpeg,vob"},
    {"mpegts", "ts,m2ts,mts"},
    {"ogg", "oga,ogv,opus,spx"},
    {"wv", "wv"},
    {"caf", "caf"},
    {"amr", "amr"},
    {"rm", "rm,ra,rmvb"},
    {"voc", "voc"},
    {"au", "au,snd"},
    {"dsf", "dsf"},
    {"xwma", "xwma"},
    {"mxf", "mxf"},
    {"nsv", "nsv"},
    {"wtv", "wtv"},
    {"swf", "swf"},
    {"mpc8", "mpc"},
};

// Readers of text, subtitles and pictures: no sound in them.
constexpr const char *kSilentReaders[] = {
    "aqtitle", "ass",        "cdg",    "image2",    "jacosub",    "lrc",          "mcc",       "microdvd",
    "mjpeg",   "mjpeg_2000", "mpjpeg", "mpl2",      "mpsub",      "pjs",          "rawvideo",  "realtext",
    "sami",    "scc",        "srt",    "stl",       "subviewer",  "subviewer1",   "sup",       "tty",
    "v210",    "v210x",      "vobsub", "vplayer",   "webvtt",     "yuv4mpegpipe", "bitpacked", "ico",
    "apng",    "gif",        "fits",   "alias_pix", "brender_pix"};

bool Silent(const char *name)
{
    const std::size_t length = std::strlen(name);
    if (length > 5 && std::strcmp(name + length - 5, "_pipe") == 0)
        return true;
    return std::any_of(std::begin(kSilentReaders), std::end(kSilentReaders),
                       [&](const char *silent) { return std::strcmp(name, silent) == 0; });
}

void AddList(const char *list, std::set<std::string> &to)
{
    std::stringstream words(list);
    for (std::string word; std::getline(words, word, ',');) {
        std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::tolower(c); });
        if (!word.empty())
            to.insert(word);
    }
}

} // namespace

std::vector<std::string> MediaFileExtensions()
{
    std::set<std::string> extensions;
    void *position = nullptr;
    while (const AVInputFormat *reader = avlib::avformat.av_demuxer_iterate(&position)) {
        if (Silent(reader->name))
            continue;
        if (reader->extensions)
            AddList(reader->extensions, extensions);
        for (const auto &[name, usual] : kUsualNames)
            if (std::strcmp(reader->name, name) == 0)
                AddList(usual, extensions);
    }
    return {extensions.begin(), extensions.end()};
}

} // namespace probe
