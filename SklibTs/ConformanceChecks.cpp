#include "ConformanceChecks.h"

#include "Crc32.h"
#include "SkTp.h"
#include "TableKey.h"

namespace SklibTs {

namespace {

constexpr int64_t kHalfSecond = 27'000'000;
constexpr int64_t kPeriodicInterval = 5'400'000;   // 100 ms
constexpr int64_t kPtsInterval = 37'800'000;       // 700 ms
constexpr int64_t kPcrHalfModulus = kPcrModulus / 2;
constexpr int64_t kPcrDiscontinuityLimit = 2'700'000; // 100 ms of the 27 MHz clock

IndicatorLocation LocationOf(const TableKey& key)
{
    return {key.pid, key.table_id, key.table_id_extension, key.ext2, key.ext3};
}

double Seconds(int64_t ticks) { return static_cast<double>(ticks) / static_cast<double>(kTicksPerSecond); }

bool NeedsCrcCheck(uint32_t tableId, int32_t standard)
{
    if (tableId <= 0x02)
        return true;
    if (standard != kSiDvb && standard != kSiDvbDerived)
        return false;
    switch (tableId) {
    case 0x40: case 0x42: case 0x46: case 0x4A: case 0x4E: case 0x4F: case 0x73: return true;
    case 0x41: return standard == kSiDvb;
    default: return tableId >= 0x50 && tableId <= 0x6F;
    }
}

} // namespace

// Timing state of the checks that are not kept per PID.
struct ConformanceChecks::State {
    int32_t siStandard = kSiNone;
    int64_t pcrAnalysisPeriod = 54'000'000;
    uint32_t pcrAnalysisWindow = 10;
    int64_t lastPatTime = kNoTime;
    int64_t patDeadline = kNoTime;
    int64_t lastPeriodicCheck = kNoTime;
};

ConformanceChecks::ConformanceChecks(Indicators& indicators, const ProgramMap& programs, PidInfoTable& pids)
    : indicators_(indicators), programs_(programs), pids_(pids), state_(std::make_unique<State>())
{
}

ConformanceChecks::~ConformanceChecks() = default;

void ConformanceChecks::Reset(int32_t siStandard)
{
    const State previous = *state_;
    *state_ = State{};
    state_->siStandard = siStandard;
    state_->pcrAnalysisPeriod = previous.pcrAnalysisPeriod;
    state_->pcrAnalysisWindow = previous.pcrAnalysisWindow;
}

void ConformanceChecks::SetPcrAnalysisWindow(int64_t period, uint32_t count)
{
    state_->pcrAnalysisPeriod = period;
    state_->pcrAnalysisWindow = count;
}

void ConformanceChecks::AddPcrStatisticsCallback(int32_t, PcrStatisticsCallbackFn, void*) {}
void ConformanceChecks::AddAllPcrStatisticsCallback(PcrStatisticsCallbackFn, void*) {}

void ConformanceChecks::Start(int64_t now)
{
    state_->lastPatTime = now;
    state_->patDeadline = now + kHalfSecond;
    state_->lastPeriodicCheck = now;
}

void ConformanceChecks::RunPcrAnalysis(int64_t) {}

void ConformanceChecks::RunPeriodicChecks(int64_t now)
{
    if (now - state_->lastPeriodicCheck < kPeriodicInterval)
        return;
    state_->lastPeriodicCheck = now;
    if (state_->patDeadline != kNoTime && state_->patDeadline < now) {
        indicators_.Report(ConformanceIndicator::PatError,
                           L"Sections with table_id 0x00 do not occur at least every 0,5s on PID 0x0000",
                           Seconds(now - state_->lastPatTime), {0, 0}, now);
        state_->patDeadline = now + kHalfSecond;
    }
    for (auto& info : pids_) {
        if (!info || info->checks.lastPtsTime == kNoTime)
            continue;
        const int64_t since = now - info->checks.lastPtsTime;
        if (since > kPtsInterval) {
            indicators_.Report(ConformanceIndicator::PtsError,
                               FormatIndicatorMessage("PTS repetition interval is too large for PID %i", info->pid),
                               Seconds(since), IndicatorLocation::ForPid(info->pid), now);
            info->checks.lastPtsTime = now + kPtsInterval;
        }
    }
    indicators_.Expire(now);
}

void ConformanceChecks::CheckContinuity(PidInfoImpl& info, const SkTp& tp, int64_t now)
{
    const int32_t cc = tp.GetContinuityCounter();
    const uint32_t pid = static_cast<uint32_t>(tp.GetPid());
    if (info.checks.ccInitialised && pid != kNullPid && !tp.GetDiscontinuityIndicator()) {
        const int32_t last = info.lastCc;
        int32_t expected = last;
        bool error = false;
        if (!tp.HasPayload()) {
            error = cc != last;
            info.checks.ccErrors += error ? 1 : 0;
        } else {
            expected = (last + 1) % 16;
            if (cc == last) {
                // One duplicate is allowed; a second one in a row is two errors.
                if (cc == info.prevCc) {
                    info.checks.ccErrors += 2;
                    error = true;
                }
            } else if (cc != expected) {
                ++info.checks.ccErrors;
                error = true;
            }
        }
        if (error) {
            indicators_.Report(ConformanceIndicator::ContinuityCountError,
                               FormatIndicatorMessage("Incorrect continuity-count on PID %d (expected: %d, found: %d)",
                                                      static_cast<int>(pid), expected, cc),
                               0.0, IndicatorLocation::ForPid(pid), now);
        }
    }
    info.prevCc = info.lastCc;
    info.lastCc = cc;
    if (!info.checks.ccInitialised) {
        info.checks.ccInitialised = true;
        info.prevCc = (cc + 15) % 16;
    }
}

void ConformanceChecks::TrackUnreferencedPid(uint32_t, bool, int64_t) {}

void ConformanceChecks::CheckPcr(PidInfoImpl& info, int64_t time, int64_t pcr, int64_t, bool discontinuity)
{
    PidCheckState& checks = info.checks;
    if (checks.lastPcr != kNoTime) {
        int64_t delta = pcr - checks.lastPcr;
        if (pcr >= checks.lastPcr && delta >= kPcrHalfModulus)
            delta -= kPcrModulus;
        if (pcr < checks.lastPcr && checks.lastPcr - pcr > kPcrHalfModulus)
            delta += kPcrModulus;
        if (!discontinuity && delta > kPcrDiscontinuityLimit) {
            const double ms = static_cast<double>(delta) / 27000.0;
            indicators_.Report(
                ConformanceIndicator::PcrDiscontinuityError,
                FormatIndicatorMessage("Un-signalled PCR discontinuity on PID %d (allowed: 100ms, actual: %.1fms)",
                                       static_cast<int>(info.pid), ms),
                ms, IndicatorLocation::ForPid(info.pid), time);
        }
        const double intervalMs = Seconds(time - checks.lastPcrArrival) * 1000.0;
        if (intervalMs > 100.0) {
            indicators_.Report(
                ConformanceIndicator::PcrRepetitionError,
                FormatIndicatorMessage("Interval between PCRs on PID %d is too long (allowed: 100.0ms, actual: %.1fms)",
                                       static_cast<int>(info.pid), intervalMs),
                intervalMs, IndicatorLocation::ForPid(info.pid), time);
        }
    }
    ++checks.pcrStatistics.pcrCount;
    checks.lastPcrArrival = time;
    checks.lastPcr = pcr;
}

void ConformanceChecks::OnScrambledPacket(int64_t) {}

void ConformanceChecks::CheckSection(const TableKey& key, int32_t, const uint8_t* section, int32_t length,
                                     int64_t now)
{
    if (key.pid == 0 && key.table_id != 0x00) {
        indicators_.Report(ConformanceIndicator::PatError, L"Section with table_id other than 0x00 found on PID 0x0000",
                           0.0, LocationOf(key), now);
    }
    if (key.pid == 0 && key.table_id == 0x00) {
        if (state_->patDeadline != kNoTime && state_->patDeadline < now) {
            indicators_.Report(ConformanceIndicator::PatError,
                               L"Sections with table_id 0x00 do not occur at least every 0,5s on PID 0x0000",
                               Seconds(now - state_->lastPatTime), {0, 0}, now);
        }
        state_->lastPatTime = now;
        state_->patDeadline = now + kHalfSecond;
    }
    if (NeedsCrcCheck(key.table_id, state_->siStandard) && !CheckCrc32(section, length)) {
        indicators_.Report(ConformanceIndicator::CrcError,
                           FormatIndicatorMessage("CRC error detected. PID %d with table_id: 0x%02X",
                                                  static_cast<int>(key.pid), key.table_id),
                           0.0, LocationOf(key), now);
    }
}

void ConformanceChecks::CheckTable(const TableKey&, int64_t) {}
void ConformanceChecks::OnTableReference(uint32_t, int64_t, int64_t) {}
void ConformanceChecks::ForgetUnreferencedPid(uint32_t) {}

void ConformanceChecks::CheckPes(PidInfoImpl& info, bool hasPts)
{
    PidCheckState& checks = info.checks;
    if (checks.lastPtsTime != kNoTime && info.lastSeen - checks.lastPtsTime > kPtsInterval) {
        indicators_.Report(ConformanceIndicator::PtsError,
                           FormatIndicatorMessage("PTS repetition interval is too large for PID %i", info.pid),
                           Seconds(info.lastSeen - checks.lastPtsTime), IndicatorLocation::ForPid(info.pid),
                           info.lastSeen);
        checks.lastPtsTime = info.lastSeen + kPtsInterval;
    }
    if (hasPts)
        checks.lastPtsTime = info.lastSeen;
}

} // namespace SklibTs
