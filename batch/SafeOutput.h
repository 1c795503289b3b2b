// An output file written under a temporary name beside it and renamed into place once complete,
// so that a failed or stopped run never leaves half a file and never touches an older one.
#pragma once

#include "batch/FolderAt.h"

#include <string>
#include <sys/types.h>
#include <vector>

struct AVOutputFormat;

namespace batch {

class SafeOutput {
public:
    struct PlainFile {};

    // An output named as the engine reads names: protocols, "-" (standard output, refused when
    // that is a terminal), devices, FIFOs and a numbered name ("%d") whose muxer writes the
    // series of files itself are written directly. format: the muxer asked for, else the one the
    // name suggests. The media libraries must be loaded. Throws std::runtime_error when no
    // temporary file can be made.
    explicit SafeOutput(const std::string &output, const AVOutputFormat *format = nullptr);
    // A local file whatever its name looks like, its missing folders made on the way. What is
    // there already must be a regular file or a link to one; a link to nothing is replaced.
    SafeOutput(PlainFile, const std::string &path);
    // Removes the temporary file unless it was committed.
    ~SafeOutput();
    SafeOutput(const SafeOutput &) = delete;
    SafeOutput &operator=(const SafeOutput &) = delete;

    // The name to give the engine: the temporary file, or the output itself when written directly.
    const std::string &EngineName() const { return engineName_; }
    bool Direct() const { return temporary_.empty(); }
    // A path that opens the temporary file, for the tags; empty when written directly.
    const std::string &TemporaryPath() const { return temporary_; }

    // Whether something had the output's name when the temporary file was made.
    bool NameTaken() const { return nameTaken_; }

    // Puts the finished file in the output's place, with an older file's permission bits.
    // replace false: a file that has appeared under the name meanwhile is kept, and that is an error.
    // False with error when that fails; an older file then stays as it was.
    bool Commit(std::string &error, bool replace = true);

    // Where the finished file goes, as its folder's identity and its name: two outputs with one
    // key are one file. Empty when written directly.
    std::string DestinationKey() const;

    // text with the temporary name shown as the output's name.
    std::string ShowingOutputName(std::string text) const;

    // Removes the temporary files that no running program holds from the folder this output is
    // written to: left by a run that was killed, whatever it was writing. Returns how many.
    int RemoveStaleTemporaries() const;
    // The same in each of the folders.
    static int RemoveStaleTemporaries(const std::vector<std::string> &folders);

    // Removes every temporary file not yet committed and refuses their commits from now on:
    // for a program about to end at once. Any thread may call it.
    static void DiscardAllBeforeAbruptEnd();

private:
    void MakeTemporary(const std::filesystem::path &folderPath, const std::string &extension, bool filePrefix);
    void RemoveTemporary() const; // with the registry locked

    std::string output_; // as the user named it
    UniqueFd folder_;    // where the finished file goes and the temporary one is made
    std::string name_;   // the finished file's name in that folder
    std::string temporaryName_;
    std::string temporary_; // a path that opens it
    std::string engineName_;
    UniqueFd file_; // the temporary file, held to know it by its identity and as its lock
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool committed_ = false;
    bool nameTaken_ = false;
};

} // namespace batch
