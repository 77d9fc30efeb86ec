#pragma once
// The conformance indicators the analyser raises and what their clients receive.
#include <array>
#include <cstdint>
#include <string>

namespace SklibTs {

enum class ConformanceIndicator : uint32_t {
    TsSyncLoss = 0,
    SyncByteError = 1,
    PatError = 2,
    ContinuityCountError = 3,
    PmtError = 4,
    PidError = 5,
    TransportError = 6,
    CrcError = 7,
    PcrRepetitionError = 8,
    PcrDiscontinuityError = 9,
    PcrAccuracyError = 10,
    PtsError = 11,
    CatError = 12,
    NitActualError = 13,
    NitOtherError = 14,
    SiRepetitionError = 15,
    BufferError = 16,
    UnreferencedPid = 17,
    SdtActualError = 18,
    SdtOtherError = 19,
    EitActualError = 20,
    EitOtherError = 21,
    EitPfError = 22,
    RstTdtError = 23,
    TdtPidError = 24,
    EmptyBufferError = 25,
    DataDelayError = 26,
};
inline constexpr uint32_t kIndicatorCount = 27;

// The index of an indicator, and its bit in the masks of the indicator callbacks.
constexpr uint32_t IndicatorIndex(ConformanceIndicator indicator) { return static_cast<uint32_t>(indicator); }
constexpr uint32_t IndicatorBit(ConformanceIndicator indicator) { return 1u << IndicatorIndex(indicator); }

// Name of an indicator as it appears in reports ("TsSyncLoss", ...); "" when out of range.
const char* IndicatorName(uint32_t index);

// Where a report applies: a table key for section checks, {pid, -} for packet checks;
// 0xFFFFFFFF marks a field that does not apply.
struct IndicatorLocation {
    uint32_t pid = 0xFFFFFFFF;
    uint32_t table_id = 0xFFFFFFFF;
    uint32_t table_id_extension = 0xFFFFFFFF;
    uint32_t ext2 = 0xFFFFFFFF;
    uint32_t ext3 = 0xFFFFFFFF;

    static IndicatorLocation None() { return {}; }
    static IndicatorLocation ForPid(uint32_t pid) { return {pid}; }
    bool operator==(const IndicatorLocation&) const = default;
};

struct IndicatorRecord {
    bool active = false;   // raised within its hold time
    bool latched = false;  // raised since the last change of SI standard
    uint32_t count = 0;
    int64_t time = 0;      // analyser time of the last report
    std::wstring message;
    double value = 0.0;
    IndicatorLocation location;
};

// PCR accuracy and jitter of one PID over the analysis window.
struct PcrStatistics {
    double maxAccuracyNs = 0.0;
    double rmsAccuracyNs = 0.0;
    double maxJitterNs = 0.0;
    double rmsJitterNs = 0.0;
    double jitterPeakToPeakNs = 0.0;
    int32_t pcrBitrate = -1;  // bit/s from the PCR slope, -1 when unknown
    double pcrRate = 0.0;     // PCRs per second
    uint64_t pcrCount = 0;    // PCRs seen on the PID
};

// One PCR of the latest analysis period with its deviations.
struct PcrSampleDeviation {
    int64_t time = 0;
    double accuracyNs = 0.0;
    double jitterNs = 0.0;
};

using IndicatorStateCallbackFn = void (*)(void* context, uint32_t index, const IndicatorRecord& record);
using IndicatorReportCallbackFn = void (*)(void* context, uint32_t index, const IndicatorRecord& record);
using PcrStatisticsCallbackFn = void (*)(void* context, uint32_t pid, const PcrStatistics& statistics,
                                         const PcrSampleDeviation* samples, uint32_t sampleCount);

} // namespace SklibTs
