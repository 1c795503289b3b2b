#include "veloxc/BatchPlan.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>

using namespace veloxc;
using testing_support::TempDir;
namespace fs = std::filesystem;

namespace {

// Changed into for a test's length.
class CurrentFolder {
public:
    explicit CurrentFolder(const fs::path &folder) : before_(fs::current_path()) { fs::current_path(folder); }
    ~CurrentFolder() { fs::current_path(before_); }

private:
    fs::path before_;
};

class BatchPlanTest : public ::testing::Test {
protected:
    std::string Make(const std::string &relative, const std::string &content = "sound")
    {
        const fs::path path = dir.Path() / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << content;
        return path.string();
    }
    std::string At(const std::string &relative) const { return (dir.Path() / relative).string(); }

    // Media by content, as the probe would tell: the files written as "sound".
    std::vector<PlannedFile> Plan(BatchArguments arguments)
    {
        asked.clear();
        return MakeBatchPlan(arguments, [this](const std::string &path) {
            asked.push_back(path);
            std::ifstream in(path);
            std::string content;
            in >> content;
            return content == "sound";
        });
    }

    static BatchArguments Arguments(std::vector<std::string> paths, std::string outputDir = {})
    {
        BatchArguments arguments;
        arguments.paths = std::move(paths);
        arguments.outputDir = std::move(outputDir);
        return arguments;
    }

    // input -> output, or input and the action's reason, for a readable comparison.
    static std::vector<std::string> Lines(const std::vector<PlannedFile> &plan, const fs::path &base)
    {
        std::vector<std::string> lines;
        for (const PlannedFile &p : plan) {
            const auto shown = [&](const std::string &path) {
                return base.empty() ? path : fs::path(path).lexically_relative(base).string();
            };
            switch (p.action) {
            case PlanAction::Convert:
                lines.push_back(shown(p.input) + " -> " + shown(p.output));
                break;
            case PlanAction::Skip:
                lines.push_back(shown(p.input) + " skip: " + p.reason);
                break;
            case PlanAction::NotMedia:
                lines.push_back(shown(p.input) + " not media");
                break;
            case PlanAction::Missing:
                lines.push_back(p.input + " missing: " + p.reason);
                break;
            }
        }
        return lines;
    }

    TempDir dir;
    std::vector<std::string> asked;
};

} // namespace

TEST_F(BatchPlanTest, AFolderTreeIsMirroredUnderTheOutputFolder)
{
    Make("music/a.wav");
    Make("music/x/y.flac");
    Make("music/x/z/deep.ogg");
    Make("music/notes.txt", "text");
    Make("music/.hidden.wav");
    Make("music/.cache/c.wav");
    Make("single.m4a");
    mkfifo(At("music/pipe.wav").c_str(), 0600);
    const auto plan = Plan(Arguments({At("music"), At("single.m4a")}, At("out")));
    EXPECT_EQ(Lines(plan, dir.Path()), (std::vector<std::string>{
                                           "music/notes.txt not media",
                                           "music/pipe.wav not media",
                                           "music/a.wav -> out/a.mp3",
                                           "music/x/y.flac -> out/x/y.mp3",
                                           "music/x/z/deep.ogg -> out/x/z/deep.mp3",
                                           "single.m4a -> out/single.mp3",
                                       }));
    // A pipe is never opened: reading it could wait for ever.
    EXPECT_EQ(std::count(asked.begin(), asked.end(), At("music/pipe.wav")), 0);
}

TEST_F(BatchPlanTest, NoOutputIsAnInputAndNoTwoInputsShareOne)
{
    Make("a.flac");
    Make("a.wav");
    Make("a.mp3");
    Make("b.mp3");
    Make("c.WAV");
    const auto plan = Plan(Arguments({dir.Path().string(), At("a.wav")}));
    EXPECT_EQ(Lines(plan, dir.Path()), (std::vector<std::string>{
                                           "a.flac skip: exists",
                                           "a.mp3 skip: is already its own output",
                                           "a.wav -> a (wav).mp3",
                                           "b.mp3 skip: is already its own output",
                                           "c.WAV -> c.mp3",
                                       }));
    // What that run makes is no input of the next: it skips everything.
    Make("a (wav).mp3");
    Make("c.mp3");
    EXPECT_EQ(Lines(Plan(Arguments({dir.Path().string()})), dir.Path()),
              (std::vector<std::string>{"a (wav).mp3 skip: is already its own output", "a.flac skip: exists",
                                        "a.mp3 skip: is already its own output", "a.wav skip: exists",
                                        "b.mp3 skip: is already its own output", "c.WAV skip: exists",
                                        "c.mp3 skip: is already its own output"}));
}

TEST_F(BatchPlanTest, AnExistingOutputIsSkippedRenamedOrReplaced)
{
    Make("in/song.flac");
    Make("out/song.mp3", "old");
    Make("out/song (1).mp3", "old");
    const struct {
        OnExists onExists;
        std::string line;
    } cases[] = {
        {OnExists::Skip, "in/song.flac skip: exists"},
        {OnExists::Rename, "in/song.flac -> out/song (2).mp3"},
        {OnExists::Overwrite, "in/song.flac -> out/song.mp3"},
    };
    for (const auto &c : cases) {
        BatchArguments arguments = Arguments({At("in")}, At("out"));
        arguments.onExists = c.onExists;
        EXPECT_EQ(Lines(Plan(arguments), dir.Path()), std::vector<std::string>{c.line});
    }
}

TEST_F(BatchPlanTest, TheOutputFolderIsNeverReadAsInput)
{
    Make("music/a.wav");
    Make("music/converted/a.mp3"); // what an earlier run made
    EXPECT_EQ(Lines(Plan(Arguments({At("music")}, At("music/converted"))), dir.Path()),
              (std::vector<std::string>{"music/converted skip: is the output folder: the files below it are not read",
                                        "music/a.wav skip: exists"}));
    const std::string inside = At("music/converted");
    EXPECT_EQ(Lines(Plan(Arguments({inside}, At("music"))), dir.Path()),
              std::vector<std::string>{inside + " missing: is inside the output folder"});
}

TEST_F(BatchPlanTest, MissingPathsFailAndAFileNamedTwiceIsPlannedOnce)
{
    Make("a.wav");
    const auto plan = Plan(Arguments({At("nothing-here"), At("a.wav"), dir.Path().string() + "/./a.wav"}));
    EXPECT_EQ(Lines(plan, dir.Path()), (std::vector<std::string>{
                                           At("nothing-here") + " missing: No such file or directory",
                                           "a.wav -> a.mp3",
                                       }));
}

TEST_F(BatchPlanTest, WhatCannotBeReadIsAFailureAndWhatIsLeftOutIsSaid)
{
    Make("in/ok.wav");
    Make("in/locked/l.wav");
    Make("in/out/old.mp3");
    Make("named.txt", "text");
    fs::permissions(At("in/locked"), fs::perms::none);
    const bool root = geteuid() == 0; // the owner of everything reads a folder without permission
    const auto plan = Plan(Arguments({At("in"), At("named.txt")}, At("in/out")));
    fs::permissions(At("in/locked"), fs::perms::owner_all);
    std::vector<std::string> expected = {
        "in/out skip: is the output folder: the files below it are not read",
        At("named.txt") + " missing: not media with sound, or damaged",
        "in/ok.wav -> in/out/ok.mp3",
    };
    if (!root)
        expected.insert(expected.begin(), At("in/locked") + " missing: Permission denied");
    else
        expected.insert(expected.end() - 1, "in/locked/l.wav -> in/out/locked/l.mp3");
    auto lines = Lines(plan, dir.Path());
    for (std::string &line : lines) // the failures name the full path
        if (line.rfind(dir.Path().string(), 0) != 0 && line.find(" missing: ") != std::string::npos)
            line = At(line.substr(0, line.find(' '))) + line.substr(line.find(' '));
    EXPECT_EQ(lines, expected);
}

// Files are tested on several threads; the plan is the one a single thread makes, whatever order
// the answers come in, and a test that raises still stops the plan.
TEST_F(BatchPlanTest, TestingOnSeveralThreadsGivesTheSamePlan)
{
    for (int i = 0; i < 40; ++i)
        Make("music/" + std::to_string(i) + (i % 7 == 3 ? ".txt" : ".wav"), i % 7 == 3 ? "text" : "sound");
    Make("music/a.wav");
    Make("music/a.flac"); // the same output name: the planner keeps them apart
    const auto slowTest = [](const std::string &path) {
        std::ifstream in(path);
        std::string content;
        in >> content;
        // Unequal answering times, so the threads finish out of order.
        std::this_thread::sleep_for(std::chrono::microseconds(path.size() % 5 * 200));
        return content == "sound";
    };
    const BatchArguments arguments = Arguments({At("music")}, At("out"));
    const std::vector<std::string> single = Lines(MakeBatchPlan(arguments, slowTest, 1), dir.Path());
    EXPECT_EQ(Lines(MakeBatchPlan(arguments, slowTest, 4), dir.Path()), single);
    ASSERT_EQ(single.size(), 42u);
    EXPECT_EQ(std::count_if(single.begin(), single.end(),
                            [](const std::string &line) { return line.ends_with(" not media"); }),
              6);

    const auto failing = [](const std::string &path) -> bool {
        if (path.ends_with("18.wav"))
            throw std::runtime_error("cannot read " + path);
        return true;
    };
    EXPECT_THROW(MakeBatchPlan(arguments, failing, 4), std::runtime_error);
}

// An input is never replaced, an existing output recording its input stays that input's, a link to
// nothing is an existing output, and outputs are shown as the output folder was written.
TEST_F(BatchPlanTest, NamesStayWithTheirInputsAndInputsAreNeverReplaced)
{
    const struct {
        std::vector<std::string> files; // "name" is media (but for "user" files), "name -> target" a link
        std::vector<std::string> paths;
        std::string outputDir;
        OnExists onExists;
        std::map<std::string, std::string> records; // output -> the input it records
        std::vector<std::string> lines;
    } cases[] = {
        {{"a/song.flac", "a/song.mp3"},
         {"a"},
         "",
         OnExists::Overwrite,
         {},
         {"a/song.flac -> a/song (flac).mp3", "a/song.mp3 skip: is already its own output"}},
        {{"a2/song.flac", "a2/song.mp3"},
         {"a2"},
         "",
         OnExists::Overwrite,
         {{"a2/song.mp3", "song.flac"}},
         {"a2/song.flac -> a2/song.mp3", "a2/song.mp3 skip: is already its own output"}},
        {{"b/in/song.flac", "b/in/song.mp3", "b/out/song.mp3 -> ../in/song.mp3"},
         {"b/in"},
         "b/out",
         OnExists::Overwrite,
         {},
         {"b/in/song.flac -> b/out/song (flac).mp3", "b/in/song.mp3 skip: is already its own output"}},
        {{"c/in/song.aiff", "c/in/song.flac", "c/out/song.mp3"},
         {"c/in"},
         "c/out",
         OnExists::Skip,
         {{"c/out/song.mp3", "../in/song.flac"}},
         {"c/in/song.aiff -> c/out/song (aiff).mp3", "c/in/song.flac skip: exists"}},
        {{"f/1/a.wav", "f/2/a.wav", "f/out/a.mp3", "f/out/a (wav).mp3"},
         {"f/2/a.wav", "f/1/a.wav"},
         "f/out",
         OnExists::Skip,
         {{"f/out/a.mp3", "../1/a.wav"}, {"f/out/a (wav).mp3", "../2/a.wav"}},
         {"f/2/a.wav skip: exists", "f/1/a.wav skip: exists"}},
        {{"g/user.mp3", "g/user.wav"},
         {"g"},
         "",
         OnExists::Overwrite,
         {},
         {"g/user.mp3 not media", "g/user.wav -> g/user (wav).mp3"}},
        {{"d/in/x.wav", "d/out/x.mp3 -> gone.mp3"}, {"d/in"}, "d/out", OnExists::Skip, {}, {"d/in/x.wav skip: exists"}},
        {{"e/in/x.wav", "e/made/x.txt"},
         {"e/in"},
         "e/made/../out",
         OnExists::Skip,
         {},
         {"e/in/x.wav -> e/made/../out/x.mp3"}},
    };
    const CurrentFolder inDir(dir.Path()); // relative names, shown as given
    for (const auto &c : cases) {
        for (const std::string &file : c.files) {
            const size_t arrow = file.find(" -> ");
            if (arrow != std::string::npos) {
                fs::create_directories(fs::path(file.substr(0, arrow)).parent_path());
                fs::create_symlink(file.substr(arrow + 4), file.substr(0, arrow));
            } else {
                Make(file);
            }
        }
        BatchArguments arguments = Arguments(c.paths, c.outputDir);
        arguments.onExists = c.onExists;
        const auto recorded = [&](const std::string &output) {
            const auto found = c.records.find(output);
            return found == c.records.end() ? std::string() : found->second;
        };
        const auto media = [](const std::string &path) { return path.find("user.mp3") == std::string::npos; };
        EXPECT_EQ(Lines(MakeBatchPlan(arguments, media, 1, recorded), ""), c.lines) << c.paths[0];
    }
}
