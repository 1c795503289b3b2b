#include "probe/MediaCheck.h"
#include "probe/MediaExtensions.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

using namespace testing_support;
using probe::CheckSoundFile;
using probe::SoundFile;

TEST(MediaCheckTest, SoundIsFoundByContentWithItsFormatAndLength)
{
    EnsureLibrariesLoaded();
    TempDir dir;
    WriteSineWav(dir.File("tone.wav"), 2.0);
    WriteSineMp3(dir.File("tone.mp3"), 3.0);
    WriteSineWav(dir.File("short.wav"), 1.0);
    std::filesystem::rename(dir.File("short.wav"), dir.File("disguised.txt")); // the name does not decide
    MediaRecipe silentFilm;
    silentFilm.seconds = 0.2;
    silentFilm.video = VideoTrack{};
    WriteMediaFile(dir.File("silent.avi"), silentFilm);
    std::ofstream(dir.File("notes.wav")) << "not a recording\n";
    std::ofstream(dir.File("empty.mp3"));

    const struct {
        const char *name;
        bool sound;
        const char *format;
        int64_t durationMs;
    } cases[] = {
        {"tone.wav", true, "wav", 2000}, {"tone.mp3", true, "mp3", 3000}, {"disguised.txt", true, "wav", 1000},
        {"silent.avi", false, "", 0},    {"notes.wav", false, "", 0},     {"empty.mp3", false, "", 0},
        {"missing.wav", false, "", 0},
    };
    for (const auto &c : cases) {
        SoundFile found;
        EXPECT_EQ(CheckSoundFile(dir.File(c.name), found), c.sound) << c.name;
        if (!c.sound)
            continue;
        EXPECT_EQ(found.format, c.format) << c.name;
        EXPECT_NEAR(static_cast<double>(found.durationMs), static_cast<double>(c.durationMs), 60.0) << c.name;
    }
}

TEST(MediaExtensionsTest, TheFilterOffersSoundAndVideoFormatsAndNoTextOrPictures)
{
    EnsureLibrariesLoaded();
    const std::vector<std::string> extensions = probe::MediaFileExtensions();
    EXPECT_TRUE(std::is_sorted(extensions.begin(), extensions.end()));
    EXPECT_EQ(std::adjacent_find(extensions.begin(), extensions.end()), extensions.end());
    const auto offered = [&](const std::string &e) {
        return std::binary_search(extensions.begin(), extensions.end(), e);
    };
    for (const char *e : {"mp3", "wav", "flac", "ogg", "opus", "m4a", "aiff", "wma", "mka", "mkv", "mp4", "avi", "ts"})
        EXPECT_TRUE(offered(e)) << e;
    for (const char *e : {"txt", "srt", "vtt", "jpg", "png", "sub"})
        EXPECT_FALSE(offered(e)) << e;
}
