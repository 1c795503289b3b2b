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
        if (geteuid() != 0 || !Succeeds("command -v mkfs.exfat && command -v mount.exfat-fuse && command -v losetup"))
            GTEST_SKIP() << "an exFAT volume needs root, mkfs.exfat, mount.exfat-fuse and losetup";
        const std::string image = dir.File("volume.img");
        if (!Succeeds("truncate -s 64M " + Quoted(image) + " && mkfs.exfat " + Quoted(image)))
            GTEST_SKIP() << "cannot make an exFAT image";
        const std::string found = dir.File("loop");
        if (!Succeeds("losetup --find --show " + Quoted(image) + " > " + Quoted(found)))
            GTEST_SKIP() << "no loop device can be had here";
        loop = ReadFile(found);
        loop.erase(loop.find_last_not_of('\n') + 1);
        volume = dir.File("volume");
        fs::create_directory(volume);
        if (!Succeeds("mount.exfat-fuse " + Quoted(loop) + " " + Quoted(volume))) {
            Succeeds("losetup -d " + Quoted(loop));
            loop.clear();
            GTEST_SKIP() << "cannot mount an exFAT volume through FUSE here";
        }
        mounted = true;
    }
    void TearDown() override
    {
        if (mounted)
            EXPECT_TRUE(Succeeds("umount " + Quoted(volume)));
        if (!loop.empty())
            Succeeds("losetup -d " + Quoted(loop));
    }

    Result Batch(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "batch");
        return RunVeloxc(arguments, logs, {});
    }

    std::string OnVolume(const std::string &relative) const { return (fs::path(volume) / relative).string(); }

    TempDir dir, logs;
    std::string loop, volume;
    bool mounted = false;
};

std::vector<std::string> Names(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// No hard link and no rename that refuses to replace: a new output is still never put over a file
// that appeared meanwhile, and every policy writes.
TEST_F(ExfatVolumeTest, EveryPolicyWritesItsOutputs)
{
    WriteSineWav(dir.File("Song.wav"), 0.3);
    const struct {
        const char *onExists, *summary;
        std::vector<std::string> names;
    } runs[] = {{"skip", "converted 1, skipped 0, failed 0", {"Song.mp3"}},
                {"skip", "converted 0, skipped 1, failed 0", {"Song.mp3"}},
                {"rename", "converted 1, skipped 0, failed 0", {"Song (1).mp3", "Song.mp3"}},
                {"overwrite", "converted 1, skipped 0, failed 0", {"Song (1).mp3", "Song.mp3"}}};
    for (const auto &run : runs) {
        const Result result = Batch({"--on-exists", run.onExists, "-o", OnVolume("m/a"), dir.File("Song.wav")});
        EXPECT_EQ(result.status, 0) << result.errors;
        EXPECT_NE(result.errors.find(run.summary), std::string::npos) << run.onExists << ": " << result.errors;
        EXPECT_EQ(Names(OnVolume("m/a")), run.names) << run.onExists;
    }
    EXPECT_NEAR(static_cast<double>(DecodeAudio(OnVolume("m/a/Song.mp3")).Frames()), 0.3 * 44100, 1200);
}

// Names that differ in case alone are one file here: an input is never its own output's victim,
// and two inputs never share one output.
TEST_F(ExfatVolumeTest, NamesTheVolumeTakesForOneAreOne)
{
    fs::create_directories(OnVolume("in"));
    WriteSineMp3(OnVolume("in/Song.MP3"), 0.5);
    const std::string original = ReadFile(OnVolume("in/Song.MP3"));
    WriteSineWav(OnVolume("in/Take.wav"), 0.3);
    MediaRecipe flac;
    flac.seconds = 0.3;
    flac.audio = AudioTrack{"flac", 44100, 2};
    WriteMediaFile(OnVolume("in/take.flac"), flac);
    const Result result = Batch({"--on-exists", "overwrite", OnVolume("in")});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_NE(result.errors.find("converted 2, skipped 1, failed 0"), std::string::npos) << result.errors;
    EXPECT_TRUE(ReadFile(OnVolume("in/Song.MP3")) == original);
    EXPECT_EQ(Names(OnVolume("in")),
              (std::vector<std::string>{"Song.MP3", "Take.mp3", "Take.wav", "take (flac).mp3", "take.flac"}));
}
