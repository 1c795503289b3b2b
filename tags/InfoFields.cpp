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

bool ValidUtf8(const TagLib::ByteVector &bytes)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const size_t size = bytes.size();
    for (size_t i = 0; i < size;) {
        const unsigned char lead = p[i];
        size_t length = 0;
        unsigned int code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > size)
            return false;
        for (size_t k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past the last code point are not UTF-8.
        static constexpr unsigned int kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

class InfoTextHandler : public TagLib::RIFF::Info::StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector &data) const override
    {
        TagLib::ByteVector text = data;
        const int end = text.find('\0');
        if (end >= 0)
            text.resize(static_cast<unsigned int>(end));
        return TagLib::String(text, ValidUtf8(text) ? TagLib::String::UTF8 : TagLib::String::Latin1);
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
