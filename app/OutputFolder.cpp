#include "app/OutputFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

// Whether a file can be made in folder, tried for real (permission bits do not tell the whole
// story: read-only mounts, special file systems); 0 or the reason's errno. Leaves nothing behind.
int TryWriting(const std::string &folder)
{
    const int file = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (file >= 0) {
        close(file);
        return 0;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return errno;
    std::string name = folder + "/.velox-write-test-XXXXXX";
    const int named = mkstemp(name.data());
    if (named < 0)
        return errno;
    close(named);
    unlink(name.c_str());
    return 0;
}

} // namespace

bool PrepareOutputFolder(const QString &folder, QString &error)
{
    if (folder.isEmpty())
        return true;
    const std::string path = folder.toStdString();
    const auto fail = [&](const char *what, const std::string &reason) {
        error = QStringLiteral("The output folder \"%1\" %2: %3.").arg(folder, what, QString::fromStdString(reason));
        return false;
    };
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec)
        return fail("cannot be made", ec.message());
    if (!std::filesystem::is_directory(path, ec))
        return fail("cannot be used", std::strerror(ENOTDIR));
    if (const int code = TryWriting(path))
        return fail("cannot be written", std::strerror(code));
    return true;
}
