#include "Crc32.h"

#include <array>
#include <cstddef>

namespace SklibTs {

namespace {

// Eight tables: kCrcTables[0] advances the CRC by one byte, kCrcTables[k] by a byte followed by
// k zero bytes, so that eight bytes are taken at a time with independent look-ups (sections
// are checked twice each: by the conformance checks and when a table is parsed).
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables()
{
    CrcTables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        tables[0][i] = crc;
    }
    for (std::size_t k = 1; k < tables.size(); ++k) {
        for (uint32_t i = 0; i < 256; ++i)
            tables[k][i] = (tables[k - 1][i] << 8) ^ tables[0][tables[k - 1][i] >> 24];
    }
    return tables;
}

constexpr CrcTables kCrcTables = MakeCrcTables();

uint32_t BigEndian32(const uint8_t* bytes)
{
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

} // namespace

uint32_t ComputeCrc32(const uint8_t* bytes, int32_t count)
{
    const auto& t = kCrcTables;
    uint32_t crc = 0xFFFFFFFF;
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const uint32_t high = crc ^ BigEndian32(bytes + i);
        const uint32_t low = BigEndian32(bytes + i + 4);
        crc = t[7][high >> 24] ^ t[6][(high >> 16) & 0xFF] ^ t[5][(high >> 8) & 0xFF] ^ t[4][high & 0xFF] ^
              t[3][low >> 24] ^ t[2][(low >> 16) & 0xFF] ^ t[1][(low >> 8) & 0xFF] ^ t[0][low & 0xFF];
    }
    for (; i < count; ++i)
        crc = (crc << 8) ^ t[0][((crc >> 24) ^ bytes[i]) & 0xFF];
    return crc;
}

bool CheckCrc32(const uint8_t* bytes, int32_t count)
{
    return count >= 1 && bytes != nullptr && ComputeCrc32(bytes, count) == 0;
}

} // namespace SklibTs
