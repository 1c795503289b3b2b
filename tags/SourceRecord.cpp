#include "tags/SourceRecord.h"

#include <privateframe.h>

#include <vector>

namespace tagcopy::detail {

namespace {

using TagLib::ID3v2::PrivateFrame;

// Private frames are told apart by their owner; others' frames stay as they are.
const char *const kOwner = "velox:source";

std::vector<PrivateFrame *> Records(const TagLib::ID3v2::Tag &tag)
{
    std::vector<PrivateFrame *> frames;
    for (TagLib::ID3v2::Frame *frame : tag.frameList("PRIV"))
        if (auto *record = dynamic_cast<PrivateFrame *>(frame); record && record->owner() == kOwner)
            frames.push_back(record);
    return frames;
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

std::string SourceName(const TagLib::ID3v2::Tag &tag)
{
    const std::vector<PrivateFrame *> frames = Records(tag);
    if (frames.empty())
        return "";
    const TagLib::ByteVector data = frames.front()->data();
    return std::string(data.data(), data.size());
}

} // namespace tagcopy::detail
