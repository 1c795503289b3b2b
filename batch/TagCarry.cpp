#include "batch/TagCarry.h"

#include "batch/LibraryTags.h"
#include "tags/TagCopy.h"

#include "libs/AVEntryPoints.h"

#include <cstring>

namespace batch {

bool CarryTags(const std::string &input, const std::string &written, const TagCarry &carry, std::string &note,
               std::string &error)
{
    tagcopy::TTagSet tags;
    if (carry.tags) {
        // What TagLib cannot read, or reads as nothing (it may take other containers for MPEG).
        std::string unread;
        const bool read = tagcopy::ReadTags(input, tags, unread);
        tagcopy::TTagSet library;
        if ((!read || tags.Empty()) && ReadLibraryTags(input, library))
            tags = std::move(library);
        else if (!read)
            note += " (tags not kept: " + unread + ")";
        for (const std::string &reason : tags.leftOut)
            note += " (not kept: " + reason + ")";
    }
    tags.sourceName = carry.record;
    bool damaged = false;
    std::string failure;
    if (tagcopy::WriteTags(written, tags, failure, {}, &damaged))
        return true;
    if (damaged) { // a full disk, say
        error = failure;
        return false;
    }
    note += " (tags not kept: " + failure + ")";
    return true;
}

std::string LocalFileOf(const std::string &name)
{
    if (name.rfind("file:", 0) == 0)
        return name.substr(5);
    const char *protocol = avlib::avformat.avio_find_protocol_name(name.c_str());
    return !protocol || std::strcmp(protocol, "file") == 0 ? name : std::string();
}

} // namespace batch
