#include "tags/FieldMap.h"

#include "tags/SourceRecord.h"
#include "tags/TagSet.h"

#include <cctype>

namespace tagcopy {

const std::vector<std::string> &CarriedFields()
{
    static const std::vector<std::string> keys = {"TITLE",      "ARTIST", "ALBUM", "ALBUMARTIST", "TRACKNUMBER",
                                                  "DISCNUMBER", "DATE",   "GENRE", "COMMENT"};
    return keys;
}

std::string TextAsUtf8(const std::string &bytes)
{
    return detail::ValidUtf8(bytes.data(), bytes.size())
               ? bytes
               : detail::ToUtf8(TagLib::String(bytes, TagLib::String::Latin1));
}

namespace detail {

namespace {

std::string Joined(const TagLib::StringList &values)
{
    std::string text;
    for (const TagLib::String &value : values) {
        const std::string part = ToUtf8(value);
        if (part.empty())
            continue;
        if (!text.empty())
            text += "; ";
        text += part;
    }
    return text;
}

// Vorbis comments keep the total apart from the number; ID3 and MP4 write "n/total".
std::string WithTotal(const TagLib::PropertyMap &map, const std::string &number, const char *totalKey,
                      const char *aliasKey)
{
    if (number.empty() || number.find('/') != std::string::npos)
        return number;
    std::string total = map.contains(totalKey) ? Joined(map[totalKey]) : std::string();
    if (total.empty() && map.contains(aliasKey))
        total = Joined(map[aliasKey]);
    return total.empty() ? number : number + "/" + total;
}

} // namespace

size_t Utf8SequenceLength(const char *bytes, size_t size)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes);
    if (size == 0)
        return 0;
    const unsigned char lead = p[0];
    size_t length = 0;
    unsigned int code = 0;
    if (lead < 0x80)
        return 1;
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
        return 0;
    }
    if (length > size)
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((p[k] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (p[k] & 0x3F);
    }
    // Overlong forms, surrogates and values past the last code point are not UTF-8.
    static constexpr unsigned int kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

bool ValidUtf8(const char *bytes, size_t size)
{
    for (size_t i = 0; i < size;) {
        const size_t length = Utf8SequenceLength(bytes + i, size - i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string ToUtf8(const TagLib::String &text) { return text.to8Bit(true); }

TagLib::String FromUtf8(const std::string &text)
{
    return TagLib::String(text, ValidUtf8(text.data(), text.size()) ? TagLib::String::UTF8 : TagLib::String::Latin1);
}

void AddCarried(const TagLib::PropertyMap &map, std::map<std::string, std::string> &fields,
                std::set<std::string> &unread)
{
    for (const std::string &key : CarriedFields()) {
        if (fields.count(key) || !map.contains(key))
            continue;
        std::string value = Joined(map[key]);
        if (key == "TRACKNUMBER")
            value = WithTotal(map, value, "TRACKTOTAL", "TOTALTRACKS");
        else if (key == "DISCNUMBER")
            value = WithTotal(map, value, "DISCTOTAL", "TOTALDISCS");
        if (!value.empty())
            fields[key] = value;
        else if (!map[key].isEmpty())
            unread.insert(key);
    }
    // Vorbis comments often keep the comment as DESCRIPTION (what the media libraries write).
    if (!fields.count("COMMENT") && map.contains("DESCRIPTION")) {
        const std::string description = Joined(map["DESCRIPTION"]);
        if (!description.empty())
            fields["COMMENT"] = description;
    }
}

void ApplyFields(const std::map<std::string, std::string> &fields, TagLib::PropertyMap &map)
{
    for (const auto &[key, value] : fields) {
        const TagLib::String name = FromUtf8(key).upper();
        if (name == kSourceField)
            continue; // the record is written from the source name alone
        if (value.empty())
            map.erase(name);
        else
            map.replace(name, TagLib::StringList(FromUtf8(value)));
    }
}

std::string NumberPart(const std::string &numberAndTotal)
{
    size_t end = 0;
    while (end < numberAndTotal.size() && std::isdigit(static_cast<unsigned char>(numberAndTotal[end])))
        ++end;
    return numberAndTotal.substr(0, end);
}

} // namespace detail
} // namespace tagcopy
