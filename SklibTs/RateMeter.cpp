#include "RateMeter.h"

#include <algorithm>
#include <cstdlib>

#include "SkTsTypes.h"

namespace SklibTs {

namespace {
// 188 bytes of 8 bits per packet.
constexpr int64_t kBitsPerPacket = kTsPacketBits;
} // namespace

void SlidingWindow::Resize(uint32_t capacity)
{
    values_.assign(capacity, 0);
    Clear();
}

void SlidingWindow::Clear()
{
    std::fill(values_.begin(), values_.end(), 0);
    next_ = 0;
    size_ = 0;
    sum_ = 0;
}

void SlidingWindow::Push(int64_t value)
{
    if (values_.empty())
        return;
    if (size_ == values_.size())
        sum_ -= values_[next_];
    else
        ++size_;
    values_[next_] = value;
    sum_ += value;
    next_ = (next_ + 1) % static_cast<uint32_t>(values_.size());
}

int64_t SlidingWindow::Min() const
{
    if (size_ == 0)
        return 0;
    // Until the window is full, the filled slots are the first size_ ones.
    return *std::min_element(values_.begin(), values_.begin() + size_);
}

int64_t SlidingWindow::Max() const
{
    if (size_ == 0)
        return 0;
    return *std::max_element(values_.begin(), values_.begin() + size_);
}

int64_t PacketRateMeter::ToBitrate(int64_t packets, uint32_t samples, int64_t period)
{
    if (samples == 0 || period <= 0)
        return 0;
    return packets * kBitsPerPacket * kTicksPerSecond / (int64_t{samples} * period);
}

void PacketRateMeter::ClosePeriod(int64_t period)
{
    short_.Push(packetsInPeriod_);
    packetsInPeriod_ = 0;
    if (short_.Full()) {
        long_.Push(short_.Sum());
        minBitrate_ = ToBitrate(long_.Min(), short_.Capacity(), period);
        maxBitrate_ = ToBitrate(long_.Max(), short_.Capacity(), period);
    }
    bitrate_ = ToBitrate(short_.Sum(), short_.Size(), period);
}

void PacketRateMeter::Clear()
{
    short_.Clear();
    long_.Clear();
    packetsInPeriod_ = 0;
    bitrate_ = minBitrate_ = maxBitrate_ = 0;
}

void TransportRateMeter::Update(int64_t now)
{
    if (now - boundary_ <= kPeriod)
        return;
    window_.Push(packetsInPeriod_);
    packetsInPeriod_ = 0;
    boundary_ += kPeriod;
    const int64_t windowRate = PacketRateMeter::ToBitrate(window_.Sum(), window_.Size(), kPeriod);
    if (longTerm_.Size() > 0) {
        const int64_t average =
            PacketRateMeter::ToBitrate(longTerm_.Sum(), longTerm_.Size(), kPeriod * kSamples);
        if (std::llabs(windowRate - average) * 100 > average) {
            longTerm_.Clear();
            samplesSinceLongTerm_ = 0;
        }
    }
    if (++samplesSinceLongTerm_ == kSamples) {
        longTerm_.Push(window_.Sum());
        samplesSinceLongTerm_ = 0;
    }
    const int64_t rate = longTerm_.Size() > 0
                             ? PacketRateMeter::ToBitrate(longTerm_.Sum(), longTerm_.Size(), kPeriod * kSamples)
                             : windowRate;
    bitrate_ = static_cast<int32_t>(rate);
}

void TransportRateMeter::Clear()
{
    window_.Clear();
    longTerm_.Clear();
    packetsInPeriod_ = 0;
    samplesSinceLongTerm_ = 0;
    bitrate_ = 0;
}

} // namespace SklibTs
