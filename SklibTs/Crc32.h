#pragma once
#include <cstdint>

namespace SklibTs {

// The MPEG-2 CRC-32 (polynomial 0x04C11DB7, register preset to all ones, most significant
// bit first, no reflection and no final inversion).
uint32_t ComputeCrc32(const uint8_t* bytes, int32_t count);

// True when the CRC over a whole section, its CRC_32 field included, is zero; false for an
// empty range.
bool CheckCrc32(const uint8_t* bytes, int32_t count);

} // namespace SklibTs
