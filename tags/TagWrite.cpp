#include "tags/TagCopy.h"

#include "tags/CheckedFileStream.h"
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
#include <wavfile.h>
#include <wavpackfile.h>
#include <xiphcomment.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace tagcopy {

namespace {

using namespace detail;

// Fields the set does not name keep their frames untouched.
template <class Tag>
void SetFields(const std::map<std::string, std::string> &fields, Tag &tag)
{
    TagLib::PropertyMap map = tag.properties();
    ApplyFields(fields, map);
    tag.setProperties(map);
}

// Fields, cover and record of a tag of one piece: ID3v2, MP4, APEv2, ASF.
template <class Tag>
void SetTag(const TTagSet &tags, Tag &tag)
{
    SetFields(tags.fields, tag);
    if (tags.frontCover)
        PutFrontCover(*tags.frontCover, tag);
    if (!tags.sourceName.empty())
        PutSourceName(tags.sourceName, tag);
}

// A Vorbis comment's fields, record and picture block (Ogg Vorbis, Opus, Ogg FLAC; a FLAC file keeps
// its pictures in blocks of its own).
void SetXiph(const TTagSet &tags, TagLib::Ogg::XiphComment &comment, bool pictures)
{
    SetFields(tags.fields, comment);
    if (!tags.sourceName.empty())
        PutSourceName(tags.sourceName, comment);
    if (!tags.frontCover || !pictures)
        return;
    std::vector<TagLib::FLAC::Picture *> dropped;
    TagLib::FLAC::Picture *cover = FlacFrontCover(*tags.frontCover, comment.pictureList(), dropped);
    for (TagLib::FLAC::Picture *old : dropped)
        comment.removePicture(old, true);
    comment.addPicture(cover); // the comment owns it from here
}

// Fields, cover and record in the tags of a kind other than MP3 and WAV; false for a kind that holds none.
bool SetOtherKind(const TTagSet &tags, TagLib::File &file)
{
    if (auto *flac = dynamic_cast<TagLib::FLAC::File *>(&file)) {
        SetXiph(tags, *flac->xiphComment(true), false);
        if (tags.frontCover) {
            std::vector<TagLib::FLAC::Picture *> dropped;
            TagLib::FLAC::Picture *cover = FlacFrontCover(*tags.frontCover, flac->pictureList(), dropped);
            for (TagLib::FLAC::Picture *old : dropped)
                flac->removePicture(old, true);
            flac->addPicture(cover);
        }
    } else if (auto *xiph = dynamic_cast<TagLib::Ogg::XiphComment *>(file.tag())) {
        SetXiph(tags, *xiph, true);
    } else if (auto *mp4 = dynamic_cast<TagLib::MP4::File *>(&file)) {
        SetTag(tags, *mp4->tag());
    } else if (auto *aiff = dynamic_cast<TagLib::RIFF::AIFF::File *>(&file)) {
        SetTag(tags, *aiff->tag());
    } else if (auto *wavPack = dynamic_cast<TagLib::WavPack::File *>(&file)) {
        SetTag(tags, *wavPack->APETag(true));
    } else if (auto *asf = dynamic_cast<TagLib::ASF::File *>(&file)) {
        SetTag(tags, *asf->tag());
    } else {
        return false;
    }
    return true;
}

// Empty when the picture can be written; the type it is written with goes to mimeType.
std::string PictureProblem(const TPicture &picture, std::string &mimeType)
{
    if (picture.data.empty())
        return "the picture is empty";
    if (picture.data.size() > kMaxPictureBytes)
        return "the picture is larger than " + std::to_string(kMaxPictureBytes >> 20) + " MiB";
    const TagLib::ByteVector head(reinterpret_cast<const char *>(picture.data.data()),
                                  static_cast<unsigned int>(std::min<size_t>(picture.data.size(), 16)));
    mimeType = PictureMimeType(head, picture.mimeType);
    return mimeType.empty() ? "the picture is of no known type" : "";
}

} // namespace

bool WriteTags(const std::string &path, const TTagSet &tags, std::string &error, const TWriteOptions &options,
               bool *damaged)
{
    bool writing = false; // from save() on, a failure may have left the file half written
    const auto fail = [&](const std::string &reason) {
        error = "cannot write the tags of '" + path + "': " + reason;
        if (damaged)
            *damaged = writing;
        return false;
    };
    if (damaged)
        *damaged = false;
    if (tags.Empty())
        return true;
    if (options.id3v2Version != 3 && options.id3v2Version != 4)
        return fail("ID3v2 version " + std::to_string(options.id3v2Version) + " cannot be written (3 or 4)");
    TTagSet written = tags;
    if (written.frontCover) {
        const std::string problem = PictureProblem(*tags.frontCover, written.frontCover->mimeType);
        if (!problem.empty())
            return fail(problem);
    }
    const std::string problem = FileProblem(path, true);
    if (!problem.empty())
        return fail(problem);
    try {
        UseInfoTextHandler();
        TCheckedFileStream stream(path);
        if (!stream.isOpen())
            return fail(std::strerror(stream.Error()));
        TagLib::FileRef ref(&stream, false);
        if (stream.Error() != 0)
            return fail(std::strerror(stream.Error()));
        if (ref.isNull())
            return fail("not a kind of file whose tags can be read, or a damaged one");
        const auto version = options.id3v2Version == 3 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4;
        bool saved = false;
        if (auto *mpeg = dynamic_cast<TagLib::MPEG::File *>(ref.file())) {
            SetTag(written, *mpeg->ID3v2Tag(true));
            int kinds = TagLib::MPEG::File::ID3v2;
            // An ID3v1 tag is only there when someone asked for it: it stays, with the new text.
            if (mpeg->hasID3v1Tag()) {
                SetFields(written.fields, *mpeg->ID3v1Tag());
                kinds |= TagLib::MPEG::File::ID3v1;
            }
            writing = true;
            saved = mpeg->save(kinds, TagLib::File::StripNone, version, TagLib::File::DoNotDuplicate);
        } else if (auto *wav = dynamic_cast<TagLib::RIFF::WAV::File *>(ref.file())) {
            const std::string wave = WaveProblem(*wav);
            if (!wave.empty())
                return fail(wave);
            SetTag(written, *wav->ID3v2Tag());
            WriteInfo(written.fields, *wav->InfoTag());
            writing = true;
            saved = wav->save(TagLib::RIFF::WAV::File::AllTags, TagLib::File::StripNone, version);
        } else if (SetOtherKind(written, *ref.file())) {
            writing = true;
            saved = ref.file()->save();
        } else {
            return fail("this kind of file holds no tags");
        }
        stream.Close();
        if (stream.Error() != 0)
            return fail(std::strerror(stream.Error()));
        return saved ? true : fail("TagLib could not save the file");
    } catch (const std::bad_alloc &) {
        return fail("out of memory");
    }
}

} // namespace tagcopy
