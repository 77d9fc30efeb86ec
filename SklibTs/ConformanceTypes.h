#pragma once
/// @file
/// The conformance indicators the analyser raises and what their clients receive.
#include <array>
#include <cstdint>
#include <string>

namespace SklibTs {

/// The 27 indicators, numbered as reports, masks and IndicatorName() number them and modelled
/// on the checks of ETSI TR 101 290 named with each.
enum class ConformanceIndicator : uint32_t {
    TsSyncLoss = 0, ///< TR 101 290 1.1: packet synchronisation lost
    SyncByteError = 1, ///< 1.2: a packet without the sync byte
    PatError = 2, ///< 1.3: PAT missing, late, scrambled or of another table_id
    ContinuityCountError = 3, ///< 1.4: continuity_counter out of order
    PmtError = 4, ///< 1.5: a PMT missing, late or scrambled
    PidError = 5, ///< 1.6 (PID_error): not raised
    TransportError = 6, ///< 2.1: transport_error_indicator set
    CrcError = 7, ///< 2.2: a section with a wrong CRC_32
    PcrRepetitionError = 8, ///< 2.3a: PCRs of a PID more than 100 ms apart
    PcrDiscontinuityError = 9, ///< 2.3b: a PCR step over 100 ms without discontinuity_indicator
    PcrAccuracyError = 10, ///< 2.4: PCR accuracy beyond ±500 ns
    PtsError = 11, ///< 2.5: PTSs of a PID more than 700 ms apart
    CatError = 12, ///< 2.6: scrambled packets without a CAT, or a CAT of another table_id
    NitActualError = 13, ///< 3.1a: NIT actual missing, late or of another table_id
    NitOtherError = 14, ///< 3.1b: NIT other late
    SiRepetitionError = 15, ///< 3.2: an SI table repeated faster or slower than its rule allows
    BufferError = 16, ///< 3.3 (Buffer_error): not raised
    UnreferencedPid = 17, ///< 3.4: a PID no table refers to
    SdtActualError = 18, ///< 3.5a: SDT actual missing, late or of another table_id
    SdtOtherError = 19, ///< 3.5b: SDT other late
    EitActualError = 20, ///< 3.6a: EIT actual missing, late or of another table_id
    EitOtherError = 21, ///< 3.6b: EIT other late
    EitPfError = 22, ///< 3.6c (EIT_PF_error): not raised
    RstTdtError = 23, ///< 3.7 and 3.8: RST or TDT late
    TdtPidError = 24, ///< 3.8: a section of another table_id on the TDT PID
    EmptyBufferError = 25, ///< 3.9 (Empty_buffer_error): not raised
    DataDelayError = 26, ///< 3.10 (Data_delay_error): not raised
};
/// Number of indicators.
inline constexpr uint32_t kIndicatorCount = 27;

/// The index of an indicator (0 to 26).
constexpr uint32_t IndicatorIndex(ConformanceIndicator indicator) { return static_cast<uint32_t>(indicator); }
/// The indicator's bit in the masks of the indicator callbacks.
constexpr uint32_t IndicatorBit(ConformanceIndicator indicator) { return 1u << IndicatorIndex(indicator); }

/// Name of an indicator as it appears in reports ("TsSyncLoss", ...); "" when out of range.
const char* IndicatorName(uint32_t index);

/// Where a report applies: a table key for section checks, {pid, -} for packet checks;
/// 0xFFFFFFFF marks a field that does not apply.
struct IndicatorLocation {
    uint32_t pid = 0xFFFFFFFF;                ///< the PID concerned
    uint32_t table_id = 0xFFFFFFFF;           ///< as in TableKey
    uint32_t table_id_extension = 0xFFFFFFFF; ///< as in TableKey
    uint32_t ext2 = 0xFFFFFFFF;               ///< as in TableKey
    uint32_t ext3 = 0xFFFFFFFF;               ///< as in TableKey

    /// A report about the whole stream.
    static IndicatorLocation None() { return {}; }
    /// A report about one PID.
    static IndicatorLocation ForPid(uint32_t pid) { return {pid}; }
    /// Every field equal.
    bool operator==(const IndicatorLocation&) const = default;
};

/// The state of one indicator, as of its last report.
struct IndicatorRecord {
    bool active = false;   ///< raised within its hold time (5 s; loss of sync until sync returns)
    bool latched = false;  ///< raised since the last change of SI standard
    uint32_t count = 0;    ///< reports since the last change of SI standard
    int64_t time = 0;      ///< analyser time of the last report, ticks
    std::wstring message;  ///< what the last report found, in words
    double value = 0.0;    ///< the last report's measured value where it has one (ms, ns, bit/s)
    IndicatorLocation location; ///< where the last report applies
};

/// PCR accuracy and jitter of one PID over the analysis window.
struct PcrStatistics {
    double maxAccuracyNs = 0.0;      ///< largest PCR accuracy deviation, ns
    double rmsAccuracyNs = 0.0;      ///< its root mean square, ns
    double maxJitterNs = 0.0;        ///< largest PCR jitter against the arrival times, ns
    double rmsJitterNs = 0.0;        ///< its root mean square, ns
    double jitterPeakToPeakNs = 0.0; ///< jitter range, ns
    int32_t pcrBitrate = -1;  ///< bit/s from the PCR slope, -1 when unknown
    double pcrRate = 0.0;     ///< PCRs per second
    uint64_t pcrCount = 0;    ///< PCRs seen on the PID
};

/// One PCR of the latest analysis period with its deviations.
struct PcrSampleDeviation {
    int64_t time = 0;        ///< arrival time, ticks
    double accuracyNs = 0.0; ///< deviation from the PCR line of the encoder clock, ns
    double jitterNs = 0.0;   ///< deviation from the arrival time, ns
};

/// An indicator became active or fell back (SkTsInfo::AddIndicatorStateCallback()).
using IndicatorStateCallbackFn = void (*)(void* context, uint32_t index, const IndicatorRecord& record);
/// An indicator was reported (SkTsInfo::AddIndicatorReportCallback()).
using IndicatorReportCallbackFn = void (*)(void* context, uint32_t index, const IndicatorRecord& record);
/// The PCR statistics of a PID over the last analysis period, with `sampleCount` per-PCR
/// deviations (SkTsInfo::AddPcrStatisticsCallback()).
using PcrStatisticsCallbackFn = void (*)(void* context, uint32_t pid, const PcrStatistics& statistics,
                                         const PcrSampleDeviation* samples, uint32_t sampleCount);

} // namespace SklibTs
