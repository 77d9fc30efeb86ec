#pragma once
#include <cstdint>
#include <memory>

#include "PesData.h"

namespace DsDemux {

struct PidEntry;
using PesCompleteFn = void (*)(uint32_t pid, PidEntry& entry, uint32_t pcrPid, void* context);

/// The engine's record of a PID mapped to at least one output.
struct PidEntry {
    std::shared_ptr<PesData> pes;
    uint32_t pcrPid = 0xFFFFFFFF;
    uint8_t lastCc = 0;
    uint8_t prevCc = 0;
    /// lastCc holds a counter of this PID's stream (false after mapping and after a reset).
    bool counterKnown = false;
    uint32_t pid = 0;
    PesCompleteFn onPesComplete = nullptr;
    void* context = nullptr;
};

} // namespace DsDemux
