// The runtime shim: the standard C functions of the same names without "my_",
// exported with C linkage from libmyutil.so. Formatting and number parsing use
// the "C" locale whatever the program's locale, because everything they touch
// is machine text (option values, statistics and two-pass log files).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

extern "C" {
int my_vsprintf(char *buffer, const char *format, va_list args);
int my_fprintf(FILE *file, const char *format, ...) __attribute__((format(printf, 2, 3)));
int my_snprintf(char *buffer, size_t size, const char *format, ...) __attribute__((format(printf, 3, 4)));
FILE *my_fopen(const char *path, const char *mode);
long my_ftell(FILE *file);
size_t my_fread(void *buffer, size_t size, size_t count, FILE *file);
size_t my_fwrite(const void *buffer, size_t size, size_t count, FILE *file);
int my_fseek(FILE *file, long offset, int origin);
int my_fclose(FILE *file);
char *my_strtok(char *text, const char *separators);
long my_strtol(const char *text, char **end, int base);
double my_strtod(const char *text, char **end);
}
