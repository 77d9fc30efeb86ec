#include "BitReader.h"

#include "SkTsExceptions.h"

namespace SklibTs {

uint32_t BitReader::ReadBits(int n)
{
    if (n == 0)
        return 0;
    if (cur_ == end_ || n > 32 || n < 0)
        throw InvalidBitIdxExc();
    const auto lowBits = [](uint32_t v, int bits) { return bits >= 32 ? v : v & ((1u << bits) - 1u); };
    if (n < bitsLeft_) {
        bitsLeft_ -= n;
        return lowBits(static_cast<uint32_t>(*cur_ >> bitsLeft_), n);
    }
    uint32_t value = lowBits(*cur_, bitsLeft_);
    ++cur_;
    int remaining = n - bitsLeft_;
    while (remaining >= 8) {
        if (cur_ == end_)
            throw InvalidBitIdxExc();
        value = (value << 8) | *cur_++;
        remaining -= 8;
    }
    bitsLeft_ = 8 - remaining;
    if (remaining == 0)
        return value;
    if (cur_ == end_)
        throw InvalidBitIdxExc();
    return (value << remaining) | lowBits(static_cast<uint32_t>(*cur_ >> (8 - remaining)), remaining);
}

void BitReader::SkipBits(int n)
{
    while (n > 32) {
        ReadBits(32);
        n -= 32;
    }
    ReadBits(n);
}

size_t BitReader::BitsLeft() const
{
    if (cur_ == end_)
        return 0;
    return static_cast<size_t>(end_ - cur_ - 1) * 8 + static_cast<size_t>(bitsLeft_);
}

} // namespace SklibTs
