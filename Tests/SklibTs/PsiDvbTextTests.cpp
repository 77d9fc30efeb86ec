// DVB text decoding: table selection, diacritics, multi-byte forms, control codes, length cap.
#include <gtest/gtest.h>

#include "DvbText.h"
#include "SectionBuilder.h"

using namespace SklibTs;
using SktsTest::Bytes;

namespace {

std::wstring Text(const Bytes& bytes) { return DvbTextToWide(bytes.data(), static_cast<int32_t>(bytes.size())); }

} // namespace

TEST(PsiDvbText, DefaultTableWithCombiningDiacritics)
{
    EXPECT_EQ(Text({'A', 'R', 'D', ' ', '1'}), L"ARD 1");
    EXPECT_EQ(Text({'C', 'a', 'f', 0xC2, 'e'}), L"Caf\u00E9");
    EXPECT_EQ(Text({0xC8, 'U', 'b', 'e', 'r', ' ', 0xCF, 'c', 0xCB, 'c', 0xC3, 'o', 0xCA, 'A', 0xCD, 'o', 0xCE, 'e'}),
              L"\u00DCber \u010D\u00E7\u00F4\u00C5\u0151\u0119");
    EXPECT_EQ(Text({0xC1, 'a', 0xC4, 'n', 0xC5, 'E', 0xC6, 'g', 0xC7, 'Z'}), L"\u00E0\u00F1\u0112\u011F\u017B");
    EXPECT_EQ(Text({'x', 0xC2}), L"x\u00B4") << "a mark as the last byte stands alone";
    EXPECT_EQ(Text({0xC2, '1'}), L"\u00B41") << "no precomposed form: the mark, then the character";
    EXPECT_EQ(Text({0xC2, 0xC2, 'e'}), L"\u00B4\u00E9");
    EXPECT_EQ(Text({0xA4, 0xA8, 0xA6, 0xD4, 0xE9, 0xFB}), L"\u20AC\u00A4#\u2122\u00D8\u00DF");
    EXPECT_EQ(Text({'a', 0x86, 'b', 0x8A, 'c', 0x9F}), L"abc") << "emphasis and line-break codes dropped";
    EXPECT_EQ(Text({}), L"");
    EXPECT_EQ(DvbTextToWide(nullptr, 5), L"");
    const Bytes one = {'Q'};
    EXPECT_EQ(DvbTextToWide(one.data(), -1), L"");
}

TEST(PsiDvbText, Iso8859Selection)
{
    EXPECT_EQ(Text({0x01, 0xB0, 0xE0, 0xF0}), L"\u0410\u0440\u2116") << "0x01: 8859-5";
    EXPECT_EQ(Text({0x02, 0xC7}), L"\u0627") << "0x02: 8859-6";
    EXPECT_EQ(Text({0x03, 0xC1, 0xE1}), L"\u0391\u03B1") << "0x03: 8859-7";
    EXPECT_EQ(Text({0x04, 0xE0}), L"\u05D0") << "0x04: 8859-8";
    EXPECT_EQ(Text({0x05, 0xD0, 0xFD}), L"\u011E\u0131") << "0x05: 8859-9";
    EXPECT_EQ(Text({0x06, 0xBF}), L"\u014B") << "0x06: 8859-10";
    EXPECT_EQ(Text({0x07, 0xA1}), L"\u0E01") << "0x07: 8859-11";
    EXPECT_EQ(Text({0x09, 0xA1}), L"\u201D") << "0x09: 8859-13";
    EXPECT_EQ(Text({0x0A, 0xA1}), L"\u1E02") << "0x0A: 8859-14";
    EXPECT_EQ(Text({0x0B, 0xA4, 'x'}), L"\u20ACx") << "0x0B: 8859-15";
    EXPECT_EQ(Text({0x01, 'a', 0x8A, 'b'}), L"ab");

    // A byte whose character tells each part from the others.
    const struct {
        uint8_t part, byte;
        wchar_t expected;
    } viaPartNumber[] = {{1, 0xA4, L'\u00A4'},  {2, 0xA3, L'\u0141'},  {3, 0xA1, L'\u0126'},  {4, 0xA2, L'\u0138'},
                         {5, 0xA1, L'\u0401'},  {6, 0xAC, L'\u060C'},  {7, 0xA1, L'\u2018'},  {8, 0xAA, L'\u00D7'},
                         {9, 0xD0, L'\u011E'},  {10, 0xA2, L'\u0112'}, {11, 0xA1, L'\u0E01'}, {13, 0xA1, L'\u201D'},
                         {14, 0xA1, L'\u1E02'}, {15, 0xA6, L'\u0160'}};
    for (const auto& c : viaPartNumber)
        EXPECT_EQ(Text({0x10, 0x00, c.part, c.byte}), std::wstring(1, c.expected)) << "8859-" << int(c.part);
    EXPECT_EQ(Text({0x10, 0x00, 0x06, 0xA1}), L"\uFFFD") << "a position the part leaves empty";

    EXPECT_EQ(Text({0x10, 0x00, 0x0C, 'a'}), (std::wstring{L'\x10', L'\0', L'\x0C', L'a'})) << "no part 12";
    EXPECT_EQ(Text({0x10, 0x01, 0x01, 'a'}), (std::wstring{L'\x10', L'\x01', L'\x01', L'a'}));
    EXPECT_EQ(Text({0x10, 0x00}), (std::wstring{L'\x10', L'\0'}));
    EXPECT_EQ(Text({0x08, 0xC2, 'e'}), (std::wstring{L'\x08', L'\u00E9'})) << "reserved selector: default table";
    EXPECT_EQ(Text({0x1F, 'a'}), (std::wstring{L'\x1F', L'a'}));
}

TEST(PsiDvbText, SixteenBitUtf8AndDoubleByteForms)
{
    EXPECT_EQ(Text({0x11, 0x00, 'A', 0x04, 0x10, 0xE0, 0x8A, 0x00, 'B', 0x30}), L"A\u0410B") << "odd byte ignored";
    EXPECT_EQ(Text({0x14, 0x00, 'A', 0xE0, 0x86, 0xE0, 0xA0, 0x00, 0x86}), L"A\uE0A0\u0086");
    EXPECT_EQ(Text({0x15, 'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xEE, 0x82, 0x8A, 'b'}), L"a\u00E9\u20ACb")
        << "U+E08A is a control code";
    const std::wstring emoji = Text({0x15, 0xF0, 0x9F, 0x93, 0xBA});
    if constexpr (sizeof(wchar_t) == 4) {
        EXPECT_EQ(emoji, std::wstring(1, static_cast<wchar_t>(0x1F4FA)));
    } else {
        EXPECT_EQ(emoji.size(), 2u);
    }
    EXPECT_EQ(Text({0x15, 0xFF, 'a', 0xC3}), L"\uFFFDa\uFFFD");
    EXPECT_EQ(Text({0x15, 0xC0, 0x80, 'z'}), L"\uFFFDz") << "overlong form";
    EXPECT_EQ(Text({0x15, 0xE2, 0x82, 'z'}), L"\uFFFDz") << "cut sequence";
    if constexpr (sizeof(wchar_t) == 4) {
        EXPECT_EQ(Text({0x11, 0xD8, 0x3D, 0xDC, 0xFA}), std::wstring(1, static_cast<wchar_t>(0x1F4FA)));
    }

    EXPECT_EQ(Text({0x12, 'K', 0xB0, 0xA1, 0xC7, 0xD1}), L"K\uAC00\uD55C");
    EXPECT_EQ(Text({0x13, 0xB0, 0xA1, 'x', 0xD6, 0xD0}), L"\u554Ax\u4E2D");
    EXPECT_EQ(Text({0x13, 0xB0}), L"\uFFFD") << "lead byte without its trail";
    EXPECT_EQ(Text({0x13, 0x8A, 'a'}), L"a");
}

TEST(PsiDvbText, ResultHoldsAtMost255Characters)
{
    const auto sized = [](uint8_t selector, size_t n, Bytes unit) {
        Bytes b;
        if (selector != 0)
            b.push_back(selector);
        for (size_t i = 0; i < n; ++i)
            b.insert(b.end(), unit.begin(), unit.end());
        return b;
    };
    EXPECT_EQ(Text(sized(0, 300, {'a'})).size(), 255u);
    EXPECT_EQ(Text(sized(0, 255, {'a'})).size(), 255u);
    EXPECT_EQ(Text(sized(0, 254, {'a'})).size(), 254u);
    EXPECT_EQ(Text(sized(0, 300, {0xC2, 'e'})), std::wstring(255, L'\u00E9'));
    EXPECT_EQ(Text(sized(0x05, 300, {0xD0})).size(), 255u);
    EXPECT_EQ(Text(sized(0x11, 300, {0x04, 0x10})).size(), 255u);
    EXPECT_EQ(Text(sized(0x15, 300, {0xE2, 0x82, 0xAC})), std::wstring(255, L'\u20AC'));
    EXPECT_EQ(Text(sized(0x12, 300, {0xB0, 0xA1})).size(), 255u);
}
