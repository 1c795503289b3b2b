#include "libs/LocalFile.h"
#include "libs/CurrentDirectoryScope.h"
#include "libs/MediaUrl.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

using testing_support::TempDir;

namespace {

class LocalFileTest : public ::testing::Test {
protected:
    void SetUp() override { testing_support::EnsureLibrariesLoaded(); }
    TempDir dir;
};

using Files = std::vector<std::string>;

} // namespace

TEST_F(LocalFileTest, AddressesNameTheFilesTheLibrariesWouldOpen)
{
    const std::pair<std::string, Files> cases[] = {
        {"/d/a.wav", {"/d/a.wav"}},
        {"a.wav", {"a.wav"}},
        {"file:/d/a.wav", {"/d/a.wav"}},
        {"file:take:1.wav", {"take:1.wav"}}, // after "file:" colons are part of the name
        {"take:1.wav", {"take:1.wav"}},      // no such protocol: a file of that name
        {"async:file:/d/a.wav", {"/d/a.wav"}},
        {"cache:/d/a.wav", {"/d/a.wav"}},
        {"crypto:/d/a.wav", {"/d/a.wav"}},
        {"crypto+file:/d/a.wav", {"/d/a.wav"}},
        {"md5:/d/sum.txt", {"/d/sum.txt"}},
        {"md5:", {}}, // the sum goes to standard output
        {"subfile:/d/a.wav", {"/d/a.wav"}},
        {"subfile,,start,10,end,20,,:/d/a.wav", {"/d/a.wav"}},
        {"subfile,;start;10;;:/d/a;b.wav", {"/d/a;b.wav"}},
        {"subfile,,start,10:/d/a.wav", {}},           // options the library cannot read: it opens nothing
        {"subfile,,start,10", {"subfile,,start,10"}}, // no colon: the library takes it for a file name
        {"concat:/d/a.wav|file:/d/b.wav", {"/d/a.wav", "/d/b.wav"}},
        {"concat:a.wav||b.wav|", {"a.wav", "b.wav"}},
        {"tee:/d/a.wav| '/d/b|c.wav' ", {"/d/a.wav", "/d/b|c.wav"}}, // the library's quoting
        {"async:concat:a.wav|b.wav", {"a.wav", "b.wav"}},
        {"http://example.com/a.wav", {}},
        {"crypto+http://example.com/a.wav", {}},
        {"udp://127.0.0.1:1234", {}},
        {"pipe:1", {}},
        {"", {}},
    };
    for (const auto &[address, files] : cases)
        EXPECT_EQ(LocalFilesNamed(address), files) << address;
}

TEST_F(LocalFileTest, AChainOfWrappersEndsAtSomeDepth)
{
    std::string address = "/d/a.wav";
    for (int i = 0; i < 100; ++i)
        address = "async:" + address;
    EXPECT_EQ(LocalFilesNamed(address), Files{});
    EXPECT_EQ(LocalFilesNamed("async:async:/d/a.wav"), Files{"/d/a.wav"});
}

TEST_F(LocalFileTest, AListOfFilesNamesItselfAndEachLine)
{
    const std::string list = dir.File("list.txt");
    std::ofstream(list, std::ios::binary) << "a.wav\r\n\n   " << dir.File("b c.wav") << "  \nfile:c.wav\n\n";
    EXPECT_EQ(LocalFilesNamed("concatf:" + list), (Files{list, "a.wav", dir.File("b c.wav"), "c.wav"}));
    EXPECT_EQ(LocalFilesNamed("concatf:" + dir.File("missing.txt")), Files{dir.File("missing.txt")});
    // A pipe would wait for a writer: it is not read.
    ASSERT_EQ(mkfifo(dir.File("pipe.txt").c_str(), 0600), 0);
    EXPECT_EQ(LocalFilesNamed("concatf:" + dir.File("pipe.txt")), Files{dir.File("pipe.txt")});
}

TEST_F(LocalFileTest, OneFileIsFoundUnderEveryNameItHas)
{
    const std::string input = dir.File("in.wav");
    std::ofstream(input) << "data";
    std::ofstream(dir.File("other.wav")) << "data";
    std::filesystem::create_symlink(input, dir.Path() / "link.wav");
    std::filesystem::create_hard_link(input, dir.Path() / "hard.wav");
    avlib::CurrentDirectoryScope here(dir.Path());

    const std::pair<std::string, bool> cases[] = {
        {input, true},
        {dir.File("./in.wav"), true},
        {dir.File("sub/../in.wav"), false}, // "sub" does not exist, so neither does the path
        {"in.wav", true},
        {"./in.wav", true},
        {dir.File("link.wav"), true},
        {dir.File("hard.wav"), true},
        {"file:" + input, true},
        {"file:in.wav", true},
        {"file:./link.wav", true},
        {"concat:" + dir.File("other.wav") + "|" + input, true},
        {"tee:other.wav|hard.wav", true},
        {"subfile,,start,0,end,2,,:" + input, true},
        {dir.File("other.wav"), false},
        {dir.File("missing.wav"), false},
        {"concat:" + dir.File("other.wav") + "|" + dir.File("missing.wav"), false},
        {"http://127.0.0.1/" + input, false},
        {"pipe:0", false},
    };
    for (const auto &[address, same] : cases) {
        EXPECT_EQ(SameLocalFile(address, input), same) << address;
        EXPECT_EQ(SameLocalFile(input, address), same) << address;
    }
    EXPECT_TRUE(SameLocalFile("file:in.wav", "concat:other.wav|link.wav"));
    EXPECT_FALSE(SameLocalFile("missing.wav", "file:missing.wav")); // neither exists
}

TEST_F(LocalFileTest, MediaUrlLeavesAddressesAndMakesOtherNamesAbsolute)
{
    avlib::CurrentDirectoryScope here(dir.Path());
    const std::pair<std::string, std::string> cases[] = {
        {"file:in.wav", "file:in.wav"}, // the file protocol opens it relative to the current folder
        {"file:take:1.wav", "file:take:1.wav"},
        {"concat:a.wav|b.wav", "concat:a.wav|b.wav"},
        {"http://example.com/a.wav", "http://example.com/a.wav"},
        {"take:1.wav", (std::filesystem::current_path() / "take:1.wav").string()},
        {"/d/a.wav", "/d/a.wav"},
        {"", ""},
    };
    for (const auto &[name, url] : cases)
        EXPECT_EQ(MediaUrl(name), url) << name;
}
