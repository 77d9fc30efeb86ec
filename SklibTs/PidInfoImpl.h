#pragma once
#include <array>
#include <cstdint>
#include <memory>

#include "PidCheckState.h"
#include "RateMeter.h"
#include "SkPidInfo.h"

namespace SklibTs {

// The analyser's own record of a PID: the public facts plus the state of its measurements.
class PidInfoImpl final : public SkPidInfo {
public:
    PidInfoImpl(uint16_t pidValue, uint32_t shortWindow, uint32_t longWindow)
        : SkPidInfo(pidValue), rateMeter(shortWindow, longWindow)
    {
    }

    // Ends a measurement period of `period` ticks and takes the rates it gives.
    void CloseRatePeriod(int64_t period)
    {
        rateMeter.ClosePeriod(period);
        bitrate = rateMeter.Bitrate();
        minBitrate = rateMeter.MinBitrate();
        maxBitrate = rateMeter.MaxBitrate();
    }

    PacketRateMeter rateMeter;
    PidCheckState checks;
};

// The analyser's PID information, indexed by PID; empty for PIDs not seen.
using PidInfoTable = std::array<std::unique_ptr<PidInfoImpl>, kPidCount>;

} // namespace SklibTs
