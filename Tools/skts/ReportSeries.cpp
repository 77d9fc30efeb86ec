#include "ReportSeries.h"

#include <algorithm>
#include <cmath>

#include "AnalyserTotals.h"
#include "AnalysisReport.h"
#include "EventWriter.h"
#include "SkPes.h"
#include "SkTp.h"

namespace Skts {

namespace {

constexpr uint32_t kAllIndicators = (1u << SklibTs::kIndicatorCount) - 1;
// Seconds kept; a longer run keeps its first day.
constexpr size_t kMaxSeconds = 86'400;
// PIDs drawn one by one in the bit-rate plot; the rest are summed as "other".
constexpr size_t kMaxRatePids = 24;

int64_t PesPts(const uint8_t* payload, uint32_t size)
{
    if (size < 14 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1 ||
        !SklibTs::SkPes::HasOptionalHeader(payload[3]) || (payload[7] & 0x80) == 0)
        return -1;
    const uint8_t* p = payload + 9;
    return (int64_t{p[0] & 0x0E} << 29) | (int64_t{p[1]} << 22) | (int64_t{p[2] & 0xFE} << 14) |
           (int64_t{p[3]} << 7) | (p[4] >> 1);
}

double Rounded(double value, double unit) { return std::round(value / unit) * unit; }

} // namespace

ReportSeries::ReportSeries(SklibTs::SkTsInfo& analyser, const AnalyserTotals& totals)
    : analyser_(analyser), totals_(totals), countsAtStart_(SklibTs::kPidCount), pcrClocks_(SklibTs::kPidCount)
{
    analyser_.AddPacketCallback(&ReportSeries::OnPacket, this);
    analyser_.AddAllPcrStatisticsCallback(&ReportSeries::OnPcrStatistics, this);
    analyser_.AddIndicatorStateCallback(kAllIndicators, &ReportSeries::OnState, this);
    analyser_.AddIndicatorReportCallback(kAllIndicators, &ReportSeries::OnReport, this);
}

template <typename Fn>
void ReportSeries::Guarded(Fn&& fn) noexcept
{
    if (failure_)
        return;
    try {
        fn();
    } catch (...) {
        failure_ = std::current_exception();
    }
}

void ReportSeries::RethrowFailure() const
{
    if (failure_)
        std::rethrow_exception(failure_);
}

void ReportSeries::OnPacket(void* context, const uint8_t* packet, uint32_t size, const int64_t* time)
{
    auto& self = *static_cast<ReportSeries*>(context);
    self.Guarded([&] { self.Packet(packet, size, *time); });
}

void ReportSeries::Packet(const uint8_t* packet, uint32_t size, int64_t time)
{
    now_ = time;
    const int64_t second = time / SklibTs::kTicksPerSecond;
    if (second_ < 0) {
        second_ = second;
    } else if (second != second_) {
        CloseSecond();
        second_ = second;
    }
    const SklibTs::SkTp tp(packet, size);
    const auto pid = static_cast<uint32_t>(tp.GetPid());
    if (const int64_t pcr = tp.GetPcr(); pcr != SklibTs::kNoTime)
        pcrClocks_[pid] = {pcr, time};
    if (tp.GetPayloadUnitStart()) {
        uint32_t payloadSize = 0;
        const uint8_t* payload = tp.GetPayload(payloadSize);
        if (payload != nullptr) {
            if (const int64_t pts = PesPts(payload, payloadSize); pts >= 0)
                PtsMargin(pid, pts, time);
        }
    }
}

uint32_t ReportSeries::PcrPidOf(uint32_t pid) const
{
    for (const auto& [number, program] : analyser_.programs) {
        for (const auto& stream : program.streams) {
            if (stream.elementary_pid == pid)
                return program.pcr_pid >= 0 ? static_cast<uint32_t>(program.pcr_pid) : SklibTs::kNoPid;
        }
    }
    return SklibTs::kNoPid;
}

void ReportSeries::PtsMargin(uint32_t pid, int64_t pts, int64_t time)
{
    const uint32_t pcrPid = PcrPidOf(pid);
    if (pcrPid >= SklibTs::kPidCount || pcrClocks_[pcrPid].pcr < 0)
        return;
    const PcrClock& clock = pcrClocks_[pcrPid];
    // The PCR now: the latest one moved on by the time since it came (27 MHz is half the tick).
    const int64_t pcrNow = clock.pcr + (time - clock.time) / 2;
    int64_t distance = (pts * SklibTs::kPcrTicksPerPcrBase - pcrNow) % SklibTs::kPcrModulus;
    if (distance > SklibTs::kPcrModulus / 2)
        distance -= SklibTs::kPcrModulus;
    if (distance < -SklibTs::kPcrModulus / 2)
        distance += SklibTs::kPcrModulus;
    const double ms = static_cast<double>(distance) / static_cast<double>(SklibTs::kPcrTicksPerMillisecond);
    Margin& margin = secondMargins_[pid];
    margin.min = margin.any ? std::min(margin.min, ms) : ms;
    margin.max = margin.any ? std::max(margin.max, ms) : ms;
    margin.any = true;
    margins_[pid].pcrPid = pcrPid;
}

void ReportSeries::CloseSecond()
{
    const uint64_t total = totals_.Packets();
    if (seconds_.size() < kMaxSeconds) {
        const auto index = seconds_.size();
        seconds_.push_back(static_cast<double>(second_));
        // The analyser counts 188 bytes a packet for its rates; so does the plot.
        constexpr double bitsPerPacket = static_cast<double>(SklibTs::kTsPacketBits);
        const uint64_t totalPackets = total >= totalAtStart_ ? total - totalAtStart_ : total;
        totalRate_.push_back(static_cast<double>(totalPackets) * bitsPerPacket);
        for (uint32_t pid = 0; pid < SklibTs::kPidCount; ++pid) {
            const SklibTs::SkPidInfo* info = analyser_.pidInfo[pid];
            const uint64_t count = info != nullptr ? info->packetCount : 0;
            const uint64_t packets = count >= countsAtStart_[pid] ? count - countsAtStart_[pid] : count;
            if (packets > 0)
                pidRates_[pid].emplace_back(static_cast<uint32_t>(index), static_cast<double>(packets) * bitsPerPacket);
        }
        for (auto& [pid, margin] : secondMargins_) {
            if (!margin.any)
                continue;
            MarginSeries& series = margins_[pid];
            series.t.push_back(static_cast<double>(second_));
            series.min.push_back(Rounded(margin.min, 0.001));
            series.max.push_back(Rounded(margin.max, 0.001));
        }
    }
    secondMargins_.clear();
    totalAtStart_ = total;
    if (seconds_.size() >= kMaxSeconds)
        return;
    for (uint32_t pid = 0; pid < SklibTs::kPidCount; ++pid) {
        const SklibTs::SkPidInfo* info = analyser_.pidInfo[pid];
        countsAtStart_[pid] = info != nullptr ? info->packetCount : 0;
    }
}

void ReportSeries::Finish()
{
    // The last second counts only when most of it was seen: a sliver would plot as a drop.
    if (second_ >= 0 && now_ - second_ * SklibTs::kTicksPerSecond >= SklibTs::kTicksPerSecond / 2)
        CloseSecond();
    for (Interval& interval : intervals_) {
        if (interval.endMs < 0)
            interval.endMs = -1.0;
    }
}

void ReportSeries::OnPcrStatistics(void* context, uint32_t pid, const SklibTs::PcrStatistics&,
                                   const SklibTs::PcrSampleDeviation* samples, uint32_t count)
{
    auto& self = *static_cast<ReportSeries*>(context);
    if (samples == nullptr || count == 0)
        return;
    self.Guarded([&] {
        PcrSeries& series = self.pcr_[pid];
        if (series.t.size() >= kMaxSeconds)
            return;
        double accuracy = 0.0;
        double jitter = 0.0;
        for (uint32_t i = 0; i < count; ++i) {
            accuracy = std::max(accuracy, std::fabs(samples[i].accuracyNs));
            jitter = std::max(jitter, std::fabs(samples[i].jitterNs));
        }
        series.t.push_back(Rounded(TicksToMs(samples[count - 1].time) / 1000.0, 0.001));
        series.accuracy.push_back(Rounded(accuracy, 0.1));
        series.jitter.push_back(Rounded(jitter, 0.1));
    });
}

void ReportSeries::OnState(void* context, uint32_t index, const SklibTs::IndicatorRecord& record)
{
    auto& self = *static_cast<ReportSeries*>(context);
    if (index >= SklibTs::kIndicatorCount)
        return;
    self.Guarded([&] {
        int64_t& open = self.openInterval_[index];
        if (record.active && open == 0) {
            if (self.intervals_.size() >= kMaxIntervals) {
                ++self.intervalsDropped_;
                return;
            }
            self.intervals_.push_back({index, TicksToMs(record.time), -1.0, 0, ToUtf8(record.message)});
            open = static_cast<int64_t>(self.intervals_.size());
        } else if (!record.active && open != 0) {
            self.intervals_[static_cast<size_t>(open - 1)].endMs = TicksToMs(std::max(self.now_, record.time));
            open = 0;
        }
    });
}

void ReportSeries::OnReport(void* context, uint32_t index, const SklibTs::IndicatorRecord& record)
{
    auto& self = *static_cast<ReportSeries*>(context);
    if (index >= SklibTs::kIndicatorCount || self.openInterval_[index] == 0)
        return;
    self.Guarded([&] {
        Interval& interval = self.intervals_[static_cast<size_t>(self.openInterval_[index] - 1)];
        ++interval.count;
        interval.message = ToUtf8(record.message);
    });
}

nlohmann::json ReportSeries::Json() const
{
    // The PIDs that carried the most, one by one; the rest together.
    std::vector<std::pair<double, uint32_t>> byVolume;
    for (const auto& [pid, rates] : pidRates_) {
        double sum = 0.0;
        for (const auto& point : rates)
            sum += point.second;
        byVolume.emplace_back(sum, pid);
    }
    std::sort(byVolume.begin(), byVolume.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    nlohmann::json pids = nlohmann::json::array();
    std::vector<double> other(seconds_.size(), 0.0);
    bool anyOther = false;
    std::vector<std::pair<uint32_t, std::vector<double>>> shown;
    for (size_t rank = 0; rank < byVolume.size(); ++rank) {
        const auto& points = pidRates_.at(byVolume[rank].second);
        if (rank < kMaxRatePids) {
            std::vector<double> rates(seconds_.size(), 0.0);
            for (const auto& [index, rate] : points)
                rates[index] = rate;
            shown.emplace_back(byVolume[rank].second, std::move(rates));
        } else {
            anyOther = true;
            for (const auto& [index, rate] : points)
                other[index] += rate;
        }
    }
    std::sort(shown.begin(), shown.end());
    for (auto& [pid, rates] : shown)
        pids.push_back({{"pid", pid}, {"bitrate", std::move(rates)}});
    if (anyOther)
        pids.push_back({{"pid", -1}, {"bitrate", std::move(other)}});

    nlohmann::json pcr = nlohmann::json::array();
    for (const auto& [pid, series] : pcr_)
        pcr.push_back({{"pid", pid}, {"t", series.t}, {"accuracy_max_ns", series.accuracy}, {"jitter_max_ns", series.jitter}});
    nlohmann::json margins = nlohmann::json::array();
    for (const auto& [pid, series] : margins_) {
        if (!series.t.empty())
            margins.push_back({{"pid", pid}, {"pcr_pid", series.pcrPid}, {"t", series.t}, {"min_ms", series.min},
                               {"max_ms", series.max}});
    }
    nlohmann::json intervals = nlohmann::json::array();
    for (const Interval& interval : intervals_) {
        intervals.push_back({{"index", interval.index},
                             {"name", SklibTs::IndicatorName(interval.index)},
                             {"start_ms", interval.startMs},
                             {"end_ms", interval.endMs < 0 ? nlohmann::json(nullptr) : nlohmann::json(interval.endMs)},
                             {"count", interval.count},
                             {"message", interval.message}});
    }
    return {{"period_s", 1},
            {"bitrate", {{"t", seconds_}, {"total", totalRate_}, {"pids", std::move(pids)}}},
            {"pcr", std::move(pcr)},
            {"pts_margin", std::move(margins)},
            {"indicators", std::move(intervals)},
            {"indicator_intervals_dropped", intervalsDropped_}};
}

} // namespace Skts
