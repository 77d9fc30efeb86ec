#pragma once
#include <array>
#include <cstdint>

#include "SkTsTypes.h"

namespace DsDemux {

/// The PCRs of one PID: the rate between consecutive PCRs and whether it is stable.
struct PcrTrack {
    int64_t lastTicks = SklibTs::kNoTime; ///< arrival time of the last PCR, ticks (54 MHz)
    int64_t stableSince = 0;   ///< steady clock (ns) when the rate was last found stable
    int64_t rate = 10'000'000; ///< bit/s between the last two PCRs
    bool stable = false;       ///< the last three rates agree within 1000 bit/s
    int64_t pcr = 0;           ///< the last PCR, 27 MHz
    int64_t pcrPacket = -1;    ///< the engine's packet count at that PCR
    std::array<int64_t, 3> samples{}; ///< the last three rates, bit/s
    int32_t sampleIndex = 0;   ///< where the next rate goes in samples
};

} // namespace DsDemux
