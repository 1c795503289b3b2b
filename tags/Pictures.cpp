#include "tags/Pictures.h"

#include "tags/FieldMap.h"

#include <asfattribute.h>
#include <asfpicture.h>
#include <attachedpictureframe.h>
#include <mp4coverart.h>

#include <cstring>

namespace tagcopy::detail {

namespace {

using TagLib::ID3v2::AttachedPictureFrame;

bool StartsWith(const TagLib::ByteVector &data, const char *magic, size_t offset = 0)
{
    const size_t length = std::strlen(magic);
    return data.size() >= offset + length && std::memcmp(data.data() + offset, magic, length) == 0;
}

std::string Lowercase(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string Mp4Label(TagLib::MP4::CoverArt::Format format)
{
    switch (format) {
    case TagLib::MP4::CoverArt::JPEG:
        return "image/jpeg";
    case TagLib::MP4::CoverArt::PNG:
        return "image/png";
    case TagLib::MP4::CoverArt::BMP:
        return "image/bmp";
    case TagLib::MP4::CoverArt::GIF:
        return "image/gif";
    default:
        return "";
    }
}

// APEv2 keeps a cover as one binary item: a file name, a zero byte, the picture.
constexpr const char *kApeFrontCover = "Cover Art (Front)";

TagLib::ByteVector Bytes(const TPicture &picture)
{
    return TagLib::ByteVector(reinterpret_cast<const char *>(picture.data.data()),
                              static_cast<unsigned int>(picture.data.size()));
}

std::vector<AttachedPictureFrame *> PictureFrames(const TagLib::ID3v2::Tag &tag)
{
    std::vector<AttachedPictureFrame *> frames;
    for (TagLib::ID3v2::Frame *frame : tag.frameList("APIC"))
        if (auto *picture = dynamic_cast<AttachedPictureFrame *>(frame))
            frames.push_back(picture);
    return frames;
}

} // namespace

void TCoverChoice::Offer(const TagLib::ByteVector &data, const TagLib::String &mimeType,
                         const TagLib::String &description, bool frontCover)
{
    if (front_ || (found_ && !frontCover))
        return;
    const std::string label = ToUtf8(mimeType);
    // "-->" marks a link to a picture elsewhere, not a picture.
    if (data.isEmpty() || label == "-->")
        return;
    const std::string type = PictureMimeType(data, label);
    if (type.empty())
        return;
    if (data.size() > kMaxPictureBytes) {
        oversized_ = true;
        return;
    }
    found_ = true;
    front_ = frontCover;
    data_ = data;
    mimeType_ = type;
    description_ = description;
}

std::optional<TPicture> TCoverChoice::Chosen() const
{
    if (!found_)
        return std::nullopt;
    TPicture picture;
    picture.mimeType = mimeType_;
    picture.description = ToUtf8(description_);
    const auto *bytes = reinterpret_cast<const unsigned char *>(data_.data());
    picture.data.assign(bytes, bytes + data_.size());
    return picture;
}

void OfferId3v2Pictures(const TagLib::ID3v2::Tag &tag, TCoverChoice &choice)
{
    for (const AttachedPictureFrame *frame : PictureFrames(tag))
        choice.Offer(frame->picture(), frame->mimeType(), frame->description(),
                     frame->type() == AttachedPictureFrame::FrontCover);
}

void OfferFlacPictures(const TagLib::List<TagLib::FLAC::Picture *> &pictures, TCoverChoice &choice)
{
    for (const TagLib::FLAC::Picture *picture : pictures)
        choice.Offer(picture->data(), picture->mimeType(), picture->description(),
                     picture->type() == TagLib::FLAC::Picture::FrontCover);
}

void OfferMp4Covers(const TagLib::MP4::Tag &tag, TCoverChoice &choice)
{
    if (!tag.contains("covr"))
        return;
    // MP4 covers have no kind; the first is the front cover by custom.
    bool first = true;
    for (const TagLib::MP4::CoverArt &cover : tag.item("covr").toCoverArtList()) {
        choice.Offer(cover.data(), TagLib::String(Mp4Label(cover.format())), TagLib::String(), first);
        first = false;
    }
}

void OfferApeCovers(const TagLib::APE::Tag &tag, TCoverChoice &choice)
{
    const auto items = tag.itemListMap();
    for (const auto &[key, item] : items) {
        const std::string name = Lowercase(key.to8Bit(true));
        if (item.type() != TagLib::APE::Item::Binary || name.rfind("cover art (", 0) != 0)
            continue;
        const TagLib::ByteVector value = item.binaryData();
        const int end = value.find('\0');
        if (end >= 0)
            choice.Offer(value.mid(static_cast<unsigned int>(end) + 1), TagLib::String(), TagLib::String(),
                         name == Lowercase(kApeFrontCover));
    }
}

void OfferAsfPictures(const TagLib::ASF::Tag &tag, TCoverChoice &choice)
{
    if (!tag.attributeListMap().contains("WM/Picture"))
        return;
    for (const TagLib::ASF::Attribute &attribute : tag.attributeListMap()["WM/Picture"]) {
        const TagLib::ASF::Picture picture = attribute.toPicture();
        if (picture.isValid())
            choice.Offer(picture.picture(), picture.mimeType(), picture.description(),
                         picture.type() == TagLib::ASF::Picture::FrontCover);
    }
}

TagLib::FLAC::Picture *FlacFrontCover(const TPicture &picture, const TagLib::List<TagLib::FLAC::Picture *> &pictures,
                                      std::vector<TagLib::FLAC::Picture *> &dropped)
{
    const TagLib::ByteVector data = Bytes(picture);
    for (TagLib::FLAC::Picture *old : pictures)
        if (old->type() == TagLib::FLAC::Picture::FrontCover || old->data() == data)
            dropped.push_back(old);
    auto *cover = new TagLib::FLAC::Picture;
    cover->setType(TagLib::FLAC::Picture::FrontCover);
    cover->setMimeType(FromUtf8(picture.mimeType));
    cover->setDescription(FromUtf8(picture.description));
    cover->setData(data);
    return cover;
}

void PutFrontCover(const TPicture &picture, TagLib::MP4::Tag &tag)
{
    // No kinds in MP4: the front cover goes first, other pictures stay behind it.
    const TagLib::ByteVector data = Bytes(picture);
    const auto format = picture.mimeType == "image/png"   ? TagLib::MP4::CoverArt::PNG
                        : picture.mimeType == "image/gif" ? TagLib::MP4::CoverArt::GIF
                        : picture.mimeType == "image/bmp" ? TagLib::MP4::CoverArt::BMP
                                                          : TagLib::MP4::CoverArt::JPEG;
    TagLib::MP4::CoverArtList covers;
    covers.append(TagLib::MP4::CoverArt(format, data));
    if (tag.contains("covr"))
        for (const TagLib::MP4::CoverArt &old : tag.item("covr").toCoverArtList())
            if (old.data() != data)
                covers.append(old);
    tag.setItem("covr", TagLib::MP4::Item(covers));
}

void PutFrontCover(const TPicture &picture, TagLib::APE::Tag &tag)
{
    const std::string extension = picture.mimeType.substr(picture.mimeType.find('/') + 1);
    TagLib::ByteVector value(("cover." + extension).c_str(), static_cast<unsigned int>(extension.size() + 7));
    value.append(Bytes(picture));
    tag.setItem(kApeFrontCover, TagLib::APE::Item(kApeFrontCover, value, true));
}

void PutFrontCover(const TPicture &picture, TagLib::ASF::Tag &tag)
{
    TagLib::ASF::AttributeList kept;
    const TagLib::ByteVector data = Bytes(picture);
    if (tag.attributeListMap().contains("WM/Picture"))
        for (const TagLib::ASF::Attribute &attribute : tag.attributeListMap()["WM/Picture"]) {
            const TagLib::ASF::Picture old = attribute.toPicture();
            if (old.isValid() && old.type() != TagLib::ASF::Picture::FrontCover && old.picture() != data)
                kept.append(attribute);
        }
    TagLib::ASF::Picture cover;
    cover.setType(TagLib::ASF::Picture::FrontCover);
    cover.setMimeType(FromUtf8(picture.mimeType));
    cover.setDescription(FromUtf8(picture.description));
    cover.setPicture(data);
    kept.prepend(TagLib::ASF::Attribute(cover));
    tag.setAttribute("WM/Picture", kept);
}

void PutFrontCover(const TPicture &picture, TagLib::ID3v2::Tag &tag)
{
    const TagLib::ByteVector data = Bytes(picture);
    for (AttachedPictureFrame *frame : PictureFrames(tag))
        if (frame->type() == AttachedPictureFrame::FrontCover || frame->picture() == data)
            tag.removeFrame(frame, true);
    auto *frame = new AttachedPictureFrame;
    frame->setType(AttachedPictureFrame::FrontCover);
    frame->setMimeType(FromUtf8(picture.mimeType));
    frame->setDescription(FromUtf8(picture.description));
    frame->setPicture(data);
    tag.addFrame(frame); // the tag owns it from here
}

std::string PictureMimeType(const TagLib::ByteVector &data, const std::string &label)
{
    if (StartsWith(data, "\x89PNG\r\n\x1a\n"))
        return "image/png";
    if (StartsWith(data, "\xff\xd8\xff"))
        return "image/jpeg";
    if (StartsWith(data, "GIF87a") || StartsWith(data, "GIF89a"))
        return "image/gif";
    if (StartsWith(data, "RIFF") && StartsWith(data, "WEBP", 8))
        return "image/webp";
    // Some writers give a bare "jpg" or "PNG".
    std::string type = Lowercase(label);
    if (!type.empty() && type.find('/') == std::string::npos)
        type = "image/" + type;
    if (type == "image/jpg")
        type = "image/jpeg";
    // Two letters are a weak sign: only when the label says nothing.
    if (type.empty() && StartsWith(data, "BM"))
        type = "image/bmp";
    return type;
}

} // namespace tagcopy::detail
