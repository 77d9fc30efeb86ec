#pragma once
#include <cstdint>

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

    PacketRateMeter rateMeter;
    PidCheckState checks;
};

} // namespace SklibTs
