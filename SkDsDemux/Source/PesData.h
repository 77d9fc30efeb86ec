#pragma once
#include <cstdint>
#include <memory>

#include "AvTimeStamp.h"
#include "SkPes.h"
#include "SkTsTypes.h"

namespace DsDemux {

/// One PES under assembly or completed, with what the engine knew when it completed.
/// Always held by shared pointer; read-only once completed.
struct PesData {
    SklibTs::SkPes pes{nullptr, 0, 0}; ///< the PES packet: header and payload (SkPes::GetPayload())
    bool timeBaseLocked = true; ///< the engine's time base was locked when it completed
    bool dataLost = false;      ///< packets of it (or before it) were lost: a continuity error
    int64_t pts = 0;            ///< 90 kHz, INT64_MIN when the PES has none
    int64_t dts = 0;            ///< 90 kHz, the PTS when the PES has no DTS
    int64_t pcrTime = 0;        ///< 90 kHz time, on the timing PCR, of the packet that completed it; INT64_MIN without a stable one
    int64_t sampleOffset = 0;   ///< 100 ns from the start of the sample it completed in
    int64_t dueTimeNs = 0;      ///< steady-clock time of delivery, set by the filter
    std::shared_ptr<AvTimeStamp> timeStamp; ///< the host's time-stamp record, if one is attached

    ~PesData() { timeStamp.reset(); } ///< the record goes before the PES buffer

    /// Back to the state of a new PesData for the next PES, keeping the PES block up to
    /// keepBytes (SkPes::Recycle()). The record goes first, as in the destructor. A member
    /// added above needs its line here.
    void Recycle(int32_t keepBytes = SklibTs::SkPes::kMaxCapacity)
    {
        timeStamp.reset();
        pes.Recycle(keepBytes);
        timeBaseLocked = true;
        dataLost = false;
        pts = 0;
        dts = 0;
        pcrTime = 0;
        sampleOffset = 0;
        dueTimeNs = 0;
    }
};

} // namespace DsDemux
