// The constant bit rates the MP3 encoder writes, and the note when it writes another than asked.
#pragma once

#include "libs/FFmpegIncludes.h"

#include <string>

namespace mp3 {

// The bit rate in kbit/s the MP3 encoder writes when asked for askedKbps at sampleRate: the
// nearest its MPEG version allows, of two as near the lower. MPEG-1 (32 kHz and up) has 32 to 320,
// MPEG-2 (16 to 24 kHz) 8 to 160, and below 16 kHz the encoder goes no higher than 64.
int EncoderBitrateKbps(int askedKbps, int sampleRate);

// "144 kbit/s is not an MP3 rate at 44100 Hz; 128 used" for an opened MP3 encoder at a constant
// rate that writes another rate than it was asked for; empty for any other encoder.
std::string BitrateNote(const AVCodecContext &encoder);

} // namespace mp3
