// Batches onto a volume without hard links, rename flags or case: a loop-mounted exFAT image
// through FUSE, where the machine allows it.
#include "tests/support/MediaFixtures.h"
#include "tests/veloxc/VeloxcRunner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

bool Succeeds(const std::string &command) { return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0; }

std::string Quoted(const std::string &text) { return "'" + text + "'"; }

class ExfatVolumeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureLibrariesLoaded();
        const std::string image = dir.File("volume.img"), found = dir.File("loop");
        volume = dir.File("volume");
        fs::create_directory(volume);
        if (geteuid() != 0 || !Succeeds("truncate -s 64M " + Quoted(image) + " && mkfs.exfat " + Quoted(image) +
                                        " && losetup --find --show " + Quoted(image) + " > " + Quoted(found)))
            GTEST_SKIP() << "an exFAT volume needs root, mkfs.exfat and a loop device";
        loop = ReadFile(found);
        loop.erase(loop.find_last_not_of('\n') + 1);
        mounted = Succeeds("mount.exfat-fuse " + Quoted(loop) + " " + Quoted(volume));
        if (!mounted)
            GTEST_SKIP() << "cannot mount an exFAT volume through FUSE (mount.exfat-fuse) here";
    }
    void TearDown() override
    {
        if (mounted)
            EXPECT_TRUE(Succeeds("umount " + Quoted(volume)));
        if (!loop.empty())
            Succeeds("losetup -d " + Quoted(loop));
    }

    std::string OnVolume(const std::string &relative) const { return (fs::path(volume) / relative).string(); }

    TempDir dir, logs;
    std::string loop, volume;
    bool mounted = false;
};

} // namespace

// No hard link and no rename that refuses to replace: every policy writes, and a new output is
// still never put over a file that appeared meanwhile. Names that differ in case alone are one
// file: an input is never its own output's victim, and two inputs never share one output.
TEST_F(ExfatVolumeTest, EveryPolicyWritesAndNamesTheVolumeTakesForOneAreOne)
{
    fs::create_directories(OnVolume("in"));
    WriteSineMp3(OnVolume("in/Song.MP3"), 0.5);
    const std::string original = ReadFile(OnVolume("in/Song.MP3"));
    WriteSineWav(OnVolume("in/Take.wav"), 0.3);
    MediaRecipe flac;
    flac.audio = AudioTrack{"flac", 44100, 2};
    WriteMediaFile(OnVolume("in/take.flac"), flac);
    const struct {
        const char *onExists, *folder, *summary;
        std::vector<std::string> names;
    } runs[] = {{"skip", "out", "converted 3, skipped 0, failed 0", {"Song.mp3", "Take.mp3", "take (flac).mp3"}},
                {"rename",
                 "out",
                 "converted 3, skipped 0",
                 {"Song (1).mp3", "Song.mp3", "Take (1).mp3", "Take.mp3", "take (flac) (1).mp3", "take (flac).mp3"}},
                {"overwrite",
                 "in",
                 "converted 2, skipped 1, failed 0",
                 {"Song.MP3", "Take.mp3", "Take.wav", "take (flac).mp3", "take.flac"}}};
    for (const auto &run : runs) {
        std::vector<std::string> arguments = {"batch", "--on-exists", run.onExists, OnVolume("in")};
        if (std::string(run.folder) == "out") // else beside the inputs
            arguments.insert(arguments.begin() + 1, {"-o", OnVolume("out")});
        const Result result = RunVeloxc(arguments, logs);
        EXPECT_EQ(result.status, 0) << result.errors;
        EXPECT_NE(result.errors.find(run.summary), std::string::npos) << run.onExists << ": " << result.errors;
        EXPECT_EQ(Entries(OnVolume(run.folder)), run.names) << run.onExists;
    }
    EXPECT_TRUE(ReadFile(OnVolume("in/Song.MP3")) == original);
    // An output folder inside the inputs' tree, named in another case, is still left out of them (one skip).
    ASSERT_EQ(RunVeloxc({"batch", "-o", OnVolume("in/converted"), OnVolume("in")}, logs).status, 0);
    const Result again = RunVeloxc({"batch", "-o", OnVolume("IN/CONVERTED"), OnVolume("in")}, logs);
    EXPECT_NE(again.errors.find("converted 0, skipped 6, failed 0"), std::string::npos) << again.errors;
    EXPECT_NEAR(static_cast<double>(DecodeAudio(OnVolume("out/Take.mp3")).Frames()), 0.3 * 44100, 1200);
}
