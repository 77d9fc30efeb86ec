#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "ComPlatform.h"
#include "PcrTrack.h"
#include "PesPool.h"
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
///
/// Use: construct, Init(), AddPid() for each PID wanted, then ProcessSample() with the stream's
/// bytes in any chunking; every completed PES of a mapped PID is handed to that PID's
/// PesCompleteFn. All calls and callbacks happen on the caller's thread; the engine takes no lock
/// of its own, so one thread (or the caller's lock) at a time. Results are COM result codes
/// (S_OK, E_POINTER, E_OUTOFMEMORY, E_FAIL, 0x8007139F for "not initialised"); nothing throws.
class Demuxer {
public:
    /// Told the stream time (REFERENCE_TIME, 100 ns) of the first packet of a sample, derived
    /// from the timing PCR, once per sample while a PCR track is stable; `flag` is for the receiver.
    using SampleTimeCallback = std::function<void(int64_t time, bool& flag)>;

    static constexpr int32_t kDefaultBitrate = 10'000'000; ///< bit/s, until the stream tells better
    /// The bit rate is a 32-bit field: a wall-clock rate above this (reading from cache can
    /// exceed 2^31 bit/s) is held at it, and a PCR-derived rate above it, which no transport
    /// stream carries, is rejected rather than taken.
    static constexpr int64_t kMaxBitRate = 2'000'000'000;
    static constexpr uint32_t kNoPid = 0xFFFFFFFF; ///< "no PID" in the PID results

    /// An engine that reads the monotonic clock through `steadyClock` (nanoseconds); tests pass
    /// their own. Nothing is allocated before Init().
    explicit Demuxer(SteadyClock steadyClock = SteadyNowNs);
    virtual ~Demuxer();
    Demuxer(const Demuxer&) = delete;
    Demuxer& operator=(const Demuxer&) = delete;

    /// Creates the analyser and its packet input and forgets every mapped PID. S_OK, or E_FAIL
    /// when memory runs out or the toolkit linked in is not the one the engine was built for.
    HRESULT Init();
    /// Feeds `length` bytes of the stream: packets are found, analysed and, for mapped PIDs,
    /// assembled into PES packets, whose callbacks run before this returns. S_OK; E_POINTER for
    /// null data; E_OUTOFMEMORY; 0x8007139F before Init(). A damaged packet is skipped.
    HRESULT ProcessSample(const uint8_t* data, int32_t length);
    /// Starts afresh for a new stream (as at a stop): bit rate, PCR tracks, the analyser and the
    /// PES under assembly are reset; the mapped PIDs stay, with their PCR PIDs looked up again.
    void Reset();

    /// Maps `pid` (0 to 8191): from the next packet on, each completed PES of it goes to
    /// `onPesComplete` with `context`. Mapping a PID again replaces its entry.
    PidEntry& AddPid(uint32_t pid, PesCompleteFn onPesComplete, void* context);
    /// Unmaps `pid`, dropping a PES under assembly; an unmapped or invalid PID is ignored.
    void RemovePid(int pid);
    /// The entry of a mapped PID, or null.
    PidEntry* Entry(uint32_t pid) const { return pid < pidTable.size() ? pidTable[pid].get() : nullptr; }

    /// Looks up the PCR PID of every mapped PID in the analyser's program map (done by the
    /// engine itself whenever a table completes).
    void UpdatePcrPids();
    /// Sets the receiver of the sample times (see SampleTimeCallback).
    void SetSampleTimeCallback(SampleTimeCallback callback) { sampleTimeCallback = std::move(callback); }

    /// The analyser's packet callback (context: the engine); public for the analyser only.
    static void OnPacket(void* context, const uint8_t* packet, uint32_t size, const int64_t* ticks);
    /// The analyser's table callback (context: the engine); public for the analyser only.
    static void OnTablesChanged(void* context, const SklibTs::TableKey* key, SklibTs::SkTable* table, uint16_t changed);

    /// @name State, read between calls
    ///@{
    /// The analyser the engine feeds (null before Init()): read its data under its lock.
    SklibTs::SkTsInfo* Analyser() const { return analyser.get(); }
    /// The bit rate packet times follow, bit/s: from the timing PCR once stable, else measured
    /// on the wall clock (at most kMaxBitRate), else kDefaultBitrate.
    int32_t BitRate() const { return bitRate; }
    /// The PCR PID whose stable track sets the bit rate and the sample times, or kNoPid.
    uint32_t TimingPcrPid() const { return timingPcrPid; }
    /// The PCR PID of the first mapped PID that has one, or kNoPid.
    uint32_t PreferredPcrPid() const { return preferredPcrPid; }
    /// The preferred PCR PID's track is stable: stream times follow the stream's own clock.
    bool TimeBaseLocked() const { return timeBaseLocked; }
    /// Packets counted so far, gaps in the arrival times included.
    int64_t PacketCount() const { return packetCount; }
    /// The PCR tracks by PID (a track ages out after 500 ms of stream time without a PCR).
    const std::map<uint32_t, PcrTrack>& PcrTracks() const { return pcrTracks; }
    ///@}

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
    /// Every PES comes from it and goes back to it when its last holder drops it, on any thread.
    PesPool pesPool;
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
