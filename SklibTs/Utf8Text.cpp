#include "Utf8Text.h"

#include <type_traits>

namespace SklibTs {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c)
{
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = kReplacement;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The length a UTF-8 sequence with this lead byte has, and the range its second byte must lie
// in (narrower than 0x80-0xBF where that excludes overlong forms, surrogates and values beyond
// U+10FFFF). False for a byte that cannot lead a sequence.
bool SequenceShape(uint8_t lead, size_t& length, uint8_t& low, uint8_t& high)
{
    low = 0x80;
    high = 0xBF;
    if (lead < 0x80) {
        length = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return false;
    }
    return true;
}

// Bytes of the well-formed prefix at p: the whole sequence when it is valid (1 to 4), else
// the "maximal subpart" that one U+FFFD replaces; `valid` tells which.
size_t SequenceAt(const uint8_t* p, size_t left, bool& valid)
{
    size_t length = 0;
    uint8_t low = 0;
    uint8_t high = 0;
    valid = false;
    if (!SequenceShape(p[0], length, low, high))
        return 1;
    if (length == 1) {
        valid = true;
        return 1;
    }
    if (left < 2 || p[1] < low || p[1] > high)
        return 1;
    size_t taken = 2;
    while (taken < length && taken < left && (p[taken] & 0xC0) == 0x80)
        ++taken;
    valid = taken == length;
    return taken;
}

} // namespace

std::string WideToUtf8(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[i]));
        if (IsHighSurrogate(c) && i + 1 < text.size()) {
            const auto next = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[i + 1]));
            if (IsLowSurrogate(next)) {
                c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::string ValidUtf8(std::string_view bytes)
{
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t size = bytes.size();
    size_t at = 0;
    bool valid = true;
    // Valid text, the usual case, is returned without rebuilding it.
    while (at < size) {
        const size_t length = SequenceAt(p + at, size - at, valid);
        if (!valid)
            break;
        at += length;
    }
    if (at == size)
        return std::string(bytes);
    std::string out(bytes.substr(0, at));
    while (at < size) {
        const size_t length = SequenceAt(p + at, size - at, valid);
        if (valid)
            out.append(bytes.substr(at, length));
        else
            AppendUtf8(out, kReplacement);
        at += length;
    }
    return out;
}

std::string Latin1CodeToUtf8(const uint8_t* bytes, size_t count)
{
    std::string out;
    for (size_t i = 0; bytes != nullptr && i < count; ++i) {
        const uint8_t b = bytes[i];
        const bool control = b < 0x20 || (b >= 0x7F && b <= 0x9F);
        AppendUtf8(out, control ? kReplacement : char32_t{b});
    }
    return out;
}

} // namespace SklibTs
