#pragma once
#include <cstdint>

#include "SkTsTypes.h"

namespace SklibTs {

// Read-only view of one transport packet, and the one place where the toolkit and the
// engine read packet header and adaptation-field bytes. Never owns or copies its buffer.
// Packets longer than 188 bytes (204 with parity) are accepted: the header and the
// adaptation field are bounded by the size given, the payload always ends at byte 188.
class SkTp {
public:
    SkTp(const uint8_t* buffer, uint32_t size) : buffer_(buffer), size_(size) {}
    virtual ~SkTp() = default;

    bool IsValid() const { return buffer_ != nullptr && size_ >= kTsPacketSize; }

    // PCR bytes as they stand in the packet.
    struct PcrField {
        int64_t base = 0;       // 33 bits, 90 kHz
        uint32_t extension = 0; // 9 bits, 0 to 511
    };

    // Header accessors; they throw InvalidTpBufferExc on an invalid packet. The simple ones are
    // inline: every packet goes through several of them.
    bool HasSyncByte() const { return Byte(0) == kSyncByte; }
    int32_t GetPid() const { return ((Byte(1) & 0x1F) << 8) | buffer_[2]; }
    bool GetPayloadUnitStart() const { return (Byte(1) & 0x40) != 0; }
    int32_t GetContinuityCounter() const { return Byte(3) & 0x0F; }
    bool HasPayload() const { return (GetAdaptationFieldControl() & 1) != 0; }
    bool GetTransportErrorIndicator() const { return (Byte(1) & 0x80) != 0; }
    uint32_t GetScramblingControl() const { return (Byte(3) >> 6) & 0x3; }
    uint32_t GetAdaptationFieldControl() const { return (Byte(3) >> 4) & 0x3; }
    // adaptation_field_length when adaptation_field_control is 2 or 3, else -1; whether the
    // field fits in the packet is for GetAdaptationField to say.
    int32_t GetAdaptationFieldLength() const { return GetAdaptationFieldControl() >= 2 ? buffer_[4] : -1; }
    bool GetDiscontinuityIndicator() const;
    // PCR_flag of an adaptation field of non-zero length, whether or not the field is long
    // enough to hold the PCR.
    bool HasPcr() const { return GetAdaptationFieldLength() > 0 && (buffer_[5] & 0x10) != 0; }
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
    [[noreturn]] static void ThrowInvalid();
    void RequireValid() const
    {
        if (!IsValid())
            ThrowInvalid();
    }
    // A header byte of a valid packet.
    uint8_t Byte(uint32_t index) const
    {
        RequireValid();
        return buffer_[index];
    }

    const uint8_t* buffer_;
    uint32_t size_;
};

} // namespace SklibTs
