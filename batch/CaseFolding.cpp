#include "batch/CaseFolding.h"

#include "batch/FolderAt.h"
#include "batch/FolderWalk.h"
#include "batch/TemporaryName.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cwchar>
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
    const locale_t utf8 = Utf8Locale();
    if (!utf8)
        return name;
    const locale_t previous = uselocale(utf8);
    std::string folded;
    std::mbstate_t in{};
    for (size_t i = 0; i < name.size();) {
        wchar_t c = 0;
        const size_t length = std::mbrtowc(&c, name.data() + i, name.size() - i, &in);
        if (length == 0 || length > name.size() - i) { // not UTF-8: the byte as it is
            in = {};
            folded += name[i++];
            continue;
        }
        char out[MB_LEN_MAX];
        std::mbstate_t state{};
        folded.append(out, std::wcrtomb(out, static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c))), &state));
        i += length;
    }
    uselocale(previous);
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
