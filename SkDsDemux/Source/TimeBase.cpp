#include "TimeBase.h"

#include <algorithm>
#include <atomic>
#include <limits>

#include "SkDsLogger.h"
#include "SkTsTypes.h"

namespace DsDemux {

namespace {

constexpr int64_t kNoTime = std::numeric_limits<int64_t>::min();

// 90-kHz ticks to 100-ns units, truncated, as the host's time stamps have always been made.
int64_t To100ns(int64_t ticks90k) { return static_cast<int64_t>(static_cast<double>(ticks90k) / 0.009); }

// A record's sample number only grows; several delivery threads may raise it at once.
void RaiseSampleNumber(AvTimeStamp& record, int32_t atLeast)
{
    std::atomic_ref<int32_t> number(record.sampleNumber);
    int32_t current = number.load(std::memory_order_relaxed);
    while (current < atLeast && !number.compare_exchange_weak(current, atLeast, std::memory_order_relaxed)) {
    }
}

} // namespace

TimeBase::TimeBase(StreamTimeSource streamTime, SteadyClock steadyClock)
    : streamTime_(std::move(streamTime)), steadyClock_(std::move(steadyClock))
{
}

int64_t TimeBase::StreamTimeOrZero() const
{
    int64_t now = 0;
    if (!streamTime_ || !streamTime_(now))
        return 0;
    return now;
}

std::shared_ptr<AvTimeStamp> TimeBase::CreateRecord(uint32_t kind) const
{
    std::shared_ptr<AvTimeStamp> record;
    if (AvTimeStampProvider* provider = Provider())
        provider->CreateRecord(record, nullptr, 0, 0, kind);
    if (!record) // no provider, or one that made nothing
        record = std::make_shared<AvTimeStamp>(kind, steadyClock_());
    return record;
}

std::shared_ptr<AvTimeStamp> TimeBase::DeriveRecord(RecordHolder& holder) const
{
    if (!holder.record)
        holder.record = CreateRecord(AvTimeStamp::kOther);
    const uint32_t n = holder.derived++;
    std::shared_ptr<AvTimeStamp> record;
    if (n == 0) {
        record = holder.record;
        RaiseSampleNumber(*record, holder.sampleNumber);
    } else {
        const uint32_t kind = holder.record->kind;
        if (AvTimeStampProvider* provider = Provider())
            provider->CreateRecord(record, holder.record, holder.lastSequence, holder.sampleNumber, kind);
        if (!record)
            record = std::make_shared<AvTimeStamp>(kind, steadyClock_());
        record->sampleNumber = holder.sampleNumber;
        record->sampleNumberCopy = static_cast<uint32_t>(holder.sampleNumber);
    }
    holder.lastSequence = record->sequence;
    return record;
}

std::shared_ptr<AvTimeStamp> TimeBase::StampInputSample()
{
    std::shared_ptr<AvTimeStamp> record = CreateRecord(AvTimeStamp::kInputSample);
    record->state = AvTimeStamp::kReceived;
    sampleClockTime_ = record->createdNs;
    if (clockToStreamOffset_ != 0) {
        sampleStreamTime_ = record->createdNs / 100 + clockToStreamOffset_;
    } else {
        int64_t now = 0;
        if (streamTime_ && streamTime_(now))
            sampleStreamTime_ = now;
    }
    sampleRecords_.record = record;
    sampleRecords_.derived = 0;
    sampleRecords_.sampleNumber = record->sampleNumber + 1;
    return record;
}

void TimeBase::OnSampleTime(int64_t sampleTime, bool& flag, bool paused)
{
    if (paused) {
        pcrOffsetValid_ = false;
        return;
    }
    int64_t offset = sampleStreamTime_ - sampleTime;
    rawPcrOffset_ = offset;
    const int64_t delta = offset - pcrOffset_;
    if (!flag) {
        const int64_t distance = delta < 0 ? -delta : delta;
        if (distance <= kOffsetTolerance) {
            pcrOffsetValid_ = true;
            return;
        }
        // A middling step is taken only in part, toward the offset in force; big ones whole.
        if (distance < kOffsetStep)
            offset += delta > 0 ? -kOffsetPullBack : kOffsetPullBack;
    }
    ++timeBaseGeneration_;
    pcrOffset_ = offset;
    steadyBaseNs_ = sampleClockTime_ - sampleTime * 100;
    SkDsLogger::Log(4, "SkDsDemux", 341, "New PcrOffset: %.1f", static_cast<double>(offset) / 10'000'000.0);
    flag = true;
    markNextVideo_ = true;
    markNextAudio_ = true;
    pcrOffsetValid_ = true;
}

void TimeBase::BeginPes(PesData& pes, uint32_t pid)
{
    std::shared_ptr<AvTimeStamp> record = DeriveRecord(sampleRecords_);
    pes.timeStamp = record;
    record->state = AvTimeStamp::kStamped;
    record->stampedNs = steadyClock_();
    record->stamped = true;
    record->pts = pes.pts;
    record->dts = pes.dts;
    record->pcrTime = pes.pcrTime;
    record->rawPcrOffset = rawPcrOffset_;
    if (!pes.timeBaseLocked)
        record->flags |= AvTimeStamp::kFlagTimeBaseNotLocked;
    if (pes.dataLost)
        record->flags |= AvTimeStamp::kFlagDataLost;

    if (pes.dts == kNoTime)
        return;
    const int64_t sample = sampleStreamTime_ - (To100ns(pes.dts) - pes.sampleOffset);
    OffsetStat& stat = offsetStats_[pid];
    stat.sum += sample - stat.slots[static_cast<size_t>(stat.index)];
    stat.slots[static_cast<size_t>(stat.index)] = sample;
    if (++stat.index == kOffsetSamples) {
        stat.index = 0;
        stat.full = true;
    }
    stat.lastUpdate = sampleStreamTime_;
}

void TimeBase::FinishPes(PesData& pes, uint32_t kind, bool paused)
{
    AvTimeStamp& record = *pes.timeStamp;
    record.kind = kind;
    if (kind == AvTimeStamp::kVideo && markNextVideo_) {
        markNextVideo_ = false;
        record.flags |= AvTimeStamp::kFlagFirstAfterNewOffset;
    } else if (kind == AvTimeStamp::kAudio && markNextAudio_) {
        markNextAudio_ = false;
        record.flags |= AvTimeStamp::kFlagFirstAfterNewOffset;
    }
    record.clockToStreamOffset = clockToStreamOffset_;

    // A PES without PTS has no time: it goes out at once, with start 0 and no sync point.
    int64_t start = 0;
    int64_t dueNs = 0;
    if (pes.pts != kNoTime) {
        const int64_t pts100 = To100ns(pes.pts);
        const int64_t dts100 = To100ns(pes.dts);
        if (pcrOffsetValid_) {
            pes.dueTimeNs = dts100 * 100 + steadyBaseNs_;
            dueNs = (pts100 + kPresentationDelay) * 100 + steadyBaseNs_;
            start = pcrOffset_ + kPresentationDelay + pts100;
        } else if (const int64_t fallback = FallbackOffset(); fallback != 0) {
            start = fallback + pts100 + kPresentationDelay;
            if (clockToStreamOffset_ != 0) {
                pes.dueTimeNs = (fallback + dts100) * 100;
                dueNs = (fallback + pts100 - clockToStreamOffset_ + kPresentationDelay) * 100;
            }
        }
    }

    if (paused) {
        record.flags |= AvTimeStamp::kFlagStampedWhilePaused;
        start = 0;
    } else if (start != 0 && StreamTimeOrZero() + kFarAhead < start) {
        start = 0;
        dueNs = 0;
    }
    record.start = start;
    record.dueNs = dueNs;
    record.generation = static_cast<uint8_t>(timeBaseGeneration_);
}

int64_t TimeBase::FallbackOffset()
{
    std::erase_if(offsetStats_, [this](const auto& entry) {
        const OffsetStat& stat = entry.second;
        return stat.lastUpdate + kOffsetStatLifetime < sampleStreamTime_ || stat.lastUpdate > sampleStreamTime_;
    });
    if (offsetStats_.empty())
        return 0;
    int64_t smallest = std::numeric_limits<int64_t>::max();
    for (const auto& [pid, stat] : offsetStats_) {
        if (!stat.full)
            return 0;
        smallest = std::min(smallest, stat.sum / kOffsetSamples);
    }
    return smallest;
}

void TimeBase::Calibrate()
{
    int64_t best = 10'000'000'000;
    for (int i = 0; i < 10; ++i) {
        const int64_t t0 = steadyClock_();
        const int64_t now = StreamTimeOrZero();
        const int64_t t1 = steadyClock_();
        if (t1 - t0 < best) {
            clockToStreamOffset_ = now - t0 / 100;
            best = t1 - t0;
        }
    }
    ++timeBaseGeneration_;
}

} // namespace DsDemux
