#include "batch/CaseFolding.h"

#include "batch/FolderAt.h"
#include "batch/FolderWalk.h"
#include "batch/TemporaryName.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <cwctype>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace batch {

namespace {

constexpr long kExfatMagic = 0x2011BAB0; // not in every kernel's headers
constexpr int kNamesTried = 8;

std::string SwapAsciiCase(std::string name)
{
    for (char &c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return name;
}

bool Exists(int folder, const std::string &name)
{
    struct stat info {};
    return fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

// 1 folds, 0 does not, -1 nothing in the folder tells.
int AskListing(int folder)
{
    DIR *listing = fdopendir(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listing)
        return -1;
    int answer = -1, tried = 0;
    while (const dirent *entry = readdir(listing)) {
        const std::string name = entry->d_name, swapped = SwapAsciiCase(name);
        if (swapped == name || name == "." || name == "..")
            continue;
        if (!Exists(folder, swapped)) {
            answer = 0;
            break;
        }
        // Found: the same file, unless the folder holds both spellings as two.
        const long at = telldir(listing);
        rewinddir(listing);
        bool both = false;
        while (const dirent *other = readdir(listing))
            both = both || swapped == other->d_name;
        seekdir(listing, at);
        if (!both) {
            answer = 1;
            break;
        }
        if (++tried == kNamesTried)
            break;
    }
    closedir(listing);
    return answer;
}

// A file of our own, made and looked up under another case, then removed.
int AskWithProbe(int folder)
{
    static std::atomic<unsigned> count{0};
    const std::string name =
        TemporaryNameOf("case probe " + std::to_string(getpid()) + "-" + std::to_string(count++), "");
    const int made = openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (made < 0)
        return -1;
    close(made);
    const bool folds = Exists(folder, SwapAsciiCase(name));
    unlinkat(folder, name.c_str(), 0);
    return folds ? 1 : 0;
}

locale_t Utf8Locale()
{
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    return locale;
}

void AppendUtf8(std::string &text, char32_t c)
{
    if (c < 0x80) {
        text += static_cast<char>(c);
    } else if (c < 0x800) {
        text += static_cast<char>(0xC0 | (c >> 6));
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        text += static_cast<char>(0xE0 | (c >> 12));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (c >> 18));
        text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

bool FoldsCase(int folder, bool mayProbe)
{
    if (const int answer = AskListing(folder); answer >= 0)
        return answer == 1;
    struct statfs volume {};
    if (fstatfs(folder, &volume) != 0)
        return false;
    if (volume.f_type == MSDOS_SUPER_MAGIC || volume.f_type == kExfatMagic)
        return true;
    if (mayProbe)
        if (const int answer = AskWithProbe(folder); answer >= 0)
            return answer == 1;
    return false;
}

bool OwnNameFoldsCase(int folder, const std::string &name)
{
    const std::string swapped = SwapAsciiCase(name);
    return swapped != name && Exists(folder, swapped);
}

std::string FoldCase(const std::string &name)
{
    const locale_t locale = Utf8Locale();
    std::string folded;
    for (size_t i = 0; i < name.size();) {
        const unsigned char lead = static_cast<unsigned char>(name[i]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        bool valid = length > 0 && i + length <= name.size();
        char32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (size_t k = 1; valid && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(name[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!valid) { // not UTF-8: the byte as it is
            folded += name[i++];
            continue;
        }
        AppendUtf8(folded, locale ? static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale))
                                  : static_cast<char32_t>(c < 0x80 ? std::toupper(static_cast<int>(c)) : c));
        i += length;
    }
    return folded;
}

bool PathKeys::Folds(const fs::path &folder)
{
    if (const auto found = folds_.find(folder); found != folds_.end())
        return found->second;
    const UniqueFd opened = OpenFolder(folder, false);
    const bool folds = opened                       ? FoldsCase(opened.Get(), mayProbe_)
                       : folder.has_relative_path() ? Folds(folder.parent_path())
                                                    : false;
    folds_[folder] = folds;
    return folds;
}

fs::path PathKeys::Key(const fs::path &path)
{
    const fs::path normal = NormalPath(path);
    fs::path key = normal.root_path(), folder = normal.root_path();
    for (const fs::path &part : normal.relative_path()) {
        key /= Folds(folder) ? fs::path(FoldCase(part.string())) : part;
        folder /= part;
    }
    return key;
}

} // namespace batch
