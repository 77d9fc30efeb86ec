#pragma once
// Character tables behind DvbTextToWide; internal to the toolkit.
#include <cstddef>
#include <cstdint>

namespace SklibTs {

// A non-spacing diacritical mark of the default table followed by a base letter.
struct DiacriticComposition {
    uint8_t mark;
    uint8_t letter;
    uint16_t composed;
};

// Upper halves (0xA0..0xFF) of ISO/IEC 8859-n, indexed by n; 0 where a part has no character.
extern const uint16_t kIso8859UpperHalf[16][96];
// Upper half of the default table; a diacritical mark standing alone maps to its spacing form.
extern const uint16_t kDefaultUpperHalf[96];
// Sorted by mark, then letter.
extern const DiacriticComposition kDiacriticCompositions[];
extern const size_t kDiacriticCompositionCount;

// 94 x 94 double-byte charts in EUC form; 0 where the chart is empty.
inline constexpr int32_t kCjkRows = 94;
extern const uint16_t kKsx1001Chart[kCjkRows * kCjkRows];
extern const uint16_t kGb2312Chart[kCjkRows * kCjkRows];

} // namespace SklibTs
