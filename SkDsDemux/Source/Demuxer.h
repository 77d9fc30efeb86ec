#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "ComPlatform.h"
#include "PcrTrack.h"
#include "PidEntry.h"
#include "SteadyClock.h"

namespace SklibTs {
class SkTsInfo;
class SkTsPacketInput;
class SkTp;
struct TableKey;
class SkTable;
} // namespace SklibTs

/// The demultiplexer engine: sample intake, PCR tracking, bit rate and PES assembly.
namespace DsDemux {

/// The demultiplexer engine: pushes sample bytes through the packet input into the analyser,
/// follows the PCRs for the bit rate and the sample times, and assembles the PES packets of
/// mapped PIDs.
class Demuxer {
public:
    using SampleTimeCallback = std::function<void(int64_t time, bool& flag)>;

    static constexpr int32_t kDefaultBitrate = 10'000'000;
    /// The bit rate is a 32-bit field: a wall-clock rate above this (reading from cache can
    /// exceed 2^31 bit/s) is held at it, and a PCR-derived rate above it, which no transport
    /// stream carries, is rejected rather than taken.
    static constexpr int64_t kMaxBitRate = 2'000'000'000;
    static constexpr uint32_t kNoPid = 0xFFFFFFFF;

    explicit Demuxer(SteadyClock steadyClock = SteadyNowNs);
    virtual ~Demuxer();
    Demuxer(const Demuxer&) = delete;
    Demuxer& operator=(const Demuxer&) = delete;

    HRESULT Init();
    HRESULT ProcessSample(const uint8_t* data, int32_t length);
    void Reset();

    /// PID mapping: installs or removes the entry of a PID.
    PidEntry& AddPid(uint32_t pid, PesCompleteFn onPesComplete, void* context);
    void RemovePid(int pid);
    PidEntry* Entry(uint32_t pid) const { return pid < pidTable.size() ? pidTable[pid].get() : nullptr; }

    void UpdatePcrPids();
    void SetSampleTimeCallback(SampleTimeCallback callback) { sampleTimeCallback = std::move(callback); }

    static void OnPacket(void* context, const uint8_t* packet, uint32_t size, const int64_t* ticks);
    static void OnTablesChanged(void* context, const SklibTs::TableKey* key, SklibTs::SkTable* table, uint16_t changed);

    /// State, readable by the filter and by tests.
    SklibTs::SkTsInfo* Analyser() const { return analyser.get(); }
    int32_t BitRate() const { return bitRate; }
    uint32_t TimingPcrPid() const { return timingPcrPid; }
    uint32_t PreferredPcrPid() const { return preferredPcrPid; }
    bool TimeBaseLocked() const { return timeBaseLocked; }
    int64_t PacketCount() const { return packetCount; }
    const std::map<uint32_t, PcrTrack>& PcrTracks() const { return pcrTracks; }

private:
    void ProcessPcr(const SklibTs::SkTp& tp, int64_t ticks);
    void ProcessPes(const SklibTs::SkTp& tp);
    void ApplyBitRate(int32_t rate);
    void MeasureWallClockRate(int64_t now);
    void AgePcrTracks();

    /// The packet input feeds the analyser: it is declared after it, so it goes first.
    std::unique_ptr<SklibTs::SkTsInfo> analyser;
    std::unique_ptr<SklibTs::SkTsPacketInput> packetInput;
    int64_t lastPacketTicks = 0;
    int32_t packetDuration = 8121;
    int32_t bitRate = kDefaultBitrate;
    uint32_t preferredPcrPid = kNoPid;
    int64_t packetCount = 0;
    uint32_t timingPcrPid = kNoPid;
    int64_t sampleFirstPacket = 0;
    bool sampleTimePending = false;
    bool packetsLost = false;
    SampleTimeCallback sampleTimeCallback;
    std::vector<std::unique_ptr<PidEntry>> pidTable;
    std::vector<uint32_t> mappedPids; ///< the PIDs with an entry, ascending
    std::map<uint32_t, PcrTrack> pcrTracks;
    int64_t currentPacketTicks = SklibTs::kNoTime;
    bool timeBaseLocked = false;
    int64_t averageRate = kDefaultBitrate;
    int64_t lastMeasureCount = 0;
    int64_t lastMeasureTime = 0;
    std::array<int64_t, 3> rateSamples{};
    int32_t rateSampleIndex = 0;
    SteadyClock steadyClock_;
};

} // namespace DsDemux
