#include "ConformanceChecks.h"

#include <map>

#include "Crc32.h"
#include "PidSet.h"
#include "SkTp.h"
#include "TableKey.h"

namespace SklibTs {

namespace {

constexpr int64_t kHalfSecond = kTicksPerSecond / 2;
constexpr int64_t kPeriodicInterval = 100 * kTicksPerMillisecond;
constexpr int64_t kPtsInterval = 700 * kTicksPerMillisecond;
constexpr int64_t kNitInterval = 10 * kTicksPerSecond;
constexpr int64_t kNitMinimumInterval = 25 * kTicksPerMillisecond;
constexpr uint32_t kAny = TableKey::kAny;

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

const wchar_t* const kPatAbsent = L"Sections with table_id 0x00 do not occur at least every 0,5s on PID 0x0000";
const wchar_t* const kNitActualAbsent = L"Section with table_id 0x40 do not occur at least every 10s on PID 0x0010";

std::wstring PmtAbsent(uint32_t pid)
{
    return FormatIndicatorMessage("Sections with table_id 0x02 do not occur at least every 0,5s on PID 0x%04X", pid);
}

std::wstring NitOtherAbsent(int32_t sectionNumber)
{
    return FormatIndicatorMessage(
        "Section with table_id 0x41 and section number %i do not occur at least 10s on PID 0x0010", sectionNumber);
}

std::wstring Unreferenced(uint32_t pid)
{
    return FormatIndicatorMessage("PID %i not referenced at least every %ims", static_cast<int>(pid), 500);
}

} // namespace

// Timing state of the checks that are not kept per PID.
struct ConformanceChecks::State {
    int32_t siStandard = kSiNone;
    int64_t lastPatTime = kNoTime;
    int64_t patDeadline = kNoTime;
    int64_t lastCatTime = kNoTime;
    int64_t catDeadline = kNoTime; // armed by scrambled packets and CAT sections
    int64_t lastNitActualTime = kNoTime;
    int64_t nitActualDeadline = kNoTime;
    std::map<int32_t, int64_t> nitOther;   // section_number -> last time
    // PIDs watched for references, with the time by which each must be referenced again.
    PidSet watched;
    std::array<int64_t, kPidCount> referenceTime;
    PidSet withPts; // PIDs whose last-PTS time is set
    int64_t lastPeriodicCheck = kNoTime;

    State() { referenceTime.fill(kNoTime); }
};

ConformanceChecks::ConformanceChecks(Indicators& indicators, const ProgramMap& programs, PidInfoTable& pids,
                                     std::map<TableKey, int64_t>& tableLastSeen)
    : indicators_(indicators), programs_(programs), pids_(pids), tableLastSeen_(tableLastSeen),
      state_(std::make_unique<State>()),
      pcr_(indicators, pids), rules_(indicators, pids)
{
}

ConformanceChecks::~ConformanceChecks() = default;

void ConformanceChecks::Reset(int32_t siStandard)
{
    *state_ = State{};
    state_->siStandard = siStandard;
    rules_.Build(siStandard);
}

void ConformanceChecks::SetPcrAnalysisWindow(int64_t period, uint32_t count) { pcr_.SetWindow(period, count); }

void ConformanceChecks::AddPcrStatisticsCallback(int32_t pid, PcrStatisticsCallbackFn function, void* context)
{
    pcr_.AddCallback(pid, function, context);
}

void ConformanceChecks::AddAllPcrStatisticsCallback(PcrStatisticsCallbackFn function, void* context)
{
    pcr_.AddAllCallback(function, context);
}

void ConformanceChecks::Start(int64_t now)
{
    State& state = *state_;
    state.lastPatTime = now;
    state.patDeadline = now + kHalfSecond;
    state.catDeadline = kNoTime;
    state.lastPeriodicCheck = now;
    state.nitActualDeadline = now + kNitInterval;
    state.lastNitActualTime = kNoTime;
    rules_.ResetTiming(now);
    pcr_.Start(now);
}

void ConformanceChecks::RunPeriodicChecks(int64_t now)
{
    State& state = *state_;
    if (now - state.lastPeriodicCheck < kPeriodicInterval)
        return;
    state.lastPeriodicCheck = now;

    if (state.patDeadline != kNoTime && state.patDeadline < now) {
        indicators_.Report(ConformanceIndicator::PatError, kPatAbsent, Seconds(now - state.lastPatTime),
                           {0, 0}, now);
        state.patDeadline = now + kHalfSecond;
    }
    if (state.catDeadline != kNoTime && state.catDeadline < now) {
        indicators_.Report(ConformanceIndicator::CatError,
                           L"Sections with table_id 0x01 do not occur at least every 0,5s on PID 0x0001",
                           Seconds(now - state.lastCatTime), {1, 1}, now);
        state.catDeadline = kNoTime;
    }
    state.withPts.ForEach([&](uint32_t pid) {
        PidInfoImpl* info = pids_[pid].get();
        if (info == nullptr || info->checks.lastPtsTime == kNoTime) {
            state.withPts.Erase(pid);
            return;
        }
        const int64_t since = now - info->checks.lastPtsTime;
        if (since > kPtsInterval) {
            indicators_.Report(ConformanceIndicator::PtsError,
                               FormatIndicatorMessage("PTS repetition interval is too large for PID %i", info->pid),
                               Seconds(since), IndicatorLocation::ForPid(info->pid), now);
            info->checks.lastPtsTime = now + kPtsInterval;
        }
    });
    if (state.nitActualDeadline != kNoTime && state.nitActualDeadline < now) {
        const double since = state.lastNitActualTime == kNoTime ? -1.0 : Seconds(now - state.lastNitActualTime);
        indicators_.Report(ConformanceIndicator::NitActualError, kNitActualAbsent, since, {0x10, 0x40}, now);
        state.nitActualDeadline = now + kNitInterval;
    }
    for (auto& [sectionNumber, time] : state.nitOther) {
        if (time + kNitInterval < now) {
            indicators_.Report(ConformanceIndicator::NitOtherError, NitOtherAbsent(sectionNumber),
                               Seconds(now - time), {0x10, 0x41}, now);
            time = now;
        }
    }
    rules_.CheckAbsence(now);
    state.watched.ForEach([&](uint32_t pid) {
        int64_t& referenceTime = state.referenceTime[pid];
        if (referenceTime + kHalfSecond < now) {
            indicators_.Report(ConformanceIndicator::UnreferencedPid, Unreferenced(pid),
                               static_cast<double>(now - referenceTime) / static_cast<double>(kTicksPerMillisecond),
                               IndicatorLocation::ForPid(pid), now);
            referenceTime = now + kHalfSecond;
        }
    });
    for (const auto& [number, program] : programs_) {
        const uint32_t pmtPid = static_cast<uint32_t>(program.pmt_pid);
        const TableKey key{pmtPid, 0x02, static_cast<uint32_t>(number), kAny, kAny};
        const auto [entry, inserted] = tableLastSeen_.try_emplace(key, now);
        if (inserted) {
            indicators_.Report(ConformanceIndicator::PmtError, PmtAbsent(pmtPid), 0.0, LocationOf(key), now);
        } else if (now - entry->second > kHalfSecond) {
            indicators_.Report(ConformanceIndicator::PmtError, PmtAbsent(pmtPid), Seconds(now - entry->second),
                               LocationOf(key), now);
            entry->second = now;
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

void ConformanceChecks::TrackUnreferencedPid(uint32_t pid, bool referenced, int64_t now)
{
    State& state = *state_;
    if (referenced) {
        state.watched.Erase(pid);
    } else if (!state.watched.Contains(pid)) {
        state.watched.Insert(pid);
        state.referenceTime[pid] = now + kHalfSecond;
    }
}

void ConformanceChecks::ReportSyncByteError(int64_t now)
{
    indicators_.Report(ConformanceIndicator::SyncByteError, L"Sync_byte not equal to 0x47", 0.0,
                       IndicatorLocation::None(), now);
}

void ConformanceChecks::ReportTransportError(uint32_t pid, int64_t now)
{
    indicators_.Report(ConformanceIndicator::TransportError,
                       FormatIndicatorMessage("Transport_error_indicator on PID %d is set", static_cast<int>(pid)),
                       0.0, IndicatorLocation::ForPid(pid), now);
}

void ConformanceChecks::ReportSyncLoss(int64_t now)
{
    indicators_.Report(ConformanceIndicator::TsSyncLoss, L"Loss of synchronization", 0.0, IndicatorLocation::None(),
                       now);
}

void ConformanceChecks::OnScrambledPacket(uint32_t pid, bool pmtPid, int64_t now)
{
    if (pid == 0) {
        indicators_.Report(ConformanceIndicator::PatError, L"Scrambling_control_field is not 00 for PID 0x0000", 0.0,
                           IndicatorLocation::ForPid(0), now);
    }
    if (pmtPid) {
        indicators_.Report(ConformanceIndicator::PmtError,
                           FormatIndicatorMessage("Scrambling_control_field is not 00 for PMT PID 0x%04X", pid), 0.0,
                           IndicatorLocation::ForPid(pid), now);
    }
    if (state_->catDeadline == kNoTime) {
        state_->lastCatTime = now;
        state_->catDeadline = now + kHalfSecond;
    }
}

void ConformanceChecks::CheckSection(const TableKey& key, int32_t sectionNumber, const uint8_t* section,
                                     int32_t length, int64_t now)
{
    State& state = *state_;
    const uint32_t pid = key.pid;
    const uint32_t tid = key.table_id;
    const IndicatorLocation location = LocationOf(key);

    switch (pid) {
    case 0x0000:
        if (tid != 0x00) {
            indicators_.Report(ConformanceIndicator::PatError,
                               L"Section with table_id other than 0x00 found on PID 0x0000", 0.0, location, now);
        }
        break;
    case 0x0010:
        if (tid == 0x40) {
            if (state.nitActualDeadline != kNoTime && state.nitActualDeadline < now) {
                const double since =
                    state.lastNitActualTime == kNoTime ? -1.0 : Seconds(now - state.lastNitActualTime);
                indicators_.Report(ConformanceIndicator::NitActualError, kNitActualAbsent, since, location, now);
            }
            if (state.lastNitActualTime != kNoTime && state.lastNitActualTime + kNitMinimumInterval > now) {
                indicators_.Report(ConformanceIndicator::NitActualError,
                                   L"Section with table_id 0x40 do occur more then 25ms on PID 0x0010", 0.0,
                                   location, now);
            }
            state.lastNitActualTime = now;
            state.nitActualDeadline = now + kNitInterval;
        } else if (tid == 0x41) {
            const auto found = state.nitOther.find(sectionNumber);
            if (found != state.nitOther.end() && found->second + kNitInterval < now) {
                indicators_.Report(ConformanceIndicator::NitOtherError, NitOtherAbsent(sectionNumber),
                                   Seconds(now - found->second), location, now);
            }
            state.nitOther[sectionNumber] = now;
        } else if (tid != 0x72) {
            indicators_.Report(ConformanceIndicator::NitActualError,
                               L"Section with table_id other then 0x40, 0x41 or 0x72 found on PID 0x0010", 0.0,
                               location, now);
        }
        break;
    case 0x0011:
        if (tid != 0x42 && tid != 0x46 && tid != 0x4A && tid != 0x72) {
            indicators_.Report(ConformanceIndicator::SdtActualError,
                               L"Section with table_id other then 0x42, 0x46, 0x4A or 0x72 found on PID 0x0011", 0.0,
                               location, now);
        }
        break;
    case 0x0012:
        if ((tid < 0x4E || tid > 0x6F) && tid != 0x72) {
            indicators_.Report(ConformanceIndicator::EitActualError,
                               L"Section with table_id other then 0x4E-0x6F or 0x72 found on PID 0x0012", 0.0,
                               location, now);
        }
        break;
    case 0x0013:
        if (tid != 0x71 && tid != 0x72) {
            indicators_.Report(ConformanceIndicator::SdtActualError,
                               L"Section with table_id other then 0x71 or 0x72 found on PID 0x0013", 0.0, location,
                               now);
        }
        break;
    case 0x0014:
        if (tid != 0x70 && tid != 0x72 && tid != 0x73) {
            indicators_.Report(ConformanceIndicator::TdtPidError,
                               L"Section with table_id other then 0x70, 0x72 or 0x73 found on PID 0x0014", 0.0,
                               location, now);
        }
        break;
    default: break;
    }

    if (pid == 0x0000 && tid == 0x00) {
        if (state.patDeadline != kNoTime && state.patDeadline < now) {
            indicators_.Report(ConformanceIndicator::PatError, kPatAbsent, Seconds(now - state.lastPatTime), {0, 0},
                               now);
        }
        state.lastPatTime = now;
        state.patDeadline = now + kHalfSecond;
    }
    if (pid == 0x0001) {
        if (tid != 0x01) {
            indicators_.Report(ConformanceIndicator::CatError,
                               L"Section with table_id other than 0x01 found on PID 0x0001", 0.0, location, now);
        } else {
            state.lastCatTime = now;
            state.catDeadline = now + kHalfSecond;
        }
    }
    if (tid == 0x02) {
        const auto found = tableLastSeen_.find(key);
        if (found != tableLastSeen_.end() && now - found->second > kHalfSecond) {
            indicators_.Report(ConformanceIndicator::PmtError, PmtAbsent(pid), Seconds(now - found->second),
                               location, now);
        }
    }
    rules_.CheckSection(key, sectionNumber, now);
    if (NeedsCrcCheck(tid, state.siStandard) && !CheckCrc32(section, length)) {
        indicators_.Report(ConformanceIndicator::CrcError,
                           FormatIndicatorMessage("CRC error detected. PID %d with table_id: 0x%02X",
                                                  static_cast<int>(pid), tid),
                           0.0, location, now);
    }
}

void ConformanceChecks::CheckTable(const TableKey& key, int64_t now) { rules_.CheckTable(key, now); }

void ConformanceChecks::OnTableReference(uint32_t pid, int64_t tableTime, int64_t now)
{
    if (pid >= kPidCount)
        return;
    State& state = *state_;
    int64_t& referenceTime = state.referenceTime[pid];
    if (state.watched.Contains(pid) && referenceTime + kHalfSecond < now) {
        // Measured from the last PAT, the start of the chain of references.
        indicators_.Report(ConformanceIndicator::UnreferencedPid, Unreferenced(pid),
                           state.lastPatTime == kNoTime ? -1.0 : Seconds(now - state.lastPatTime),
                           IndicatorLocation::ForPid(pid), now);
    }
    state.watched.Insert(pid);
    referenceTime = tableTime;
}

void ConformanceChecks::ForgetUnreferencedPid(uint32_t pid)
{
    if (pid < kPidCount)
        state_->watched.Erase(pid);
}

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
    if (hasPts) {
        checks.lastPtsTime = info.lastSeen;
        state_->withPts.Insert(info.pid);
    }
}

} // namespace SklibTs
