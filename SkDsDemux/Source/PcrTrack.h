#pragma once
#include <array>
#include <cstdint>

#include "SkTsTypes.h"

namespace DsDemux {

/// The PCRs of one PID: the rate between consecutive PCRs and whether it is stable.
struct PcrTrack {
    int64_t lastTicks = SklibTs::kNoTime;
    int64_t stableSince = 0;
    int64_t rate = 10'000'000;
    bool stable = false;
    int64_t pcr = 0;
    int64_t pcrPacket = -1;
    std::array<int64_t, 3> samples{};
    int32_t sampleIndex = 0;
};

} // namespace DsDemux
