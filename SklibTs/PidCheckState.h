#pragma once
// Per-PID state of the conformance checks, kept in the analyser's PID information.
#include <cstdint>

#include "PcrHistory.h"
#include "SkTsTypes.h"

namespace SklibTs {

struct PidCheckState {
    // Continuity (the counters themselves are the PID information's lastCc and prevCc).
    bool ccInitialised = false;
    uint32_t ccErrors = 0;
    // PTS: last packet time of a PES whose header carried a PTS.
    int64_t lastPtsTime = kNoTime;
    // stream_type of the PID's PMT entry, -1 while no PMT lists it.
    int32_t pmtStreamType = -1;
    PcrTrackState pcr;
};

} // namespace SklibTs
