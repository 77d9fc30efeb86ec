#include "TsPacketInputImpl.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "SkTsInfo.h"
#include "SkTsTypes.h"

namespace SklibTs {

SkTsPacketInput* CreateTsPacketInput(SkTsInfo* analyser, int32_t bitrate)
{
    return new (std::nothrow) TsPacketInputImpl(analyser, bitrate);
}

SkTsPacketInputEx* CreateTsPacketInputEx(SkTsInfo* analyser, int32_t bitrate)
{
    return new (std::nothrow) TsPacketInputImpl(analyser, bitrate);
}

TsPacketInputImpl::TsPacketInputImpl(SkTsInfo* analyser, int32_t bitrate)
    : analyser_(analyser), bitrate_(bitrate > 0 ? bitrate : kDefaultBitrate)
{
}

int32_t TsPacketInputImpl::SetBitrate(int32_t bitrate)
{
    base_ = now_;
    bits_ = 0;
    bitrate_ = bitrate < 1 ? kDefaultBitrate : bitrate;
    return bitrate_;
}

void TsPacketInputImpl::WriteAt(const uint8_t* bytes, uint32_t count, int64_t time)
{
    arrivalGiven_ = true;
    arrival_ = time;
    Write(bytes, count);
    arrivalGiven_ = false;
    base_ = time;
    bits_ = 0;
    now_ = time;
}

void TsPacketInputImpl::AdvanceTime(uint32_t bytes)
{
    bits_ += int64_t{8} * bytes;
    if (bits_ > bitrate_) {
        base_ += (bits_ / bitrate_) * kTicksPerSecond;
        bits_ %= bitrate_;
    }
    now_ = base_;
    if (bits_ > 0)
        now_ += bits_ * kTicksPerSecond / bitrate_;
}

void TsPacketInputImpl::Append(const uint8_t*& bytes, uint32_t& count, uint32_t maxBytes)
{
    const uint32_t n = std::min({count, maxBytes, static_cast<uint32_t>(buffer_.size()) - held_});
    std::memcpy(buffer_.data() + held_, bytes, n);
    held_ += n;
    bytes += n;
    count -= n;
}

void TsPacketInputImpl::DropFront(uint32_t bytes)
{
    std::memmove(buffer_.data(), buffer_.data() + bytes, held_ - bytes);
    held_ -= bytes;
}

void TsPacketInputImpl::Write(const uint8_t* bytes, uint32_t count)
{
    if (count == 0)
        return;
    SkTsInfoLock lock(*analyser_);
    while ((analyser_->inSync && held_ + count >= analyser_->packetSize) || held_ + count >= kSearchThreshold) {
        while (!analyser_->inSync && held_ + count >= kSearchThreshold) {
            Append(bytes, count, count);
            DropFront(SearchSync());
        }
        while (analyser_->inSync && held_ + count >= analyser_->packetSize) {
            if (held_ > 0) {
                Append(bytes, count, analyser_->packetSize - std::min(held_, analyser_->packetSize));
                DropFront(DeliverPackets(buffer_.data(), held_));
            } else {
                const uint32_t delivered = DeliverPackets(bytes, count);
                bytes += delivered;
                count -= delivered;
            }
        }
    }
    Append(bytes, count, count);
}

uint32_t TsPacketInputImpl::SearchSync()
{
    if (held_ < kSearchWindow)
        return 0;
    const uint8_t* b = buffer_.data();
    const uint32_t lastStart = held_ - kSearchWindow;
    for (uint32_t i = 0; i <= lastStart; ++i) {
        if (b[i] != kSyncByte)
            continue;
        const bool match188 = b[i + 188] == kSyncByte && b[i + 376] == kSyncByte &&
                              b[i + 564] == kSyncByte && b[i + 752] == kSyncByte;
        const bool match204 = b[i + 204] == kSyncByte && b[i + 408] == kSyncByte &&
                              b[i + 612] == kSyncByte && b[i + 816] == kSyncByte;
        if (match188 || match204) {
            current_ = {delivered_, consumed_ + i};
            analyser_->SetSync(true);
            analyser_->packetSize = match188 ? kTsPacketSize : kTsPacketSize204;
            badSyncs_ = 0;
            AdvanceTime(i);
            consumed_ += i;
            return i;
        }
    }
    AdvanceTime(lastStart + 1);
    consumed_ += lastStart + 1;
    return lastStart + 1;
}

uint32_t TsPacketInputImpl::DeliverPackets(const uint8_t* bytes, uint32_t count)
{
    uint32_t delivered = 0;
    const uint32_t packetSize = analyser_->packetSize;
    while (analyser_->inSync && count - delivered >= packetSize) {
        const uint8_t* packet = bytes + delivered;
        current_ = {delivered_, consumed_};
        if (packet[0] == kSyncByte) {
            badSyncs_ = 0;
        } else if (badSyncs_ < 2) {
            ++badSyncs_;
        } else {
            // Third bad packet in a row: the packet stays for the next sync search.
            analyser_->SetSync(false);
            break;
        }
        const int64_t time = arrivalGiven_ ? arrival_ : now_;
        analyser_->ProcessPacket(packet, packetSize, &time);
        AdvanceTime(kTsPacketSize);
        consumed_ += packetSize;
        ++delivered_;
        delivered += packetSize;
    }
    return delivered;
}

} // namespace SklibTs
