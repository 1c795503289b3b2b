// The tags carried from a source file to a converted one, in a form that belongs to no file format.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
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

    bool Empty() const { return fields.empty() && !frontCover; }
};

// The keys ReadTags carries: title, artist, album, album artist, track, disc, date, genre, comment.
const std::vector<std::string> &CarriedFields();

} // namespace tagcopy
