#pragma once
// Edits of the clocks of a 188-byte transport stream, for time-fault tests: PCRs moved, removed
// or carried by another PID, PTS and DTS moved or frozen.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "PcrField.h"

namespace SktsTest {

inline constexpr int64_t kPcrModulus = (int64_t{1} << 33) * 300;
inline constexpr int64_t kPtsModulus = int64_t{1} << 33;

inline uint32_t PacketPid(const uint8_t* p) { return static_cast<uint32_t>((p[1] & 0x1F) << 8 | p[2]); }

// The packet carries a PCR field (adaptation field long enough, PCR_flag set).
inline bool CarriesPcr(const uint8_t* p) { return (p[3] & 0x20) != 0 && p[4] >= 7 && p[4] <= 183 && (p[5] & 0x10) != 0; }

inline int64_t ReadPcrField(const uint8_t* p)
{
    const int64_t base = int64_t{p[6]} << 25 | int64_t{p[7]} << 17 | int64_t{p[8]} << 9 | int64_t{p[9]} << 1 | p[10] >> 7;
    return base * 300 + ((p[10] & 1) << 8 | p[11]);
}

// Every PCR from packet `from` on moved by offset (27 MHz), wrapping at 2^33 x 300.
inline void ShiftPcrs(std::vector<uint8_t>& stream, size_t from, int64_t offset)
{
    for (size_t at = from * 188; at + 188 <= stream.size(); at += 188) {
        uint8_t* p = stream.data() + at;
        if (CarriesPcr(p))
            WritePcrField(p, ((ReadPcrField(p) + offset) % kPcrModulus + kPcrModulus) % kPcrModulus);
    }
}

// The PCR_flag of every packet of pid (every PID when pid is 0xFFFFFFFF) from packet `from` on
// cleared; the PCR bytes stay as private bytes of the adaptation field.
inline void StripPcrs(std::vector<uint8_t>& stream, size_t from, uint32_t pid = 0xFFFFFFFF)
{
    for (size_t at = from * 188; at + 188 <= stream.size(); at += 188) {
        uint8_t* p = stream.data() + at;
        if (CarriesPcr(p) && (pid == 0xFFFFFFFF || PacketPid(p) == pid))
            p[5] &= static_cast<uint8_t>(~0x10);
    }
}

// From packet `from` on, the PCRs of pid go to newPid instead: each is removed from its packet
// and sent right after it in an adaptation-only packet of newPid.
inline std::vector<uint8_t> MovePcrs(const std::vector<uint8_t>& stream, size_t from, uint32_t pid, uint32_t newPid)
{
    std::vector<uint8_t> out;
    out.reserve(stream.size() + stream.size() / 20);
    for (size_t at = 0; at + 188 <= stream.size(); at += 188) {
        const uint8_t* p = stream.data() + at;
        if (at / 188 < from || !CarriesPcr(p) || PacketPid(p) != pid) {
            out.insert(out.end(), p, p + 188);
            continue;
        }
        out.insert(out.end(), p, p + 188);
        out[out.size() - 188 + 5] &= static_cast<uint8_t>(~0x10);
        uint8_t carrier[188];
        carrier[0] = 0x47;
        carrier[1] = static_cast<uint8_t>(newPid >> 8 & 0x1F);
        carrier[2] = static_cast<uint8_t>(newPid);
        carrier[3] = 0x20; // adaptation field only
        carrier[4] = 183;
        carrier[5] = 0x10; // PCR_flag
        for (size_t i = 12; i < 188; ++i)
            carrier[i] = 0xFF;
        WritePcrField(carrier, ReadPcrField(p));
        out.insert(out.end(), carrier, carrier + 188);
    }
    return out;
}

// Applies edit(pts or dts) to each PTS and DTS of the PES headers that start in packets from
// packet `from` on.
template <typename Edit>
void EditPesTimes(std::vector<uint8_t>& stream, size_t from, Edit edit)
{
    const auto rewrite = [&edit](uint8_t* t) {
        const int64_t value = int64_t{(t[0] >> 1) & 0x07} << 30 | int64_t{t[1]} << 22 | int64_t{t[2] >> 1} << 15 |
                              int64_t{t[3]} << 7 | t[4] >> 1;
        const int64_t v = (edit(value) % kPtsModulus + kPtsModulus) % kPtsModulus;
        t[0] = static_cast<uint8_t>((t[0] & 0xF1) | ((v >> 29) & 0x0E));
        t[1] = static_cast<uint8_t>(v >> 22);
        t[2] = static_cast<uint8_t>(((v >> 14) & 0xFE) | 1);
        t[3] = static_cast<uint8_t>(v >> 7);
        t[4] = static_cast<uint8_t>(((v << 1) & 0xFE) | 1);
    };
    for (size_t at = from * 188; at + 188 <= stream.size(); at += 188) {
        uint8_t* p = stream.data() + at;
        if ((p[1] & 0x40) == 0 || (p[3] & 0x10) == 0)
            continue;
        const size_t start = (p[3] & 0x20) ? 5u + p[4] : 4u;
        if (start + 19 > 188)
            continue;
        uint8_t* pes = p + start;
        const uint8_t id = pes[3];
        if (pes[0] != 0 || pes[1] != 0 || pes[2] != 1 || id == 0xBC || id == 0xBE || id == 0xBF || id >= 0xF0)
            continue;
        const int flags = pes[7] >> 6;
        if (flags >= 2)
            rewrite(pes + 9);
        if (flags == 3)
            rewrite(pes + 14);
    }
}

// Index of the first packet at or after byte offset `at` of a 188-byte stream.
inline size_t PacketAt(size_t at) { return (at + 187) / 188; }

} // namespace SktsTest
