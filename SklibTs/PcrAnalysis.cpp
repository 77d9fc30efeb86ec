#include "PcrAnalysis.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "SkTsTypes.h"

namespace SklibTs {

namespace {

constexpr int64_t kPcrHalfModulus = kPcrModulus / 2;
constexpr int64_t kDiscontinuityLimit = 100 * kPcrTicksPerMillisecond;
constexpr double kAccuracyLimitNs = 500.0;
constexpr double kNsPerPcrTick = 1e9 / static_cast<double>(kPcrClockHz);

// c - c0 across at most one wrap of the PCR.
int64_t PcrDelta(int64_t c, int64_t c0)
{
    int64_t delta = c - c0;
    if (c >= c0 && delta >= kPcrHalfModulus)
        delta -= kPcrModulus;
    if (c < c0 && c0 - c > kPcrHalfModulus)
        delta += kPcrModulus;
    return delta;
}

// Least-squares line through (x, y), computed about the means so that long windows of
// large abscissae keep their precision.
struct Line {
    double slope = 0.0;
    double intercept = 0.0;
    bool valid = false;
};

template <typename XOf>
Line FitLine(const PcrHistory& history, XOf xOf)
{
    const PcrSample& first = history.Front();
    const size_t n = history.Size();
    double sumX = 0.0;
    double sumY = 0.0;
    for (size_t i = 0; i < n; ++i) {
        sumX += xOf(history[i], first);
        sumY += static_cast<double>(PcrDelta(history[i].pcr, first.pcr));
    }
    const double meanX = sumX / static_cast<double>(n);
    const double meanY = sumY / static_cast<double>(n);
    double sxx = 0.0;
    double sxy = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double dx = xOf(history[i], first) - meanX;
        sxx += dx * dx;
        sxy += dx * (static_cast<double>(PcrDelta(history[i].pcr, first.pcr)) - meanY);
    }
    Line line;
    if (sxx <= 0.0)
        return line;
    line.slope = sxy / sxx;
    line.intercept = meanY - line.slope * meanX + static_cast<double>(first.pcr);
    line.valid = true;
    return line;
}

// Deviation in ns of the PCR from the line's prediction at x, with the prediction moved into
// the PCR's own wrap.
double Deviation(const Line& line, double x, int64_t pcr)
{
    constexpr double modulus = static_cast<double>(kPcrModulus);
    double predicted = x * line.slope + line.intercept;
    while (predicted > modulus)
        predicted -= modulus;
    if (static_cast<double>(pcr) - predicted > static_cast<double>(kPcrHalfModulus))
        predicted += modulus;
    return (predicted - static_cast<double>(pcr)) * kNsPerPcrTick;
}

double PacketOffset(const PcrSample& sample, const PcrSample& first)
{
    return static_cast<double>(sample.packetIndex - first.packetIndex);
}

double TimeOffset(const PcrSample& sample, const PcrSample& first)
{
    return static_cast<double>(sample.arrival - first.arrival);
}

} // namespace

void PcrAnalysis::SetWindow(int64_t period, uint32_t count)
{
    if (period > 0)
        period_ = period;
    windowCount_ = std::max<uint32_t>(count, 1);
}

void PcrAnalysis::AddCallback(int32_t pid, PcrStatisticsCallbackFn function, void* context)
{
    if (function != nullptr && pid >= 0 && pid < static_cast<int32_t>(kPidCount))
        clients_.push_back({pid, function, context});
}

void PcrAnalysis::AddAllCallback(PcrStatisticsCallbackFn function, void* context)
{
    if (function != nullptr)
        clients_.push_back({-1, function, context});
}

void PcrAnalysis::OnPcr(PidInfoImpl& info, int64_t time, int64_t pcr, uint64_t packetIndex, bool discontinuity)
{
    PcrTrackState& track = info.checks.pcr;
    if (!track.history.Empty()) {
        const PcrSample& last = track.history.Back();
        const int64_t delta = PcrDelta(pcr, last.pcr);
        if (!discontinuity && delta > kDiscontinuityLimit) {
            const double ms = static_cast<double>(delta) / static_cast<double>(kPcrTicksPerMillisecond);
            indicators_.Report(
                ConformanceIndicator::PcrDiscontinuityError,
                FormatIndicatorMessage("Un-signalled PCR discontinuity on PID %d (allowed: 100ms, actual: %.1fms)",
                                       static_cast<int>(info.pid), ms),
                ms, IndicatorLocation::ForPid(info.pid), time);
        }
        const double intervalMs =
            static_cast<double>(time - last.arrival) / static_cast<double>(kTicksPerSecond) * 1000.0;
        if (intervalMs > 100.0) {
            indicators_.Report(
                ConformanceIndicator::PcrRepetitionError,
                FormatIndicatorMessage("Interval between PCRs on PID %d is too long (allowed: 100.0ms, actual: %.1fms)",
                                       static_cast<int>(info.pid), intervalMs),
                intervalMs, IndicatorLocation::ForPid(info.pid), time);
        }
    }
    if (discontinuity) {
        // A signalled new time base: the old samples say nothing about the new one.
        track.history.Clear();
        track.windowPeriods = 0;
    }
    ++track.statistics.pcrCount;
    ++info.pcrCount;
    ++track.pcrsInPeriod;
    track.history.PushBack({time, pcr, packetIndex});
}

void PcrAnalysis::Run(int64_t now)
{
    if (now - boundary_ <= period_)
        return;
    boundary_ += (now - boundary_) / period_ * period_;
    for (auto& slot : pids_) {
        if (!slot)
            continue;
        ClosePeriod(*slot);
        Analyse(*slot, now);
        if (slot->checks.pcr.statistics.pcrCount > 0)
            Notify(*slot);
    }
}

void PcrAnalysis::ClosePeriod(PidInfoImpl& info)
{
    PcrTrackState& track = info.checks.pcr;
    if (track.pcrsPerPeriod.Capacity() != windowCount_)
        track.pcrsPerPeriod.Resize(windowCount_);
    track.windowPeriods = std::min(track.windowPeriods + 1, windowCount_);
    track.pcrsPerPeriod.Push(track.pcrsInPeriod);
    track.pcrsInPeriod = 0;
    PcrStatistics& statistics = track.statistics;
    const double seconds = static_cast<double>(track.pcrsPerPeriod.Size()) * static_cast<double>(period_) /
                           static_cast<double>(kTicksPerSecond);
    statistics.pcrRate = seconds > 0.0 ? static_cast<double>(track.pcrsPerPeriod.Sum()) / seconds : 0.0;
    statistics.maxAccuracyNs = 0.0;
    statistics.rmsAccuracyNs = 0.0;
    statistics.maxJitterNs = 0.0;
    statistics.rmsJitterNs = 0.0;
    statistics.jitterPeakToPeakNs = 0.0;
    statistics.pcrBitrate = -1;

    const int64_t oldest = boundary_ - static_cast<int64_t>(track.windowPeriods) * period_;
    while (!track.history.Empty() && track.history.Front().arrival < oldest)
        track.history.PopFront();
}

void PcrAnalysis::Analyse(PidInfoImpl& info, int64_t now)
{
    latest_.clear();
    PcrTrackState& track = info.checks.pcr;
    const PcrHistory& history = track.history;
    const size_t n = history.Size();
    if (n < 3)
        return;
    const Line byPacket = FitLine(history, PacketOffset);
    const Line byTime = FitLine(history, TimeOffset);
    if (!byPacket.valid || !byTime.valid)
        return;

    PcrStatistics& statistics = track.statistics;
    if (byPacket.slope > 0.0) {
        const double bitrate = static_cast<double>(kPcrClockHz * kTsPacketBits) / byPacket.slope;
        statistics.pcrBitrate = bitrate < static_cast<double>(std::numeric_limits<int32_t>::max())
                                    ? static_cast<int32_t>(bitrate)
                                    : std::numeric_limits<int32_t>::max();
    }
    const PcrSample& first = history.Front();
    const int64_t latestStart = boundary_ - period_;
    double sumAccuracy2 = 0.0;
    double sumJitter2 = 0.0;
    double maxAccuracy = 0.0;
    double maxJitter = 0.0;
    double minJitterValue = 0.0;
    double maxJitterValue = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const PcrSample& sample = history[i];
        const double accuracy = Deviation(byPacket, PacketOffset(sample, first), sample.pcr);
        const double jitter = Deviation(byTime, TimeOffset(sample, first), sample.pcr);
        sumAccuracy2 += accuracy * accuracy;
        sumJitter2 += jitter * jitter;
        maxAccuracy = std::max(maxAccuracy, std::fabs(accuracy));
        maxJitter = std::max(maxJitter, std::fabs(jitter));
        minJitterValue = std::min(minJitterValue, jitter);
        maxJitterValue = std::max(maxJitterValue, jitter);
        if (sample.arrival >= latestStart && sample.arrival < boundary_)
            latest_.push_back({sample.arrival, accuracy, jitter});
    }
    statistics.maxAccuracyNs = maxAccuracy;
    statistics.rmsAccuracyNs = std::sqrt(sumAccuracy2 / static_cast<double>(n));
    statistics.maxJitterNs = maxJitter;
    statistics.rmsJitterNs = std::sqrt(sumJitter2 / static_cast<double>(n));
    statistics.jitterPeakToPeakNs = maxJitterValue - minJitterValue;

    if (maxAccuracy > kAccuracyLimitNs) {
        indicators_.Report(ConformanceIndicator::PcrAccuracyError,
                           FormatIndicatorMessage("PCR accuracy for pid 0x%04X is not within +-500ns.", info.pid),
                           maxAccuracy / 1e6, IndicatorLocation::ForPid(info.pid), now);
    }
}

void PcrAnalysis::Notify(const PidInfoImpl& info) const
{
    const PcrStatistics& statistics = info.checks.pcr.statistics;
    const uint32_t count = static_cast<uint32_t>(latest_.size());
    const PcrSampleDeviation* samples = latest_.empty() ? nullptr : latest_.data();
    // Clients of every PID first, then those of this one.
    for (const Client& client : clients_) {
        if (client.pid < 0)
            client.function(client.context, info.pid, statistics, samples, count);
    }
    for (const Client& client : clients_) {
        if (client.pid == static_cast<int32_t>(info.pid))
            client.function(client.context, info.pid, statistics, samples, count);
    }
}

} // namespace SklibTs
