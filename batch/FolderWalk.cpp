#include "batch/FolderWalk.h"

#include "batch/CaseFolding.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace batch {

namespace {

bool Hidden(const fs::path &path)
{
    const std::string name = path.filename().string();
    return !name.empty() && name[0] == '.';
}

} // namespace

fs::path NormalPath(const fs::path &path)
{
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(path, ec);
    return ec ? fs::absolute(path, ec).lexically_normal() : canonical;
}

namespace {

void Walk(const fs::path &folder, const fs::path &leftOut, PathKeys &keys, FolderContent &content)
{
    std::error_code ec;
    fs::directory_iterator entries(folder, ec);
    if (ec) {
        content.notes.push_back({folder, true, ec.message()});
        return;
    }
    std::vector<fs::directory_entry> sorted;
    for (fs::directory_iterator end; !ec && entries != end; entries.increment(ec))
        sorted.push_back(*entries);
    if (ec)
        content.notes.push_back({folder, true, ec.message()});
    std::sort(sorted.begin(), sorted.end());
    for (const fs::directory_entry &entry : sorted) {
        if (Hidden(entry.path()))
            continue;
        std::error_code statusError;
        const bool link = entry.is_symlink(statusError);
        if (entry.is_directory(statusError)) {
            if (link)
                continue;
            if (!leftOut.empty() && keys.Key(entry.path()) == leftOut) {
                content.notes.push_back({entry.path(), false, {}});
                continue;
            }
            Walk(entry.path(), leftOut, keys, content);
        } else {
            content.files.push_back(entry.path());
        }
    }
}

} // namespace

void WalkFolder(const fs::path &folder, const fs::path &leftOut, FolderContent &content)
{
    PathKeys keys(false);
    Walk(folder, leftOut, keys, content);
}

} // namespace batch
