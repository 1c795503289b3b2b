#include "tags/FileCheck.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tagcopy::detail {

std::string FileProblem(const std::string &path, bool forWriting)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return std::strerror(errno);
    if (!S_ISREG(info.st_mode))
        return "not a regular file";
    // The effective user decides, as it does for the open that follows.
    if (faccessat(AT_FDCWD, path.c_str(), forWriting ? R_OK | W_OK : R_OK, AT_EACCESS) != 0)
        return std::strerror(errno);
    return "";
}

std::string WaveProblem(TagLib::File &file)
{
    file.seek(0);
    const TagLib::ByteVector head = file.readBlock(12);
    if (head.startsWith("RF64") || head.startsWith("BW64"))
        return "a 64-bit WAV file, which TagLib cannot handle";
    if (!head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return "not a kind of file whose tags can be read, or a damaged one";
    return "";
}

} // namespace tagcopy::detail
