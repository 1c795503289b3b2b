// MPEG audio layer III frames as bytes: headers, the side information's reservoir fields, and
// the leading tag a file may start with. No library calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace mp3 {

struct TFrameHeader {
    int Version = 1;      // 1 (MPEG-1) or 2 (MPEG-2 and 2.5)
    int BitrateIndex = 0; // 1..14
    int BitrateKbps = 0;
    int SampleRate = 0;
    int Channels = 0;
    bool Padding = false;
    bool Protected = false; // a CRC-16 follows the header
    int FrameBytes = 0;     // header to the next header
    int Samples = 0;        // per channel
    int SideInfoBytes = 0;

    // Where the side information starts, and where the frame's own main data room starts.
    int SideInfoOffset() const { return Protected ? 6 : 4; }
    int DataOffset() const { return SideInfoOffset() + SideInfoBytes; }
    int DataRoom() const { return FrameBytes - DataOffset(); }
    // How far back main_data_begin can reach.
    int MaxBackReference() const { return Version == 1 ? 511 : 255; }
};

// A layer III header at bytes, or nothing (another layer, free format, a reserved value).
std::optional<TFrameHeader> ParseHeader(std::span<const uint8_t> bytes);

// The bit rate of an index for a version (1 or 2), 0 for none.
int BitrateKbps(int version, int index);

// The fields of the side information that place the main data.
struct TSideInfo {
    int MainDataBegin = 0; // bytes back from the frame's own data room
    int MainDataBits = 0;  // the sum of part2_3_length over granules and channels
    int MainDataBytes() const { return (MainDataBits + 7) / 8; }
};
// Reads them from a whole frame (header first).
TSideInfo ReadSideInfo(const TFrameHeader &header, std::span<const uint8_t> frame);
// Rewrites main_data_begin of a whole frame, and its CRC when it has one.
void WriteMainDataBegin(const TFrameHeader &header, std::span<uint8_t> frame, int mainDataBegin);
// Sets another bit rate index in a header (the caller resizes the frame).
void WriteBitrateIndex(std::span<uint8_t> frame, int index);

// The size of a leading ID3v2 tag (0 when there is none).
size_t LeadingTagSize(std::span<const uint8_t> bytes);

} // namespace mp3
