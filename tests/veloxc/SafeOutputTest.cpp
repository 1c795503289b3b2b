#include "batch/SafeOutput.h"

#include "batch/CaseFolding.h"
#include "batch/TemporaryName.h"
#include "libs/AVEntryPoints.h"
#include "tests/support/TestSupport.h"
#include "tests/veloxc/FolderContent.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <list>
#include <sys/stat.h>

using namespace testing_support;
using batch::SafeOutput;

namespace {

namespace fs = std::filesystem;

void Write(const std::string &path, const std::string &bytes) { std::ofstream(path, std::ios::binary) << bytes; }

unsigned Mode(const std::string &path)
{
    return static_cast<unsigned>(fs::status(path).permissions() & fs::perms::all);
}

class SafeOutputTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureLibrariesLoaded(); }
    TempDir dir;
};

} // namespace

TEST_F(SafeOutputTest, WritesProtocolsDevicesAndImageSeriesDirectly)
{
    ASSERT_EQ(mkfifo(dir.File("fifo.wav").c_str(), 0600), 0);
    fs::create_directory(dir.File("folder.wav"));
    for (const std::string &name :
         {std::string("pipe:1"), std::string("-"), std::string("/dev/null"), std::string("/dev/stdout"),
          std::string("file:/dev/null"), std::string("http://127.0.0.1:9/x.mp3"), dir.File("fifo.wav"),
          dir.File("folder.wav"), dir.File("frame%03d.png"), dir.File("list.m3u8")}) {
        SafeOutput output(name);
        EXPECT_TRUE(output.Direct()) << name;
        EXPECT_EQ(output.EngineName(), name == "-" ? "pipe:1" : name); // "-" is standard output, not a file
        std::string error;
        EXPECT_TRUE(output.Commit(error)) << error;
    }
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"fifo.wav", "folder.wav"}));
    // A number in a name whose muxer writes one file is just a name, and a single picture one file:
    // they go through a temporary file.
    EXPECT_FALSE(SafeOutput(dir.File("keep%d.mp3")).Direct());
    EXPECT_FALSE(SafeOutput(dir.File("cover.png")).Direct());
}

// A batch's outputs are files whatever their names look like: only a regular file is replaced, a
// link to nothing is replaced itself, and a path longer than the kernel takes is made a folder at a time.
TEST_F(SafeOutputTest, PlainFilesAreRegularFilesAnyLinkOrLength)
{
    ASSERT_EQ(mkfifo(dir.File("fifo.mp3").c_str(), 0600), 0);
    fs::create_symlink("gone/nowhere.mp3", dir.File("dangling.mp3"));
    std::string deep = dir.File("deep");
    while (deep.size() < 5000)
        deep += "/" + std::string(200, 'd');
    const struct {
        std::string path, refused;
    } cases[] = {{dir.File("fifo.mp3"), "'" + dir.File("fifo.mp3") + "' is not a regular file; it is left as it was"},
                 {dir.File("pipe:0.mp3"), ""},
                 {dir.File("dangling.mp3"), ""},
                 {deep + "/song.mp3", ""}};
    for (const auto &c : cases) {
        try {
            SafeOutput output(SafeOutput::PlainFile{}, c.path);
            EXPECT_EQ(c.refused, "") << c.path;
            // Never read as an address, whatever the name.
            EXPECT_STREQ(avlib::avformat.avio_find_protocol_name(output.EngineName().c_str()), "file") << c.path;
            Write(output.TemporaryPath(), "new");
            std::string error;
            EXPECT_TRUE(output.Commit(error)) << error;
        } catch (const std::runtime_error &e) {
            EXPECT_EQ(e.what(), c.refused) << c.path;
        }
        struct stat info {};
        EXPECT_TRUE(batch::StatAt(c.path, info, false)) << c.path;
        EXPECT_EQ(S_ISREG(info.st_mode), c.refused.empty()) << c.path;
    }
}

// Each at work at once: two long names cut alike keep temporary names of their own, each proving itself.
TEST_F(SafeOutputTest, MakesAHiddenFileBesideTheOutputAndRemovesIt)
{
    const std::string names[] = {dir.File("out.mp3"), "file:" + dir.File("plain.mp3"), dir.File("take:1.mp3"),
                                 dir.File(std::string(250, 'n') + "a.mp3"), dir.File(std::string(250, 'n') + "b.mp3")};
    {
        std::list<SafeOutput> outputs;
        for (const std::string &name : names) {
            const SafeOutput &output = outputs.emplace_back(name);
            ASSERT_FALSE(output.Direct()) << name;
            const fs::path temporary = output.TemporaryPath();
            EXPECT_EQ(temporary.parent_path(), dir.Path());
            EXPECT_TRUE(batch::IsTemporaryName(temporary.filename())) << temporary;
            EXPECT_EQ(temporary.extension(), ".mp3"); // the engine guesses the muxer from it
            EXPECT_TRUE(fs::is_regular_file(temporary));
            // A name the libraries could take for a protocol is handed over as a plain file.
            const bool prefixed = name.find(':') != std::string::npos;
            EXPECT_EQ(output.EngineName(), (prefixed ? "file:" : "") + temporary.string());
            EXPECT_EQ(output.ShowingOutputName("Could not open '" + output.EngineName() + "' or '" +
                                               temporary.string() + "'"),
                      "Could not open '" + name + "' or '" + name + "'");
        }
        EXPECT_EQ(Entries(dir).size(), std::size(names));
    }
    EXPECT_TRUE(Entries(dir).empty());
}

TEST_F(SafeOutputTest, CommitReplacesTheOlderFileKeepingItsModeAndLinks)
{
    Write(dir.File("real.mp3"), "old");
    fs::permissions(dir.File("real.mp3"), fs::perms(0604));
    fs::create_symlink("real.mp3", dir.File("link.mp3"));
    SafeOutput output("file:" + dir.File("link.mp3"));
    Write(output.TemporaryPath(), "new");
    EXPECT_EQ(ReadFile(dir.File("real.mp3")), "old"); // untouched until the commit
    std::string error;
    ASSERT_TRUE(output.Commit(error)) << error;
    EXPECT_EQ(ReadFile(dir.File("real.mp3")), "new");
    EXPECT_EQ(Mode(dir.File("real.mp3")), 0604u);
    EXPECT_TRUE(fs::is_symlink(dir.File("link.mp3")));
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"link.mp3", "real.mp3"}));
}

TEST_F(SafeOutputTest, AVanishedFileLeavesTheOlderOneAlone)
{
    const std::string path = dir.File("out.mp3");
    Write(path, "old");
    std::string other;
    {
        SafeOutput output(path);
        other = output.TemporaryPath();
        fs::remove(other); // as the engine does with an output that got no byte
        Write(other, "someone else's");
        std::string error;
        EXPECT_FALSE(output.Commit(error));
        EXPECT_EQ(error, "nothing was written to '" + path + "'; it is left as it was");
    }
    EXPECT_EQ(ReadFile(path), "old");
    EXPECT_EQ(ReadFile(other), "someone else's"); // not the file it made: not removed
}

TEST_F(SafeOutputTest, FoldedNamesAndMissingFolders)
{
    // Where a volume ignores case, names are compared folded; bytes that are not UTF-8 stay.
    EXPECT_EQ(batch::FoldCase("Ünïcode Song\xff.mp3"), "ÜNÏCODE SONG\xff.MP3");
    try {
        SafeOutput output(dir.File("missing/out.mp3"));
        ADD_FAILURE() << "made " << output.TemporaryPath();
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(std::string(e.what()), "cannot create a temporary file beside '" + dir.File("missing/out.mp3") +
                                             "': No such file or directory");
    }
}

TEST_F(SafeOutputTest, AFileThatAppearedMeanwhileIsKeptUnlessReplacingWasAsked)
{
    std::string error;
    {
        SafeOutput output(dir.File("new.mp3"));
        Write(output.TemporaryPath(), "converted");
        Write(dir.File("new.mp3"), "another run's"); // made while this one converted
        EXPECT_FALSE(output.Commit(error, false));
        EXPECT_EQ(error, "'" + dir.File("new.mp3") + "' appeared while it was converted; it is left as it is");
        EXPECT_TRUE(output.Appeared());
    }
    EXPECT_EQ(ReadFile(dir.File("new.mp3")), "another run's");
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"new.mp3"});

    const mode_t previous = umask(027);
    {
        SafeOutput fresh(dir.File("fresh.mp3"));
        Write(fresh.TemporaryPath(), "converted");
        EXPECT_TRUE(fresh.Commit(error, false)) << error;
    }
    umask(previous);
    EXPECT_EQ(ReadFile(dir.File("fresh.mp3")), "converted");
    EXPECT_EQ(Mode(dir.File("fresh.mp3")), 0640u); // a new file takes the mode the mask gives
}
