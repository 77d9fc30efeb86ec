#pragma once
// Per-PID state of the conformance checks, kept in the analyser's PID information.
#include <cstdint>

#include "ConformanceTypes.h"
#include "SkTsTypes.h"

namespace SklibTs {

struct PidCheckState {
    // Continuity (the counters themselves are the PID information's lastCc and prevCc).
    bool ccInitialised = false;
    uint32_t ccErrors = 0;
    // PTS: last packet time of a PES whose header carried a PTS.
    int64_t lastPtsTime = kNoTime;
    // PCR: the last one seen (none after a signalled discontinuity).
    int64_t lastPcrArrival = kNoTime;
    int64_t lastPcr = kNoTime;
    PcrStatistics pcrStatistics;
};

} // namespace SklibTs
