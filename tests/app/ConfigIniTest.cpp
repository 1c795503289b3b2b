#include "app/ConfigIni.h"

#include "tests/support/TestSupport.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace testing_support;

namespace {

std::string ReadAll(const std::filesystem::path &file)
{
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

QString Q(const std::filesystem::path &path) { return QString::fromStdString(path.string()); }

// Marks a file immutable while it lives, where the file system and the user's rights allow.
class TImmutable {
public:
    explicit TImmutable(const std::filesystem::path &file) : fd_(open(file.c_str(), O_RDONLY))
    {
        if (fd_ < 0 || ioctl(fd_, FS_IOC_GETFLAGS, &flags_) != 0)
            return;
        int immutable = flags_ | FS_IMMUTABLE_FL;
        set_ = ioctl(fd_, FS_IOC_SETFLAGS, &immutable) == 0;
    }
    ~TImmutable()
    {
        if (set_)
            ioctl(fd_, FS_IOC_SETFLAGS, &flags_);
        if (fd_ >= 0)
            close(fd_);
    }
    TImmutable(const TImmutable &) = delete;
    TImmutable &operator=(const TImmutable &) = delete;

private:
    int fd_;
    int flags_ = 0;
    bool set_ = false;
};

class ConfigIniTest : public ::testing::Test {
protected:
    TempDir dir;
    std::filesystem::path program = dir.Path() / "program";
    std::filesystem::path user = dir.Path() / "user";
    void SetUp() override { std::filesystem::create_directories(program); }
};

TEST_F(ConfigIniTest, WithoutAFileTheFolderIsEmptyAndWritingCreatesTheFileBesideTheProgram)
{
    TConfigIni config(Q(program), Q(user));
    EXPECT_EQ(config.FileName(), Q(program / "Config.ini"));
    EXPECT_TRUE(config.ReadDir().isEmpty());
    EXPECT_FALSE(std::filesystem::exists(program / "Config.ini")); // looking leaves nothing behind
    ASSERT_TRUE(config.WriteDir(QString()));
    const std::string text = ReadAll(program / "Config.ini");
    EXPECT_NE(text.find("[FormConfig]"), std::string::npos) << text;
    EXPECT_NE(text.find("dir="), std::string::npos) << text;
    EXPECT_FALSE(std::filesystem::exists(user));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(program), {}), 1); // no probe files left
}

TEST_F(ConfigIniTest, TheFolderSurvivesARoundTripWithSpacesCommasAndNonAsciiLetters)
{
    const QString folder = QString::fromUtf8("/srv/Musik, neu/Grüße 音乐/");
    ASSERT_TRUE(TConfigIni(Q(program), Q(user)).WriteDir(folder));
    EXPECT_EQ(TConfigIni(Q(program), Q(user)).ReadDir(), folder);
}

TEST_F(ConfigIniTest, TheSectionIsFoundWhateverItsCase)
{
    std::ofstream(program / "Config.ini") << "[formconfig]\ndir=/data/out/\n";
    TConfigIni config(Q(program), Q(user));
    EXPECT_EQ(config.ReadDir(), "/data/out/");
    ASSERT_TRUE(config.WriteDir("/data/new/"));
    const std::string text = ReadAll(program / "Config.ini");
    EXPECT_EQ(text.find("FormConfig"), std::string::npos) << "a second section: " << text;
    EXPECT_EQ(TConfigIni(Q(program), Q(user)).ReadDir(), "/data/new/");
}

TEST_F(ConfigIniTest, AHandWrittenValueWithACommaReadsAsOneFolder)
{
    std::ofstream(program / "Config.ini") << "[FormConfig]\ndir=/a,b/\n";
    EXPECT_EQ(TConfigIni(Q(program), Q(user)).ReadDir(), "/a,b/");
}

TEST_F(ConfigIniTest, AProgramFolderThatCannotBeWrittenSendsTheFileToTheUsersFolder)
{
    // Nothing can be created in /proc, not even by the superuser the tests may run as.
    const std::filesystem::path readOnly = "/proc/self";
    TConfigIni config(Q(readOnly), Q(user));
    EXPECT_EQ(config.FileName(), Q(user / "Config.ini"));
    EXPECT_TRUE(config.ReadDir().isEmpty());
    ASSERT_TRUE(config.WriteDir("/home/me/out/"));
    EXPECT_TRUE(std::filesystem::exists(user / "Config.ini"));
    EXPECT_EQ(TConfigIni(Q(readOnly), Q(user)).ReadDir(), "/home/me/out/");
}

TEST_F(ConfigIniTest, AFileBesideTheProgramThatCannotBeWrittenIsReadUntilTheUserHasOne)
{
    const std::filesystem::path ini = program / "Config.ini";
    std::ofstream(ini) << "[FormConfig]\ndir=/preset/\n";
    std::filesystem::permissions(ini, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                          std::filesystem::perms::others_read);
    // The superuser writes read-only files: an immutable file stops even it.
    TImmutable immutable(ini);
    if (std::ofstream(ini, std::ios::app).good())
        GTEST_SKIP() << "no file here refuses to be written";
    TConfigIni config(Q(program), Q(user));
    EXPECT_EQ(config.FileName(), Q(user / "Config.ini"));
    EXPECT_EQ(config.ReadDir(), "/preset/");
    ASSERT_TRUE(config.WriteDir("/mine/"));
    EXPECT_EQ(TConfigIni(Q(program), Q(user)).ReadDir(), "/mine/");
    EXPECT_NE(ReadAll(program / "Config.ini").find("/preset/"), std::string::npos);
}

TEST_F(ConfigIniTest, AFileThatBecameReadOnlyMeanwhileSendsTheFolderToTheUsersFile)
{
    const std::filesystem::path ini = program / "Config.ini";
    std::ofstream(ini) << "[FormConfig]\ndir=/before/\n";
    TConfigIni config(Q(program), Q(user));
    ASSERT_EQ(config.FileName(), Q(ini));
    TImmutable immutable(ini);
    if (std::ofstream(ini, std::ios::app).good())
        GTEST_SKIP() << "no file here refuses to be written";
    ASSERT_TRUE(config.WriteDir("/after/"));
    EXPECT_EQ(config.FileName(), Q(user / "Config.ini"));
    EXPECT_EQ(config.ReadDir(), "/after/");
}

TEST_F(ConfigIniTest, NeitherPlaceWritableIsAFailure)
{
    TConfigIni config("/proc/self", "/proc/self/nothing");
    EXPECT_FALSE(config.WriteDir("/x/"));
}

} // namespace
