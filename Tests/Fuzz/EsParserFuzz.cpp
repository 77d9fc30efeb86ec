// libFuzzer target for the elementary-stream dispatcher. The input is split into PES packets
// that one PID's EsProperties receives in turn, so parser objects and stored records carry
// over from packet to packet. Built by run-es-fuzz.sh, not by the normal build.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "EsDescription.h"
#include "EsParser.h"

namespace {

constexpr int32_t kKinds[] = {
    0x01, 0x02, 0x03, 0x04, 0x0F, 0x11, 0x1B, 0x21, 0x24, 0x32, 0x81, 0x87, 0xEA, 256, 257, 263, 0x06,
};

// Packets are separated by this marker; each packet's first byte picks its stream kind.
constexpr uint8_t kSeparator[] = {'P', 'E', 'S', '!'};

const uint8_t* FindSeparator(const uint8_t* from, const uint8_t* end)
{
    for (const uint8_t* p = from; p + sizeof kSeparator <= end; ++p) {
        if (std::memcmp(p, kSeparator, sizeof kSeparator) == 0)
            return p;
    }
    return end;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SklibTs::EsProperties es;
    const uint8_t* const end = data + size;
    const uint8_t* pos = data;
    while (pos < end) {
        const uint8_t* next = FindSeparator(pos, end);
        if (next > pos) {
            const int32_t kind = kKinds[*pos % (sizeof kKinds / sizeof kKinds[0])];
            // An exact-size copy, so that any read past the packet is caught by ASan.
            const std::vector<uint8_t> pes(pos + 1, next);
            const auto length = static_cast<int32_t>(pes.size() > 8192 ? 8192 : pes.size());
            SklibTs::ParsePes(es, kind, pes.empty() ? nullptr : pes.data(), length);
            if (const auto* video = es.Video())
                (void)SklibTs::DescribeVideo(*video, kind);
            if (const auto* audio = es.Audio())
                (void)SklibTs::DescribeAudio(*audio, kind);
        }
        pos = next + (next < end ? sizeof kSeparator : 0);
    }
    return 0;
}
