#pragma once
#include <cstddef>
#include <cstdint>

namespace Skts {

// The mux rate (bit/s) of a stretch of transport stream: bytes between the first and last PCR
// of the PID with the most PCRs, over the PCR time between them. 0 when the stretch has no
// usable pair of PCRs (no sync, fewer than two PCRs, a discontinuity or a jump).
int32_t EstimateMuxRate(const uint8_t* data, size_t size);

class ByteSource;

// The bit rate used when none is given and the stream's PCRs tell none.
inline constexpr int32_t kFallbackBitrate = 10'000'000;

// The bit rate an analysis of `source` runs at: for a network input the fallback (arrival times
// clock its packets), else `requested` when positive, else the mux rate of the first 8 MiB, else
// the fallback.
int32_t AnalysisBitrate(ByteSource& source, int32_t requested);

} // namespace Skts
