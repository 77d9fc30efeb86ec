#pragma once
// Start-code delimited units (MPEG video start codes, H.264 / HEVC NAL units, VC-1 BDUs) and
// the removal of emulation-prevention bytes from NAL unit payloads.
#include <array>
#include <cstddef>
#include <cstdint>

namespace SklibTs {

inline constexpr size_t kNoStartCode = static_cast<size_t>(-1);

// Offset of the first 00 00 01 at or after from, or kNoStartCode.
size_t FindStartCode(const uint8_t* data, size_t size, size_t from);

// Walks the units of a byte range. Each unit begins at its start code (00 00 01) and runs to
// the next start code or to the end of the range.
class StartCodeUnits {
public:
    struct Unit {
        const uint8_t* data; // at the 00 00 01
        size_t size;         // start code included
        bool terminated;     // another start code follows it
    };

    StartCodeUnits(const uint8_t* data, size_t size)
        : data_(data), size_(data ? size : 0), next_(FindStartCode(data_, size_, 0))
    {
    }

    // The next unit; false when none is left.
    bool Next(Unit& unit);

private:
    const uint8_t* data_;
    size_t size_;
    size_t next_;
};

// A NAL unit payload with emulation-prevention bytes (the 03 of 00 00 03) removed. Only the
// first kCapacity bytes are kept: the headers parsed from it are far shorter, and reads
// beyond what was kept end in the bit reader's exception.
class RbspBuffer {
public:
    static constexpr size_t kCapacity = 4096;

    RbspBuffer(const uint8_t* data, size_t size);

    const uint8_t* begin() const { return bytes_.data(); }
    const uint8_t* end() const { return bytes_.data() + size_; }
    size_t size() const { return size_; }

private:
    std::array<uint8_t, kCapacity> bytes_;
    size_t size_ = 0;
};

} // namespace SklibTs
