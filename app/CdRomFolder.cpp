#include "app/CdRomFolder.h"

#include <linux/magic.h>
#include <sys/vfs.h>

#include <filesystem>

bool IsCdRomFileSystem(long fileSystemType)
{
    return fileSystemType == ISOFS_SUPER_MAGIC || fileSystemType == UDF_SUPER_MAGIC;
}

bool IsOnCdRom(const std::string &folder)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path path = folder.empty() ? fs::current_path(ec) : fs::absolute(folder, ec);
    if (ec)
        return false;
    path = path.lexically_normal();
    // A folder still to be made counts by the medium it would be made on.
    for (;;) {
        struct statfs info {};
        if (statfs(path.c_str(), &info) == 0)
            return IsCdRomFileSystem(static_cast<long>(info.f_type));
        if (!path.has_relative_path())
            return false;
        fs::path parent = path.parent_path();
        if (parent == path)
            return false;
        path = parent;
    }
}
