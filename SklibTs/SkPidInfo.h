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

/// What the analyser knows about one PID (SkTsInfo::pidInfo). Read it under the analyser's lock;
/// the analyser creates and deletes it (a PID no program refers to is forgotten after 60 s
/// without packets).
class SkPidInfo {
public:
    /// Information about `pidValue`, nothing seen yet.
    explicit SkPidInfo(uint16_t pidValue) : pid(pidValue) { layerLastSeen.fill(kNoTime); }
    virtual ~SkPidInfo() = default;
    SkPidInfo(const SkPidInfo&) = delete;
    SkPidInfo& operator=(const SkPidInfo&) = delete;

    uint16_t pid;                       ///< the PID described
    /// stream_type of the PMT entry, or 256 and up for streams recognised by descriptors;
    /// -1 while unknown.
    int32_t streamKind = -1;
    bool seen = false;                  ///< a packet of it arrived (it may be known from tables only)
    uint32_t scramblingControl = 0;     ///< of the last packet
    int32_t lastCc = -1;                ///< continuity_counter of the last packet
    int32_t prevCc = -1;                ///< and of the one before
    uint64_t tableClassMask = 0;        ///< bit n: a table of class n completed on this PID
    uint32_t ecmCount = 0;              ///< CA entries of PMTs that name it as their ECM PID
    uint32_t emmCount = 0;              ///< CA entries of the CAT that name it as their EMM PID
    std::set<int32_t> programs;         ///< program numbers that reference this PID
    int64_t lastSeen = kNoTime;         ///< arrival of its last packet, ticks
    std::array<int64_t, kIsdbtLayerSlots> layerLastSeen{}; ///< ISDB-T: last packet per IsdbtLayerSlot, ticks
    uint64_t packetCount = 0;           ///< packets since this information was created
    uint64_t pcrCount = 0;              ///< PCRs among them
    int64_t bitrate = 0;                ///< bit/s over the short window
    int64_t minBitrate = 0;             ///< smallest over the long window, bit/s
    int64_t maxBitrate = 0;             ///< largest over the long window, bit/s
    std::vector<uint32_t> mgtTableTypes; ///< ATSC table types the MGT assigns to this PID
    EsProperties es;                     ///< stream properties learnt from its PES packets
};

} // namespace SklibTs
