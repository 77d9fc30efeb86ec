#pragma once
#include <array>
#include <map>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "ClientCallbacks.h"
#include "ConformanceChecks.h"
#include "Indicators.h"
#include "IsdbtDecoder.h"
#include "PesCollector.h"
#include "PidInfoImpl.h"
#include "PidReferences.h"
#include "PidSet.h"
#include "RateMeter.h"
#include "SectionAssembler.h"
#include "SkTable.h"
#include "SkTableSection.h"
#include "SkTsInfo.h"
#include "TableBudget.h"
#include "TableDeadlines.h"
#include "TableKey.h"

namespace SklibTs {

class SkTp;

class TsInfoImpl final : public SkTsInfo {
public:
    static constexpr int64_t kPidAgeOut = 60 * kTicksPerSecond; // without packets

    TsInfoImpl();
    ~TsInfoImpl() override;

    void Reset() override;
    void ProcessPacket(const uint8_t* packet, uint32_t packetSize, const int64_t* time) override;
    void UpdateTime(const int64_t* time) override;
    void SetSync(bool inSync) override;
    void SetSiStandard(int32_t standard) override;
    void SetRateWindow(const RateWindow& window) override;
    void SetPcrAnalysisWindow(int64_t period, uint32_t count) override;
    void AddPidCallback(uint16_t pid, PacketCallbackFn function, void* context) override;
    void AddPacketCallback(PacketCallbackFn function, void* context) override;
    void AddSectionCallback(uint16_t pid, uint8_t tableId, SectionCallbackFn function, void* context) override;
    void AddAllSectionsCallback(SectionCallbackFn function, void* context) override;
    void AddTableCallback(const TableKey& filter, TableCallbackFn function, void* context) override;
    void AddAllTablesCallback(TableCallbackFn function, void* context) override;
    void AddTableTimeoutCallback(const TableKey& filter, TableTimeoutCallbackFn function, void* context) override;
    void AddPesCallback(int32_t pid, PesCallbackFn function, void* context) override;
    void AddAllPesCallback(PesCallbackFn function, void* context) override;
    void AddPcrStatisticsCallback(int32_t pid, PcrStatisticsCallbackFn function, void* context) override;
    void AddAllPcrStatisticsCallback(PcrStatisticsCallbackFn function, void* context) override;
    void AddIndicatorStateCallback(uint32_t mask, IndicatorStateCallbackFn function, void* context) override;
    void AddIndicatorReportCallback(uint32_t mask, IndicatorReportCallbackFn function, void* context) override;
    int32_t GetIsdbtInfo(IsdbtInfo& info) override;
    void Lock() override { lock_.lock(); }
    void Unlock() override { lock_.unlock(); }
    uint32_t GetPidProgram(uint32_t pid) override;

    // Inspection for tools and tests (read under Lock()).
    const Indicators& GetIndicators() const { return indicators_; }
    uint32_t GetPidReferences(uint32_t pid, PidReferenceKind kind) const { return references_.Count(pid, kind); }
    int64_t CurrentTime() const { return now_; }

private:
    PidInfoImpl& PidInfoFor(uint32_t pid);
    void DeletePidInfo(uint32_t pid);

    // Per-packet steps.
    void CollectPes(uint32_t pid, const uint8_t* payload, uint32_t size, bool unitStart);
    void FlushPes(uint32_t pid);

    // Table bookkeeping and program following.
    static void OnSection(void* context, uint32_t pid, std::unique_ptr<RawTableSection> section);
    void StoreSection(uint32_t pid, std::unique_ptr<RawTableSection> section);
    // The key's table under assembly, made (from the spare when there is one) if there is none.
    RawTable& RawTableFor(const TableKey& key);
    // Empties the table, its sections going back to the assembler.
    void RecycleSections(RawTable& raw);
    void CompleteTable(const TableKey& key, const RawTable& raw, int64_t time);
    static std::unique_ptr<SkTable> CopyOf(const RawTable& raw, int64_t time);
    // An unchanged repetition's completion and section receive times go to the stored copy.
    static void TakeTimes(SkTable& stored, const RawTable& raw, int64_t time);
    void ApplyTable(int32_t tableClass, const TableKey& key, const SkTable& table);
    void ExpireTable(const TableKey& key);
    void ResetTables();
    // Marks the key's tables as the newest and drops the oldest keys while over the budget.
    void KeepTableBudget(const TableKey& key);
    void DropTable(const TableKey& key);

    void ApplyPat(const SkTable& table);
    void ApplyCat(const SkTable& table);
    void ApplyPmt(const TableKey& key, const SkTable& table);
    void ApplySdtActual(const SkTable& table);
    void ApplyNitActual(const SkTable& table);
    void ApplyMgt(const SkTable& table);
    void AddProgram(int32_t programNumber, int32_t pmtPid);
    void RemoveProgram(int32_t programNumber);
    void DropProgramStreams(Program& program);
    // The stream_type another program's PMT gives the PID, or none.
    void ForgetPmtStreamType(uint32_t pid);
    void DropEmmList();
    void AddReference(uint32_t pid, PidReferenceKind kind, int32_t programNumber);
    void RemoveReference(uint32_t pid, PidReferenceKind kind, int32_t programNumber);
    void ReapplyProgramTables();
    void ClearServiceInformation();
    bool HasStoredTableOfClass(uint32_t pid, int32_t tableClass, const TableKey& except) const;

    // Time-driven steps.
    void StartTimeBases(int64_t now);
    // UpdateTime's work, for callers that hold the lock.
    void AdvanceTime(int64_t now);
    void UpdatePidRates(int64_t now);
    void UpdateProgramRates();
    void RunTableDeadlines(int64_t now);

    std::recursive_mutex lock_;
    std::array<std::unique_ptr<PidInfoImpl>, kPidCount> pidImpl_;
    PidSet knownPids_; // the PIDs with information, so rate periods visit only those
    std::unique_ptr<std::array<PesCollector, kPidCount>> pes_;
    PidReferences references_;
    SectionAssembler sections_{&TsInfoImpl::OnSection, this};
    std::map<TableKey, std::unique_ptr<RawTable>> rawTables_;
    // The emptied node of the last table completed: the next table opened takes it.
    std::map<TableKey, std::unique_ptr<RawTable>>::node_type spareRawTable_;
    TableDeadlines deadlines_;
    std::map<TableKey, int64_t> tableLastSeen_;
    TableBudget tableBudget_;
    ClientCallbacks callbacks_;

    Indicators indicators_;
    ConformanceChecks checks_{indicators_, programs, pidImpl_, tableLastSeen_};
    IsdbtDecoder isdbt_;
    TransportRateMeter transportRate_;

    RateWindow rateWindow_;

    bool started_ = false;
    int64_t now_ = kNoTime;
    int64_t measurementBoundary_ = 0;
    int64_t pcrPacketIndex_ = 0;
};

} // namespace SklibTs
