#include "PesCollector.h"

#include <algorithm>
#include <cstring>

namespace SklibTs {

void PesCollector::Append(const uint8_t* bytes, uint32_t count)
{
    count = std::min(count, kLimit - size_);
    if (count == 0)
        return;
    if (size_ + count > capacity_) {
        uint32_t capacity = capacity_ == 0 ? kInitialCapacity : capacity_;
        while (capacity < size_ + count)
            capacity *= 2;
        auto grown = std::make_unique_for_overwrite<uint8_t[]>(capacity);
        if (size_ > 0)
            std::memcpy(grown.get(), data_.get(), size_);
        data_ = std::move(grown);
        capacity_ = capacity;
    }
    std::memcpy(data_.get() + size_, bytes, count);
    size_ += count;
}

void PesCollector::Release()
{
    data_.reset();
    capacity_ = 0;
    size_ = 0;
}

} // namespace SklibTs
