#include "Crc32.h"

#include <array>

namespace SklibTs {

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

} // namespace

uint32_t ComputeCrc32(const uint8_t* bytes, int32_t count)
{
    uint32_t crc = 0xFFFFFFFF;
    for (int32_t i = 0; i < count; ++i)
        crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ bytes[i]) & 0xFF];
    return crc;
}

bool CheckCrc32(const uint8_t* bytes, int32_t count)
{
    return count >= 1 && bytes != nullptr && ComputeCrc32(bytes, count) == 0;
}

} // namespace SklibTs
