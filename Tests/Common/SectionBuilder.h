#pragma once
// Builds PSI sections and the transport packets that carry them, for tests. The CRC here is
// the plain bit-by-bit MPEG-2 CRC, independent of the toolkit's table-driven one.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace SktsTest {

using Bytes = std::vector<uint8_t>;

inline uint32_t Crc32Mpeg2(const uint8_t* data, size_t size)
{
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool in = ((data[i] >> bit) & 1) != 0;
            const bool top = (crc & 0x80000000u) != 0;
            crc <<= 1;
            if (in != top)
                crc ^= 0x04C11DB7u;
        }
    }
    return crc;
}

inline void AppendBigEndian(Bytes& out, uint32_t value, int byteCount)
{
    for (int shift = 8 * (byteCount - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// Rewrites the last four bytes of a section with the CRC over the bytes before them.
inline void FixCrc(Bytes& section)
{
    if (section.size() < 4)
        return;
    section.resize(section.size() - 4);
    AppendBigEndian(section, Crc32Mpeg2(section.data(), section.size()), 4);
}

// Writes section_length (bytes after byte 2) into bytes 1-2, keeping the flag bits.
inline void FixSectionLength(Bytes& section)
{
    const size_t length = section.size() - 3;
    section[1] = static_cast<uint8_t>((section[1] & 0xF0) | ((length >> 8) & 0x0F));
    section[2] = static_cast<uint8_t>(length);
}

struct LongHeader {
    uint8_t table_id = 0;
    uint16_t table_id_extension = 0;
    uint8_t version = 0;
    bool current_next = true;
    uint8_t section_number = 0;
    uint8_t last_section_number = 0;
};

// A long-form section: the 8 header bytes, body (everything after last_section_number up to
// the CRC_32), then a correct CRC_32.
inline Bytes LongSection(const LongHeader& h, const Bytes& body)
{
    Bytes s = {h.table_id, 0xB0, 0x00};
    AppendBigEndian(s, h.table_id_extension, 2);
    s.push_back(static_cast<uint8_t>(0xC0 | ((h.version & 0x1F) << 1) | (h.current_next ? 1 : 0)));
    s.push_back(h.section_number);
    s.push_back(h.last_section_number);
    s.insert(s.end(), body.begin(), body.end());
    s.resize(s.size() + 4);
    FixSectionLength(s);
    FixCrc(s);
    return s;
}

// A short-form section (section_syntax_indicator 0 unless asked): header and body, no CRC.
inline Bytes ShortSection(uint8_t tableId, const Bytes& body, bool syntaxIndicator = false)
{
    Bytes s = {tableId, static_cast<uint8_t>(syntaxIndicator ? 0xF0 : 0x70), 0x00};
    s.insert(s.end(), body.begin(), body.end());
    FixSectionLength(s);
    return s;
}

inline Bytes DescriptorBytes(uint8_t tag, const Bytes& payload)
{
    Bytes d = {tag, static_cast<uint8_t>(payload.size())};
    d.insert(d.end(), payload.begin(), payload.end());
    return d;
}

struct PatEntry {
    uint16_t program_number;
    uint16_t pid;
};

inline Bytes PatBody(const std::vector<PatEntry>& programs)
{
    Bytes body;
    for (const PatEntry& p : programs) {
        AppendBigEndian(body, p.program_number, 2);
        AppendBigEndian(body, 0xE000u | p.pid, 2);
    }
    return body;
}

struct PmtStream {
    uint8_t stream_type;
    uint16_t pid;
    Bytes descriptors;
};

inline Bytes PmtBody(uint16_t pcrPid, const Bytes& programInfo, const std::vector<PmtStream>& streams)
{
    Bytes body;
    AppendBigEndian(body, 0xE000u | pcrPid, 2);
    AppendBigEndian(body, 0xF000u | static_cast<uint32_t>(programInfo.size()), 2);
    body.insert(body.end(), programInfo.begin(), programInfo.end());
    for (const PmtStream& s : streams) {
        body.push_back(s.stream_type);
        AppendBigEndian(body, 0xE000u | s.pid, 2);
        AppendBigEndian(body, 0xF000u | static_cast<uint32_t>(s.descriptors.size()), 2);
        body.insert(body.end(), s.descriptors.begin(), s.descriptors.end());
    }
    return body;
}

// Carries one section on pid: the first packet has payload_unit_start and pointer_field 0,
// the last is filled with 0xFF. continuityCounter is the counter of the next packet and is
// advanced past the packets written.
inline Bytes SectionPackets(const Bytes& section, uint16_t pid, uint8_t& continuityCounter)
{
    constexpr size_t kPacketSize = 188;
    Bytes out;
    size_t pos = 0;
    bool first = true;
    do {
        const size_t start = out.size();
        out.push_back(0x47);
        out.push_back(static_cast<uint8_t>((first ? 0x40 : 0x00) | ((pid >> 8) & 0x1F)));
        out.push_back(static_cast<uint8_t>(pid));
        out.push_back(static_cast<uint8_t>(0x10 | (continuityCounter & 0x0F)));
        continuityCounter = static_cast<uint8_t>((continuityCounter + 1) & 0x0F);
        if (first)
            out.push_back(0x00);
        first = false;
        const size_t room = kPacketSize - (out.size() - start);
        const size_t n = section.size() - pos < room ? section.size() - pos : room;
        out.insert(out.end(), section.begin() + static_cast<std::ptrdiff_t>(pos),
                   section.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
        out.resize(start + kPacketSize, 0xFF);
    } while (pos < section.size());
    return out;
}

// The payload of a packet built by SectionPackets (after the header and any pointer_field).
inline Bytes PacketPayload(const uint8_t* packet)
{
    const size_t offset = (packet[1] & 0x40) ? 5 + packet[4] : 4;
    return Bytes(packet + (offset < 188 ? offset : 188), packet + 188);
}

} // namespace SktsTest
