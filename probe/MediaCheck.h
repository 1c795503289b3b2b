// Whether a file is media with sound, told by its content as cheaply as the format allows.
#pragma once

#include <cstdint>
#include <string>

namespace probe {

struct SoundFile {
    std::string format;     // the demuxer that recognised it, to open it again without probing
    int64_t durationMs = 0; // 0 when the file does not say
    bool plainPcm = false;  // the sound is uncompressed samples, described whole by the header
};

// True with what was found when the file holds a sound stream (a cover picture is no sound).
// Formats that name their streams in the header are not read further. The path is a file, whatever
// it looks like. Needs the libraries loaded.
bool CheckSoundFile(const std::string &path, SoundFile &found);

} // namespace probe
