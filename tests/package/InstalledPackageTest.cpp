// The installed package as an outside project sees it: the examples configure against it with
// find_package(Velox), build, and their program converts a file; and the installed programs as a
// user starts them.
#include "tests/support/MediaFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

using namespace testing_support;

namespace {

std::string Quoted(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs the command with its output going to log; returns its exit status, or -1.
int RunCommand(const std::vector<std::string> &command, const std::string &log)
{
    std::string line;
    for (const std::string &word : command)
        line += Quoted(word) + " ";
    const int status = std::system((line + "> " + Quoted(log) + " 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Contents(const std::string &path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

TEST(InstalledPackageTest, AnOutsideProjectBuildsAgainstItAndItsProgramConverts)
{
    EnsureLibrariesLoaded();
    TempDir dir;
    const std::string prefix = dir.File("prefix"), build = dir.File("build"), log = dir.File("log.txt");
    ASSERT_EQ(RunCommand({CMAKE_COMMAND, "--install", VELOX_BUILD_DIR, "--prefix", prefix}, log), 0) << Contents(log);
    ASSERT_EQ(RunCommand({CMAKE_COMMAND, "-S", EXAMPLES_DIR, "-B", build, "-G", CMAKE_GENERATOR,
                          "-DCMAKE_MAKE_PROGRAM=" CMAKE_MAKE_PROGRAM, "-DCMAKE_CXX_COMPILER=" CMAKE_CXX_COMPILER,
                          "-DCMAKE_BUILD_TYPE=Debug", "-DCMAKE_CXX_FLAGS=" EXAMPLE_CXX_FLAGS,
                          "-DCMAKE_PREFIX_PATH=" + prefix},
                         log),
              0)
        << Contents(log);
    ASSERT_EQ(RunCommand({CMAKE_COMMAND, "--build", build}, log), 0) << Contents(log);

    WriteSineWav(dir.File("tone.wav"), 1.0);
    ASSERT_EQ(RunCommand({build + "/convert_files", dir.File("tone.wav")}, log), 0) << Contents(log);
    const DecodedAudio audio = DecodeAudio(dir.File("tone.mp3"));
    ASSERT_GT(audio.sampleRate, 0);
    EXPECT_NEAR(audio.Frames() / double(audio.sampleRate), 1.0, 0.1);

    EXPECT_EQ(RunCommand({build + "/convert_files", dir.File("missing.wav")}, log), 1);
    EXPECT_NE(Contents(log).find("missing.wav"), std::string::npos) << Contents(log);
}

TEST(InstalledPackageTest, TheInstalledProgramsRunFromThePrefixWithNothingOfTheBuild)
{
    EnsureLibrariesLoaded();
    TempDir dir;
    const std::string prefix = dir.File("prefix"), log = dir.File("log.txt");
    ASSERT_EQ(RunCommand({CMAKE_COMMAND, "--install", VELOX_BUILD_DIR, "--prefix", prefix}, log), 0) << Contents(log);
    EXPECT_EQ(RunCommand({"desktop-file-validate", prefix + "/share/applications/velox.desktop"}, log), 0)
        << Contents(log);
    EXPECT_TRUE(std::filesystem::is_regular_file(prefix + "/share/icons/hicolor/scalable/apps/velox.svg"));

    // No variable of this environment, no LibAV folder beside the programs: only the prefix.
    EXPECT_EQ(RunCommand({"env", "-i", prefix + "/bin/velox", "--version"}, log), 0) << Contents(log);
    WriteSineWav(dir.File("tone.wav"), 1.0);
    ASSERT_EQ(RunCommand({"env", "-i", prefix + "/bin/veloxc", "batch", "--quiet", "-o", dir.File("out"),
                          dir.File("tone.wav")},
                         log),
              0)
        << Contents(log);
    const DecodedAudio audio = DecodeAudio(dir.File("out/tone.mp3"));
    ASSERT_GT(audio.sampleRate, 0);
    EXPECT_NEAR(audio.Frames() / double(audio.sampleRate), 1.0, 0.1);
}
