#pragma once
#include <cstddef>
#include <cstdint>

namespace Skts {

// The mux rate (bit/s) of a stretch of transport stream: bytes between the first and last PCR
// of the PID with the most PCRs, over the PCR time between them. 0 when the stretch has no
// usable pair of PCRs (no sync, fewer than two PCRs, a discontinuity or a jump).
int32_t EstimateMuxRate(const uint8_t* data, size_t size);

} // namespace Skts
