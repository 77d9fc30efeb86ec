#pragma once
// The time series of `skts report`, one point per second of analyser time: bit rate per PID
// and in total, PCR accuracy and jitter per PCR PID (the worst of each analysis period), the
// distance from PCR to PTS per PID (the decoder's buffer margin, least and most per second)
// and when each indicator was active.
#include <array>
#include <cstdint>
#include <exception>
#include <map>
#include <nlohmann/json.hpp>
#include <vector>

#include "ConformanceTypes.h"
#include "SkTsInfo.h"

namespace Skts {

class AnalyserTotals;

class ReportSeries {
public:
    // Indicator intervals kept; later ones are counted only.
    static constexpr size_t kMaxIntervals = 10'000;

    ReportSeries(SklibTs::SkTsInfo& analyser, const AnalyserTotals& totals);
    ReportSeries(const ReportSeries&) = delete;
    ReportSeries& operator=(const ReportSeries&) = delete;

    // Closes the last second; call once the input has ended, with the analyser's lock held.
    void Finish();
    // "series": {period_s, bitrate{t, total, pids[{pid, bitrate}]}, pcr[{pid, t, accuracy_max_ns,
    // jitter_max_ns}], pts_margin[{pid, pcr_pid, t, min_ms, max_ms}], indicators[{index, name,
    // start_ms, end_ms, count, message}]}.
    nlohmann::json Json() const;
    bool Failed() const { return failure_ != nullptr; }
    void RethrowFailure() const;

private:
    struct PcrClock {
        int64_t pcr = -1; // latest PCR (27 MHz) and when it came
        int64_t time = 0;
    };
    struct Margin {
        double min = 0.0;
        double max = 0.0;
        bool any = false;
    };
    struct MarginSeries {
        uint32_t pcrPid = 0;
        std::vector<double> t;
        std::vector<double> min;
        std::vector<double> max;
    };
    struct PcrSeries {
        std::vector<double> t;
        std::vector<double> accuracy;
        std::vector<double> jitter;
    };
    struct Interval {
        uint32_t index = 0;
        double startMs = 0.0;
        double endMs = -1.0; // -1: still active at the end
        uint32_t count = 0;
        std::string message;
    };

    static void OnPacket(void* context, const uint8_t* packet, uint32_t size, const int64_t* time);
    static void OnPcrStatistics(void* context, uint32_t pid, const SklibTs::PcrStatistics& statistics,
                                const SklibTs::PcrSampleDeviation* samples, uint32_t count);
    static void OnState(void* context, uint32_t index, const SklibTs::IndicatorRecord& record);
    static void OnReport(void* context, uint32_t index, const SklibTs::IndicatorRecord& record);

    void Packet(const uint8_t* packet, uint32_t size, int64_t time);
    void CloseSecond();
    void PtsMargin(uint32_t pid, int64_t pts, int64_t time);
    uint32_t PcrPidOf(uint32_t pid) const;
    template <typename Fn>
    void Guarded(Fn&& fn) noexcept;

    SklibTs::SkTsInfo& analyser_;
    const AnalyserTotals& totals_;
    int64_t second_ = -1; // the second being counted
    int64_t now_ = 0;
    // Packets per PID at the start of the second (the analyser's counts, which may restart).
    std::vector<uint64_t> countsAtStart_;
    uint64_t totalAtStart_ = 0;
    std::vector<double> seconds_;
    std::vector<double> totalRate_;
    // Per PID, (second's index, bit rate) for the seconds it had packets in.
    std::map<uint32_t, std::vector<std::pair<uint32_t, double>>> pidRates_;
    std::vector<PcrClock> pcrClocks_;
    std::map<uint32_t, Margin> secondMargins_;
    std::map<uint32_t, MarginSeries> margins_;
    std::map<uint32_t, PcrSeries> pcr_;
    std::vector<Interval> intervals_;
    std::array<int64_t, SklibTs::kIndicatorCount> openInterval_{};
    uint64_t intervalsDropped_ = 0;
    std::exception_ptr failure_;
};

} // namespace Skts
