#include "BatchPlan.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace veloxc {

namespace {

struct Candidate {
    fs::path input;
    fs::path outputFolder;
};

bool Hidden(const fs::path &path)
{
    const std::string name = path.filename().string();
    return !name.empty() && name[0] == '.';
}

// A path in one spelling, so that two spellings of one place compare equal.
fs::path Normal(const fs::path &path)
{
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(path, ec);
    return ec ? fs::absolute(path, ec).lexically_normal() : canonical;
}

bool Inside(const fs::path &path, const fs::path &folder)
{
    const auto [end, rest] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return end == folder.end();
}

// The regular files below folder, sorted, hidden names and the output folder's tree left out.
std::vector<fs::path> FilesBelow(const fs::path &folder, const fs::path &outputFolder)
{
    std::vector<fs::path> files;
    std::error_code ec;
    fs::recursive_directory_iterator walk(folder, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && walk != end; walk.increment(ec)) {
        const fs::path &path = walk->path();
        const bool directory = walk->is_directory(ec);
        if (Hidden(path) || (directory && !outputFolder.empty() && Normal(path) == outputFolder)) {
            if (directory)
                walk.disable_recursion_pending();
            continue;
        }
        if (!directory)
            files.push_back(path);
    }
    std::sort(files.begin(), files.end());
    return files;
}

class Namer {
public:
    Namer(const BatchArguments &arguments, std::set<fs::path> inputs)
        : arguments_(arguments), extension_("." + arguments.format), inputs_(std::move(inputs))
    {
    }

    PlannedFile Plan(const Candidate &candidate)
    {
        PlannedFile planned{candidate.input.string(), {}, PlanAction::Convert, {}};
        const fs::path input = Normal(candidate.input);
        const std::string stem = candidate.input.stem().string();
        fs::path output = candidate.outputFolder / (stem + extension_);
        if (Normal(output) == input) {
            planned.action = PlanAction::Skip;
            planned.reason = "is already its own output";
            return planned;
        }
        // Another input, or an output planned for another input: the input's own kind tells them apart.
        const std::string kind = candidate.input.extension().string().substr(std::min<size_t>(
            1, candidate.input.extension().string().size()));
        for (int n = 1; Taken(output); ++n)
            output = candidate.outputFolder /
                     (stem + " (" + kind + (n > 1 ? " " + std::to_string(n) : "") + ")" + extension_);
        std::error_code ec;
        if (fs::exists(output, ec)) {
            if (arguments_.onExists == OnExists::Skip) {
                planned.output = output.string();
                planned.action = PlanAction::Skip;
                planned.reason = "exists";
                planned_.insert(Normal(output));
                return planned;
            }
            if (arguments_.onExists == OnExists::Rename) {
                const std::string base = output.stem().string();
                fs::path renamed;
                for (int n = 1;; ++n) {
                    renamed = candidate.outputFolder / (base + " (" + std::to_string(n) + ")" + extension_);
                    if (!fs::exists(renamed, ec) && !Taken(renamed))
                        break;
                }
                output = renamed;
            }
        }
        planned.output = output.string();
        planned_.insert(Normal(output));
        return planned;
    }

private:
    bool Taken(const fs::path &output) const
    {
        const fs::path normal = Normal(output);
        return inputs_.count(normal) > 0 || planned_.count(normal) > 0;
    }

    const BatchArguments &arguments_;
    const std::string extension_;
    const std::set<fs::path> inputs_;
    std::set<fs::path> planned_;
};

} // namespace

std::vector<PlannedFile> MakeBatchPlan(const BatchArguments &arguments, const MediaTest &isMedia)
{
    const fs::path outputFolder = arguments.outputDir.empty() ? fs::path() : Normal(arguments.outputDir);
    std::vector<PlannedFile> plan;
    std::vector<Candidate> candidates;
    std::set<fs::path> inputs;
    std::set<fs::path> seen; // a file named twice, or found through two paths, is planned once
    const auto consider = [&](const fs::path &file, const fs::path &mirrorFrom) {
        const fs::path normal = Normal(file);
        if (!seen.insert(normal).second)
            return;
        std::error_code ec;
        if (!fs::is_regular_file(file, ec) || !isMedia(file.string())) {
            plan.push_back({file.string(), {}, PlanAction::NotMedia, "not media with sound"});
            return;
        }
        fs::path folder = file.parent_path();
        if (!outputFolder.empty())
            folder = mirrorFrom.empty()
                         ? outputFolder
                         : (outputFolder / file.parent_path().lexically_relative(mirrorFrom)).lexically_normal();
        inputs.insert(normal);
        candidates.push_back({file, folder});
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
            if (!outputFolder.empty() && Inside(Normal(path), outputFolder)) {
                plan.push_back({path, {}, PlanAction::Missing, "is inside the output folder"});
                continue;
            }
            for (const fs::path &file : FilesBelow(path, outputFolder))
                consider(file, path);
        } else {
            consider(path, {});
        }
    }
    Namer namer(arguments, inputs);
    for (const Candidate &candidate : candidates)
        plan.push_back(namer.Plan(candidate));
    return plan;
}

} // namespace veloxc
