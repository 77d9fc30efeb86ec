#pragma once
/// @file
/// The transport-stream analyser: every packet of a stream goes through ProcessPacket, and the
/// analyser keeps per-PID facts, follows the program tables, checks conformance and tells its
/// clients through callbacks. Clients read its public data while holding Lock().
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

/// @name Client callbacks
/// Every callback gets the context it was registered with as its first argument and runs on the
/// thread that feeds the analyser, with the analyser's lock held: it may read the public data
/// but must not keep the pointers it is handed beyond the call.
///@{
/// A packet (`packetSize` bytes, 188 or 204) and its arrival time in ticks (54 MHz).
using PacketCallbackFn = void (*)(void* context, const uint8_t* packet, uint32_t packetSize, const int64_t* time);
/// A complete PSI/SI section with a good CRC, as it arrived on `pid`.
using SectionCallbackFn = void (*)(void* context, uint16_t pid, uint8_t tableId, RawTableSection* section);
/// A table whose sections are all in; `changed` is 1 when it differs from the copy stored before.
using TableCallbackFn = void (*)(void* context, const TableKey* key, SkTable* table, uint16_t changed);
/// A table that did not come again by `deadline` (ticks) as its repetition rule wants.
using TableTimeoutCallbackFn = void (*)(void* context, const TableKey* key, int64_t deadline);
/// A PES packet (header and payload, `size` bytes) of a PID whose stream the analyser parses.
using PesCallbackFn = void (*)(void* context, int32_t pid, const uint8_t* data, uint32_t size);
///@}

/// A client function with the context handed back to it as first argument.
template <typename Fn>
struct Callback {
    Fn function = nullptr;  ///< null: no callback
    void* context = nullptr; ///< handed back as the first argument
};

/// Per-PID bit-rate measurement: periods of `period` ticks, a short window of `shortCount`
/// periods for the rate and a long window of `longCount` short-window sums for min/max.
struct RateWindow {
    int64_t period = 100 * kTicksPerMillisecond; ///< ticks (54 MHz); 100 ms
    uint32_t shortCount = 10; ///< periods per rate (1 s)
    uint32_t longCount = 10;  ///< rates over which the minimum and maximum are kept (10 s)
};
static_assert(sizeof(RateWindow) == 16);

/// Transmission parameters of one ISDB-T hierarchical layer, from the last IIP.
struct IsdbtLayer {
    bool present = false;           ///< the IIP describes this layer
    uint32_t segments = 0;          ///< 1..13
    uint32_t modulation = 0;        ///< 0 DQPSK, 1 QPSK, 2 16QAM, 3 64QAM
    uint32_t codingRate = 0;        ///< 0 1/2, 1 2/3, 2 3/4, 3 5/6, 4 7/8
    uint32_t timeInterleaving = 0;  ///< coded length 0..3
    uint64_t bitrate = 0;           ///< bit/s carried by the layer
};

/// What GetIsdbtInfo reports: the transmission mode, the three layers and, per PID, the
/// layers it was seen in within the last minute (bit 0 A, bit 1 B, bit 2 C).
struct IsdbtInfo {
    uint32_t mode = 0;              ///< 1, 2 or 3
    uint32_t guardInterval = 0;     ///< 0 1/32, 1 1/16, 2 1/8, 3 1/4
    bool partialReception = false;  ///< layer A is a one-segment partial reception layer
    std::array<IsdbtLayer, 3> layers{}; ///< layers A, B and C
    std::array<uint8_t, kPidCount> pidLayers{}; ///< by PID: bit 0 layer A, bit 1 B, bit 2 C
};

/// @name Results of SkTsInfo::GetIsdbtInfo
///@{
inline constexpr int32_t kIsdbtOk = 0;                  ///< the info is filled
inline constexpr int32_t kIsdbtNotLocked = 4130;        ///< no ISDB-T multiplex frame or no IIP yet
inline constexpr int32_t kIsdbtInvalidParameters = 4136; ///< the last IIP holds reserved codes
///@}

/// The transport-stream analyser. Create one with CreateTsInfo() (usually fed through a packet
/// input, CreateTsPacketInput()), register callbacks, then hand it packets. Times are ticks of a
/// 54 MHz clock. The calls take the analyser's own recursive lock, so they may come from several
/// threads; the public data below is read between calls or inside callbacks, under Lock().
/// Nothing here throws: a malformed stream becomes conformance-indicator reports.
class SkTsInfo {
public:
    SkTsInfo();
    virtual ~SkTsInfo();
    SkTsInfo(const SkTsInfo&) = delete;
    SkTsInfo& operator=(const SkTsInfo&) = delete;

    /// Forgets the stream: programs, tables, per-PID information and counters (callbacks,
    /// windows and the SI standard stay).
    virtual void Reset();
    /// Analyses one packet of `packetSize` bytes (188, or 204 with its parity bytes) that arrived
    /// at `*time` (ticks, not decreasing). A null pointer or a shorter packet is ignored; a packet
    /// without the sync byte only counts as a sync-byte error.
    virtual void ProcessPacket(const uint8_t* packet, uint32_t packetSize, const int64_t* time) = 0;
    /// Advances the analyser's clock to `*time` (ticks) without a packet, so that rates fall and
    /// repetition deadlines expire while the input is silent.
    virtual void UpdateTime(const int64_t* time) = 0;
    /// Told by the packet input when it finds or loses packet synchronisation; losing it raises
    /// TsSyncLoss.
    virtual void SetSync(bool inSync) = 0;
    /// Picks the service-information rules (an SiStandard value). A change resets the analyser
    /// and clears the indicators' latches and counts.
    virtual void SetSiStandard(int32_t standard) = 0;
    /// Sets the per-PID bit-rate windows; a period of 0 or less keeps the current period.
    virtual void SetRateWindow(const RateWindow& window) = 0;
    /// Sets the PCR analysis window: `count` periods of `period` ticks (default 10 of 1 s). A
    /// period of 0 or less is ignored.
    virtual void SetPcrAnalysisWindow(int64_t period, uint32_t count) = 0;
    /// Calls `function` for every packet of `pid` (0 to 8191; others are ignored) that the
    /// analyser took in whole: with the sync byte, without transport error, not scrambled.
    virtual void AddPidCallback(uint16_t pid, PacketCallbackFn function, void* context) = 0;
    /// AddPidCallback() for every PID.
    virtual void AddPacketCallback(PacketCallbackFn function, void* context) = 0;
    /// Calls `function` for every complete section with this table_id on `pid`.
    virtual void AddSectionCallback(uint16_t pid, uint8_t tableId, SectionCallbackFn function, void* context) = 0;
    /// Calls `function` for every complete section on a PID that carries tables.
    virtual void AddAllSectionsCallback(SectionCallbackFn function, void* context) = 0;
    /// Calls `function` for every complete table whose key matches `filter` (MatchKey()), each
    /// time it completes.
    virtual void AddTableCallback(const TableKey& filter, TableCallbackFn function, void* context) = 0;
    /// AddTableCallback() with the filter that matches every table.
    virtual void AddAllTablesCallback(TableCallbackFn function, void* context) = 0;
    /// Calls `function` when a table matching `filter` misses its repetition deadline.
    virtual void AddTableTimeoutCallback(const TableKey& filter, TableTimeoutCallbackFn function, void* context) = 0;
    /// Calls `function` for every PES packet of `pid` once it is complete (at the next payload
    /// unit start). Only PIDs of a stream kind the analyser parses (video and audio of a known
    /// PMT) collect PES packets.
    virtual void AddPesCallback(int32_t pid, PesCallbackFn function, void* context) = 0;
    /// AddPesCallback() for every PID.
    virtual void AddAllPesCallback(PesCallbackFn function, void* context) = 0;
    /// Calls `function` with the PCR accuracy and jitter of `pid` at the end of every PCR
    /// analysis period.
    virtual void AddPcrStatisticsCallback(int32_t pid, PcrStatisticsCallbackFn function, void* context) = 0;
    /// AddPcrStatisticsCallback() for every PID that carries PCRs.
    virtual void AddAllPcrStatisticsCallback(PcrStatisticsCallbackFn function, void* context) = 0;
    /// Calls `function` when an indicator of `mask` (bit n: indicator n, IndicatorBit()) becomes
    /// active or falls back (5 s after its last report; loss of sync when sync returns).
    virtual void AddIndicatorStateCallback(uint32_t mask, IndicatorStateCallbackFn function, void* context) = 0;
    /// Calls `function` for every report of an indicator of `mask`, as it is raised.
    virtual void AddIndicatorReportCallback(uint32_t mask, IndicatorReportCallbackFn function, void* context) = 0;
    /// Fills `info` from the ISDB-T information packets (IIP) seen; returns kIsdbtOk,
    /// kIsdbtNotLocked or kIsdbtInvalidParameters.
    virtual int32_t GetIsdbtInfo(IsdbtInfo& info) = 0;
    /// Takes the analyser's lock (recursive); hold it to read the public data. See SkTsInfoLock.
    virtual void Lock() = 0;
    /// Releases what Lock() took.
    virtual void Unlock() = 0;
    /// The lowest program number whose program refers to `pid`, or kNoPid.
    virtual uint32_t GetPidProgram(uint32_t pid) = 0;

    /// @name Public data, read under Lock()
    ///@{
    int32_t transportStreamId = -1;        ///< -1 until a PAT is parsed
    int32_t bitrate = 0;                   ///< transport bit rate, bit/s
    std::array<SkPidInfo*, kPidCount> pidInfo{}; ///< null for PIDs never seen; owned by the analyser
    ProgramMap programs;                   ///< by program number, from PAT, PMT and SDT
    std::map<TableKey, std::unique_ptr<SkTable>> tables; ///< last complete copy of every table
    uint32_t syncByteErrors = 0;           ///< packets without the sync byte
    uint32_t transportErrors = 0;          ///< packets with transport_error_indicator set
    uint64_t packetsProcessed = 0;         ///< packets handed to ProcessPacket()
    uint64_t tablesDropped = 0;            ///< stored or assembling tables dropped to keep within the table budget
    bool inSync = false;                   ///< the packet input has packet synchronisation
    uint32_t packetSize = kTsPacketSize;   ///< 188 or 204, set by the packet input at sync
    int32_t siStandard = kSiNone;          ///< the SiStandard in force
    NetworkInfo network;                   ///< from the NIT actual
    std::vector<CaEntry> emms;             ///< from the CAT
    std::vector<std::string> preferredLanguages; ///< ISO 639 codes consulted for multilingual names
    ///@}
};

/// Holds the analyser's lock for its lifetime.
class SkTsInfoLock {
public:
    /// Takes `info`'s lock; the destructor releases it.
    explicit SkTsInfoLock(SkTsInfo& info) : info_(info) { info_.Lock(); }
    ~SkTsInfoLock() { info_.Unlock(); }
    SkTsInfoLock(const SkTsInfoLock&) = delete;
    SkTsInfoLock& operator=(const SkTsInfoLock&) = delete;

private:
    SkTsInfo& info_;
};

/// The toolkit's own version (the product's version is separate).
struct ToolkitVersion {
    int32_t major; ///< incompatible interface changes
    int32_t minor; ///< compatible additions
    int32_t patch; ///< fixes
    int32_t build; ///< build number
};
/// The version of the toolkit linked in: 1.11.3.53.
ToolkitVersion GetToolkitVersion();
/// Analyser ticks per second (54,000,000).
int64_t GetTickRate();
/// A new analyser (SI standard 0, default windows, no callbacks), or null when memory runs out;
/// the caller owns it and deletes it through this interface.
SkTsInfo* CreateTsInfo();

} // namespace SklibTs
