#include "tags/SourceRecord.h"

#include "tags/FieldMap.h"

#include <aifffile.h>
#include <asffile.h>
#include <flacfile.h>
#include <mp4file.h>
#include <mpegfile.h>
#include <privateframe.h>
#include <wavfile.h>
#include <wavpackfile.h>

#include <vector>

namespace tagcopy::detail {

namespace {

using TagLib::ID3v2::PrivateFrame;

// Private frames are told apart by their owner; others' frames stay as they are.
const char *const kOwner = "velox:source";
// The same owner and name as an MP4 freeform atom's mean and name.
const char *const kMp4Atom = "----:velox:source";

std::vector<PrivateFrame *> Records(const TagLib::ID3v2::Tag &tag)
{
    std::vector<PrivateFrame *> frames;
    for (TagLib::ID3v2::Frame *frame : tag.frameList("PRIV"))
        if (auto *record = dynamic_cast<PrivateFrame *>(frame); record && record->owner() == kOwner)
            frames.push_back(record);
    return frames;
}

std::string Id3v2SourceName(const TagLib::ID3v2::Tag *tag)
{
    const std::vector<PrivateFrame *> frames = tag ? Records(*tag) : std::vector<PrivateFrame *>();
    if (frames.empty())
        return "";
    const TagLib::ByteVector data = frames.front()->data();
    return std::string(data.data(), data.size());
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The other tags hold text, and a file name need not be UTF-8: bytes that are not, and '%', are kept as %XX.
TagLib::String RecordText(const std::string &name)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < name.size();) {
        const size_t length = Utf8SequenceLength(name.data() + i, name.size() - i);
        if (length == 0 || name[i] == '%') {
            const auto byte = static_cast<unsigned char>(name[i++]);
            text += {'%', kHex[byte >> 4], kHex[byte & 15]};
        } else {
            text.append(name, i, length);
            i += length;
        }
    }
    return TagLib::String(text, TagLib::String::UTF8);
}

std::string NameOfRecordText(const TagLib::StringList &values)
{
    const std::string text = values.isEmpty() ? std::string() : ToUtf8(values.front());
    std::string name;
    for (size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == '%' && i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
        if (low >= 0) {
            name += static_cast<char>(high << 4 | low);
            i += 2;
        } else {
            name += text[i]; // not written by us: as it is
        }
    }
    return name;
}

} // namespace

void PutSourceName(const std::string &name, TagLib::ID3v2::Tag &tag)
{
    for (PrivateFrame *frame : Records(tag))
        tag.removeFrame(frame, true);
    auto *frame = new PrivateFrame;
    frame->setOwner(kOwner);
    frame->setData(TagLib::ByteVector(name.data(), static_cast<unsigned int>(name.size())));
    tag.addFrame(frame); // the tag owns it from here
}

void PutSourceName(const std::string &name, TagLib::Ogg::XiphComment &comment)
{
    comment.addField(kSourceField, RecordText(name), true);
}

void PutSourceName(const std::string &name, TagLib::MP4::Tag &tag)
{
    tag.setItem(kMp4Atom, TagLib::StringList(RecordText(name)));
}

void PutSourceName(const std::string &name, TagLib::APE::Tag &tag)
{
    tag.addValue(kSourceField, RecordText(name), true);
}

void PutSourceName(const std::string &name, TagLib::ASF::Tag &tag)
{
    tag.setAttribute(kSourceField, TagLib::ASF::Attribute(RecordText(name)));
}

bool RecordedSourceName(TagLib::File &file, std::string &name)
{
    name.clear();
    TagLib::StringList text; // of the kinds that keep the record as text
    if (auto *mpeg = dynamic_cast<TagLib::MPEG::File *>(&file)) {
        name = Id3v2SourceName(mpeg->hasID3v2Tag() ? mpeg->ID3v2Tag() : nullptr);
    } else if (auto *wav = dynamic_cast<TagLib::RIFF::WAV::File *>(&file)) {
        name = Id3v2SourceName(wav->hasID3v2Tag() ? wav->ID3v2Tag() : nullptr);
    } else if (auto *aiff = dynamic_cast<TagLib::RIFF::AIFF::File *>(&file)) {
        name = Id3v2SourceName(aiff->hasID3v2Tag() ? aiff->tag() : nullptr);
    } else if (auto *flac = dynamic_cast<TagLib::FLAC::File *>(&file)) {
        if (flac->hasXiphComment() && flac->xiphComment()->contains(kSourceField))
            text = flac->xiphComment()->fieldListMap()[kSourceField];
    } else if (auto *xiph = dynamic_cast<TagLib::Ogg::XiphComment *>(file.tag())) {
        if (xiph->contains(kSourceField))
            text = xiph->fieldListMap()[kSourceField];
    } else if (auto *mp4 = dynamic_cast<TagLib::MP4::File *>(&file)) {
        if (mp4->hasMP4Tag() && mp4->tag()->contains(kMp4Atom))
            text = mp4->tag()->item(kMp4Atom).toStringList();
    } else if (auto *wavPack = dynamic_cast<TagLib::WavPack::File *>(&file)) {
        if (wavPack->hasAPETag() && wavPack->APETag()->itemListMap().contains(kSourceField))
            text = wavPack->APETag()->itemListMap()[kSourceField].values();
    } else if (auto *asf = dynamic_cast<TagLib::ASF::File *>(&file)) {
        const TagLib::ASF::AttributeList values = asf->tag()->attribute(kSourceField);
        if (!values.isEmpty())
            text.append(values.front().toString());
    } else {
        return false;
    }
    if (!text.isEmpty())
        name = NameOfRecordText(text);
    return true;
}

} // namespace tagcopy::detail
