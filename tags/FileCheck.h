// What the file system says of a file before TagLib opens it. Internal to velox_tags.
#pragma once

#include <string>

#include <tfile.h>

namespace tagcopy::detail {

// Empty when path is a regular file this process may read (and write); else the reason, such as
// "No such file or directory". Anything but a regular file is refused: a FIFO would block the open.
std::string FileProblem(const std::string &path, bool forWriting);

// Empty when a file TagLib opened as WAV is a RIFF WAVE file. TagLib would take other data for one,
// and its writing would break the sizes of a 64-bit (RF64) WAV file.
std::string WaveProblem(TagLib::File &file);

} // namespace tagcopy::detail
