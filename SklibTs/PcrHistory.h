#pragma once
// The PCRs of one PID kept for the accuracy and jitter analysis.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ConformanceTypes.h"
#include "RateMeter.h"

namespace SklibTs {

struct PcrSample {
    int64_t arrival = 0;      // analyser time
    int64_t pcr = 0;          // 27 MHz
    uint64_t packetIndex = 0; // the analyser's running packet count
};

// First-in first-out queue of samples in a ring whose storage only grows (to the largest
// window seen), so the steady state appends and drops without allocating.
class PcrHistory {
public:
    bool Empty() const { return size_ == 0; }
    size_t Size() const { return size_; }
    const PcrSample& operator[](size_t i) const { return ring_[(head_ + i) % ring_.size()]; }
    const PcrSample& Front() const { return (*this)[0]; }
    const PcrSample& Back() const { return (*this)[size_ - 1]; }

    void PushBack(const PcrSample& sample);
    void PopFront();
    void Clear()
    {
        head_ = 0;
        size_ = 0;
    }

private:
    std::vector<PcrSample> ring_;
    size_t head_ = 0;
    size_t size_ = 0;
};

// Per-PID state of the PCR checks and the analysis.
struct PcrTrackState {
    PcrHistory history;
    uint32_t windowPeriods = 0;   // analysis periods the history spans, up to the window count
    int64_t pcrsInPeriod = 0;     // PCRs of the running period
    SlidingWindow pcrsPerPeriod;  // PCRs of the last periods of the window
    PcrStatistics statistics;
};

} // namespace SklibTs
