#pragma once
// The conformance checks of the analyser: per packet, per section, per complete table and
// per tick. They raise indicators through Indicators and keep their own timing state.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "ConformanceTypes.h"
#include "Indicators.h"
#include "PcrAnalysis.h"
#include "PidInfoImpl.h"
#include "ProgramMap.h"
#include "RepetitionRules.h"
#include "SkTsInfo.h"
#include "TableKey.h"

namespace SklibTs {

class SkTp;

class ConformanceChecks {
public:
    // tableLastSeen is the analyser's map of the time each table key was last seen; the PMT
    // checks read it and keep it for the programs whose PMT is missing.
    ConformanceChecks(Indicators& indicators, const ProgramMap& programs, PidInfoTable& pids,
                      std::map<TableKey, int64_t>& tableLastSeen);
    ~ConformanceChecks();
    ConformanceChecks(const ConformanceChecks&) = delete;
    ConformanceChecks& operator=(const ConformanceChecks&) = delete;

    // Forgets all timing state and builds the repetition rules of the SI standard.
    void Reset(int32_t siStandard);
    void SetPcrAnalysisWindow(int64_t period, uint32_t count);
    void AddPcrStatisticsCallback(int32_t pid, PcrStatisticsCallbackFn function, void* context);
    void AddAllPcrStatisticsCallback(PcrStatisticsCallbackFn function, void* context);

    // Ticks. Start runs at the first tick after a reset; the others at every later one.
    void Start(int64_t now);
    void RunPcrAnalysis(int64_t now) { pcr_.Run(now); }
    void RunPeriodicChecks(int64_t now);

    // Per packet, in this order.
    void CheckContinuity(PidInfoImpl& info, const SkTp& tp, int64_t now);
    // pid 0x20-0x1FFE; referenced: the PID is a PMT PID or of stream kind 6.
    void TrackUnreferencedPid(uint32_t pid, bool referenced, int64_t now);
    void CheckPcr(PidInfoImpl& info, int64_t time, int64_t pcr, uint64_t packetIndex, bool discontinuity)
    {
        pcr_.OnPcr(info, time, pcr, packetIndex, discontinuity);
    }
    // Sync byte not 0x47; transport_error_indicator set; a scrambled packet on the PID (a PMT
    // PID when pmtPid); synchronisation lost by the packet input.
    void ReportSyncByteError(int64_t now);
    void ReportTransportError(uint32_t pid, int64_t now);
    void OnScrambledPacket(uint32_t pid, bool pmtPid, int64_t now);
    void ReportSyncLoss(int64_t now);

    const RepetitionRuleSet& Rules() const { return rules_.Rules(); }

    // A complete section whose header was read, before it enters table assembly and before
    // its key's last-seen time moves on.
    void CheckSection(const TableKey& key, int32_t sectionNumber, const uint8_t* section, int32_t length,
                      int64_t now);
    // A table that just completed.
    void CheckTable(const TableKey& key, int64_t now);
    // A PMT or CAT references `pid` (an elementary or CA PID) at table time `tableTime`.
    void OnTableReference(uint32_t pid, int64_t tableTime, int64_t now);
    // Elementary PIDs of stream_type 6 are never reported as unreferenced.
    void ForgetUnreferencedPid(uint32_t pid);

    // A collected PES of the PID; hasPts tells whether its header carries a PTS.
    void CheckPes(PidInfoImpl& info, bool hasPts);

private:
    struct State;
    // PMT times of sections whose program the PAT does not list are dropped once there are
    // too many: a flood of PMT-like sections must not grow them without end.
    Indicators& indicators_;
    const ProgramMap& programs_;
    PidInfoTable& pids_;
    std::map<TableKey, int64_t>& tableLastSeen_;
    std::unique_ptr<State> state_;
    PcrAnalysis pcr_;
    RepetitionChecks rules_;
};

} // namespace SklibTs
