#pragma once
// Transport streams built to break a monitoring tool: text that is not text, PCRs that claim
// absurd rates, a transport_stream_id that changes, packets that are all unusable, floods of
// tables and of events, thousands of PIDs. Shared by the tests and the memory benchmark.
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "SectionBuilder.h"

namespace SktsTest {

// Appends packets with a running continuity counter per PID.
class TsWriter {
public:
    void Section(uint16_t pid, const Bytes& section)
    {
        const Bytes packets = SectionPackets(section, pid, cc_[pid]);
        bytes.insert(bytes.end(), packets.begin(), packets.end());
    }

    // One packet: header flags in byte 3 (scrambling, adaptation), payload filled with `fill`.
    void Packet(uint16_t pid, bool unitStart, uint8_t flags = 0x10, bool transportError = false, uint8_t fill = 0xFF)
    {
        const size_t start = bytes.size();
        bytes.resize(start + 188, fill);
        uint8_t* p = &bytes[start];
        p[0] = 0x47;
        p[1] = static_cast<uint8_t>((transportError ? 0x80 : 0) | (unitStart ? 0x40 : 0) | ((pid >> 8) & 0x1F));
        p[2] = static_cast<uint8_t>(pid);
        p[3] = static_cast<uint8_t>(flags | (cc_[pid]++ & 0x0F));
    }

    // A packet with only an adaptation field carrying a PCR (27 MHz units).
    void Pcr(uint16_t pid, int64_t pcr)
    {
        const size_t start = bytes.size();
        bytes.resize(start + 188, 0xFF);
        uint8_t* p = &bytes[start];
        const int64_t base = pcr / 300;
        const int64_t extension = pcr % 300;
        p[0] = 0x47;
        p[1] = static_cast<uint8_t>((pid >> 8) & 0x1F);
        p[2] = static_cast<uint8_t>(pid);
        p[3] = static_cast<uint8_t>(0x20 | (cc_[pid] & 0x0F));
        p[4] = 183;
        p[5] = 0x10;
        p[6] = static_cast<uint8_t>(base >> 25);
        p[7] = static_cast<uint8_t>(base >> 17);
        p[8] = static_cast<uint8_t>(base >> 9);
        p[9] = static_cast<uint8_t>(base >> 1);
        p[10] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | ((extension >> 8) & 1));
        p[11] = static_cast<uint8_t>(extension);
    }

    // A PES packet (stream_id 0xC0, with PTS) carrying `payload`, cut into packets; the last
    // one is padded with adaptation-field stuffing.
    void Pes(uint16_t pid, const Bytes& payload, int64_t pts)
    {
        Bytes pes = {0x00, 0x00, 0x01, 0xC0, 0, 0, 0x80, 0x80, 0x05};
        const size_t length = 3 + 5 + payload.size();
        pes[4] = static_cast<uint8_t>(length >> 8);
        pes[5] = static_cast<uint8_t>(length);
        pes.push_back(static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E)));
        pes.push_back(static_cast<uint8_t>(pts >> 22));
        pes.push_back(static_cast<uint8_t>(0x01 | ((pts >> 14) & 0xFE)));
        pes.push_back(static_cast<uint8_t>(pts >> 7));
        pes.push_back(static_cast<uint8_t>(0x01 | ((pts << 1) & 0xFE)));
        pes.insert(pes.end(), payload.begin(), payload.end());
        for (size_t at = 0; at < pes.size();) {
            const size_t room = 184;
            const size_t n = std::min(room, pes.size() - at);
            const size_t start = bytes.size();
            bytes.resize(start + 188, 0xFF);
            uint8_t* p = &bytes[start];
            p[0] = 0x47;
            p[1] = static_cast<uint8_t>((at == 0 ? 0x40 : 0) | ((pid >> 8) & 0x1F));
            p[2] = static_cast<uint8_t>(pid);
            size_t offset = 4;
            if (n < room) {
                p[3] = static_cast<uint8_t>(0x30 | (cc_[pid]++ & 0x0F));
                p[4] = static_cast<uint8_t>(room - n - 1);
                if (room - n - 1 > 0)
                    p[5] = 0x00;
                offset = 4 + (room - n);
            } else {
                p[3] = static_cast<uint8_t>(0x10 | (cc_[pid]++ & 0x0F));
            }
            std::copy(pes.begin() + static_cast<std::ptrdiff_t>(at), pes.begin() + static_cast<std::ptrdiff_t>(at + n),
                      p + offset);
            at += n;
        }
    }

    Bytes bytes;

private:
    std::map<uint16_t, uint8_t> cc_;
};

inline Bytes PatSection(uint16_t transportStreamId, const std::vector<PatEntry>& programs, uint8_t version = 0)
{
    return LongSection({0x00, transportStreamId, version, true, 0, 0}, PatBody(programs));
}

inline Bytes PmtSection(uint16_t programNumber, uint16_t pcrPid, const std::vector<PmtStream>& streams)
{
    return LongSection({0x02, programNumber, 0, true, 0, 0}, PmtBody(pcrPid, {}, streams));
}

// SDT actual with one service whose service descriptor carries the given names (DVB text).
inline Bytes SdtSection(uint16_t transportStreamId, uint16_t serviceId, const Bytes& provider, const Bytes& name)
{
    Bytes service = {0x01, static_cast<uint8_t>(provider.size())};
    service.insert(service.end(), provider.begin(), provider.end());
    service.push_back(static_cast<uint8_t>(name.size()));
    service.insert(service.end(), name.begin(), name.end());
    const Bytes descriptor = DescriptorBytes(0x48, service);
    Bytes body = {0x00, 0x01, 0xFF};
    AppendBigEndian(body, serviceId, 2);
    body.push_back(0xFC);
    AppendBigEndian(body, 0x8000u | static_cast<uint32_t>(descriptor.size()), 2);
    body.insert(body.end(), descriptor.begin(), descriptor.end());
    return LongSection({0x42, transportStreamId, 0, true, 0, 0}, body);
}

// NIT actual naming the network (DVB text), with an empty transport stream loop.
inline Bytes NitSection(uint16_t networkId, const Bytes& networkName)
{
    const Bytes descriptor = DescriptorBytes(0x40, networkName);
    Bytes body;
    AppendBigEndian(body, 0xF000u | static_cast<uint32_t>(descriptor.size()), 2);
    body.insert(body.end(), descriptor.begin(), descriptor.end());
    AppendBigEndian(body, 0xF000u, 2);
    return LongSection({0x40, networkId, 0, true, 0, 0}, body);
}

// Text fields that are not text: a language code with an escape and bytes that are no UTF-8,
// names in UCS-2 with lone surrogates, a name that tries to clear the terminal.
inline Bytes BadTextStream(int repeats = 5)
{
    TsWriter ts;
    const Bytes language = {0xFF, 0xFE, 0x1B};
    const Bytes loneHigh = {0x11, 0xD8, 0x00, 0x00, 0x41};             // U+D800 'A'
    const Bytes loneLow = {0x11, 0x00, 0x42, 0xDC, 0x00};              // 'B' U+DC00
    const Bytes escape = {'T', 'V', 0x1B, '[', '2', 'J', 0x07, '!'};  // ESC [2J BEL
    for (int i = 0; i < repeats; ++i) {
        ts.Section(0x0000, PatSection(1, {{0, 0x10}, {1, 0x100}}));
        ts.Section(0x0100, PmtSection(1, 0x1FFF, {{0x03, 0x101, DescriptorBytes(0x0A, {language[0], language[1],
                                                                                        language[2], 0x00})}}));
        ts.Section(0x0011, SdtSection(1, 1, escape, loneHigh));
        ts.Section(0x0010, NitSection(1, loneLow));
    }
    return ts.bytes;
}

// `sections` single-section tables on an EIT-like PID (0x12, table_id 0x4E), each with a new
// table_id_extension (service_id), as fast as the packets can carry them.
inline Bytes TableFloodStream(size_t sections, uint32_t firstExtension = 0)
{
    TsWriter ts;
    ts.Section(0x0000, PatSection(1, {{1, 0x100}}));
    for (size_t i = 0; i < sections; ++i) {
        const auto extension = static_cast<uint32_t>(firstExtension + i);
        Bytes body = {0x00, 0x01, static_cast<uint8_t>(extension >> 24), static_cast<uint8_t>(extension >> 16), 0x00,
                      0x4E};
        ts.Section(0x0012, LongSection({0x4E, static_cast<uint16_t>(extension), 0, true, 0, 0}, body));
    }
    return ts.bytes;
}

// Packets of random bytes behind good sync bytes: continuity, transport-error, unreferenced-PID
// and table reports in every packet.
inline Bytes NoiseStream(size_t packets, uint32_t seed = 5)
{
    Bytes out(packets * 188);
    std::mt19937 random(seed);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = i % 188 == 0 ? 0x47 : static_cast<uint8_t>(random());
    return out;
}

} // namespace SktsTest
