#include "DvbText.h"

#include <algorithm>

#include "DvbTextTables.h"

namespace SklibTs {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Collects decoded characters up to the length limit. Characters above the Basic
// Multilingual Plane become surrogate pairs where wchar_t has 16 bits.
class TextSink {
public:
    bool Full() const { return text_.size() >= kMaxDvbTextLength; }

    void Put(char32_t c)
    {
        if (Full())
            return;
        if constexpr (sizeof(wchar_t) == 2) {
            if (c > 0xFFFF) {
                if (text_.size() + 2 > kMaxDvbTextLength)
                    return;
                c -= 0x10000;
                text_.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
                text_.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
                return;
            }
        }
        text_.push_back(static_cast<wchar_t>(c));
    }

    // Multi-byte tables carry the single-byte control codes 0x80..0x9F at 0xE080..0xE09F.
    void PutUnlessControl(char32_t c)
    {
        if (c < 0xE080 || c > 0xE09F)
            Put(c);
    }

    std::wstring Take() { return std::move(text_); }

private:
    std::wstring text_;
};

bool IsSingleByteControl(uint8_t b) { return b >= 0x80 && b <= 0x9F; }

char32_t Composed(uint8_t mark, uint8_t letter)
{
    const DiacriticComposition* first = kDiacriticCompositions;
    const DiacriticComposition* last = kDiacriticCompositions + kDiacriticCompositionCount;
    const auto it = std::lower_bound(first, last, DiacriticComposition{mark, letter, 0},
                                     [](const DiacriticComposition& a, const DiacriticComposition& b) {
                                         return a.mark != b.mark ? a.mark < b.mark : a.letter < b.letter;
                                     });
    return (it != last && it->mark == mark && it->letter == letter) ? it->composed : 0;
}

char32_t OrReplacement(uint16_t c) { return c != 0 ? c : kReplacement; }

void DecodeDefault(const uint8_t* p, const uint8_t* end, TextSink& out)
{
    while (p < end && !out.Full()) {
        const uint8_t b = *p++;
        if (b < 0x80) {
            out.Put(b);
        } else if (IsSingleByteControl(b)) {
            continue;
        } else if (b >= 0xC0 && b <= 0xCF && p < end) {
            // A non-spacing mark precedes its letter; without a precomposed form it stands alone.
            if (const char32_t composed = Composed(b, *p)) {
                out.Put(composed);
                ++p;
            } else {
                out.Put(OrReplacement(kDefaultUpperHalf[b - 0xA0]));
            }
        } else {
            out.Put(OrReplacement(kDefaultUpperHalf[b - 0xA0]));
        }
    }
}

void DecodeIso8859(int part, const uint8_t* p, const uint8_t* end, TextSink& out)
{
    for (; p < end && !out.Full(); ++p) {
        const uint8_t b = *p;
        if (b < 0x80)
            out.Put(b);
        else if (!IsSingleByteControl(b))
            out.Put(OrReplacement(kIso8859UpperHalf[part][b - 0xA0]));
    }
}

void DecodeUcs2(const uint8_t* p, const uint8_t* end, TextSink& out)
{
    for (; end - p >= 2 && !out.Full(); p += 2) {
        char32_t c = (char32_t{p[0]} << 8) | p[1];
        if (c >= 0xD800 && c <= 0xDFFF) {
            // A surrogate pair is one character (the sink splits it again for a 16-bit
            // wchar_t); a surrogate without its partner is no character at all.
            const char32_t low = end - p >= 4 ? (char32_t{p[2]} << 8) | p[3] : 0;
            if (c <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                p += 2;
            } else {
                c = kReplacement;
            }
        }
        out.PutUnlessControl(c);
    }
}

void DecodeUtf8(const uint8_t* p, const uint8_t* end, TextSink& out)
{
    while (p < end && !out.Full()) {
        const uint8_t lead = *p;
        int extra = 0;
        char32_t c = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, c = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, c = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, c = lead & 0x07, minimum = 0x10000;
        } else {
            out.Put(kReplacement);
            ++p;
            continue;
        }
        int taken = 0;
        while (taken < extra && end - p > taken + 1 && (p[taken + 1] & 0xC0) == 0x80) {
            c = (c << 6) | (p[taken + 1] & 0x3F);
            ++taken;
        }
        if (taken < extra) {
            // Truncated sequence: one replacement for the bytes read so far.
            out.Put(kReplacement);
            p += 1 + taken;
            continue;
        }
        p += 1 + extra;
        const bool valid = c >= minimum && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
        if (valid)
            out.PutUnlessControl(c);
        else
            out.Put(kReplacement);
    }
}

// EUC form of a 94 x 94 chart: ASCII as is, a pair of bytes 0xA1..0xFE through the chart.
void DecodeDoubleByte(const uint16_t* chart, const uint8_t* p, const uint8_t* end, TextSink& out)
{
    while (p < end && !out.Full()) {
        const uint8_t b = *p;
        if (b < 0x80) {
            out.Put(b);
            ++p;
        } else if (b >= 0xA1 && b <= 0xFE && end - p >= 2 && p[1] >= 0xA1 && p[1] <= 0xFE) {
            out.Put(OrReplacement(chart[(b - 0xA1) * kCjkRows + (p[1] - 0xA1)]));
            p += 2;
        } else {
            if (!IsSingleByteControl(b))
                out.Put(kReplacement);
            ++p;
        }
    }
}

// ISO/IEC 8859 part selected by a one-byte table selector 0x01..0x0B (0x08 would be the
// never-published part 12), or 0 when the byte selects none.
int Iso8859PartOfSelector(uint8_t selector)
{
    if ((selector >= 0x01 && selector <= 0x07) || (selector >= 0x09 && selector <= 0x0B))
        return selector + 4;
    return 0;
}

} // namespace

std::wstring DvbTextToWide(const uint8_t* bytes, int32_t count)
{
    TextSink out;
    if (bytes == nullptr || count <= 0)
        return out.Take();
    const uint8_t* end = bytes + count;
    const uint8_t selector = bytes[0];

    if (selector >= 0x20) {
        DecodeDefault(bytes, end, out);
    } else if (const int part = Iso8859PartOfSelector(selector)) {
        DecodeIso8859(part, bytes + 1, end, out);
    } else if (selector == 0x10 && count >= 3 && bytes[1] == 0x00 && bytes[2] >= 1 && bytes[2] <= 15 &&
               bytes[2] != 12) {
        DecodeIso8859(bytes[2], bytes + 3, end, out);
    } else if (selector == 0x11 || selector == 0x14) {
        DecodeUcs2(bytes + 1, end, out);
    } else if (selector == 0x12) {
        DecodeDoubleByte(kKsx1001Chart, bytes + 1, end, out);
    } else if (selector == 0x13) {
        DecodeDoubleByte(kGb2312Chart, bytes + 1, end, out);
    } else if (selector == 0x15) {
        DecodeUtf8(bytes + 1, end, out);
    } else {
        // Reserved selectors: the default table over everything, the selector included.
        DecodeDefault(bytes, end, out);
    }
    return out.Take();
}

} // namespace SklibTs
