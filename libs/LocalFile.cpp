#include "libs/LocalFile.h"

#include "libs/AVEntryPoints.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>

using namespace avlib;

namespace {

constexpr int kMaxDepth = 8;
constexpr std::streamsize kMaxListBytes = 1 << 20; // a longer "concatf:" list is not read

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

void Collect(std::string_view address, std::vector<std::string> &files, int depth);

// What a protocol that opens another address opens: the rest after "name:" (or "name+" where
// the library takes a nested scheme).
std::optional<std::string_view> AfterPrefix(std::string_view address, std::string_view name, bool nested)
{
    for (const char separator : {':', '+'}) {
        if (separator == '+' && !nested)
            break;
        if (StartsWith(address, name) && address.size() > name.size() && address[name.size()] == separator)
            return address.substr(name.size() + 1);
    }
    return std::nullopt;
}

// "subfile:URL", or options first as the library reads them: "subfile,<s>key<s>value<s>...<s><s>:URL"
// with any one character for <s>.
std::optional<std::string_view> SubfileTarget(std::string_view address)
{
    if (StartsWith(address, "subfile:"))
        return address.substr(8);
    if (!StartsWith(address, "subfile,") || address.size() < 10)
        return std::nullopt;
    const char separator = address[8];
    for (size_t at = 9;;) {
        const size_t key = address.find(separator, at);
        if (key == std::string_view::npos)
            return std::nullopt;
        if (key == at) { // an empty key ends the options
            const std::string_view rest = address.substr(key + 1);
            return StartsWith(rest, ":") ? std::optional(rest.substr(1)) : std::nullopt;
        }
        const size_t value = address.find(separator, key + 1);
        if (value == std::string_view::npos)
            return std::nullopt;
        at = value + 1;
    }
}

struct TokenDeleter {
    void operator()(char *token) const { avutil.av_free(token); }
};

// The parts of a list as the library splits it (its tokeniser: quotes, backslashes, blanks trimmed).
std::vector<std::string> Tokens(const std::string &text, const char *terminators)
{
    std::vector<std::string> tokens;
    const char *cursor = text.c_str();
    while (*cursor) {
        const std::unique_ptr<char, TokenDeleter> token(avutil.av_get_token(&cursor, terminators));
        if (!token)
            break;
        tokens.emplace_back(token.get());
        if (*cursor)
            ++cursor;
    }
    return tokens;
}

// A "concatf:" list names its own file and, one a line, the addresses it joins.
void CollectList(std::string_view list, std::vector<std::string> &files, int depth)
{
    std::vector<std::string> lists;
    Collect(list, lists, depth + 1);
    for (const std::string &file : lists) {
        files.push_back(file);
        std::error_code ec;
        if (!std::filesystem::is_regular_file(file, ec)) // never wait on a pipe
            continue;
        std::ifstream in(file, std::ios::binary);
        std::string text(static_cast<size_t>(kMaxListBytes), '\0');
        in.read(text.data(), kMaxListBytes);
        text.resize(static_cast<size_t>(in.gcount()));
        for (const std::string &entry : Tokens(text, "\r\n"))
            Collect(entry, files, depth + 1);
    }
}

void Collect(std::string_view address, std::vector<std::string> &files, int depth)
{
    if (address.empty() || depth > kMaxDepth)
        return;
    const std::string text(address);
    const char *name = avformat.avio_find_protocol_name(text.c_str());
    if (!name) { // no protocol of the library: the file of that name (see MediaUrl)
        files.push_back(text);
        return;
    }
    const std::string_view protocol(name);
    if (protocol == "file") {
        // Whatever follows "file:" is the path, colons included.
        files.emplace_back(StartsWith(address, "file:") ? address.substr(5) : address);
    } else if (protocol == "async" || protocol == "cache" || protocol == "md5" || protocol == "bluray" ||
               protocol == "crypto" || protocol == "hls") {
        const bool nested = protocol == "crypto" || protocol == "hls";
        if (const auto inner = AfterPrefix(address, protocol, nested))
            Collect(*inner, files, depth + 1);
    } else if (protocol == "subfile") {
        if (const auto inner = SubfileTarget(address))
            Collect(*inner, files, depth + 1);
    } else if (protocol == "concat") {
        // Split at every '|', with no quoting, as the protocol itself does.
        std::string_view rest = address.substr(7);
        for (size_t bar; (bar = rest.find('|')) != std::string_view::npos; rest = rest.substr(bar + 1))
            Collect(rest.substr(0, bar), files, depth + 1);
        Collect(rest, files, depth + 1);
    } else if (protocol == "tee") {
        for (const std::string &part : Tokens(text.substr(4), "|"))
            Collect(part, files, depth + 1);
    } else if (protocol == "concatf") {
        CollectList(address.substr(8), files, depth);
    }
    // Any other protocol reaches a network, a device or a pipe: no local file.
}

} // namespace

std::vector<std::string> LocalFilesNamed(const std::string &address)
{
    std::vector<std::string> files;
    Collect(address, files, 0);
    return files;
}

bool SameLocalFile(const std::string &first, const std::string &second)
{
    const std::vector<std::string> others = LocalFilesNamed(second);
    for (const std::string &a : LocalFilesNamed(first))
        for (const std::string &b : others) {
            std::error_code ec;
            if (std::filesystem::equivalent(a, b, ec))
                return true;
        }
    return false;
}
