#include "tests/tags/SourceTagging.h"

#include "tests/support/MediaFixtures.h"

#include <attachedpictureframe.h>
#include <flacfile.h>
#include <id3v1tag.h>
#include <id3v2tag.h>
#include <infotag.h>
#include <mp4file.h>
#include <mpegfile.h>
#include <opusfile.h>
#include <vorbisfile.h>
#include <wavfile.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tagtest {

namespace {

TagLib::ByteVector Bytes(const std::vector<unsigned char> &data)
{
    return TagLib::ByteVector(reinterpret_cast<const char *>(data.data()), static_cast<unsigned int>(data.size()));
}

std::vector<unsigned char> Bytes(const TagLib::ByteVector &data)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data.data());
    return std::vector<unsigned char>(p, p + data.size());
}

void AddApic(TagLib::ID3v2::Tag &tag, const std::vector<TTestPicture> &pictures)
{
    for (const TTestPicture &picture : pictures) {
        auto *frame = new TagLib::ID3v2::AttachedPictureFrame;
        frame->setType(static_cast<TagLib::ID3v2::AttachedPictureFrame::Type>(picture.type));
        frame->setMimeType(picture.mimeType);
        frame->setDescription("picture " + std::to_string(picture.type));
        frame->setPicture(Bytes(picture.data));
        tag.addFrame(frame);
    }
}

template <class Comments>
void AddFlacPictures(Comments &owner, const std::vector<TTestPicture> &pictures)
{
    for (const TTestPicture &picture : pictures) {
        auto *block = new TagLib::FLAC::Picture;
        block->setType(static_cast<TagLib::FLAC::Picture::Type>(picture.type));
        block->setMimeType(picture.mimeType);
        block->setWidth(16);
        block->setHeight(16);
        block->setData(Bytes(picture.data));
        owner.addPicture(block);
    }
}

void Saved(bool saved, const std::string &path)
{
    if (!saved)
        throw std::runtime_error("TagLib could not tag " + path);
}

template <class OggFile>
void TagOgg(const std::string &path, const TagLib::PropertyMap &fields, const std::vector<TTestPicture> &pictures)
{
    OggFile file(path.c_str(), false);
    file.tag()->setProperties(fields);
    AddFlacPictures(*file.tag(), pictures);
    Saved(file.save(), path);
}

// A hand-written INFO list, so that the test does not share the mapping under test.
void WriteInfo(TagLib::RIFF::Info::Tag &info, const TagLib::PropertyMap &fields)
{
    static const std::map<std::string, const char *> ids = {
        {"TITLE", "INAM"}, {"ARTIST", "IART"},  {"ALBUM", "IPRD"},      {"GENRE", "IGNR"},
        {"DATE", "ICRD"},  {"COMMENT", "ICMT"}, {"TRACKNUMBER", "ITRK"}};
    for (const auto &[key, values] : fields) {
        const auto id = ids.find(key.to8Bit(true));
        if (id == ids.end())
            throw std::runtime_error("INFO holds no " + key.to8Bit(true));
        info.setFieldText(id->second, values.front());
    }
}

void ReadId3v2(const TagLib::ID3v2::Tag &tag, TOutputTags &result)
{
    result.id3v2Version = static_cast<int>(tag.header()->majorVersion());
    result.id3v2 = tag.properties();
    for (TagLib::ID3v2::Frame *frame : tag.frameList("APIC"))
        if (const auto *apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame *>(frame))
            result.pictures.push_back(
                {static_cast<int>(apic->type()), apic->mimeType().to8Bit(true), Bytes(apic->picture())});
}

} // namespace

const char *SourceEncoder(TSource kind)
{
    switch (kind) {
    case TSource::Mp3Id3v2:
    case TSource::Mp3Id3v1:
        return "libmp3lame";
    case TSource::Flac:
        return "flac";
    case TSource::OggVorbis:
        return "libvorbis";
    case TSource::Opus:
        return "libopus";
    case TSource::M4a:
        return "aac";
    default:
        return "pcm_s16le";
    }
}

void MakeSource(TSource kind, const std::string &path)
{
    testing_support::MediaRecipe recipe;
    recipe.audio = testing_support::AudioTrack{SourceEncoder(kind), kind == TSource::Opus ? 48000 : 44100, 2};
    testing_support::WriteMediaFile(path, recipe);
}

void TagSource(TSource kind, const std::string &path, const TagLib::PropertyMap &fields,
               const std::vector<TTestPicture> &pictures)
{
    switch (kind) {
    case TSource::Mp3Id3v2: {
        TagLib::MPEG::File file(path.c_str(), false);
        file.ID3v2Tag(true)->setProperties(fields);
        AddApic(*file.ID3v2Tag(), pictures);
        Saved(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers), path);
        break;
    }
    case TSource::Mp3Id3v1: {
        TagLib::MPEG::File file(path.c_str(), false);
        file.ID3v1Tag(true)->setProperties(fields);
        Saved(file.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripOthers), path);
        break;
    }
    case TSource::Flac: {
        TagLib::FLAC::File file(path.c_str(), false);
        file.xiphComment(true)->setProperties(fields);
        AddFlacPictures(file, pictures);
        Saved(file.save(), path);
        break;
    }
    case TSource::OggVorbis:
        TagOgg<TagLib::Ogg::Vorbis::File>(path, fields, pictures);
        break;
    case TSource::Opus:
        TagOgg<TagLib::Ogg::Opus::File>(path, fields, pictures);
        break;
    case TSource::M4a: {
        TagLib::MP4::File file(path.c_str(), false);
        file.tag()->setProperties(fields);
        TagLib::MP4::CoverArtList covers;
        for (const TTestPicture &picture : pictures)
            covers.append(TagLib::MP4::CoverArt(picture.mimeType == "image/png" ? TagLib::MP4::CoverArt::PNG
                                                                                : TagLib::MP4::CoverArt::JPEG,
                                                Bytes(picture.data)));
        if (!covers.isEmpty())
            file.tag()->setItem("covr", covers);
        Saved(file.save(), path);
        break;
    }
    case TSource::WavId3v2: {
        TagLib::RIFF::WAV::File file(path.c_str(), false);
        file.ID3v2Tag()->setProperties(fields);
        AddApic(*file.ID3v2Tag(), pictures);
        Saved(file.save(TagLib::RIFF::WAV::File::ID3v2, TagLib::File::StripOthers), path);
        break;
    }
    case TSource::WavInfo: {
        TagLib::RIFF::WAV::File file(path.c_str(), false);
        WriteInfo(*file.InfoTag(), fields);
        Saved(file.save(TagLib::RIFF::WAV::File::Info, TagLib::File::StripOthers), path);
        break;
    }
    }
}

std::string FileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TOutputTags ReadOutput(const std::string &path)
{
    TOutputTags result;
    if (path.size() < 4 || path.compare(path.size() - 4, 4, ".wav") != 0) {
        TagLib::MPEG::File mpeg(path.c_str(), false);
        if (mpeg.hasID3v2Tag())
            ReadId3v2(*mpeg.ID3v2Tag(), result);
        result.id3v1 = mpeg.hasID3v1Tag();
        return result;
    }
    TagLib::RIFF::WAV::File wav(path.c_str(), false);
    if (wav.hasID3v2Tag())
        ReadId3v2(*wav.ID3v2Tag(), result);
    if (wav.hasInfoTag())
        for (const auto &[id, text] : wav.InfoTag()->fieldListMap())
            result.info[std::string(id.data(), id.size())] = text.to8Bit(true);
    return result;
}

} // namespace tagtest
