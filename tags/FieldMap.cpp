#include "tags/FieldMap.h"

#include "tags/TagSet.h"

#include <cctype>

namespace tagcopy {

const std::vector<std::string> &CarriedFields()
{
    static const std::vector<std::string> keys = {"TITLE",      "ARTIST", "ALBUM", "ALBUMARTIST", "TRACKNUMBER",
                                                  "DISCNUMBER", "DATE",   "GENRE", "COMMENT"};
    return keys;
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

std::string ToUtf8(const TagLib::String &text) { return text.to8Bit(true); }

TagLib::String FromUtf8(const std::string &text) { return TagLib::String(text, TagLib::String::UTF8); }

void AddCarried(const TagLib::PropertyMap &map, std::map<std::string, std::string> &fields)
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
