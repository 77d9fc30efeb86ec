#pragma once
// Why PIDs are referenced, counted per kind. Sections are collected on PIDs with a PMT or
// PSI/SI reference; a PID with a PMT reference is never unreferenced.
#include <array>
#include <cstdint>

#include "SkTsTypes.h"

namespace SklibTs {

enum PidReferenceKind : uint32_t {
    kRefElementaryStream = 0,
    kRefCa = 1,
    kRefPcr = 2,
    kRefPmt = 3,
    kRefPsiSi = 4,
    kRefKinds = 5,
};

class PidReferences {
public:
    // Only the references every stream of the SI standard has: PAT and CAT PIDs, and for the
    // DVB standards the SI PIDs with the NIT PID, for ATSC the PSIP base PID.
    void Reset(int32_t siStandard);
    void Add(uint32_t pid, PidReferenceKind kind);
    // Never below zero.
    void Remove(uint32_t pid, PidReferenceKind kind);
    uint32_t Count(uint32_t pid, PidReferenceKind kind) const
    {
        return pid < kPidCount && kind < kRefKinds ? counts_[pid][kind] : 0;
    }
    bool CarriesTables(uint32_t pid) const { return counts_[pid][kRefPmt] > 0 || counts_[pid][kRefPsiSi] > 0; }
    // Moves the NIT's PSI/SI reference to the PID the PAT names.
    void MoveNitPid(int32_t pid);

private:
    std::array<std::array<uint32_t, kRefKinds>, kPidCount> counts_{};
    int32_t nitPid_ = -1;
};

} // namespace SklibTs
