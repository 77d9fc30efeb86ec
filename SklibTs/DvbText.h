#pragma once
// Decoding of DVB SI text fields (ETSI EN 300 468 Annex A).
#include <cstdint>
#include <string>

namespace SklibTs {

// Longest text DvbTextToWide returns, in characters.
inline constexpr size_t kMaxDvbTextLength = 255;

// Decodes count bytes of DVB text. The first byte selects the character table: 0x20 and up
// the default Latin table (ISO/IEC 6937 with combining diacritics); 0x01..0x0B one of the
// ISO/IEC 8859 parts; 0x10 0x00 n ISO/IEC 8859-n; 0x11 and 0x14 UCS-2 big-endian; 0x12
// KS X 1001; 0x13 GB 2312; 0x15 UTF-8. Any other first byte decodes the whole text, that byte
// included, with the default table. Control codes are dropped and a UCS-2 surrogate without
// its partner becomes U+FFFD; the result is cut at kMaxDvbTextLength characters. Never reads
// outside [bytes, bytes + count).
std::wstring DvbTextToWide(const uint8_t* bytes, int32_t count);

} // namespace SklibTs
