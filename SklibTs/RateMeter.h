#pragma once
#include <cstdint>
#include <vector>

#include "SkTsTypes.h"

namespace SklibTs {

// Sliding windows over fixed-size sample counts: the last `capacity` values and their sum.
// Storage is reserved up front, so pushing never allocates.
class SlidingWindow {
public:
    explicit SlidingWindow(uint32_t capacity = 0) { Resize(capacity); }

    void Resize(uint32_t capacity);
    void Clear();
    void Push(int64_t value);

    uint32_t Capacity() const { return static_cast<uint32_t>(values_.size()); }
    uint32_t Size() const { return size_; }
    bool Full() const { return size_ == values_.size() && size_ > 0; }
    int64_t Sum() const { return sum_; }
    int64_t Min() const;
    int64_t Max() const;

private:
    std::vector<int64_t> values_;
    uint32_t next_ = 0;
    uint32_t size_ = 0;
    int64_t sum_ = 0;
};

// Packet rate of one PID, measured per period: the short window gives the current bit rate,
// the long window (sums of full short windows) the minimum and maximum.
class PacketRateMeter {
public:
    PacketRateMeter(uint32_t shortCount, uint32_t longCount) : short_(shortCount), long_(longCount) {}

    void CountPacket() { ++packetsInPeriod_; }
    // Closes the running period of `period` ticks and recomputes the rates.
    void ClosePeriod(int64_t period);
    void Clear();

    int64_t Bitrate() const { return bitrate_; }
    int64_t MinBitrate() const { return minBitrate_; }
    int64_t MaxBitrate() const { return maxBitrate_; }

    // Bits per second of `packets` 188-byte packets counted over `samples` periods.
    static int64_t ToBitrate(int64_t packets, uint32_t samples, int64_t period);

private:
    SlidingWindow short_;
    SlidingWindow long_;
    int64_t packetsInPeriod_ = 0;
    int64_t bitrate_ = 0;
    int64_t minBitrate_ = 0;
    int64_t maxBitrate_ = 0;
};

// The transport bit rate: 100 ms samples over a minute, with a long-term average over up to
// an hour of one-minute sums that is dropped when the stream's rate moves by more than 1%.
class TransportRateMeter {
public:
    static constexpr int64_t kPeriod = 100 * kTicksPerMillisecond;
    static constexpr uint32_t kSamples = 600;       // one minute of periods
    static constexpr uint32_t kLongTermSums = 60;   // one hour of minutes

    TransportRateMeter() : window_(kSamples), longTerm_(kLongTermSums) {}

    void CountPacket() { ++packetsInPeriod_; }
    void Start(int64_t time) { boundary_ = time; }
    // Runs at every tick: closes the period when more than 100 ms passed since its boundary.
    void Update(int64_t now);
    void Clear();

    int32_t Bitrate() const { return bitrate_; }

private:
    SlidingWindow window_;
    SlidingWindow longTerm_;
    int64_t boundary_ = 0;
    int64_t packetsInPeriod_ = 0;
    uint32_t samplesSinceLongTerm_ = 0;
    int32_t bitrate_ = 0;
};

} // namespace SklibTs
