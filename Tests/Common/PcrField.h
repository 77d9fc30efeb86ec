#pragma once
// Writes a PCR into the PCR bytes (6 to 11) of a packet, for tests.
#include <cstdint>

namespace SktsTest {

// pcr in 27 MHz units; base = pcr / 300, extension = pcr % 300.
inline void WritePcrField(uint8_t* packet, int64_t pcr)
{
    const int64_t base = pcr / 300;
    const int64_t extension = pcr % 300;
    uint8_t* p = packet + 6;
    p[0] = static_cast<uint8_t>(base >> 25);
    p[1] = static_cast<uint8_t>(base >> 17);
    p[2] = static_cast<uint8_t>(base >> 9);
    p[3] = static_cast<uint8_t>(base >> 1);
    p[4] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | (extension >> 8));
    p[5] = static_cast<uint8_t>(extension);
}

} // namespace SktsTest
