#include "fuzz/FuzzSupport.h"

#include "libs/AVEntryPoints.h"
#include "libs/AVLibLoader.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>
#include <unistd.h>

namespace fuzz_support {

namespace {

bool PrintLibraryLog()
{
    const char *value = std::getenv("VELOX_FUZZ_LOG");
    return value && *value && std::string(value) != "0";
}

// Formatting the line still runs the library's format string against its arguments, which the
// sanitizers check; printing every line would only slow the run down.
void SilentLog(void *, int level, const char *format, va_list arguments)
{
    static const bool print = PrintLibraryLog();
    char line[1024];
    std::vsnprintf(line, sizeof line, format, arguments);
    if (print && level <= AV_LOG_WARNING)
        std::fputs(line, stderr);
}

class TemporaryFolder {
public:
    TemporaryFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "velox-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::perror("velox fuzz: cannot create a temporary folder");
            std::abort();
        }
        path_ = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;

    const std::filesystem::path &Path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace

void LoadLibraries()
{
    if (!avlib::LoadAll(avlib::DefaultLibraryDir(), true)) {
        std::fprintf(stderr, "velox fuzz: cannot load the media libraries: %s\n", avlib::LastErrorText().c_str());
        std::abort();
    }
    avlib::avutil.av_log_set_callback(SilentLog);
}

const std::filesystem::path &WorkDir()
{
    static TemporaryFolder folder;
    return folder.Path();
}

std::string WorkFile(const std::string &name) { return (WorkDir() / name).string(); }

void WriteBytes(const std::string &path, const uint8_t *data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    if (!out) {
        std::fprintf(stderr, "velox fuzz: cannot write %s\n", path.c_str());
        std::abort();
    }
}

void ClearWorkDir(const std::vector<std::string> &keep)
{
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(WorkDir(), ec)) {
        const std::string name = entry.path().filename().string();
        bool kept = false;
        for (const std::string &k : keep)
            kept = kept || k == name;
        if (!kept)
            std::filesystem::remove_all(entry.path(), ec);
    }
}

void Finding(const std::string &what)
{
    std::fprintf(stderr, "\n==velox fuzz finding== %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

} // namespace fuzz_support
