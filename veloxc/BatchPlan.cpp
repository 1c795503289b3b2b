#include "veloxc/BatchPlan.h"

#include "batch/CaseFolding.h"
#include "batch/FolderAt.h"
#include "batch/FolderWalk.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace veloxc {

using namespace batch;

namespace {

struct Candidate {
    fs::path input;
    fs::path outputFolder;
};

bool Inside(const fs::path &path, const fs::path &folder)
{
    const auto [end, rest] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return end == folder.end();
}

// Whether a file can be read at all, and why not.
std::string Unreadable(const fs::path &file)
{
    std::error_code ec;
    if (!fs::is_regular_file(file, ec))
        return ec ? ec.message() : "not a regular file";
    if (access(file.c_str(), R_OK) != 0)
        return std::strerror(errno);
    return {};
}

// The output an input gets before any clash is settled: its name with the output's extension.
fs::path FirstChoice(const Candidate &candidate, const std::string &extension)
{
    return candidate.outputFolder / (candidate.input.stem().string() + extension);
}

// Whether anything is there under the name, a link to nothing included.
bool Exists(const fs::path &path)
{
    struct stat info {};
    return StatAt(path, info, false);
}

class Namer {
public:
    // inputs: every file the run was given or found; earlierOutputs: those that may be outputs of
    // an earlier run as far as naming goes (their output would be themselves, or they are no media).
    Namer(const BatchArguments &arguments, std::set<fs::path> inputs, std::set<fs::path> earlierOutputs,
          const SourceRecord &recordedSource, PathKeys &keys)
        : arguments_(arguments), extension_(arguments.Format().extension), inputs_(std::move(inputs)),
          earlierOutputs_(std::move(earlierOutputs)), recordedSource_(recordedSource), keys_(keys)
    {
    }

    PlannedFile Plan(const Candidate &candidate)
    {
        PlannedFile planned{candidate.input.string(), {}, PlanAction::Convert, {}};
        const fs::path input = keys_.Key(candidate.input);
        const std::string stem = candidate.input.stem().string();
        fs::path output = FirstChoice(candidate, extension_);
        if (keys_.Key(output) == input) {
            planned.action = PlanAction::Skip;
            planned.reason = "is already its own output";
            return planned;
        }
        // Another input, an output planned for another input, or one made from another input in
        // an earlier run: the input's own kind tells them apart.
        const std::string kind = candidate.input.extension().string().substr(
            std::min<size_t>(1, candidate.input.extension().string().size()));
        for (int n = 1; Unavailable(output, candidate.input); ++n)
            output = candidate.outputFolder /
                     (stem + " (" + kind + (n > 1 ? " " + std::to_string(n) : "") + ")" + extension_);
        if (Exists(output)) {
            if (arguments_.onExists == OnExists::Skip) {
                planned.output = output.string();
                planned.action = PlanAction::Skip;
                planned.reason = "exists";
                planned_.insert(keys_.Key(output));
                return planned;
            }
            if (arguments_.onExists == OnExists::Rename) {
                const std::string base = output.stem().string();
                fs::path renamed;
                for (int n = 1;; ++n) {
                    renamed = candidate.outputFolder / (base + " (" + std::to_string(n) + ")" + extension_);
                    if (!Exists(renamed) && !Taken(renamed))
                        break;
                }
                output = renamed;
            }
        }
        planned.output = output.string();
        planned_.insert(keys_.Key(output));
        return planned;
    }

private:
    bool Taken(const fs::path &output) const
    {
        const fs::path normal = keys_.Key(output);
        return planned_.count(normal) > 0 || (inputs_.count(normal) > 0 && earlierOutputs_.count(normal) == 0);
    }

    // Not this input's to take: planned for another input, an input of the run, or the output of
    // another input by its record. A file of the run is replaced only when it records this input:
    // one without a record may be the user's own.
    bool Unavailable(const fs::path &output, const fs::path &input) const
    {
        if (Taken(output))
            return true;
        const bool replacingAnInput =
            arguments_.onExists == OnExists::Overwrite && earlierOutputs_.count(keys_.Key(output)) > 0;
        if (!recordedSource_ || !Exists(output))
            return replacingAnInput;
        const std::string source = recordedSource_(output.string());
        if (source.empty())
            return replacingAnInput;
        const fs::path recorded = output.parent_path() / source;
        if (source == SourceRecordOf(input.string(), output.string()) || keys_.Key(recorded) == keys_.Key(input))
            return false;
        // Another input's, unless that one is gone and this one has its name: the tree was moved.
        return Exists(recorded) || fs::path(source).filename() != input.filename();
    }

    const BatchArguments &arguments_;
    const std::string extension_;
    const std::set<fs::path> inputs_;
    const std::set<fs::path> earlierOutputs_;
    const SourceRecord &recordedSource_;
    PathKeys &keys_;
    std::set<fs::path> planned_;
};

// The media test of each file, on up to threads threads: reading the start of every file of a
// large folder one after another would keep the other cores idle before the first conversion.
std::vector<char> TestFiles(const std::vector<fs::path> &files, const MediaTest &isMedia, int threads)
{
    std::vector<char> media(files.size(), 0);
    std::atomic<size_t> next{0};
    std::mutex failureLock;
    std::exception_ptr failure; // the first a test raised, raised again here once all have stopped
    const auto work = [&] {
        try {
            for (size_t i = next++; i < files.size(); i = next++)
                media[i] = isMedia(files[i].string()) ? 1 : 0;
        } catch (...) {
            next = files.size();
            std::lock_guard<std::mutex> lock(failureLock);
            if (!failure)
                failure = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> helpers;
        const size_t extra = std::min(files.size() / 2, static_cast<size_t>(std::max(threads, 1) - 1));
        for (size_t i = 0; i < extra; ++i)
            helpers.emplace_back(work);
        work();
    }
    if (failure)
        std::rethrow_exception(failure);
    return media;
}

} // namespace

std::string SourceRecordOf(const std::string &input, const std::string &output)
{
    return NormalPath(input).lexically_relative(NormalPath(fs::path(output).parent_path())).string();
}

std::vector<PlannedFile> MakeBatchPlan(const BatchArguments &arguments, const MediaTest &isMedia, int threads,
                                       const SourceRecord &recordedSource)
{
    // Compared in one spelling, shown as the user wrote it, on every run alike.
    // Paths compared as their volumes compare names: on one that ignores case, "Song.mp3" is "song.MP3".
    PathKeys keys(!arguments.dryRun);
    const fs::path outputFolder = arguments.outputDir.empty() ? fs::path() : keys.Key(arguments.outputDir);
    const fs::path outputShown = arguments.outputDir;
    std::vector<PlannedFile> plan;
    std::vector<Candidate> candidates;
    std::set<fs::path> seen; // a file named twice, or found through two paths, is planned once
    // Files to test, each holding its place in the plan should it turn out not to be media.
    struct Readable {
        fs::path file, mirrorFrom;
        bool named;
        size_t place;
    };
    std::vector<Readable> readable;
    // A file named on the command line that cannot be converted is a failure; one found in a
    // folder is one only when it cannot be read: what is simply no media is counted and left.
    const auto consider = [&](const fs::path &file, const fs::path &mirrorFrom, bool named) {
        if (!seen.insert(keys.Key(file)).second)
            return;
        if (const std::string reason = Unreadable(file); !reason.empty()) {
            plan.push_back({file.string(),
                            {},
                            named || reason != "not a regular file" ? PlanAction::Missing : PlanAction::NotMedia,
                            reason});
            return;
        }
        readable.push_back({file, mirrorFrom, named, plan.size()});
        plan.emplace_back();
    };
    for (const std::string &path : arguments.paths) {
        std::error_code ec;
        const fs::file_status status = fs::status(path, ec);
        if (ec || !fs::exists(status)) {
            plan.push_back({path, {}, PlanAction::Missing, ec ? ec.message() : "No such file or directory"});
            continue;
        }
        if (fs::is_directory(status)) {
            // A folder inside the output folder's tree would read the outputs as inputs.
            if (!outputFolder.empty() && Inside(keys.Key(path), outputFolder)) {
                plan.push_back({path, {}, PlanAction::Missing, "is inside the output folder"});
                continue;
            }
            FolderContent content;
            WalkFolder(path, outputFolder, content);
            for (const FolderContent::Note &note : content.notes) {
                if (note.unreadable)
                    plan.push_back({note.path.string(), {}, PlanAction::Missing, note.reason});
                else
                    plan.push_back({note.path.string(),
                                    {},
                                    PlanAction::Skip,
                                    "is the output folder: the files below it are not read"});
            }
            for (const fs::path &file : content.files)
                consider(file, path, false);
        } else {
            consider(path, {}, true);
        }
    }
    std::vector<fs::path> files;
    for (const Readable &r : readable)
        files.push_back(r.file);
    const std::vector<char> media = TestFiles(files, isMedia, threads);
    std::vector<char> taken(plan.size(), 0); // places of media files, which get their entry below
    for (size_t i = 0; i < readable.size(); ++i) {
        const auto &[file, mirrorFrom, named, place] = readable[i];
        if (!media[i]) {
            plan[place] = {file.string(),
                           {},
                           named ? PlanAction::Missing : PlanAction::NotMedia,
                           "not media with sound, or damaged"};
            continue;
        }
        taken[place] = 1;
        fs::path folder = file.parent_path();
        if (!outputFolder.empty()) {
            const fs::path below =
                mirrorFrom.empty() ? fs::path(".") : file.parent_path().lexically_relative(mirrorFrom);
            folder = below == "." ? outputShown : outputShown / below;
        }
        candidates.push_back({file, folder});
    }
    size_t kept = 0;
    for (size_t i = 0; i < plan.size(); ++i) {
        if (taken[i])
            continue;
        if (kept != i)
            plan[kept] = std::move(plan[i]);
        ++kept;
    }
    plan.resize(kept);
    // An input that would be its own output is an output of an earlier run as far as naming goes.
    const std::string extension = arguments.Format().extension;
    std::set<fs::path> earlierOutputs = seen;
    for (const Candidate &candidate : candidates)
        if (keys.Key(FirstChoice(candidate, extension)) != keys.Key(candidate.input))
            earlierOutputs.erase(keys.Key(candidate.input));
    Namer namer(arguments, seen, earlierOutputs, recordedSource, keys);
    for (const Candidate &candidate : candidates)
        plan.push_back(namer.Plan(candidate));
    return plan;
}

} // namespace veloxc
