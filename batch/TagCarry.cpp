#include "batch/TagCarry.h"

#include "batch/LibraryTags.h"
#include "batch/OutputFormats.h"
#include "tags/TagCopy.h"

#include "libs/AVEntryPoints.h"

#include <cstring>

namespace batch {

namespace {

// Text TagLib read as nothing, such as a Latin-1 Vorbis comment: the libraries hand over its bytes.
void KeepUnreadText(const std::string &input, tagcopy::TTagSet &tags)
{
    tagcopy::TTagSet library;
    if (!tags.unread.empty() && ReadLibraryTags(input, library))
        for (const std::string &key : tags.unread)
            if (library.fields.count(key))
                tags.fields[key] = library.fields[key];
    tags.unread.clear();
}

} // namespace

bool CarryTags(const std::string &input, const std::string &written, const TagCarry &carry, std::string &note,
               std::string &error)
{
    // A format with no place for tags is passed over; the front end says so once a run, not per file.
    if (const OutputFormat *format = OutputFormatOfFile(written); format && !format->HoldsTags())
        return true;
    tagcopy::TTagSet tags;
    if (carry.tags) {
        // What TagLib cannot read, or reads as nothing (it may take other containers for MPEG).
        std::string unread;
        const bool read = tagcopy::ReadTags(input, tags, unread);
        if (!read || tags.Empty()) {
            tagcopy::TTagSet library;
            const bool opened = ReadLibraryTags(input, library);
            if (!library.Empty() || !library.leftOut.empty())
                tags = std::move(library);
            // A kind TagLib does not know whose tags the libraries read as none: nothing is lost.
            else if (!read && !opened)
                note += " (tags not kept: " + unread + ")";
        }
        KeepUnreadText(input, tags);
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
