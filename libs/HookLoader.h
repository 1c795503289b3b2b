// Video hook plug-ins: loaded once per process and cached by file name, configured per job,
// run in the order they were added, and released with the job.
#pragma once

#include "libs/VideoHook.h"

#include <string>
#include <vector>

namespace avlib {

inline constexpr int kMaxHookWords = 63;

// Words of a hook command line: split at "|" when the line holds one, else at blanks; runs of
// separators make no empty words; at most 63 words. The words stay allocated for the life of
// the process, since a plug-in may keep the pointers it was configured with; those of a line
// without words, or of a hook that fails before a plug-in sees them (AddHook), are let go.
std::vector<char *> SplitHookCommandLine(const std::string &commandLine);

struct THookEntry {
    THookConfigure Configure = nullptr;
    THookProcess Process = nullptr;
    THookRelease Release = nullptr;
    void *Ctx = nullptr;
};

// The plug-ins of one job, in the order they were added.
class THookList {
public:
    THookList() = default;
    ~THookList() { ReleaseHooks(); }
    THookList(const THookList &) = delete;
    THookList &operator=(const THookList &) = delete;

    // 0 on success; -1 library not loadable, -2 no words, no Process, or no Configure while
    // arguments are given, -12 no memory, -22 Configure refused. A failed entry is not added.
    // On -1 and -2 the words of argv, when SplitHookCommandLine made them, are let go.
    int AddHook(int argc, char *argv[]);
    void RunHooks(THookPicture *picture, int pixFmt, int width, int height, int64_t pts) const;
    // Calls Release of each entry in order and empties the list; the libraries stay loaded.
    void ReleaseHooks();

    bool Empty() const { return entries_.empty(); }
    size_t Count() const { return entries_.size(); }

private:
    std::vector<THookEntry> entries_;
};

// Number of command lines whose words are held for plug-ins.
size_t HeldHookCommandLineCount();

// Number of plug-in libraries loaded in this process so far.
size_t LoadedHookLibraryCount();

} // namespace avlib
