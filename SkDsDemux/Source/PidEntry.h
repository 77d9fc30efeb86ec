#pragma once
#include <cstdint>
#include <memory>

#include "PesData.h"

namespace DsDemux {

struct PidEntry;
/// Receives each completed PES of a mapped PID: `entry.pes` holds it (take a copy of the shared
/// pointer to keep it), `pcrPid` is the PID's PCR PID or 0xFFFFFFFF. Runs inside
/// Demuxer::ProcessSample().
using PesCompleteFn = void (*)(uint32_t pid, PidEntry& entry, uint32_t pcrPid, void* context);

/// The engine's record of a PID mapped to at least one output.
struct PidEntry {
    std::shared_ptr<PesData> pes;  ///< the PES under assembly (the completed one in the callback)
    uint32_t pcrPid = 0xFFFFFFFF;  ///< from the program map; 0xFFFFFFFF until known
    uint8_t lastCc = 0;            ///< continuity_counter of the last packet with payload
    uint8_t prevCc = 0;            ///< and of the one before
    /// lastCc holds a counter of this PID's stream (false after mapping and after a reset).
    bool counterKnown = false;
    uint32_t pid = 0;                      ///< the mapped PID
    PesCompleteFn onPesComplete = nullptr; ///< receives each completed PES
    void* context = nullptr;               ///< handed to onPesComplete
};

} // namespace DsDemux
