// An output file written under a temporary name beside it and renamed into place once complete,
// so that a failed or stopped run never leaves half a file and never touches an older one.
#pragma once

#include <string>
#include <vector>
#include <sys/types.h>

namespace veloxc {

class SafeOutput {
public:
    // Creates the hidden temporary file for a local output (a path or "file:" and a path).
    // Protocols, "-", devices, FIFOs and numbered image names are written directly.
    // The media libraries must be loaded. Throws std::runtime_error when no temporary file can be made.
    explicit SafeOutput(const std::string &output);
    // Removes the temporary file unless it was committed.
    ~SafeOutput();
    SafeOutput(const SafeOutput &) = delete;
    SafeOutput &operator=(const SafeOutput &) = delete;

    // The name to give the engine: the temporary file, or the output itself when written directly.
    const std::string &EngineName() const { return engineName_; }
    bool Direct() const { return temporary_.empty(); }
    // Empty when written directly.
    const std::string &TemporaryPath() const { return temporary_; }

    // Puts the finished file in the output's place, with an older file's permission bits.
    // replace false: a file that has appeared under the name meanwhile is kept, and that is an error.
    // False with error when that fails; an older file then stays as it was.
    bool Commit(std::string &error, bool replace = true);

    // text with the temporary name shown as the output's name.
    std::string ShowingOutputName(std::string text) const;

    // Removes the temporary files of output that no running program holds: left by a run that was
    // killed. Returns how many were removed.
    static int RemoveStaleTemporaries(const std::string &output);
    // The same for many outputs, each folder read once.
    static int RemoveStaleTemporaries(const std::vector<std::string> &outputs);

    // Removes every temporary file not yet committed and refuses their commits from now on:
    // for a program about to end at once. Any thread may call it.
    static void DiscardAllBeforeAbruptEnd();

private:
    void RemoveTemporary() const; // with the registry locked
    void CloseFile();

    std::string output_;      // as the user named it
    std::string destination_; // the path the finished file is renamed to
    std::string temporary_;
    std::string engineName_;
    int fd_ = -1; // kept open to know the temporary file by its identity
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool committed_ = false;
};

} // namespace veloxc
