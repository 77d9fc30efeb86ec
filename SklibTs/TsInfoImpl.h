#pragma once
#include <array>
#include <map>
#include <set>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "ConformanceChecks.h"
#include "Indicators.h"
#include "IsdbtDecoder.h"
#include "PesCollector.h"
#include "PidInfoImpl.h"
#include "RateMeter.h"
#include "SkTable.h"
#include "SkTableSection.h"
#include "SkTsInfo.h"
#include "TableKey.h"

namespace SklibTs {

class SkTp;

// Why a PID is referenced; each kind is counted separately per PID.
enum PidReferenceKind : uint32_t {
    kRefElementaryStream = 0,
    kRefCa = 1,
    kRefPcr = 2,
    kRefPmt = 3,
    kRefPsiSi = 4,
    kRefKinds = 5,
};

class TsInfoImpl final : public SkTsInfo {
public:
    static constexpr int64_t kPidAgeOut = 3'240'000'000; // 60 s without packets

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
    uint32_t GetPidReferences(uint32_t pid, PidReferenceKind kind) const;
    int64_t CurrentTime() const { return now_; }

private:
    struct PidCallback {
        uint16_t pid;
        Callback<PacketCallbackFn> callback;
    };
    struct SectionCallback {
        uint16_t pid;
        uint8_t tableId;
        Callback<SectionCallbackFn> callback;
    };
    struct PesCallback {
        int32_t pid;
        Callback<PesCallbackFn> callback;
    };

    PidInfoImpl& PidInfoFor(uint32_t pid);
    void DeletePidInfo(uint32_t pid);
    void Report(ConformanceIndicator indicator, std::wstring message, double value, const IndicatorLocation& location);
    void SetInitialReferences();
    bool IsReferencedAsTables(uint32_t pid) const;

    // Per-packet steps.
    void HandleScrambled(uint32_t pid);
    void CollectPes(uint32_t pid, const uint8_t* payload, uint32_t size, bool unitStart);
    void FlushPes(uint32_t pid);
    void CollectSections(uint32_t pid, const uint8_t* payload, uint32_t size, bool unitStart, int64_t time);
    void NotifyPacket(uint32_t pid, const uint8_t* packet, uint32_t packetSize, const int64_t* time);

    // Table bookkeeping and program following.
    enum class DeadlineAction : int32_t { Notify = 0, Expire = 1 };
    struct Deadline {
        int64_t time;
        TableKey key;
        DeadlineAction action;
        bool operator<(const Deadline& other) const;
    };
    struct TableCallback {
        TableKey filter;
        Callback<TableCallbackFn> callback;
    };
    struct TableTimeoutCallback {
        TableKey filter;
        Callback<TableTimeoutCallbackFn> callback;
    };

    uint32_t FeedSection(uint32_t pid, const uint8_t* bytes, uint32_t count, int64_t time);
    void OnSectionComplete(uint32_t pid, std::unique_ptr<RawTableSection> section, int64_t time);
    void StoreSection(uint32_t pid, std::unique_ptr<RawTableSection> section, int64_t time);
    void OnTableComplete(const TableKey& key, std::unique_ptr<SkTable> table, int64_t time);
    void ApplyTable(int32_t tableClass, const TableKey& key, const SkTable& table);
    void SetTableDeadlines(const TableKey& key, int64_t time);
    void RemoveTableDeadlines(const TableKey& key);
    void ExpireTable(const TableKey& key);
    void ResetTableIntervals();
    void ResetTables();

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
    void UpdatePidRates(int64_t now);
    void UpdateProgramRates();
    void RunTableDeadlines(int64_t now);

    std::recursive_mutex lock_;
    std::array<std::unique_ptr<PidInfoImpl>, kPidCount> pidImpl_;
    std::unique_ptr<std::array<PesCollector, kPidCount>> pes_;
    std::array<std::array<uint32_t, kRefKinds>, kPidCount> references_{};
    std::array<std::unique_ptr<RawTableSection>, kPidCount> sections_;
    std::map<TableKey, std::unique_ptr<RawTable>> rawTables_;
    std::set<Deadline> deadlines_;
    std::map<TableKey, std::array<int64_t, 2>> deadlineIndex_; // notify and expire times per key
    std::map<TableKey, int64_t> tableLastSeen_;
    std::array<int64_t, 256> notifyInterval_{};
    std::array<int64_t, 256> expiryInterval_{};
    std::vector<TableCallback> tableCallbacks_;
    std::vector<TableTimeoutCallback> tableTimeoutCallbacks_;
    int32_t nitPid_ = -1;

    Indicators indicators_;
    ConformanceChecks checks_{indicators_, programs, pidImpl_, tableLastSeen_};
    IsdbtDecoder isdbt_;
    TransportRateMeter transportRate_;

    RateWindow rateWindow_;

    bool started_ = false;
    int64_t now_ = kNoTime;
    int64_t measurementBoundary_ = 0;
    int64_t pcrPacketIndex_ = 0;

    std::vector<Callback<PacketCallbackFn>> packetCallbacks_;
    std::vector<PidCallback> pidCallbacks_;
    std::array<bool, kPidCount> hasPidCallback_{};
    std::vector<Callback<SectionCallbackFn>> allSectionsCallbacks_;
    std::vector<SectionCallback> sectionCallbacks_;
    std::vector<Callback<PesCallbackFn>> allPesCallbacks_;
    std::vector<PesCallback> pesCallbacks_;
};

} // namespace SklibTs
