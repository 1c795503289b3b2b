#include "engine/Mp3Frames.h"

#include <array>

namespace mp3 {
namespace {

constexpr std::array<std::array<int, 15>, 2> kBitrates = {{
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
}};

// Bits of the side information, most significant first.
class TBitReader {
public:
    explicit TBitReader(std::span<const uint8_t> bytes) : Bytes(bytes) {}
    int Read(int count)
    {
        int value = 0;
        for (int i = 0; i < count; ++i, ++Position)
            value = value << 1 | (Bytes[Position / 8] >> (7 - Position % 8) & 1);
        return value;
    }
    void Skip(int count) { Position += count; }

private:
    std::span<const uint8_t> Bytes;
    size_t Position = 0;
};

uint16_t Crc16(std::span<const uint8_t> header, std::span<const uint8_t> sideInfo)
{
    uint16_t crc = 0xffff;
    auto feed = [&](uint8_t byte) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = (crc >> 15 & 1) != (byte >> bit & 1);
            crc = static_cast<uint16_t>(crc << 1);
            if (top)
                crc ^= 0x8005;
        }
    };
    feed(header[2]);
    feed(header[3]);
    for (uint8_t byte : sideInfo)
        feed(byte);
    return crc;
}

} // namespace

int BitrateKbps(int version, int index)
{
    return (version == 1 || version == 2) && index >= 0 && index < 15 ? kBitrates[version - 1][index] : 0;
}

std::optional<TFrameHeader> ParseHeader(std::span<const uint8_t> bytes)
{
    if (bytes.size() < 4 || bytes[0] != 0xff || (bytes[1] & 0xe0) != 0xe0)
        return std::nullopt;
    const int versionBits = bytes[1] >> 3 & 3;
    const int layerBits = bytes[1] >> 1 & 3;
    const int bitrateIndex = bytes[2] >> 4;
    const int rateIndex = bytes[2] >> 2 & 3;
    if (versionBits == 1 || layerBits != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt;
    TFrameHeader header;
    header.Version = versionBits == 3 ? 1 : 2;
    static constexpr int kRates[] = {44100, 48000, 32000};
    header.SampleRate = kRates[rateIndex] >> (versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2);
    header.BitrateIndex = bitrateIndex;
    header.BitrateKbps = BitrateKbps(header.Version, bitrateIndex);
    header.Padding = (bytes[2] >> 1 & 1) != 0;
    header.Protected = (bytes[1] & 1) == 0;
    header.Channels = (bytes[3] >> 6) == 3 ? 1 : 2;
    header.Samples = header.Version == 1 ? 1152 : 576;
    header.FrameBytes = header.Samples / 8 * 1000 * header.BitrateKbps / header.SampleRate + (header.Padding ? 1 : 0);
    header.SideInfoBytes = header.Version == 1 ? (header.Channels == 1 ? 17 : 32) : (header.Channels == 1 ? 9 : 17);
    if (header.FrameBytes < header.DataOffset())
        return std::nullopt;
    return header;
}

TSideInfo ReadSideInfo(const TFrameHeader &header, std::span<const uint8_t> frame)
{
    TBitReader bits(frame.subspan(static_cast<size_t>(header.SideInfoOffset()), static_cast<size_t>(header.SideInfoBytes)));
    TSideInfo side;
    const bool mono = header.Channels == 1;
    int granules = 1;
    int afterLength = 51; // the rest of a granule's channel fields
    if (header.Version == 1) {
        side.MainDataBegin = bits.Read(9);
        bits.Skip((mono ? 5 : 3) + 4 * header.Channels);
        granules = 2;
        afterLength = 47;
    } else {
        side.MainDataBegin = bits.Read(8);
        bits.Skip(mono ? 1 : 2);
    }
    for (int granule = 0; granule < granules; ++granule)
        for (int channel = 0; channel < header.Channels; ++channel) {
            side.MainDataBits += bits.Read(12);
            bits.Skip(afterLength);
        }
    return side;
}

void WriteMainDataBegin(const TFrameHeader &header, std::span<uint8_t> frame, int mainDataBegin)
{
    uint8_t *side = frame.data() + header.SideInfoOffset();
    if (header.Version == 1) {
        side[0] = static_cast<uint8_t>(mainDataBegin >> 1);
        side[1] = static_cast<uint8_t>((side[1] & 0x7f) | (mainDataBegin & 1) << 7);
    } else {
        side[0] = static_cast<uint8_t>(mainDataBegin);
    }
    if (header.Protected) {
        const uint16_t crc = Crc16(frame, frame.subspan(static_cast<size_t>(header.SideInfoOffset()),
                                                        static_cast<size_t>(header.SideInfoBytes)));
        frame[4] = static_cast<uint8_t>(crc >> 8);
        frame[5] = static_cast<uint8_t>(crc);
    }
}

void WriteBitrateIndex(std::span<uint8_t> frame, int index)
{
    frame[2] = static_cast<uint8_t>((frame[2] & 0x0f) | index << 4);
}

size_t LeadingTagSize(std::span<const uint8_t> bytes)
{
    if (bytes.size() < 10 || bytes[0] != 'I' || bytes[1] != 'D' || bytes[2] != '3')
        return 0;
    size_t size = 0;
    for (size_t i = 6; i < 10; ++i)
        size = size << 7 | (bytes[i] & 0x7f);
    const bool footer = (bytes[5] & 0x10) != 0;
    return 10 + size + (footer ? 10 : 0);
}

} // namespace mp3
