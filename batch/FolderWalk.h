// The files below a folder as a batch takes them: hidden names and links to folders left out.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace batch {

struct FolderContent {
    struct Note {
        std::filesystem::path path;
        bool unreadable = false; // a folder that cannot be read (else: the left-out folder)
        std::string reason;
    };
    std::vector<std::filesystem::path> files; // sorted within each folder, folders in name order
    std::vector<Note> notes;
};

// Adds what is below folder to content. Names starting with "." are left out, and links to
// folders are not followed (they can make loops). The tree of leftOut (a path's PathKeys key;
// empty for none) is not read, so that a batch's outputs are never taken for its inputs.
void WalkFolder(const std::filesystem::path &folder, const std::filesystem::path &leftOut, FolderContent &content);

// The path in one spelling (absolute, links resolved as far as it exists), so that two spellings
// of one place compare equal.
std::filesystem::path NormalPath(const std::filesystem::path &path);

} // namespace batch
