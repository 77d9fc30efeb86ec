#include "MuxRate.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "ByteSource.h"
#include "SkTp.h"
#include "SkTsTypes.h"

namespace Skts {

namespace {

using SklibTs::kSyncByte;

// Packet size and first sync offset: five sync bytes in a row at that spacing.
bool FindSync(const uint8_t* data, size_t size, size_t& offset, size_t& packetSize)
{
    for (const size_t candidate : {size_t{188}, size_t{204}}) {
        for (size_t start = 0; start < candidate && start + 5 * candidate <= size; ++start) {
            bool ok = true;
            for (size_t k = 0; k < 5 && ok; ++k)
                ok = data[start + k * candidate] == kSyncByte;
            if (ok) {
                offset = start;
                packetSize = candidate;
                return true;
            }
        }
    }
    return false;
}

struct PcrSpan {
    int64_t firstPcr = -1;
    size_t firstOffset = 0;
    int64_t lastPcr = -1;
    size_t lastOffset = 0;
    int64_t elapsed = 0;   // 27 MHz, across wraps
    uint32_t count = 0;
    bool broken = false;
};

} // namespace

int32_t EstimateMuxRate(const uint8_t* data, size_t size)
{
    size_t offset = 0;
    size_t packetSize = 0;
    if (data == nullptr || !FindSync(data, size, offset, packetSize))
        return 0;
    std::vector<PcrSpan> spans(8192);
    for (size_t at = offset; at + 188 <= size; at += packetSize) {
        const SklibTs::SkTp tp(data + at, static_cast<uint32_t>(std::min(packetSize, size - at)));
        const int64_t pcr = tp.HasSyncByte() ? tp.GetPcr() : SklibTs::kNoTime;
        if (pcr == SklibTs::kNoTime)
            continue;
        const auto pid = static_cast<uint32_t>(tp.GetPid());
        PcrSpan& span = spans[pid];
        if (span.count > 0) {
            int64_t delta = pcr - span.lastPcr;
            if (delta < 0)
                delta += SklibTs::kPcrModulus;
            // A discontinuity flag or a step of over a second breaks the line.
            if (tp.GetDiscontinuityIndicator() || delta > SklibTs::kPcrClockHz)
                span.broken = true;
            span.elapsed += delta;
        } else {
            span.firstPcr = pcr;
            span.firstOffset = at;
        }
        span.lastPcr = pcr;
        span.lastOffset = at;
        ++span.count;
    }
    const PcrSpan* best = nullptr;
    for (const PcrSpan& span : spans) {
        if (span.count >= 2 && !span.broken && span.elapsed > 0 && (best == nullptr || span.count > best->count))
            best = &span;
    }
    if (best == nullptr)
        return 0;
    const double rate = static_cast<double>(best->lastOffset - best->firstOffset) * 8.0 *
                        static_cast<double>(SklibTs::kPcrClockHz) / static_cast<double>(best->elapsed);
    if (rate < 1.0 || rate > static_cast<double>(std::numeric_limits<int32_t>::max()))
        return 0;
    return static_cast<int32_t>(rate + 0.5);
}

int32_t AnalysisBitrate(ByteSource& source, int32_t requested)
{
    constexpr size_t kProbeBytes = size_t{8} << 20;
    if (source.IsLive())
        return kFallbackBitrate;
    if (requested > 0)
        return requested;
    const std::vector<uint8_t>& start = source.Peek(kProbeBytes);
    const int32_t estimated = EstimateMuxRate(start.data(), start.size());
    return estimated > 0 ? estimated : kFallbackBitrate;
}

} // namespace Skts
