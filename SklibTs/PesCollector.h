#pragma once
#include <cstdint>
#include <memory>

namespace SklibTs {

// The start of one PES packet, as much of it as the elementary-stream parsers need: the
// buffer grows from 4 KiB to at most 8 KiB and bytes past that are dropped.
class PesCollector {
public:
    static constexpr uint32_t kInitialCapacity = 4096;
    static constexpr uint32_t kLimit = 8192;

    bool Empty() const { return size_ == 0; }
    bool Full() const { return size_ >= kLimit; }
    uint32_t Size() const { return size_; }
    const uint8_t* Data() const { return data_.get(); }

    void Append(const uint8_t* bytes, uint32_t count);
    void Clear() { size_ = 0; }
    // Gives the memory back (the PID's information went away).
    void Release();

private:
    std::unique_ptr<uint8_t[]> data_;
    uint32_t capacity_ = 0;
    uint32_t size_ = 0;
};

} // namespace SklibTs
