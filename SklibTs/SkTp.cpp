#include "SkTp.h"

#include <algorithm>

#include "SkTsExceptions.h"
#include "SkTsTypes.h"

namespace SklibTs {

void SkTp::ThrowInvalid() { throw InvalidTpBufferExc(); }

const uint8_t* SkTp::GetAdaptationField(uint32_t& length) const
{
    length = 0;
    if (!IsValid())
        return nullptr;
    const int32_t fieldLength = GetAdaptationFieldLength();
    if (fieldLength < 0 || static_cast<uint32_t>(fieldLength) + 1 > size_ - 4)
        return nullptr;
    length = static_cast<uint32_t>(fieldLength) + 1;
    return buffer_ + 4;
}

bool SkTp::GetDiscontinuityIndicator() const
{
    RequireValid();
    uint32_t length = 0;
    const uint8_t* field = GetAdaptationField(length);
    return field != nullptr && length >= 2 && (field[1] & 0x80) != 0;
}

SkTp::PcrField SkTp::GetPcrField() const
{
    RequireValid();
    const uint8_t* p = buffer_ + 6;
    PcrField field;
    field.base = (int64_t{p[0]} << 25) | (int64_t{p[1]} << 17) | (int64_t{p[2]} << 9) | (int64_t{p[3]} << 1) |
                 (p[4] >> 7);
    field.extension = ((p[4] & 1u) << 8) | p[5];
    return field;
}

int64_t SkTp::GetPcr() const
{
    constexpr uint32_t kFieldBytesWithPcr = 8; // length byte, flags, 6 PCR bytes
    if (!HasPcr())
        return kNoTime;
    uint32_t length = 0;
    if (GetAdaptationField(length) == nullptr || length < kFieldBytesWithPcr)
        return kNoTime;
    const PcrField field = GetPcrField();
    return field.base * kPcrTicksPerPcrBase + field.extension;
}

const uint8_t* SkTp::GetPayload(uint32_t& size) const
{
    size = 0;
    if (!IsValid())
        return nullptr;
    uint32_t adaptation = 0;
    GetAdaptationField(adaptation);
    const int64_t payloadSize = int64_t{std::min(size_, kTsPacketSize)} - 4 - adaptation;
    if (payloadSize <= 0)
        return nullptr;
    size = static_cast<uint32_t>(payloadSize);
    return buffer_ + 4 + adaptation;
}

} // namespace SklibTs
