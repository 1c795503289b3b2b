// Whether a folder lies on a CD or DVD: a file system of type ISO 9660 or UDF.
#pragma once

#include <string>

// True for the file-system type numbers statfs reports for ISO 9660 and UDF.
bool IsCdRomFileSystem(long fileSystemType);

// True when the folder, or the nearest folder above it that exists, is on such a file system.
// An empty path means the current folder. False when nothing can be examined.
bool IsOnCdRom(const std::string &folder);
