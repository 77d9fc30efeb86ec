#pragma once
// A bounded big-endian read cursor over a byte range.
#include <cstdint>
#include <exception>

namespace SklibTs {

class BytePtr {
public:
    class OutOfRange : public std::exception {
    public:
        const char* what() const noexcept override
        {
            return "OutOfRange: BytePtr tried to read beyond its buffer.";
        }
    };

    BytePtr(const uint8_t* data, int32_t size) : data_(data), size_(data ? size : 0) {}

    uint8_t ReadU8()
    {
        if (position_ < 0 || position_ >= size_)
            throw OutOfRange();
        return data_[position_++];
    }
    uint16_t ReadU16()
    {
        const uint8_t high = ReadU8(); // two statements: the operands of | are unsequenced
        return static_cast<uint16_t>(high << 8 | ReadU8());
    }
    uint32_t ReadU32()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = value << 8 | ReadU8();
        return value;
    }
    // Moves on by count bytes without reading them; the next read checks the bounds.
    void Skip(int32_t count) { position_ = static_cast<int32_t>(static_cast<int64_t>(position_) + count); }

    int32_t Position() const { return position_; }
    int32_t Size() const { return size_; }
    int32_t Remaining() const { return size_ - position_; }

private:
    int32_t position_ = 0;
    const uint8_t* data_;
    int32_t size_;
};

} // namespace SklibTs
