#include "libs/myutil/myutil.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace {

// Switches the calling thread to the "C" locale for the lifetime of the guard.
class CLocaleScope {
public:
    CLocaleScope() : previous_(uselocale(CLocale())) {}
    ~CLocaleScope() { uselocale(previous_); }
    CLocaleScope(const CLocaleScope &) = delete;
    CLocaleScope &operator=(const CLocaleScope &) = delete;

private:
    static locale_t CLocale()
    {
        // Created once and kept for the life of the process, like the shim itself.
        static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        return c;
    }
    locale_t previous_;
};

} // namespace

extern "C" {

int my_vsprintf(char *buffer, const char *format, va_list args)
{
    CLocaleScope c;
    return std::vsprintf(buffer, format, args);
}

int my_fprintf(FILE *file, const char *format, ...)
{
    CLocaleScope c;
    va_list args;
    va_start(args, format);
    const int n = std::vfprintf(file, format, args);
    va_end(args);
    return n;
}

int my_snprintf(char *buffer, size_t size, const char *format, ...)
{
    CLocaleScope c;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, size, format, args);
    va_end(args);
    return n;
}

FILE *my_fopen(const char *path, const char *mode) { return std::fopen(path, mode); }
long my_ftell(FILE *file) { return std::ftell(file); }
size_t my_fread(void *buffer, size_t size, size_t count, FILE *file) { return std::fread(buffer, size, count, file); }
size_t my_fwrite(const void *buffer, size_t size, size_t count, FILE *file)
{
    return std::fwrite(buffer, size, count, file);
}
int my_fseek(FILE *file, long offset, int origin) { return std::fseek(file, offset, origin); }
int my_fclose(FILE *file) { return std::fclose(file); }

char *my_strtok(char *text, const char *separators)
{
    // One tokeniser state per thread: engines parse their options on their own threads.
    thread_local char *rest = nullptr;
    return strtok_r(text, separators, &rest);
}

long my_strtol(const char *text, char **end, int base)
{
    CLocaleScope c;
    return std::strtol(text, end, base);
}

double my_strtod(const char *text, char **end)
{
    CLocaleScope c;
    return std::strtod(text, end);
}

} // extern "C"
