// Pictures of each tag format and the choice of the cover. Internal to velox_tags.
#pragma once

#include "tags/TagSet.h"

#include <optional>

#include <apetag.h>
#include <asftag.h>
#include <flacpicture.h>
#include <id3v2tag.h>
#include <mp4tag.h>
#include <tbytevector.h>
#include <tlist.h>
#include <tstring.h>

namespace tagcopy::detail {

// Takes the pictures in the order of the file and keeps the first front cover, else the first one.
// Empty, oversized and linked (not embedded) pictures are passed over.
class TCoverChoice {
public:
    void Offer(const TagLib::ByteVector &data, const TagLib::String &mimeType, const TagLib::String &description,
               bool frontCover);
    std::optional<TPicture> Chosen() const;
    // Whether a picture still in the running was passed over for its size alone.
    bool PassedOverForSize() const { return oversized_; }

private:
    bool found_ = false;
    bool front_ = false;
    bool oversized_ = false;
    TagLib::ByteVector data_;
    std::string mimeType_;
    TagLib::String description_;
};

void OfferId3v2Pictures(const TagLib::ID3v2::Tag &tag, TCoverChoice &choice);
void OfferFlacPictures(const TagLib::List<TagLib::FLAC::Picture *> &pictures, TCoverChoice &choice);
void OfferMp4Covers(const TagLib::MP4::Tag &tag, TCoverChoice &choice);
void OfferApeCovers(const TagLib::APE::Tag &tag, TCoverChoice &choice);
void OfferAsfPictures(const TagLib::ASF::Tag &tag, TCoverChoice &choice);

// Replaces the tag's front covers (and any copy of the same picture) by this one.
void PutFrontCover(const TPicture &picture, TagLib::ID3v2::Tag &tag);
// The same for FLAC picture blocks (a FLAC file's, or a Vorbis comment's): the kept ones are given
// to keep, the new front cover is returned for the caller's owner to take.
TagLib::FLAC::Picture *FlacFrontCover(const TPicture &picture, const TagLib::List<TagLib::FLAC::Picture *> &pictures,
                                      std::vector<TagLib::FLAC::Picture *> &dropped);
void PutFrontCover(const TPicture &picture, TagLib::MP4::Tag &tag);
void PutFrontCover(const TPicture &picture, TagLib::APE::Tag &tag);
void PutFrontCover(const TPicture &picture, TagLib::ASF::Tag &tag);

// The picture's type from its first bytes, else the label it came with; "" when neither tells.
std::string PictureMimeType(const TagLib::ByteVector &data, const std::string &label);

} // namespace tagcopy::detail
