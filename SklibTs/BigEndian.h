#pragma once
// Big-endian fields of section and descriptor bytes. The caller has checked that the bytes
// are there.
#include <cstdint>

namespace SklibTs {

inline uint32_t Read16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
inline uint32_t Read32(const uint8_t* p) { return (Read16(p) << 16) | Read16(p + 2); }
// The low 12 bits of a 16-bit field (section and loop lengths).
inline int32_t Read12(const uint8_t* p) { return static_cast<int32_t>(Read16(p) & 0x0FFF); }
// The low 13 bits of a 16-bit field (PIDs).
inline int32_t Read13(const uint8_t* p) { return static_cast<int32_t>(Read16(p) & 0x1FFF); }

} // namespace SklibTs
