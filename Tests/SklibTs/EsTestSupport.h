#pragma once
// Helpers for the elementary-stream parser tests: PES packets gathered from sample streams,
// the facts of their ffprobe reports, and a bit writer for hand-built payloads.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "TestData.h"

namespace EsTest {

// The analyser hands over at most this many bytes of a PES packet.
inline constexpr size_t kMaxPesBytes = 8192;

// The PES packets of one PID, each cut to its first kMaxPesBytes bytes, as the analyser
// collects them: from one payload_unit_start to the next.
inline std::vector<std::vector<uint8_t>> ExtractPes(const std::vector<uint8_t>& ts, uint32_t pid,
                                                    size_t packetSize = 188)
{
    std::vector<std::vector<uint8_t>> packets;
    std::optional<std::vector<uint8_t>> current;
    for (size_t off = 0; off + 188 <= ts.size(); off += packetSize) {
        const uint8_t* p = ts.data() + off;
        if (p[0] != 0x47 || ((p[1] & 0x1Fu) << 8 | p[2]) != pid)
            continue;
        const int afc = (p[3] >> 4) & 3;
        const size_t start = 4 + ((afc & 2) != 0 ? 1u + p[4] : 0u);
        if ((afc & 1) == 0 || start >= 188)
            continue;
        if ((p[1] & 0x40) != 0) {
            if (current)
                packets.push_back(std::move(*current));
            current.emplace();
        }
        if (current && current->size() < kMaxPesBytes) {
            const size_t take = std::min<size_t>(188 - start, kMaxPesBytes - current->size());
            current->insert(current->end(), p + start, p + start + take);
        }
    }
    if (current)
        packets.push_back(std::move(*current));
    return packets;
}

// What ffprobe reported of one stream; absent fields are 0 or empty.
struct ProbedStream {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    std::string frameRate; // "25/1"
    std::string pixelFormat;
    std::string fieldOrder;
    std::string channelLayout;
};

// The streams of an ffprobe JSON report by PID. Only the flat fields read here are needed, so
// a pattern search over each stream object is enough.
inline std::map<uint32_t, ProbedStream> ReadProbe(const std::filesystem::path& path)
{
    const auto bytes = SktsTest::ReadFile(path);
    const std::string text(bytes.begin(), bytes.end());
    std::map<uint32_t, ProbedStream> streams;
    const std::regex indexKey("\"index\":");
    std::vector<size_t> starts;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), indexKey); it != std::sregex_iterator(); ++it)
        starts.push_back(static_cast<size_t>(it->position()));
    starts.push_back(text.size());
    const auto number = [](const std::string& chunk, const char* key) -> uint32_t {
        std::smatch m;
        const std::regex re(std::string("\"") + key + "\": \"?([0-9]+)");
        return std::regex_search(chunk, m, re) ? static_cast<uint32_t>(std::stoul(m[1])) : 0;
    };
    const auto word = [](const std::string& chunk, const char* key) -> std::string {
        std::smatch m;
        const std::regex re(std::string("\"") + key + "\": \"([^\"]*)\"");
        return std::regex_search(chunk, m, re) ? m[1].str() : std::string();
    };
    for (size_t i = 0; i + 1 < starts.size(); ++i) {
        const std::string chunk = text.substr(starts[i], starts[i + 1] - starts[i]);
        const std::string id = word(chunk, "id");
        if (id.empty())
            continue;
        ProbedStream s;
        s.width = number(chunk, "width");
        s.height = number(chunk, "height");
        s.sampleRate = number(chunk, "sample_rate");
        s.channels = number(chunk, "channels");
        s.frameRate = word(chunk, "r_frame_rate");
        s.pixelFormat = word(chunk, "pix_fmt");
        s.fieldOrder = word(chunk, "field_order");
        s.channelLayout = word(chunk, "channel_layout");
        streams[static_cast<uint32_t>(std::stoul(id, nullptr, 16))] = s;
    }
    return streams;
}

// Writes bits most significant first, with the Exp-Golomb codes of H.264 / HEVC.
class BitWriter {
public:
    BitWriter& Put(uint64_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i)
            PutBit(i < 64 && ((value >> i) & 1) != 0); // fields wider than 64 bits are zero-extended
        return *this;
    }
    BitWriter& Ue(uint32_t value)
    {
        const uint64_t code = uint64_t{value} + 1;
        int length = 0;
        while ((code >> length) > 1)
            ++length;
        Put(0, length);
        return Put(code, length + 1);
    }
    BitWriter& Se(int32_t value)
    {
        return Ue(value > 0 ? static_cast<uint32_t>(2 * value - 1) : static_cast<uint32_t>(-2 * int64_t{value}));
    }
    BitWriter& Bytes(const std::vector<uint8_t>& bytes)
    {
        for (uint8_t b : bytes)
            Put(b, 8);
        return *this;
    }
    // rbsp_stop_one_bit and zero bits up to the byte boundary.
    BitWriter& Trailing()
    {
        PutBit(true);
        while (bit_ != 0)
            PutBit(false);
        return *this;
    }
    BitWriter& Align()
    {
        while (bit_ != 0)
            PutBit(false);
        return *this;
    }
    std::vector<uint8_t> Take()
    {
        Align();
        return std::move(bytes_);
    }

private:
    void PutBit(bool set)
    {
        if (bit_ == 0)
            bytes_.push_back(0);
        if (set)
            bytes_.back() |= static_cast<uint8_t>(0x80 >> bit_);
        bit_ = (bit_ + 1) % 8;
    }

    std::vector<uint8_t> bytes_;
    int bit_ = 0;
};

// Inserts emulation-prevention bytes, as an encoder does: 00 00 0x (x <= 3) -> 00 00 03 0x.
inline std::vector<uint8_t> Escape(const std::vector<uint8_t>& rbsp)
{
    std::vector<uint8_t> out;
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

// The length as the parsers take it.
inline int32_t Size(const std::vector<uint8_t>& bytes) { return static_cast<int32_t>(bytes.size()); }

inline void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes)
{
    to.insert(to.end(), bytes.begin(), bytes.end());
}

// 00 00 01 followed by the unit.
inline void AppendUnit(std::vector<uint8_t>& to, const std::vector<uint8_t>& unit)
{
    Append(to, {0, 0, 1});
    Append(to, unit);
}

// A PES packet with an optional header without PTS around a payload.
inline std::vector<uint8_t> MakePes(const std::vector<uint8_t>& payload, uint8_t streamId = 0xE0)
{
    std::vector<uint8_t> pes = {0, 0, 1, streamId, 0, 0, 0x80, 0x00, 0x00};
    Append(pes, payload);
    return pes;
}

} // namespace EsTest
