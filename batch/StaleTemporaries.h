// The clean-up of temporary files that runs killed on their way left behind. Only what provably is
// one goes: a name that proves itself ours, a regular file, that no process holds open or locked,
// and none of the files a run was given.
#pragma once

#include <set>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace batch {

using FileId = std::pair<dev_t, ino_t>;

struct CleanUp {
    int removed = 0;
    std::vector<std::string> notes; // what was left in doubt, one line each
};

// The identities of the files; those that cannot be reached are left out.
std::set<FileId> FileIdsOf(const std::vector<std::string> &paths);

// Cleans the folder (shown as shownFolder in the notes), never removing a file of keep.
void RemoveStaleIn(int folder, const std::string &shownFolder, const std::set<FileId> &keep, CleanUp &cleanUp);

// Every file a process that can be read, this one included, holds open, as /proc shows them.
std::set<FileId> OpenFiles();

enum class Stale { Removed, Gone, Kept, Locked, HeldOpen, Failed };

// Removes the folder's file of that name, a temporary file of a run that is gone, unless it is no
// regular file, one of keep, locked by a run at work on it, or in open (taken before this call
// opens it). Failed leaves errno set.
Stale RemoveIfStale(int folder, const std::string &name, const std::set<FileId> &open,
                    const std::set<FileId> &keep = {});

} // namespace batch
