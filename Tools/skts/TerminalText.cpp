#include "TerminalText.h"

#include <cstdint>
#include <cstdio>

#include "Utf8Text.h"

namespace Skts {

namespace {

// The code point of the valid UTF-8 sequence at text[at], and its length.
char32_t Decode(const std::string& text, size_t at, size_t& length)
{
    const auto lead = static_cast<uint8_t>(text[at]);
    const auto next = [&](size_t i) { return static_cast<char32_t>(static_cast<uint8_t>(text[at + i]) & 0x3F); };
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    if (lead < 0xE0) {
        length = 2;
        return (char32_t{lead & 0x1Fu} << 6) | next(1);
    }
    if (lead < 0xF0) {
        length = 3;
        return (char32_t{lead & 0x0Fu} << 12) | (next(1) << 6) | next(2);
    }
    length = 4;
    return (char32_t{lead & 0x07u} << 18) | (next(1) << 12) | (next(2) << 6) | next(3);
}

bool Steers(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

} // namespace

std::string ForTerminal(std::string_view raw)
{
    const std::string text = SklibTs::ValidUtf8(raw);
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        size_t length = 0;
        const char32_t c = Decode(text, at, length);
        if (c == '\\') {
            out += "\\\\";
        } else if (Steers(c)) {
            char escaped[16];
            if (c < 0x80)
                std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(c));
            else
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out.append(text, at, length);
        }
        at += length;
    }
    return out;
}

} // namespace Skts
