// Names as a volume compares them: some (exFAT, FAT, many network shares) take "Song.mp3" and
// "song.MP3" for one file. Asked of the folder itself, as the file system type cannot always tell.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace batch {

// Whether the folder's volume finds a name under another case: a name there looked up with its
// case changed. When the folder holds nothing to look up, a file made for the purpose is, if
// mayProbe, else the file system's type tells.
bool FoldsCase(int folder, bool mayProbe);

// Whether the file's name found with its case changed is the file: for a name known to be the
// only one of its kind in the folder, such as a temporary file of ours.
bool OwnNameFoldsCase(int folder, const std::string &name);

// The name in capitals, as a volume that ignores case compares it.
std::string FoldCase(const std::string &name);

// Paths in one spelling per file: absolute, normal, and each name folded where its folder's volume
// ignores case. A folder not made yet follows the one it will be made in.
class PathKeys {
public:
    explicit PathKeys(bool mayProbe) : mayProbe_(mayProbe) {}
    std::filesystem::path Key(const std::filesystem::path &path);
    // Whether the folder's names ignore case.
    bool Folds(const std::filesystem::path &folder);

private:
    bool mayProbe_;
    std::map<std::filesystem::path, bool> folds_;
};

} // namespace batch
