#include "NalUnits.h"

#include <cstring>

namespace SklibTs {

size_t FindStartCode(const uint8_t* data, size_t size, size_t from)
{
    if (data == nullptr || size < 3)
        return kNoStartCode;
    size_t i = from;
    while (i + 3 <= size) {
        // Every start code contains a 01 byte preceded by two zeros; memchr finds the 01s fast.
        const void* hit = std::memchr(data + i + 2, 1, size - i - 2);
        if (hit == nullptr)
            return kNoStartCode;
        const size_t one = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
        if (data[one - 1] == 0 && data[one - 2] == 0)
            return one - 2;
        i = one - 1;
    }
    return kNoStartCode;
}

bool StartCodeUnits::Next(Unit& unit)
{
    if (next_ == kNoStartCode)
        return false;
    const size_t begin = next_;
    next_ = FindStartCode(data_, size_, begin + 3);
    const size_t end = next_ == kNoStartCode ? size_ : next_;
    unit = {data_ + begin, end - begin, next_ != kNoStartCode};
    return true;
}

RbspBuffer::RbspBuffer(const uint8_t* data, size_t size)
{
    int zeros = 0;
    for (size_t i = 0; i < size && size_ < kCapacity; ++i) {
        const uint8_t byte = data[i];
        if (zeros >= 2 && byte == 0x03) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        bytes_[size_++] = byte;
    }
}

} // namespace SklibTs
