#pragma once
// Text that leaves the toolkit is UTF-8. Stream bytes are not trusted to be text: whatever does
// not form a valid character becomes U+FFFD, so a client can hand the result to anything that
// insists on UTF-8 (JSON encoders, terminals, other languages' strings).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace SklibTs {

// Wide text as UTF-8. Surrogate pairs (as 16-bit wchar_t holds characters beyond the Basic
// Multilingual Plane) become one character; lone surrogates and values beyond U+10FFFF
// become U+FFFD.
std::string WideToUtf8(std::wstring_view text);

// The bytes as they are when they are valid UTF-8; otherwise every ill-formed sequence
// (stray continuation bytes, truncated or overlong forms, surrogates, values beyond U+10FFFF)
// becomes one U+FFFD.
std::string ValidUtf8(std::string_view bytes);

// ISO 639 language codes and similar fixed-size codes: each byte is an ISO/IEC 8859-1
// character; control characters (0x00-0x1F, 0x7F-0x9F) become U+FFFD.
std::string Latin1CodeToUtf8(const uint8_t* bytes, size_t count);

} // namespace SklibTs
