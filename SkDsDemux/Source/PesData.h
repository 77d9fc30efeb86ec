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
    SklibTs::SkPes pes{nullptr, 0, 0};
    bool timeBaseLocked = true;
    bool dataLost = false;
    int64_t pts = 0;
    int64_t dts = 0;
    int64_t pcrTime = 0;
    int64_t sampleOffset = 0;
    int64_t dueTimeNs = 0;
    std::shared_ptr<AvTimeStamp> timeStamp;

    ~PesData() { timeStamp.reset(); } ///< the record goes before the PES buffer
};

} // namespace DsDemux
