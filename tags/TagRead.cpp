#include "tags/TagCopy.h"

#include "tags/FieldMap.h"
#include "tags/FileCheck.h"
#include "tags/InfoFields.h"
#include "tags/Pictures.h"
#include "tags/SourceRecord.h"

#include <aifffile.h>
#include <apetag.h>
#include <asffile.h>
#include <fileref.h>
#include <flacfile.h>
#include <id3v1tag.h>
#include <mp4file.h>
#include <mpegfile.h>
#include <tfilestream.h>
#include <wavfile.h>
#include <wavpackfile.h>
#include <xiphcomment.h>

#include <new>
#include <string>
#include <vector>

namespace tagcopy {

namespace {

using namespace detail;

// The file's tags in the order their fields win, and its pictures offered in the same order.
std::vector<TagLib::PropertyMap> ReadFile(TagLib::File &file, TCoverChoice &cover)
{
    std::vector<TagLib::PropertyMap> maps;
    if (auto *mpeg = dynamic_cast<TagLib::MPEG::File *>(&file)) {
        if (mpeg->hasID3v2Tag()) {
            maps.push_back(mpeg->ID3v2Tag()->properties());
            OfferId3v2Pictures(*mpeg->ID3v2Tag(), cover);
        }
        if (mpeg->hasAPETag())
            maps.push_back(mpeg->APETag()->properties());
        if (mpeg->hasID3v1Tag())
            maps.push_back(mpeg->ID3v1Tag()->properties());
    } else if (auto *flac = dynamic_cast<TagLib::FLAC::File *>(&file)) {
        OfferFlacPictures(flac->pictureList(), cover);
        if (flac->hasXiphComment()) {
            maps.push_back(flac->xiphComment()->properties());
            OfferFlacPictures(flac->xiphComment()->pictureList(), cover);
        }
        if (flac->hasID3v2Tag()) {
            maps.push_back(flac->ID3v2Tag()->properties());
            OfferId3v2Pictures(*flac->ID3v2Tag(), cover);
        }
        if (flac->hasID3v1Tag())
            maps.push_back(flac->ID3v1Tag()->properties());
    } else if (auto *wav = dynamic_cast<TagLib::RIFF::WAV::File *>(&file)) {
        if (wav->hasID3v2Tag()) {
            maps.push_back(wav->ID3v2Tag()->properties());
            OfferId3v2Pictures(*wav->ID3v2Tag(), cover);
        }
        if (wav->hasInfoTag())
            maps.push_back(InfoProperties(*wav->InfoTag()));
    } else if (auto *aiff = dynamic_cast<TagLib::RIFF::AIFF::File *>(&file)) {
        if (aiff->hasID3v2Tag()) {
            maps.push_back(aiff->tag()->properties());
            OfferId3v2Pictures(*aiff->tag(), cover);
        }
    } else if (auto *mp4 = dynamic_cast<TagLib::MP4::File *>(&file)) {
        if (TagLib::MP4::Tag *tag = mp4->tag()) {
            maps.push_back(tag->properties());
            OfferMp4Covers(*tag, cover);
        }
    } else if (auto *wavPack = dynamic_cast<TagLib::WavPack::File *>(&file)) {
        maps.push_back(file.properties());
        if (wavPack->hasAPETag())
            OfferApeCovers(*wavPack->APETag(), cover);
    } else if (auto *asf = dynamic_cast<TagLib::ASF::File *>(&file)) {
        maps.push_back(file.properties());
        OfferAsfPictures(*asf->tag(), cover);
    } else {
        // Ogg Vorbis, Opus, Speex and Ogg FLAC keep their pictures in the comment; others have none here.
        maps.push_back(file.properties());
        if (auto *xiph = dynamic_cast<TagLib::Ogg::XiphComment *>(file.tag()))
            OfferFlacPictures(xiph->pictureList(), cover);
    }
    return maps;
}

// Opens path for reading only and hands the file to read, which gives "" or why it cannot go on.
template <class Read>
bool OpenAndRead(const std::string &path, std::string &error, Read read)
{
    const auto fail = [&](const std::string &reason) {
        error = "cannot read the tags of '" + path + "': " + reason;
        return false;
    };
    const std::string problem = FileProblem(path, false);
    if (!problem.empty())
        return fail(problem);
    try {
        UseInfoTextHandler();
        // Read-only: a source is never opened for writing, not even by the tag library.
        TagLib::FileStream stream(path.c_str(), true);
        const TagLib::FileRef ref(&stream, false);
        if (!stream.isOpen() || ref.isNull())
            return fail("not a kind of file whose tags can be read, or a damaged one");
        std::string reason;
        if (dynamic_cast<TagLib::RIFF::WAV::File *>(ref.file()))
            reason = WaveProblem(*ref.file());
        if (reason.empty())
            reason = read(*ref.file());
        return reason.empty() || fail(reason);
    } catch (const std::bad_alloc &) {
        return fail("out of memory");
    }
}

} // namespace

bool ReadTags(const std::string &path, TTagSet &tags, std::string &error)
{
    tags = TTagSet();
    const bool read = OpenAndRead(path, error, [&](TagLib::File &file) {
        TCoverChoice cover;
        for (const TagLib::PropertyMap &map : ReadFile(file, cover))
            AddCarried(map, tags.fields, tags.unread);
        if (dynamic_cast<TagLib::FLAC::File *>(&file) || dynamic_cast<TagLib::Ogg::XiphComment *>(file.tag()))
            for (const std::string &key : CarriedFields())
                tags.unread.insert(key);
        for (const auto &[key, value] : tags.fields)
            tags.unread.erase(key); // read after all
        tags.frontCover = cover.Chosen();
        if (cover.PassedOverForSize())
            tags.leftOut.push_back("a picture larger than " + std::to_string(kMaxPictureBytes >> 20) + " MiB");
        return std::string();
    });
    if (!read)
        tags = TTagSet(); // nothing of a read that ran out of memory half way
    return read;
}

bool ReadSourceName(const std::string &path, std::string &name, std::string &error)
{
    name.clear();
    return OpenAndRead(path, error, [&](TagLib::File &file) {
        return RecordedSourceName(file, name) ? std::string() : std::string("this kind of file holds no source name");
    });
}

} // namespace tagcopy
