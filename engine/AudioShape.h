// Sample rates and channel layouts: what an encoder can take, and the layouts the converters use.
#pragma once

#include "libs/FFmpegIncludes.h"

#include <string>

namespace audio_shape {

// The highest sample rate any interface records. Beyond it a rate can only come from a damaged or
// hostile header, and a resampler for it would take seconds and hundreds of megabytes to build.
inline constexpr int kLargestSampleRate = 768000;

// The layout as the converters should see it: a native layout as it is, anything else (unknown
// order, a count that disagrees) as the default layout of its channel count.
AVChannelLayout Usable(const AVChannelLayout &layout, int channels);
AVChannelLayout FromMask(uint64_t mask);
// "stereo", "5.1(side)", or "N channels" when the library has no name for it.
std::string Describe(const AVChannelLayout &layout);

// True when the encoder lists no rates or lists this one.
bool TakesRate(const AVCodec *encoder, int rate);
// The listed rate nearest to rate; of two as near, the higher.
int NearestRate(const AVCodec *encoder, int rate);
// "44100, 48000, 32000" for the message of a refused rate.
std::string ListRates(const AVCodec *encoder);

// The interleaved format decoded audio of this format is carried in: its packed form, with 64-bit
// integers as doubles.
AVSampleFormat CarriedFormat(AVSampleFormat decoded);
// Samples (of every channel) scaled by volume / 256, integers clipped to their range.
void ScaleVolume(uint8_t *data, int samples, AVSampleFormat format, int volume);
// The encoder's format that carries this one as it is (the same samples, planar or packed), else
// none.
AVSampleFormat MatchingFormat(const AVCodec *encoder, AVSampleFormat carried);

// Plain PCM: the codecs that store samples as they are.
inline bool IsPcm(AVCodecID codec) { return codec >= AV_CODEC_ID_FIRST_AUDIO && codec < AV_CODEC_ID_ADPCM_IMA_QT; }

// The PCM codec that keeps a source's samples in a WAV (little-endian) or an AIFF (big-endian, its
// 8-bit samples signed): its format and depth (bits, 0: all of the format's), 16-bit for what a
// lossy decoder gave.
AVCodecID PcmCodec(AVSampleFormat format, int bits, bool lossy, bool aiff = false);

// What a lossless encoder is given to keep its source's depth.
struct LosslessDepth {
    AVSampleFormat format = AV_SAMPLE_FMT_NONE; // none: the encoder takes nothing that fits
    int bits = 0;                               // its bits_per_raw_sample; 0 for floats
};
// The source's own samples where the encoder takes them; what is deeper than 16 bits otherwise in
// the encoder's 32-bit words, as deep as it goes; else 16 bits. A lossy decoder's samples have no
// depth of their own: 16 bits, as in a WAV.
LosslessDepth DepthFor(const AVCodec *encoder, AVSampleFormat format, int bits, bool lossy);
// The top bits of a 32-bit sample an opened encoder keeps (24-bit PCM, FLAC and ALAC keep 24).
int KeptBits(const AVCodecContext &encoder);

// Packed float or double samples within full scale (what is no number becomes silence, what is
// beyond clips). Other formats are left as they are.
void TameFloats(uint8_t *data, int samples, AVSampleFormat format);
// 32-bit samples rounded to their top 24 bits with triangular dither of one step either way.
void DitherTo24Bits(int32_t *sample, int count, uint32_t &state);

bool TakesLayout(const AVCodec *encoder, const AVChannelLayout &layout);
// The listed layout nearest to layout: one with as many channels, else the most channels below,
// else the fewest above (a downmix loses less than an upmix invents).
AVChannelLayout NearestLayout(const AVCodec *encoder, const AVChannelLayout &layout);
std::string ListLayouts(const AVCodec *encoder);

} // namespace audio_shape
