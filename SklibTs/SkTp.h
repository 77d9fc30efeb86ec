#pragma once
#include <cstdint>

namespace SklibTs {

// Read-only view of one transport packet, and the one place where the toolkit and the
// engine read packet header and adaptation-field bytes. Never owns or copies its buffer.
// Packets longer than 188 bytes (204 with parity) are accepted: the header and the
// adaptation field are bounded by the size given, the payload always ends at byte 188.
class SkTp {
public:
    SkTp(const uint8_t* buffer, uint32_t size) : buffer_(buffer), size_(size) {}
    virtual ~SkTp() = default;

    bool IsValid() const { return buffer_ != nullptr && size_ >= 188; }

    // PCR bytes as they stand in the packet.
    struct PcrField {
        int64_t base = 0;       // 33 bits, 90 kHz
        uint32_t extension = 0; // 9 bits, 0 to 511
    };

    // Header accessors; they throw InvalidTpBufferExc on an invalid packet.
    bool HasSyncByte() const;
    int32_t GetPid() const;
    bool GetPayloadUnitStart() const;
    int32_t GetContinuityCounter() const;
    bool HasPayload() const;
    bool GetTransportErrorIndicator() const;
    uint32_t GetScramblingControl() const;
    uint32_t GetAdaptationFieldControl() const;
    // adaptation_field_length when adaptation_field_control is 2 or 3, else -1; whether the
    // field fits in the packet is for GetAdaptationField to say.
    int32_t GetAdaptationFieldLength() const;
    bool GetDiscontinuityIndicator() const;
    // PCR_flag of an adaptation field of non-zero length, whether or not the field is long
    // enough to hold the PCR.
    bool HasPcr() const;
    // base * 300 + extension (27 MHz), or INT64_MIN when there is no PCR inside the field.
    int64_t GetPcr() const;
    // Bytes 6 to 11 read as a PCR, whatever the field's length says: for readers whose rule
    // trusts the flag alone.
    PcrField GetPcrField() const;

    // The adaptation_field_length byte and length + 1, or null/0 when absent or when length + 1
    // exceeds size - 4.
    const uint8_t* GetAdaptationField(uint32_t& length) const;
    // The bytes after the header and the adaptation field up to byte 188, or null/0 when there
    // are none. An adaptation field that does not fit is skipped as if absent, and
    // adaptation_field_control 0 or 2 does not stop it from returning bytes.
    const uint8_t* GetPayload(uint32_t& size) const;

    const uint8_t* Data() const { return buffer_; }
    uint32_t Size() const { return size_; }

private:
    void RequireValid() const;

    const uint8_t* buffer_;
    uint32_t size_;
};

} // namespace SklibTs
