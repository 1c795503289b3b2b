#include "batch/LibraryTags.h"

#include "libs/AVDeleters.h"
#include "libs/AVEntryPoints.h"
#include "libs/MediaUrl.h"

namespace batch {

namespace {

// The carried fields by the names the libraries give them, the first found of each.
struct FieldNames {
    const char *field;
    std::initializer_list<const char *> names;
};
const FieldNames kFields[] = {
    {"TITLE", {"title"}},
    {"ARTIST", {"artist", "performer"}},
    {"ALBUM", {"album"}},
    {"ALBUMARTIST", {"album_artist"}},
    {"TRACKNUMBER", {"track", "part_number"}},
    {"DISCNUMBER", {"disc"}},
    {"DATE", {"date", "date_released", "year"}},
    {"GENRE", {"genre"}},
    {"COMMENT", {"comment", "description"}},
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
    for (const FieldNames &field : kFields)
        for (const AVDictionary *dictionary : dictionaries)
            for (const char *name : field.names)
                if (const AVDictionaryEntry *entry = avutil.av_dict_get(dictionary, name, nullptr, 0);
                    entry && *entry->value && !tags.fields.count(field.field))
                    tags.fields[field.field] = entry->value;
    for (unsigned i = 0; i < raw->nb_streams && !tags.frontCover; ++i) {
        const AVStream *stream = raw->streams[i];
        const char *type = PictureType(stream->codecpar->codec_id);
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) || !type || stream->attached_pic.size <= 0)
            continue;
        if (static_cast<size_t>(stream->attached_pic.size) > tagcopy::kMaxPictureBytes) {
            tags.leftOut.push_back("a picture larger than " + std::to_string(tagcopy::kMaxPictureBytes >> 20) + " MiB");
            continue;
        }
        const uint8_t *data = stream->attached_pic.data;
        tags.frontCover = tagcopy::TPicture{type, "", {data, data + stream->attached_pic.size}};
    }
    return !tags.Empty();
}

} // namespace batch
