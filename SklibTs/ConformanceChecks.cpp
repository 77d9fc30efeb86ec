#include "ConformanceChecks.h"

#include "SkTp.h"

namespace SklibTs {

struct ConformanceChecks::State {
    int32_t siStandard = kSiNone;
    int64_t pcrAnalysisPeriod = 54'000'000;
    uint32_t pcrAnalysisWindow = 10;
};

ConformanceChecks::ConformanceChecks(Indicators& indicators, const ProgramMap& programs, PidInfoTable& pids)
    : indicators_(indicators), programs_(programs), pids_(pids), state_(std::make_unique<State>())
{
}

ConformanceChecks::~ConformanceChecks() = default;

void ConformanceChecks::Reset(int32_t siStandard) { state_->siStandard = siStandard; }

void ConformanceChecks::SetPcrAnalysisWindow(int64_t period, uint32_t count)
{
    state_->pcrAnalysisPeriod = period;
    state_->pcrAnalysisWindow = count;
}

void ConformanceChecks::AddPcrStatisticsCallback(int32_t, PcrStatisticsCallbackFn, void*) {}
void ConformanceChecks::AddAllPcrStatisticsCallback(PcrStatisticsCallbackFn, void*) {}
void ConformanceChecks::Start(int64_t) {}
void ConformanceChecks::RunPcrAnalysis(int64_t) {}
void ConformanceChecks::RunPeriodicChecks(int64_t now) { indicators_.Expire(now); }
void ConformanceChecks::CheckContinuity(PidInfoImpl& info, const SkTp& tp, int64_t)
{
    const int32_t cc = tp.GetContinuityCounter();
    info.prevCc = info.lastCc;
    info.lastCc = cc;
    if (!info.checks.ccInitialised) {
        info.checks.ccInitialised = true;
        info.prevCc = (cc + 15) % 16;
    }
}
void ConformanceChecks::TrackUnreferencedPid(uint32_t, bool, int64_t) {}
void ConformanceChecks::CheckPcr(PidInfoImpl& info, int64_t, int64_t, int64_t, bool)
{
    ++info.checks.pcrStatistics.pcrCount;
}
void ConformanceChecks::OnScrambledPacket(int64_t) {}
void ConformanceChecks::CheckSection(const TableKey&, int32_t, const uint8_t*, int32_t, int64_t) {}
void ConformanceChecks::CheckTable(const TableKey&, int64_t) {}
void ConformanceChecks::OnTableReference(uint32_t, int64_t, int64_t) {}
void ConformanceChecks::ForgetUnreferencedPid(uint32_t) {}
void ConformanceChecks::CheckPes(PidInfoImpl&, bool) {}

} // namespace SklibTs
