// Text leaving the toolkit is valid UTF-8 whatever bytes the stream carried.
#include <gtest/gtest.h>

#include <string>

#include "DvbText.h"
#include "Utf8Text.h"

using SklibTs::ValidUtf8;
using SklibTs::WideToUtf8;

namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

std::wstring Dvb(std::initializer_list<uint8_t> bytes)
{
    const std::vector<uint8_t> v(bytes);
    return SklibTs::DvbTextToWide(v.data(), static_cast<int32_t>(v.size()));
}

} // namespace

TEST(Utf8Text, WideTextBecomesValidUtf8)
{
    EXPECT_EQ(WideToUtf8(L"Caf\u00e9 \u20ac"), "Caf\xC3\xA9 \xE2\x82\xAC");
    // A pair, as a 16-bit wchar_t holds a character beyond the BMP, is one character.
    const std::wstring pair = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDCFA)};
    EXPECT_EQ(WideToUtf8(pair), "\xF0\x9F\x93\xBA");
    // Lone surrogates and values beyond U+10FFFF are no characters.
    EXPECT_EQ(WideToUtf8(std::wstring{static_cast<wchar_t>(0xD800), L'A'}), kReplacement + "A");
    EXPECT_EQ(WideToUtf8(std::wstring{L'B', static_cast<wchar_t>(0xDC00)}), "B" + kReplacement);
    if constexpr (sizeof(wchar_t) == 4) {
        EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0x110000))), kReplacement);
    }
}

TEST(Utf8Text, IllFormedBytesBecomeOneReplacementEach)
{
    EXPECT_EQ(ValidUtf8("plain \xC3\xA9\xF0\x9F\x93\xBA"), "plain \xC3\xA9\xF0\x9F\x93\xBA");
    EXPECT_EQ(ValidUtf8("\xFF\xFE"), kReplacement + kReplacement);
    EXPECT_EQ(ValidUtf8("a\x80z"), "a" + kReplacement + "z") << "stray continuation";
    EXPECT_EQ(ValidUtf8("\xE2\x82"), kReplacement) << "truncated: one replacement for the maximal subpart";
    EXPECT_EQ(ValidUtf8("\xC0\xAF"), kReplacement + kReplacement) << "overlong";
    EXPECT_EQ(ValidUtf8("\xED\xA0\x80"), kReplacement + kReplacement + kReplacement) << "encoded surrogate";
    EXPECT_EQ(ValidUtf8("\xF4\x90\x80\x80"), kReplacement + kReplacement + kReplacement + kReplacement);
    EXPECT_EQ(ValidUtf8(std::string("\0x", 2)), std::string("\0x", 2)) << "NUL is a character";
}

TEST(Utf8Text, LanguageCodesAreLatin1WithoutControls)
{
    const uint8_t french[] = {'f', 'r', 'a'};
    EXPECT_EQ(SklibTs::Latin1CodeToUtf8(french, 3), "fra");
    const uint8_t hostile[] = {0xFF, 0x1B, 0x9B};
    EXPECT_EQ(SklibTs::Latin1CodeToUtf8(hostile, 3), "\xC3\xBF" + kReplacement + kReplacement);
}

// A UCS-2 name with a surrogate that has no partner keeps its other characters.
TEST(Utf8Text, DvbUcs2LoneSurrogatesAreReplaced)
{
    EXPECT_EQ(WideToUtf8(Dvb({0x11, 0xD8, 0x00, 0x00, 0x41})), kReplacement + "A");
    EXPECT_EQ(WideToUtf8(Dvb({0x11, 0x00, 0x42, 0xDC, 0x00})), "B" + kReplacement);
    EXPECT_EQ(WideToUtf8(Dvb({0x14, 0xD8, 0x3D})), kReplacement) << "high surrogate at the end";
    EXPECT_EQ(WideToUtf8(Dvb({0x11, 0xD8, 0x3D, 0xDC, 0xFA})), "\xF0\x9F\x93\xBA");
}
