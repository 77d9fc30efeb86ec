#pragma once
#include <cstdint>

namespace SklibTs {

// Read-only view of one transport packet. Never owns or copies its buffer. Packets longer
// than 188 bytes (204 with parity) are accepted; only their first 188 bytes are looked at.
class SkTp {
public:
    SkTp(const uint8_t* buffer, uint32_t size) : buffer_(buffer), size_(size) {}
    virtual ~SkTp() = default;

    bool IsValid() const { return buffer_ != nullptr && size_ >= 188; }

    // Header accessors; they throw InvalidTpBufferExc on an invalid packet.
    int32_t GetPid() const;
    bool GetPayloadUnitStart() const;
    int32_t GetContinuityCounter() const;
    bool HasPayload() const;
    bool GetTransportErrorIndicator() const;
    uint32_t GetScramblingControl() const;
    uint32_t GetAdaptationFieldControl() const;
    bool GetDiscontinuityIndicator() const;
    bool HasPcr() const;
    // base * 300 + extension (27 MHz), or INT64_MIN when there is no readable PCR.
    int64_t GetPcr() const;

    // The adaptation_field_length byte and length + 1, or null/0 when absent or oversized.
    const uint8_t* GetAdaptationField(uint32_t& length) const;
    // The payload after the header and adaptation field, or null/0 when there is none.
    const uint8_t* GetPayload(uint32_t& size) const;

    const uint8_t* Data() const { return buffer_; }
    uint32_t Size() const { return size_; }

private:
    void RequireValid() const;

    const uint8_t* buffer_;
    uint32_t size_;
};

} // namespace SklibTs
