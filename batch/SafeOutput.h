// An output file written under a temporary name beside it and renamed into place once complete,
// so that a failed or stopped run never leaves half a file and never touches an older one.
#pragma once

#include "batch/FolderAt.h"
#include "batch/StaleTemporaries.h"

#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <vector>

struct AVOutputFormat;

namespace batch {

// Another run is writing the same output now: the temporary file all runs name alike is held.
class BeingConverted : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SafeOutput {
public:
    struct PlainFile {};

    // An output named as the engine reads names: protocols, "-" (standard output, refused when
    // that is a terminal), devices, FIFOs and a numbered name ("%d") whose muxer writes the
    // series of files itself are written directly. format: the muxer asked for, else the one the
    // name suggests. The media libraries must be loaded. Throws std::runtime_error when no
    // temporary file can be made, BeingConverted when another run writes the output now.
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
    // Whether the last commit failed because a file had appeared under the name.
    bool Appeared() const { return appeared_; }

    // Where the finished file goes, as its folder's identity and its name: two outputs with one
    // key are one file. Empty when written directly.
    std::string DestinationKey() const;

    // text with the temporary name shown as the output's name.
    std::string ShowingOutputName(std::string text) const;

    // Removes the temporary files of runs that were killed from the folder this output is written
    // to, never one of the files keep names.
    CleanUp RemoveStaleTemporaries(const std::vector<std::string> &keep = {}) const;
    // The same in the folders the outputs are written to, those that links lead to included.
    static CleanUp RemoveStaleTemporaries(const std::vector<std::string> &outputs,
                                          const std::vector<std::string> &keep);

    // Removes every temporary file not yet committed and refuses their commits from now on:
    // for a program about to end at once. Any thread may call it.
    static void DiscardAllBeforeAbruptEnd();

private:
    void MakeTemporary(const std::filesystem::path &folderPath, const std::string &extension, bool filePrefix);
    void RemoveTemporary() const; // with the registry locked
    bool PlaceWithoutReplacing(std::string &error);

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
    bool foldsCase_ = false; // the folder's volume ignores case
    bool appeared_ = false;
};

} // namespace batch
