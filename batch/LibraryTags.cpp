#include "batch/LibraryTags.h"

#include "libs/AVDeleters.h"
#include "libs/AVEntryPoints.h"
#include "libs/MediaUrl.h"

namespace batch {

namespace {

// The carried fields by the names the libraries give them, the first found of each. Matroska
// tags of a target type come as "ALBUM/TITLE" or "TRACK/ARTIST": a track's own value wins over a
// plain one, whose level is unclear (officially the album's, for most writers the file's), and an
// album's title and artist are the album and its artist, never the track's.
struct FieldNames {
    const char *field;
    std::initializer_list<const char *> names;
};
const FieldNames kFields[] = {
    {"TITLE", {"TRACK/TITLE", "title"}},
    {"ARTIST", {"TRACK/ARTIST", "artist", "performer"}},
    {"ALBUM", {"album", "ALBUM/TITLE"}},
    {"ALBUMARTIST", {"album_artist", "ALBUM/ARTIST"}},
    {"TRACKNUMBER", {"TRACK/PART_NUMBER", "track", "part_number"}},
    {"DISCNUMBER", {"disc"}},
    {"DATE", {"TRACK/DATE_RELEASED", "date", "date_released", "year", "ALBUM/DATE_RELEASED"}},
    {"GENRE", {"TRACK/GENRE", "genre", "ALBUM/GENRE"}},
    {"COMMENT", {"TRACK/COMMENT", "comment", "description", "ALBUM/COMMENT"}},
};

const char *PictureType(AVCodecID codec)
{
    switch (codec) {
    case AV_CODEC_ID_MJPEG:
        return "image/jpeg";
    case AV_CODEC_ID_PNG:
        return "image/png";
    case AV_CODEC_ID_BMP:
        return "image/bmp";
    case AV_CODEC_ID_GIF:
        return "image/gif";
    case AV_CODEC_ID_WEBP:
        return "image/webp";
    default:
        return nullptr;
    }
}

std::string Lowercase(const char *text)
{
    std::string lower = text ? text : "";
    for (char &c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

std::string MetadataText(const AVDictionary *metadata, const char *key)
{
    const AVDictionaryEntry *entry = avlib::avutil.av_dict_get(metadata, key, nullptr, 0);
    return Lowercase(entry ? entry->value : nullptr);
}

// How surely an attached picture is the front cover, 0 surest. Matroska names its front cover
// "cover.jpg" or "cover.png" and its other sizes "cover_land", "small_cover"; "folder" is a common
// name for one too. Readers of ID3 pictures give their kind as a comment ("Cover (front)").
int CoverRank(const AVStream &stream)
{
    std::string name = MetadataText(stream.metadata, "filename");
    if (const size_t dot = name.rfind('.'); dot != std::string::npos)
        name.resize(dot);
    const std::string kind = MetadataText(stream.metadata, "comment");
    if (name == "cover" || name == "front" || name == "folder" || kind == "cover (front)")
        return 0;
    if (name.find("back") != std::string::npos || kind == "cover (back)")
        return 3;
    if (name.find("cover") != std::string::npos || name.find("front") != std::string::npos)
        return 1;
    return 2;
}

} // namespace

bool ReadLibraryTags(const std::string &path, tagcopy::TTagSet &tags)
{
    using namespace avlib;
    tags = tagcopy::TTagSet();
    AVFormatContext *raw = nullptr;
    if (avformat.avformat_open_input(&raw, FileUrl(path).c_str(), nullptr, nullptr) < 0)
        return false;
    const InputFormatContextPtr context(raw);
    // The file's own tags first, then those of its sound (Matroska keeps many on the track).
    std::vector<const AVDictionary *> dictionaries = {raw->metadata};
    for (unsigned i = 0; i < raw->nb_streams; ++i)
        if (raw->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            dictionaries.push_back(raw->streams[i]->metadata);
    // Each name in every dictionary before the next name: the order of the names decides.
    for (const FieldNames &field : kFields)
        for (const char *name : field.names)
            for (const AVDictionary *dictionary : dictionaries)
                if (const AVDictionaryEntry *entry = avutil.av_dict_get(dictionary, name, nullptr, 0);
                    entry && *entry->value && !tags.fields.count(field.field))
                    tags.fields[field.field] = tagcopy::TextAsUtf8(entry->value);
    // The best picture, and the best of those too large to keep: told only if it would have won.
    const AVStream *cover = nullptr, *oversized = nullptr;
    const auto better = [](const AVStream *stream, const AVStream *than) {
        return !than || CoverRank(*stream) < CoverRank(*than);
    };
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        const AVStream *stream = raw->streams[i];
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) || !PictureType(stream->codecpar->codec_id) ||
            stream->attached_pic.size <= 0)
            continue;
        const AVStream *&best =
            static_cast<size_t>(stream->attached_pic.size) > tagcopy::kMaxPictureBytes ? oversized : cover;
        if (better(stream, best))
            best = stream;
    }
    if (oversized && (!cover || better(oversized, cover) ||
                      (CoverRank(*oversized) == CoverRank(*cover) && oversized->index < cover->index)))
        tags.leftOut.push_back("a picture larger than " + std::to_string(tagcopy::kMaxPictureBytes >> 20) + " MiB");
    if (cover) {
        const uint8_t *data = cover->attached_pic.data;
        tags.frontCover =
            tagcopy::TPicture{PictureType(cover->codecpar->codec_id), "", {data, data + cover->attached_pic.size}};
    }
    return true;
}

} // namespace batch
