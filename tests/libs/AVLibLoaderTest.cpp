#include "libs/AVLibLoader.h"
#include "libs/AVEntryPoints.h"
#include "libs/LibraryLog.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace avlib;
using testing_support::CurrentDir;
using testing_support::LibraryDir;
using testing_support::LinkFile;
using testing_support::LinkLibraries;
using testing_support::TempDir;

namespace {

std::vector<std::string> AllFileNames(bool versioned)
{
    std::vector<std::string> names;
    for (Unit unit : AllUnits)
        names.push_back(UnitFileName(unit, versioned));
    return names;
}

void ExpectNothingLoaded()
{
    EXPECT_FALSE(AllLoaded());
    for (Unit unit : AllUnits) {
        EXPECT_FALSE(UnitLoaded(unit)) << UnitFileName(unit, true);
        EXPECT_FALSE(UnitHasHandle(unit)) << UnitFileName(unit, true);
    }
}

class AVLibLoaderTest : public ::testing::Test {
protected:
    void SetUp() override { UnloadAll(); }
    void TearDown() override { UnloadAll(); }
};

} // namespace

TEST(UnitFileNameTest, VersionedNamesCarryTheHeadersMajorPlainNamesDoNot)
{
    struct Case {
        Unit unit;
        std::string versioned;
        std::string plain;
    };
    const Case cases[] = {
        {Unit::AVCodec, "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR), "libavcodec.so"},
        {Unit::AVFilter, "libavfilter.so." + std::to_string(LIBAVFILTER_VERSION_MAJOR), "libavfilter.so"},
        {Unit::AVFormat, "libavformat.so." + std::to_string(LIBAVFORMAT_VERSION_MAJOR), "libavformat.so"},
        {Unit::AVUtil, "libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR), "libavutil.so"},
        {Unit::SwScale, "libswscale.so." + std::to_string(LIBSWSCALE_VERSION_MAJOR), "libswscale.so"},
        {Unit::SwResample, "libswresample.so." + std::to_string(LIBSWRESAMPLE_VERSION_MAJOR), "libswresample.so"},
        {Unit::MyUtil, "libmyutil.so", "libmyutil.so"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(UnitFileName(c.unit, true), c.versioned);
        EXPECT_EQ(UnitFileName(c.unit, false), c.plain);
    }
}

TEST_F(AVLibLoaderTest, LoadsEveryUnitFromTheLibAVFolderWithVersionedNames)
{
    ASSERT_TRUE(LoadAll(LibraryDir(), true)) << LastErrorText();
    EXPECT_TRUE(AllLoaded());
    EXPECT_EQ(LastErrorText(), "");
    for (Unit unit : AllUnits)
        EXPECT_TRUE(UnitLoaded(unit));
    EXPECT_EQ(avcodec.avcodec_version() >> 16, unsigned(LIBAVCODEC_VERSION_MAJOR));
    EXPECT_EQ(avformat.avformat_version() >> 16, unsigned(LIBAVFORMAT_VERSION_MAJOR));
    EXPECT_EQ(swresample.swresample_version() >> 16, unsigned(LIBSWRESAMPLE_VERSION_MAJOR));
    EXPECT_EQ(LogThreshold(), avutil.av_log_get_level());
}

TEST_F(AVLibLoaderTest, AnEmptyFolderTakesWhatTheSystemLacksFromTheProgramsOwnFolder)
{
    ASSERT_TRUE(LoadAll("", true)) << LastErrorText(); // the system has no shim
    EXPECT_TRUE(UnitLoaded(Unit::MyUtil));
}

TEST_F(AVLibLoaderTest, VersionedChoicePicksTheFileNames)
{
    struct Case {
        bool folderHasVersioned;
        bool loadVersioned;
        bool loads;
    };
    const Case cases[] = {{true, true, true}, {false, false, true}, {false, true, false}, {true, false, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "folder versioned " << c.folderHasVersioned << ", load versioned "
                                        << c.loadVersioned);
        TempDir folder;
        for (Unit unit : AllUnits) {
            if (unit == Unit::MyUtil)
                LinkLibraries(folder.Path(), {UnitFileName(unit, true)});
            else
                LinkFile(folder.Path(), UnitFileName(unit, c.folderHasVersioned),
                         LibraryDir() + "/" + UnitFileName(unit, true));
        }
        EXPECT_EQ(LoadAll(folder.Path().string(), c.loadVersioned), c.loads) << LastErrorText();
        if (!c.loads) {
            EXPECT_EQ(
                LastErrorText().rfind("Load libraray " + UnitFileName(Unit::AVCodec, c.loadVersioned) + " error: ", 0),
                0u)
                << LastErrorText();
            ExpectNothingLoaded();
        }
        UnloadAll();
    }
}

TEST_F(AVLibLoaderTest, AFolderMissingOneLibraryNamesItAndUnloadsEverything)
{
    for (Unit missing : AllUnits) {
        const std::string missingName = UnitFileName(missing, true);
        SCOPED_TRACE(missingName);
        TempDir folder;
        for (const std::string &name : AllFileNames(true))
            if (name != missingName)
                LinkLibraries(folder.Path(), {name});

        EXPECT_FALSE(LoadAll(folder.Path().string(), true));
        const std::string expected = "Load libraray " + missingName + " error: " + folder.File(missingName) +
                                     ": cannot open shared object file: No such file or directory";
        EXPECT_EQ(LastErrorText(), expected);
        EXPECT_EQ(UnitErrorText(missing), expected);
        ExpectNothingLoaded();
    }
}

TEST_F(AVLibLoaderTest, AMissingFunctionInTheFourthUnitNamesItAndUnloadsEverything)
{
    for (bool versioned : {true, false}) {
        SCOPED_TRACE(versioned ? "versioned" : "plain");
        TempDir folder;
        for (Unit unit : AllUnits)
            LinkFile(folder.Path(), UnitFileName(unit, versioned),
                     unit == Unit::AVUtil ? STUB_AVUTIL_MISSING : LibraryDir() + "/" + UnitFileName(unit, true));
        const auto before = CurrentDir();
        EXPECT_FALSE(LoadAll(folder.Path().string(), versioned));
        EXPECT_EQ(CurrentDir(), before);
        const std::string prefix = "Load function av_freep@" + UnitFileName(Unit::AVUtil, versioned) + " error: ";
        EXPECT_EQ(LastErrorText().rfind(prefix, 0), 0u) << LastErrorText();
        EXPECT_NE(LastErrorText().find("undefined symbol: av_freep"), std::string::npos) << LastErrorText();
        ExpectNothingLoaded();
        // The tables of a failed load are not left pointing into unloaded code.
        EXPECT_EQ(avutil.avutil_version, nullptr);
        EXPECT_EQ(avcodec.avcodec_version, nullptr);
    }
}

TEST_F(AVLibLoaderTest, ALibraryOfAnotherMajorVersionIsRefused)
{
    TempDir folder;
    for (Unit unit : AllUnits) {
        if (unit == Unit::AVUtil)
            LinkFile(folder.Path(), UnitFileName(unit, false), STUB_AVUTIL_NEWER);
        else
            LinkFile(folder.Path(), UnitFileName(unit, false), LibraryDir() + "/" + UnitFileName(unit, true));
    }
    EXPECT_FALSE(LoadAll(folder.Path().string(), false));
    EXPECT_EQ(LastErrorText(), "Load libraray libavutil.so error: version " + std::to_string(STUB_AVUTIL_NEWER_MAJOR) +
                                   ".0.0 found, " + std::to_string(LIBAVUTIL_VERSION_MAJOR) + " required");
    ExpectNothingLoaded();
}

TEST_F(AVLibLoaderTest, TheCurrentDirectoryIsRestoredAfterSuccessAndFailure)
{
    const auto before = CurrentDir();
    ASSERT_TRUE(LoadAll(LibraryDir(), true));
    EXPECT_EQ(CurrentDir(), before);
    UnloadAll();

    TempDir empty;
    EXPECT_FALSE(LoadAll(empty.Path().string(), true));
    EXPECT_EQ(CurrentDir(), before);

    EXPECT_FALSE(LoadAll(empty.File("does-not-exist"), true));
    EXPECT_EQ(CurrentDir(), before);

    // A failure after some units have loaded.
    TempDir partial;
    LinkLibraries(partial.Path(), {UnitFileName(Unit::AVCodec, true), UnitFileName(Unit::AVFilter, true),
                                   UnitFileName(Unit::AVFormat, true)});
    EXPECT_FALSE(LoadAll(partial.Path().string(), true));
    EXPECT_EQ(CurrentDir(), before);
}

TEST_F(AVLibLoaderTest, ARelativeFolderIsFoundFromTheCurrentDirectory)
{
    const auto before = CurrentDir();
    const std::filesystem::path libraries(LibraryDir());
    std::filesystem::current_path(libraries.parent_path());
    const bool loaded = LoadAll(libraries.filename().string(), true);
    const auto after = CurrentDir();
    std::filesystem::current_path(before);
    EXPECT_TRUE(loaded) << LastErrorText();
    EXPECT_EQ(after, libraries.parent_path());
}

TEST_F(AVLibLoaderTest, ASecondLoadAfterSuccessReturnsAtOnceWhateverItsArguments)
{
    ASSERT_TRUE(LoadAll(LibraryDir(), true));
    TempDir empty;
    EXPECT_TRUE(LoadAll(empty.File("nothing-here"), false));
    EXPECT_TRUE(LoadAll(empty.File("nothing-here"), true));
    EXPECT_EQ(LastErrorText(), "");
    for (Unit unit : AllUnits)
        EXPECT_TRUE(UnitLoaded(unit));
}

TEST_F(AVLibLoaderTest, UnloadAllAllowsALaterLoad)
{
    ASSERT_TRUE(LoadAll(LibraryDir(), true));
    UnloadAll();
    ExpectNothingLoaded();
    ASSERT_TRUE(LoadAll(LibraryDir(), false)) << LastErrorText();
    EXPECT_TRUE(AllLoaded());
}

TEST_F(AVLibLoaderTest, AFailedLoadAllClearsTheTextOfAnEarlierFailure)
{
    TempDir empty;
    EXPECT_FALSE(LoadAll(empty.Path().string(), true));
    EXPECT_NE(LastErrorText(), "");
    EXPECT_TRUE(LoadAll(LibraryDir(), true));
    EXPECT_EQ(LastErrorText(), "");
}

TEST_F(AVLibLoaderTest, ResolvingAUnitTwiceKeepsItsFirstHandle)
{
    std::string text;
    ASSERT_TRUE(ResolveUnit(Unit::AVCodec, text, LibraryDir(), true));
    TempDir empty;
    // The unit already has its handle: the other folder and name choice have no effect.
    EXPECT_TRUE(ResolveUnit(Unit::AVCodec, text, empty.Path().string(), false));
    EXPECT_EQ(text, "");
    UnloadUnit(Unit::AVCodec);
    EXPECT_FALSE(ResolveUnit(Unit::AVCodec, text, empty.Path().string(), false));
    EXPECT_EQ(text.rfind("Load libraray libavcodec.so error: ", 0), 0u) << text;
}

TEST_F(AVLibLoaderTest, TheProbeCheckNamesTheFirstMissingOfItsFourLibraries)
{
    struct Case {
        std::vector<Unit> resolved;
        const char *message; // nullptr: no exception
    };
    const Case cases[] = {
        {{}, "LibAVCodec not loaded."},
        {{Unit::AVCodec}, "LibAVFormat not loaded."},
        {{Unit::AVCodec, Unit::AVFormat}, "LibAVUtil not loaded."},
        {{Unit::AVCodec, Unit::AVFormat, Unit::AVUtil}, "LibSwScale not loaded."},
        {{Unit::AVFormat, Unit::AVUtil, Unit::SwScale}, "LibAVCodec not loaded."},
        {{Unit::AVCodec, Unit::AVFormat, Unit::AVUtil, Unit::SwScale}, nullptr},
    };
    for (const Case &c : cases) {
        UnloadAll();
        std::string text;
        for (Unit unit : c.resolved)
            ASSERT_TRUE(ResolveUnit(unit, text, LibraryDir(), true)) << text;
        if (c.message) {
            try {
                CheckProbeLibraries();
                ADD_FAILURE() << "no exception, expected " << c.message;
            } catch (const LibraryNotLoadedError &e) {
                EXPECT_STREQ(e.what(), c.message);
            }
        } else {
            EXPECT_NO_THROW(CheckProbeLibraries());
        }
    }
}

TEST_F(AVLibLoaderTest, AnEmptyFolderUsesTheSystemSearch)
{
    // The media libraries are on the system's library path; the current directory plays no part.
    TempDir elsewhere;
    const auto before = CurrentDir();
    std::filesystem::current_path(elsewhere.Path());
    std::string text;
    const bool resolved = ResolveUnit(Unit::AVUtil, text, "", true);
    std::filesystem::current_path(before);
    EXPECT_TRUE(resolved) << text;
    EXPECT_TRUE(UnitLoaded(Unit::AVUtil));
    EXPECT_EQ(avutil.avutil_version() >> 16, unsigned(LIBAVUTIL_VERSION_MAJOR));
}
