#pragma once
// Hand-made transport packets for the analyser tests.
#include <cstdint>
#include <vector>

namespace SktsTest {

inline std::vector<uint8_t> MakePacket(uint16_t pid, uint8_t cc, bool unitStart = false, size_t size = 188,
                                       uint8_t fill = 0xAA)
{
    std::vector<uint8_t> p(size, fill);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>((unitStart ? 0x40 : 0) | ((pid >> 8) & 0x1F));
    p[2] = static_cast<uint8_t>(pid);
    p[3] = static_cast<uint8_t>(0x10 | (cc & 0x0F));
    return p;
}

// Packets of `pid` with running continuity counters, `count` of them back to back.
inline std::vector<uint8_t> MakeStream(uint16_t pid, size_t count, size_t packetSize = 188)
{
    std::vector<uint8_t> stream;
    stream.reserve(count * packetSize);
    for (size_t i = 0; i < count; ++i) {
        const auto p = MakePacket(pid, static_cast<uint8_t>(i), false, packetSize);
        stream.insert(stream.end(), p.begin(), p.end());
    }
    return stream;
}

} // namespace SktsTest
