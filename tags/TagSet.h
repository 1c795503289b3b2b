// The tags carried from a source file to a converted one, in a form that belongs to no file format.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tagcopy {

// Pictures larger than this are left behind: no cover is worth that much memory or file size.
inline constexpr size_t kMaxPictureBytes = 16u << 20;

struct TPicture {
    std::string mimeType; // "image/jpeg", "image/png", ...
    std::string description;
    std::vector<unsigned char> data;
};

struct TTagSet {
    // Keys of TagLib's neutral property map. Text is UTF-8; several values of one key are joined
    // with "; ". TRACKNUMBER and DISCNUMBER are "n" or "n/total".
    std::map<std::string, std::string> fields;
    std::optional<TPicture> frontCover;
    // The file name of the input an output was converted from; empty: none. Written by WriteTags,
    // never filled by ReadTags: a converted file given as a source does not pass its record on.
    std::string sourceName;
    // What ReadTags found but could not carry, as short reasons for the user.
    std::vector<std::string> leftOut;
    // Carried keys TagLib may have read as nothing: text that is not UTF-8 where it expects UTF-8
    // (a Vorbis comment's loses its whole entry). Another reader may have them; none is in fields.
    std::set<std::string> unread;

    // What there is to write: leftOut is not.
    bool Empty() const { return fields.empty() && !frontCover && sourceName.empty(); }
};

// The keys ReadTags carries: title, artist, album, album artist, track, disc, date, genre, comment.
const std::vector<std::string> &CarriedFields();

// Tag text as UTF-8: valid UTF-8 as it is, any other bytes read as Latin-1, as older writers meant them.
std::string TextAsUtf8(const std::string &bytes);

} // namespace tagcopy
