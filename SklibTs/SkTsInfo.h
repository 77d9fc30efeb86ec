#pragma once
// The transport-stream analyser: every packet of a stream goes through ProcessPacket, and the
// analyser keeps per-PID facts, follows the program tables, checks conformance and tells its
// clients through callbacks. Clients read its public data while holding Lock().
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ConformanceTypes.h"
#include "ProgramMap.h"
#include "SkPidInfo.h"
#include "SkTsTypes.h"
#include "TableKey.h"

namespace SklibTs {

class SkTable;
class RawTableSection;

using PacketCallbackFn = void (*)(void* context, const uint8_t* packet, uint32_t packetSize, const int64_t* time);
using SectionCallbackFn = void (*)(void* context, uint16_t pid, uint8_t tableId, RawTableSection* section);
using TableCallbackFn = void (*)(void* context, const TableKey* key, SkTable* table, uint16_t changed);
using TableTimeoutCallbackFn = void (*)(void* context, const TableKey* key, int64_t deadline);
using PesCallbackFn = void (*)(void* context, int32_t pid, const uint8_t* data, uint32_t size);

// A client function with the context handed back to it as first argument.
template <typename Fn>
struct Callback {
    Fn function = nullptr;
    void* context = nullptr;
};

// Per-PID bit-rate measurement: periods of `period` ticks, a short window of `shortCount`
// periods for the rate and a long window of `longCount` short-window sums for min/max.
struct RateWindow {
    int64_t period = 100 * kTicksPerMillisecond;
    uint32_t shortCount = 10;
    uint32_t longCount = 10;
};
static_assert(sizeof(RateWindow) == 16);

// Transmission parameters of one ISDB-T hierarchical layer, from the last IIP.
struct IsdbtLayer {
    bool present = false;
    uint32_t segments = 0;          // 1..13
    uint32_t modulation = 0;        // 0 DQPSK, 1 QPSK, 2 16QAM, 3 64QAM
    uint32_t codingRate = 0;        // 0 1/2, 1 2/3, 2 3/4, 3 5/6, 4 7/8
    uint32_t timeInterleaving = 0;  // coded length 0..3
    uint64_t bitrate = 0;           // bit/s carried by the layer
};

// What GetIsdbtInfo reports: the transmission mode, the three layers and, per PID, the
// layers it was seen in within the last minute (bit 0 A, bit 1 B, bit 2 C).
struct IsdbtInfo {
    uint32_t mode = 0;              // 1, 2 or 3
    uint32_t guardInterval = 0;     // 0 1/32, 1 1/16, 2 1/8, 3 1/4
    bool partialReception = false;
    std::array<IsdbtLayer, 3> layers{};
    std::array<uint8_t, kPidCount> pidLayers{};
};

// Results of GetIsdbtInfo.
inline constexpr int32_t kIsdbtOk = 0;
inline constexpr int32_t kIsdbtNotLocked = 4130;
inline constexpr int32_t kIsdbtInvalidParameters = 4136;

class SkTsInfo {
public:
    SkTsInfo();
    virtual ~SkTsInfo();
    SkTsInfo(const SkTsInfo&) = delete;
    SkTsInfo& operator=(const SkTsInfo&) = delete;

    virtual void Reset();
    virtual void ProcessPacket(const uint8_t* packet, uint32_t packetSize, const int64_t* time) = 0;
    virtual void UpdateTime(const int64_t* time) = 0;
    virtual void SetSync(bool inSync) = 0;
    virtual void SetSiStandard(int32_t standard) = 0;
    virtual void SetRateWindow(const RateWindow& window) = 0;
    virtual void SetPcrAnalysisWindow(int64_t period, uint32_t count) = 0;
    virtual void AddPidCallback(uint16_t pid, PacketCallbackFn function, void* context) = 0;
    virtual void AddPacketCallback(PacketCallbackFn function, void* context) = 0;
    virtual void AddSectionCallback(uint16_t pid, uint8_t tableId, SectionCallbackFn function, void* context) = 0;
    virtual void AddAllSectionsCallback(SectionCallbackFn function, void* context) = 0;
    virtual void AddTableCallback(const TableKey& filter, TableCallbackFn function, void* context) = 0;
    virtual void AddAllTablesCallback(TableCallbackFn function, void* context) = 0;
    virtual void AddTableTimeoutCallback(const TableKey& filter, TableTimeoutCallbackFn function, void* context) = 0;
    virtual void AddPesCallback(int32_t pid, PesCallbackFn function, void* context) = 0;
    virtual void AddAllPesCallback(PesCallbackFn function, void* context) = 0;
    virtual void AddPcrStatisticsCallback(int32_t pid, PcrStatisticsCallbackFn function, void* context) = 0;
    virtual void AddAllPcrStatisticsCallback(PcrStatisticsCallbackFn function, void* context) = 0;
    virtual void AddIndicatorStateCallback(uint32_t mask, IndicatorStateCallbackFn function, void* context) = 0;
    virtual void AddIndicatorReportCallback(uint32_t mask, IndicatorReportCallbackFn function, void* context) = 0;
    virtual int32_t GetIsdbtInfo(IsdbtInfo& info) = 0;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
    virtual uint32_t GetPidProgram(uint32_t pid) = 0;

    // Read under Lock().
    int32_t transportStreamId = -1;        // -1 until a PAT is parsed
    int32_t bitrate = 0;                   // transport bit rate, bit/s
    std::array<SkPidInfo*, kPidCount> pidInfo{}; // null for PIDs never seen; owned by the analyser
    ProgramMap programs;
    std::map<TableKey, std::unique_ptr<SkTable>> tables; // last complete copy of every table
    uint32_t syncByteErrors = 0;
    uint32_t transportErrors = 0;
    uint64_t packetsProcessed = 0;
    uint64_t tablesDropped = 0;            // stored or assembling tables dropped to keep within the table budget
    bool inSync = false;
    uint32_t packetSize = kTsPacketSize;   // 188 or 204, set by the packet input at sync
    int32_t siStandard = kSiNone;
    NetworkInfo network;
    std::vector<CaEntry> emms;             // from the CAT
    std::vector<std::string> preferredLanguages; // ISO 639 codes consulted for multilingual names
};

// RAII holder of the analyser's lock.
class SkTsInfoLock {
public:
    explicit SkTsInfoLock(SkTsInfo& info) : info_(info) { info_.Lock(); }
    ~SkTsInfoLock() { info_.Unlock(); }
    SkTsInfoLock(const SkTsInfoLock&) = delete;
    SkTsInfoLock& operator=(const SkTsInfoLock&) = delete;

private:
    SkTsInfo& info_;
};

// Toolkit entry points.
struct ToolkitVersion {
    int32_t major;
    int32_t minor;
    int32_t patch;
    int32_t build;
};
ToolkitVersion GetToolkitVersion();
// Analyser ticks per second (54,000,000).
int64_t GetTickRate();
// A new analyser (SI standard 0, default windows, no callbacks); the caller owns it.
SkTsInfo* CreateTsInfo();

} // namespace SklibTs
