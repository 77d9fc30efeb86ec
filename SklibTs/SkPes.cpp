#include "SkPes.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "SkTp.h"

namespace SklibTs {

SkPes::DataBuffer::DataBuffer(uint8_t* bytes, int32_t size) : data(bytes), capacity(bytes ? size : 0), owned(bytes == nullptr)
{
}

SkPes::DataBuffer::~DataBuffer() = default;

int32_t SkPes::DataBuffer::Resize(int32_t newSize)
{
    if (!owned)
        return -1;
    if (capacity == newSize)
        return newSize;
    // Growing within the block's reserve moves nothing; otherwise the block at least doubles, so
    // a PES that grows in 8 KiB steps is copied a few times, not once a step. Shrinking gives the
    // memory back. Bytes about to be overwritten are not cleared.
    if (newSize > capacity && newSize <= reserved_) {
        capacity = newSize;
        return newSize;
    }
    const int32_t reserve = newSize > capacity ? std::max(newSize, std::min(2 * reserved_, kMaxReserve)) : newSize;
    auto block = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(reserve));
    if (data != nullptr && capacity > 0)
        std::memcpy(block.get(), data, static_cast<size_t>(std::min(newSize, capacity)));
    storage_ = std::move(block);
    data = storage_.get();
    capacity = newSize;
    reserved_ = reserve;
    return newSize;
}

void SkPes::DataBuffer::Recycle(int32_t keepBytes)
{
    if (!owned)
        return;
    capacity = 0;
    if (reserved_ > keepBytes) {
        storage_.reset();
        data = nullptr;
        reserved_ = 0;
    }
}

SkPes::SkPes(uint8_t* data, int32_t capacity, int32_t length)
    : state_(length > 0 ? kComplete : kIdle), buffer_(data, capacity), length_(length)
{
}

void SkPes::Reset()
{
    if (buffer_.owned)
        buffer_.Resize(kIdleCapacity);
    length_ = 0;
    state_ = kIdle;
}

void SkPes::Recycle(int32_t keepBytes)
{
    buffer_.Recycle(keepBytes);
    length_ = 0;
    state_ = kIdle;
}

void SkPes::Discard()
{
    buffer_.Resize(kIdleCapacity);
    length_ = 0;
    state_ = kIdle;
}

bool SkPes::AddTp(const SkTp& tp)
{
    bool pending = false;
    return AddTp(tp, pending);
}

bool SkPes::AddTp(const SkTp& tp, bool& pending)
{
    const bool unitStart = tp.GetPayloadUnitStart();
    pending = false;
    if (state_ == kComplete) {
        pending = true;
        return true;
    }
    if (state_ == kAssembling && unitStart) {
        pending = true;
        state_ = kComplete;
        return true;
    }
    if (state_ == kIdle && !unitStart)
        return false;
    uint32_t size = 0;
    const uint8_t* payload = tp.GetPayload(size);
    if (payload == nullptr)
        return false;
    const int32_t needed = length_ + static_cast<int32_t>(size);
    if (needed > buffer_.capacity) {
        const int32_t newCapacity = (needed + kGrowthStep - 1) / kGrowthStep * kGrowthStep;
        if (newCapacity > kMaxCapacity || buffer_.Resize(newCapacity) != newCapacity) {
            Discard();
            return false;
        }
    }
    std::memcpy(buffer_.data + length_, payload, size);
    length_ = needed;
    if (length_ >= 6) {
        const int32_t packetLength = (buffer_.data[4] << 8) | buffer_.data[5];
        if (packetLength != 0 && length_ == packetLength + 6) {
            state_ = kComplete;
            return true;
        }
    }
    state_ = kAssembling;
    return false;
}

int32_t SkPes::GetStreamId() const { return length_ >= 4 ? buffer_.data[3] : -1; }

bool SkPes::HasOptionalHeader(int32_t streamId)
{
    switch (streamId) {
    case 0xBC: case 0xBE: case 0xBF: case 0xF0: case 0xF1: case 0xF2: case 0xF8: case 0xFF:
        return false;
    default:
        return true;
    }
}

const uint8_t* SkPes::GetHeader(uint32_t& size) const
{
    size = 0;
    const uint8_t* d = buffer_.data;
    if (length_ < 6 || d[0] != 0 || d[1] != 0 || d[2] != 1)
        return nullptr;
    uint32_t headerSize = 6;
    if (HasOptionalHeader(d[3])) {
        if (length_ < 9)
            return nullptr;
        headerSize = 9 + d[8];
    }
    if (headerSize > static_cast<uint32_t>(length_))
        return nullptr;
    size = headerSize;
    return d;
}

const uint8_t* SkPes::GetPayload(uint32_t& size) const
{
    uint32_t headerSize = 0;
    const uint8_t* header = GetHeader(headerSize);
    size = 0;
    if (header == nullptr)
        return nullptr;
    size = static_cast<uint32_t>(length_) - headerSize;
    return header + headerSize;
}

namespace {

int64_t ReadTimeStamp(const uint8_t* p)
{
    return (int64_t{p[0] & 0x0E} << 29) | (int64_t{p[1]} << 22) | (int64_t{p[2] & 0xFE} << 14) |
           (int64_t{p[3]} << 7) | (p[4] >> 1);
}

} // namespace

std::pair<int64_t, int64_t> SkPes::GetTimeStamps() const
{
    constexpr int64_t kNone = std::numeric_limits<int64_t>::min();
    std::pair<int64_t, int64_t> result{kNone, kNone};
    const int32_t streamId = GetStreamId();
    if (streamId < 0 || !HasOptionalHeader(streamId))
        return result;
    uint32_t headerSize = 0;
    const uint8_t* h = GetHeader(headerSize);
    if (h == nullptr || headerSize < 14)
        return result;
    const uint32_t flags = h[7] >> 6;
    if (flags == 2 || flags == 3)
        result.second = ReadTimeStamp(h + 9);
    if (flags == 3 && headerSize >= 19)
        result.first = ReadTimeStamp(h + 14);
    return result;
}

} // namespace SklibTs
