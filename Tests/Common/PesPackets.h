#pragma once
// Hand-made PES packets and the transport packets that carry them.
#include <algorithm>
#include <cstdint>
#include <vector>

namespace SktsTest {

using PesBytes = std::vector<uint8_t>;

inline void AppendTimeStamp(PesBytes& out, uint8_t prefix, int64_t ticks)
{
    out.push_back(static_cast<uint8_t>((prefix << 4) | (((ticks >> 30) & 0x07) << 1) | 1));
    out.push_back(static_cast<uint8_t>(ticks >> 22));
    out.push_back(static_cast<uint8_t>(((ticks >> 15) & 0x7F) << 1 | 1));
    out.push_back(static_cast<uint8_t>(ticks >> 7));
    out.push_back(static_cast<uint8_t>((ticks & 0x7F) << 1 | 1));
}

// A PES packet with the optional header, PTS and DTS when not negative, and its length field
// set (0 when unbounded or too long for the field).
inline PesBytes PesPacket(uint8_t streamId, const PesBytes& payload, int64_t pts = -1, int64_t dts = -1,
                          bool bounded = true)
{
    PesBytes header;
    if (pts >= 0 && dts >= 0) {
        AppendTimeStamp(header, 0x3, pts);
        AppendTimeStamp(header, 0x1, dts);
    } else if (pts >= 0) {
        AppendTimeStamp(header, 0x2, pts);
    }
    const uint8_t flags = pts >= 0 ? (dts >= 0 ? 0xC0 : 0x80) : 0x00;
    PesBytes pes;
    pes.reserve(9 + header.size() + payload.size());
    for (const uint8_t byte : {uint8_t{0x00}, uint8_t{0x00}, uint8_t{0x01}, streamId, uint8_t{0}, uint8_t{0}, uint8_t{0x80},
                               flags, static_cast<uint8_t>(header.size())})
        pes.push_back(byte);
    pes.insert(pes.end(), header.begin(), header.end());
    pes.insert(pes.end(), payload.begin(), payload.end());
    const size_t length = pes.size() - 6;
    if (bounded && length <= 0xFFFF) {
        pes[4] = static_cast<uint8_t>(length >> 8);
        pes[5] = static_cast<uint8_t>(length);
    }
    return pes;
}

// The 188-byte packets carrying pes on pid; the last is filled up with adaptation-field stuffing.
inline PesBytes PesTsPackets(const PesBytes& pes, uint16_t pid, uint8_t& continuityCounter)
{
    PesBytes out;
    for (size_t offset = 0; offset < pes.size();) {
        const size_t chunk = std::min<size_t>(184, pes.size() - offset);
        uint8_t packet[188];
        packet[0] = 0x47;
        packet[1] = static_cast<uint8_t>((offset == 0 ? 0x40 : 0) | ((pid >> 8) & 0x1F));
        packet[2] = static_cast<uint8_t>(pid);
        size_t at = 4;
        if (chunk < 184) {
            packet[3] = static_cast<uint8_t>(0x30 | (continuityCounter & 0x0F));
            const size_t fieldLength = 183 - chunk;
            packet[at++] = static_cast<uint8_t>(fieldLength);
            if (fieldLength > 0) {
                packet[at++] = 0x00; // no flags
                std::fill(packet + at, packet + at + fieldLength - 1, 0xFF);
                at += fieldLength - 1;
            }
        } else {
            packet[3] = static_cast<uint8_t>(0x10 | (continuityCounter & 0x0F));
        }
        std::copy(pes.begin() + static_cast<std::ptrdiff_t>(offset),
                  pes.begin() + static_cast<std::ptrdiff_t>(offset + chunk), packet + at);
        continuityCounter = static_cast<uint8_t>((continuityCounter + 1) & 0x0F);
        out.insert(out.end(), packet, packet + 188);
        offset += chunk;
    }
    return out;
}

inline PesBytes Pattern(size_t size, uint8_t seed = 0)
{
    PesBytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
    return bytes;
}

} // namespace SktsTest
