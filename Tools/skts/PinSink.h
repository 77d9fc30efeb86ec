#pragma once
// What `skts play` keeps of one output pin: the payload written to its file, and the marks and
// times of the samples that carried it, summed up as they arrive so memory stays flat.
#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Host/SampleSink.h"
#include "MediaTypes.h"

namespace Skts {

// Percentiles of millisecond values in 0.1 ms bins from -1 s to +1 s (outliers go to the end
// bins; the maximum is kept exactly).
class LatenessHistogram {
public:
    void Add(double ms);
    bool Empty() const { return count_ == 0; }
    double Percentile(double fraction) const;
    double Max() const { return max_; }

private:
    static constexpr int kBins = 20'000;
    static constexpr double kLowMs = -1000.0;
    std::vector<uint32_t> bins_ = std::vector<uint32_t>(kBins);
    uint64_t count_ = 0;
    double max_ = -std::numeric_limits<double>::infinity();
};

// A PES the pin is going to deliver, as the reference engine saw it complete.
struct ExpectedPes {
    uint32_t size = 0;
    int64_t pts = std::numeric_limits<int64_t>::min();
    int64_t dts = std::numeric_limits<int64_t>::min();
};

class PinSink {
public:
    // How the sink tells where a PES begins: from the expected PES list (real-time play), from
    // the per-sample notification that precedes every sample (the time-stamp provider of fast
    // play), or from the samples' own marks and sizes.
    enum class PesBoundaries { Expected, Notified, Marks };

    PinSink(std::string name, std::vector<uint32_t> pids, PinMediaType type, PesBoundaries boundaries);
    ~PinSink();
    PinSink(const PinSink&) = delete;
    PinSink& operator=(const PinSink&) = delete;

    // Writes the payload to path; false with Error() set when it cannot be created.
    bool OpenOutput(const std::string& path);

    // On the delivery thread: one sample and when it arrived (stream time, 100 ns).
    HRESULT OnSample(const DsHost::ReceivedSample& sample, int64_t arrival, bool notifiedPesStart);
    // On the source thread, before the bytes that complete it reach the filter.
    void Expect(const ExpectedPes& pes);

    // Every expected PES has arrived whole.
    bool HasEverythingExpected() const;
    uint64_t Bytes() const;
    // Flushes and closes the output; false with Error() set on a write failure.
    bool Finish();
    std::string Error() const;

    const std::string& Name() const { return name_; }
    const std::vector<uint32_t>& Pids() const { return pids_; }
    const PinMediaType& Type() const { return type_; }

    struct Offsets {
        bool known = false;
        int64_t min = 0; // start - PTS, 100 ns
        int64_t max = 0;
    };
    Offsets StartMinusPts() const;
    nlohmann::json Report() const;

private:
    bool StartsPes(const DsHost::ReceivedSample& sample, bool notifiedPesStart);
    void FirstSampleOfPes(const DsHost::ReceivedSample& sample, int64_t arrival);

    const std::string name_;
    const std::vector<uint32_t> pids_;
    const PinMediaType type_;
    const PesBoundaries boundaries_;

    mutable std::mutex mutex_;
    std::FILE* file_ = nullptr;
    std::unique_ptr<char[]> fileBuffer_;
    std::string path_;
    std::string error_;
    std::deque<ExpectedPes> expected_;
    ExpectedPes current_;
    uint32_t currentLeft_ = 0; // bytes of the current PES still to come
    bool currentMatched_ = false;
    // Marks-based boundaries.
    LONG previousLength_ = 0;
    LONG previousSize_ = 0;
    REFERENCE_TIME previousStart_ = 0;
    bool anySample_ = false;

    uint64_t samples_ = 0;
    uint64_t bytes_ = 0;
    uint64_t pes_ = 0;
    uint64_t syncPoints_ = 0;
    uint64_t discontinuities_ = 0;
    REFERENCE_TIME firstStart_ = 0;
    REFERENCE_TIME lastStart_ = 0;
    Offsets offsets_;
    int64_t lastOffset_ = 0;
    bool haveLastOffset_ = false;
    uint64_t offsetSteps_ = 0;
    LatenessHistogram lateness_;
};

} // namespace Skts
