#include "tags/InfoFields.h"

#include "tags/FieldMap.h"

#include <mutex>

namespace tagcopy::detail {

namespace {

struct InfoEntry {
    const char *key;
    const char *id;
};

// Two track entries are in use; the first one found is read and both are written.
constexpr InfoEntry kInfoEntries[] = {
    {"TITLE", "INAM"}, {"ARTIST", "IART"},  {"ALBUM", "IPRD"},       {"GENRE", "IGNR"},
    {"DATE", "ICRD"},  {"COMMENT", "ICMT"}, {"TRACKNUMBER", "ITRK"}, {"TRACKNUMBER", "IPRT"},
};

class InfoTextHandler : public TagLib::RIFF::Info::StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector &data) const override
    {
        TagLib::ByteVector text = data;
        const int end = text.find('\0');
        if (end >= 0)
            text.resize(static_cast<unsigned int>(end));
        return TagLib::String(text,
                              ValidUtf8(text.data(), text.size()) ? TagLib::String::UTF8 : TagLib::String::Latin1);
    }

    TagLib::ByteVector render(const TagLib::String &text) const override { return text.data(TagLib::String::UTF8); }
};

} // namespace

void UseInfoTextHandler()
{
    static std::once_flag once;
    // Never destroyed: TagLib keeps the pointer until the very end of the process.
    std::call_once(once, [] { TagLib::RIFF::Info::Tag::setStringHandler(new InfoTextHandler); });
}

TagLib::PropertyMap InfoProperties(const TagLib::RIFF::Info::Tag &info)
{
    TagLib::PropertyMap map;
    for (const InfoEntry &entry : kInfoEntries) {
        const TagLib::String text = info.fieldText(entry.id).stripWhiteSpace();
        if (!text.isEmpty() && !map.contains(entry.key))
            map.insert(entry.key, TagLib::StringList(text));
    }
    return map;
}

void WriteInfo(const std::map<std::string, std::string> &fields, TagLib::RIFF::Info::Tag &info)
{
    for (const InfoEntry &entry : kInfoEntries) {
        const auto found = fields.find(entry.key);
        if (found == fields.end())
            continue;
        // INFO readers expect a plain track number.
        const std::string text = std::string(entry.key) == "TRACKNUMBER" ? NumberPart(found->second) : found->second;
        if (found->second.empty())
            info.removeField(entry.id);
        else if (!text.empty())
            info.setFieldText(entry.id, FromUtf8(text));
    }
}

} // namespace tagcopy::detail
