#pragma once
#include <cstddef>
#include <cstdint>

namespace SklibTs {

// Reads bits most significant first from a byte range; throws InvalidBitIdxExc rather than
// reading past its end (bits consumed before the throw stay consumed).
class BitReader {
public:
    BitReader(const uint8_t* begin, const uint8_t* end) : cur_(begin), end_(end) {}
    BitReader(const uint8_t* data, size_t size) : BitReader(data, data + size) {}

    // The next n bits (0 <= n <= 32), the first bit read being the most significant.
    uint32_t ReadBits(int n);
    bool ReadFlag() { return ReadBits(1) != 0; }
    void SkipBits(int n);

    // Bits not yet read.
    size_t BitsLeft() const;
    bool IsByteAligned() const { return bitsLeft_ == 8; }
    // Current byte position (the byte being read).
    const uint8_t* Position() const { return cur_; }

private:
    const uint8_t* cur_;
    const uint8_t* end_;
    int32_t bitsLeft_ = 8; // unread bits of *cur_, 1..8
};

} // namespace SklibTs
