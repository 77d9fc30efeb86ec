#pragma once
// The filter's time base: turns the stream's clocks (PCR, PTS, DTS) into the host's two clocks,
// the graph's stream time (100 ns) and the steady clock (ns) that paces delivery. It keeps the
// PCR offset between the two with a hysteresis, a fallback offset measured from DTS when no PCR
// is locked, and the time-stamp records of input samples and completed PES packets.
//
// Everything but the provider pointer is used on the streaming thread, or by state changes that
// hold the same lock; the provider is read by the delivery threads too.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "AvTimeStamp.h"
#include "PesData.h"
#include "SteadyClock.h"

namespace DsDemux {

class TimeBase {
public:
    // The filter's current stream time (100 ns); false when the filter has no clock.
    using StreamTimeSource = std::function<bool(int64_t& now)>;

    // 400 ms of presentation delay added to every start time, in 100 ns.
    static constexpr int64_t kPresentationDelay = 4'000'000;
    // Start times further ahead of the stream time than this (12.4 s) are not used.
    static constexpr int64_t kFarAhead = 124'000'000;
    // Offset changes up to 250 ms are jitter; below 500 ms they are taken in part.
    static constexpr int64_t kOffsetTolerance = 2'500'000;
    static constexpr int64_t kOffsetStep = 5'000'000;
    static constexpr int64_t kOffsetPullBack = 2'250'000;
    // A PID's fallback statistics expire 2.1 s after their last DTS-stamped PES.
    static constexpr int64_t kOffsetStatLifetime = 21'000'000;
    static constexpr int kOffsetSamples = 5;

    // Where further records are derived from: the record of an input sample for its PES
    // packets, or the record of a PES for its media samples.
    struct RecordHolder {
        std::shared_ptr<AvTimeStamp> record;
        uint32_t derived = 0; // records handed out from this holder so far
        uint32_t lastSequence = 0;
        int32_t sampleNumber = 0;
    };

    // Five DTS-based offset samples of one PID.
    struct OffsetStat {
        std::array<int64_t, kOffsetSamples> slots{};
        int32_t index = 0;
        bool full = false;
        int64_t sum = 0;
        int64_t lastUpdate = 0;
    };

    TimeBase(StreamTimeSource streamTime, SteadyClock steadyClock);

    void SetProvider(AvTimeStampProvider* provider) { provider_.store(provider, std::memory_order_release); }
    AvTimeStampProvider* Provider() const { return provider_.load(std::memory_order_acquire); }

    // A new record of the given kind, from the provider when one is attached.
    std::shared_ptr<AvTimeStamp> CreateRecord(uint32_t kind) const;
    // The next record of a holder: the holder's own record first, then new records.
    std::shared_ptr<AvTimeStamp> DeriveRecord(RecordHolder& holder) const;

    // An input sample arrives: its record becomes the current one and is returned.
    std::shared_ptr<AvTimeStamp> StampInputSample();
    // The PCR-derived time (100 ns) of the current sample's first packet.
    void OnSampleTime(int64_t sampleTime, bool& flag, bool paused);

    // Stamping of a completed PES, in two halves around the lookup of its output pins:
    // the record with the PES's own times and marks, then kind, start and due times.
    void BeginPes(PesData& pes, uint32_t pid);
    void FinishPes(PesData& pes, uint32_t kind, bool paused);

    // The smallest five-sample mean offset over the PIDs with fresh DTS statistics; 0 when
    // there is none or any live PID has fewer than five samples.
    int64_t FallbackOffset();

    // At Run: the steady-clock to stream-time offset from the tightest of ten readings.
    void Calibrate();
    void InvalidatePcrOffset() { pcrOffsetValid_ = false; }

    // State, for the filter and for tests.
    bool PcrOffsetValid() const { return pcrOffsetValid_; }
    int64_t PcrOffset() const { return pcrOffset_; }
    int64_t RawPcrOffset() const { return rawPcrOffset_; }
    int64_t SteadyBaseNs() const { return steadyBaseNs_; }
    int32_t Generation() const { return timeBaseGeneration_; }
    int64_t ClockToStreamOffset() const { return clockToStreamOffset_; }
    int64_t SampleStreamTime() const { return sampleStreamTime_; }
    int64_t SampleClockTime() const { return sampleClockTime_; }
    const std::shared_ptr<AvTimeStamp>& CurrentRecord() const { return sampleRecords_.record; }
    const std::map<uint32_t, OffsetStat>& OffsetStats() const { return offsetStats_; }

    // Lets tests place the time base in a given state.
    void SetSampleTimes(int64_t streamTime, int64_t clockTime)
    {
        sampleStreamTime_ = streamTime;
        sampleClockTime_ = clockTime;
    }
    void SetClockToStreamOffset(int64_t offset) { clockToStreamOffset_ = offset; }

private:
    int64_t StreamTimeOrZero() const;

    const StreamTimeSource streamTime_;
    const SteadyClock steadyClock_;
    std::atomic<AvTimeStampProvider*> provider_{nullptr};

    int64_t sampleStreamTime_ = 0;
    int64_t sampleClockTime_ = 0;
    bool pcrOffsetValid_ = false;
    int64_t rawPcrOffset_ = 0;
    int64_t pcrOffset_ = 0;
    int64_t steadyBaseNs_ = 0;
    int32_t timeBaseGeneration_ = 1;
    bool markNextVideo_ = false;
    bool markNextAudio_ = false;
    RecordHolder sampleRecords_; // avTimeStamp, pesInSample, lastSequence and sampleNumber
    int64_t clockToStreamOffset_ = 0;
    std::map<uint32_t, OffsetStat> offsetStats_;
};

} // namespace DsDemux
