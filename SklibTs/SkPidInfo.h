#pragma once
/// @file
/// What the analyser knows about one PID. Clients read it under the analyser's lock.
#include <array>
#include <cstdint>
#include <set>
#include <vector>

#include "EsProperties.h"
#include "SkTsTypes.h"

namespace SklibTs {

/// ISDB-T hierarchical layers in which a PID can be seen.
enum IsdbtLayerSlot : uint32_t {
    kIsdbtLayerNull = 0,
    kIsdbtLayerA = 1,
    kIsdbtLayerB = 2,
    kIsdbtLayerC = 3,
    kIsdbtLayerIip = 4,
    kIsdbtLayerOther = 5,
    kIsdbtLayerSlots = 6,
};

class SkPidInfo {
public:
    explicit SkPidInfo(uint16_t pidValue) : pid(pidValue) { layerLastSeen.fill(kNoTime); }
    virtual ~SkPidInfo() = default;
    SkPidInfo(const SkPidInfo&) = delete;
    SkPidInfo& operator=(const SkPidInfo&) = delete;

    uint16_t pid;
    /// stream_type of the PMT entry, or 256 and up for streams recognised by descriptors;
    /// -1 while unknown.
    int32_t streamKind = -1;
    bool seen = false;
    uint32_t scramblingControl = 0;     ///< of the last packet
    int32_t lastCc = -1;                ///< continuity_counter of the last packet
    int32_t prevCc = -1;                ///< and of the one before
    uint64_t tableClassMask = 0;        ///< bit n: a table of class n completed on this PID
    uint32_t ecmCount = 0;
    uint32_t emmCount = 0;
    std::set<int32_t> programs;         ///< program numbers that reference this PID
    int64_t lastSeen = kNoTime;
    std::array<int64_t, kIsdbtLayerSlots> layerLastSeen{};
    uint64_t packetCount = 0;           ///< packets since this information was created
    uint64_t pcrCount = 0;              ///< PCRs among them
    int64_t bitrate = 0;                ///< bit/s over the short window
    int64_t minBitrate = 0;             ///< smallest and largest over the long window
    int64_t maxBitrate = 0;
    std::vector<uint32_t> mgtTableTypes; ///< ATSC table types the MGT assigns to this PID
    EsProperties es;                     ///< stream properties learnt from its PES packets
};

} // namespace SklibTs
