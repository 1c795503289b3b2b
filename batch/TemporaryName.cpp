#include "batch/TemporaryName.h"

#include <cstdint>
#include <string_view>

namespace batch {

namespace {

constexpr std::string_view kMarker = ".partial-";
constexpr size_t kDigestLetters = 6, kCheckLetters = 8;
constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// 64-bit FNV-1a, keyed so that the check belongs to this program's temporary files alone.
uint64_t Digest(std::string_view text, std::string_view key)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const std::string_view part : {key, std::string_view("\0", 1), text})
        for (const char c : part) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 0x100000001b3ull;
        }
    hash ^= hash >> 29; // the low letters otherwise depend on the last bytes alone
    hash *= 0xbf58476d1ce4e5b9ull;
    return hash ^ (hash >> 32);
}

std::string Letters(uint64_t value, size_t count)
{
    std::string letters;
    for (size_t i = 0; i < count; ++i, value /= kLetters.size())
        letters += kLetters[value % kLetters.size()];
    return letters;
}

// The check of a temporary name: over everything in it but the check itself.
std::string Check(std::string_view head, std::string_view digest, std::string_view extension)
{
    std::string text(head);
    text.append(digest).append("/").append(extension);
    return Letters(Digest(text, "velox temporary output"), kCheckLetters);
}

} // namespace

std::string CutName(const std::string &name, size_t size)
{
    if (name.size() <= size)
        return name;
    while (size > 0 && (static_cast<unsigned char>(name[size]) & 0xC0) == 0x80)
        --size;
    return name.substr(0, size);
}

std::string TemporaryNameOf(const std::string &name, const std::string &extension, size_t maxBytes)
{
    const size_t fixed = 1 + kMarker.size() + kDigestLetters + kCheckLetters + extension.size();
    const std::string head = "." + CutName(name, maxBytes > fixed ? maxBytes - fixed : 0) + std::string(kMarker);
    // The whole name's digest keeps apart two long names that are cut alike.
    const std::string digest = Letters(Digest(name + "/" + extension, "velox output name"), kDigestLetters);
    return head + digest + Check(head, digest, extension) + extension;
}

bool IsTemporaryName(const std::string &name)
{
    const size_t marker = name.rfind(kMarker);
    if (name.empty() || name[0] != '.' || marker == std::string::npos || marker < 1)
        return false;
    const size_t token = marker + kMarker.size();
    if (name.size() < token + kDigestLetters + kCheckLetters)
        return false;
    const std::string_view view(name);
    return view.substr(token + kDigestLetters, kCheckLetters) ==
           Check(view.substr(0, token), view.substr(token, kDigestLetters),
                 view.substr(token + kDigestLetters + kCheckLetters));
}

} // namespace batch
