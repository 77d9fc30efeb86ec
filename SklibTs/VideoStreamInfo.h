#pragma once
/// @file
/// Properties of a video elementary stream, as far as its headers tell them. A flags word says
/// which of the fields carry a value; fields without their flag are meaningless.
#include <cstdint>
#include <numeric>

namespace SklibTs {

/// A ratio kept reduced by the greatest common divisor of its terms.
struct Fraction {
    int32_t numerator = 1;
    int32_t denominator = 1;

    friend bool operator==(const Fraction&, const Fraction&) = default;
};

/// num/den reduced; a zero pair gives 0/0 (nothing to reduce by).
inline Fraction MakeReducedFraction(int64_t num, int64_t den)
{
    const int64_t divisor = std::gcd(num, den);
    if (divisor == 0)
        return {0, 0};
    return {static_cast<int32_t>(num / divisor), static_cast<int32_t>(den / divisor)};
}

/// What an H.264 sequence parameter set says about the layout of later picture-timing SEI
/// messages, which cannot be parsed without it.
struct H264TimingLayout {
    bool present = false;               ///< filled from an SPS
    uint32_t spsId = 0;
    uint8_t cpbRemovalDelayLength = 0;  ///< bits
    uint8_t dpbOutputDelayLength = 0;   ///< bits
    bool nalHrdPresent = false;
    bool vclHrdPresent = false;
    bool picStructPresent = false;
};

struct VideoStreamInfo {
    static constexpr uint32_t kFlagSize = 0x1;
    static constexpr uint32_t kFlagDisplaySize = 0x2;
    static constexpr uint32_t kFlagChromaFormat = 0x4;
    static constexpr uint32_t kFlagAspect = 0x8;
    static constexpr uint32_t kFlagFraction1 = 0x10;
    static constexpr uint32_t kFlagFraction2 = 0x20;
    static constexpr uint32_t kFlagPictureAspect = 0x40;
    static constexpr uint32_t kFlagFrameRate = 0x80;
    static constexpr uint32_t kFlagCaptions = 0x100;
    static constexpr uint32_t kFlagInterlaced = 0x200;
    static constexpr uint32_t kFlagBitDepth = 0x400;
    /// The size carries the MPEG-2 size extension (bits 12-13 of width and height).
    static constexpr uint32_t kFlagSizeExtension = 0x80000000;

    /// chromaFormat values
    static constexpr uint32_t kChromaNone = 0;
    static constexpr uint32_t kChroma420 = 1;
    static constexpr uint32_t kChroma422 = 2;
    static constexpr uint32_t kChroma444 = 3;      ///< MPEG-2, HEVC
    static constexpr uint32_t kChroma444H264 = 4;  ///< H.264
    static constexpr uint32_t kChromaMonochrome = 5;

    bool Has(uint32_t flag) const { return (flags & flag) != 0; }

    uint32_t flags = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t displayWidth = 0;
    uint32_t displayHeight = 0;
    uint32_t chromaFormat = kChromaNone;
    double aspectX = 0.0;
    double aspectY = 0.0;
    Fraction fraction1;          ///< 0x10, filled by no parser
    Fraction fraction2;          ///< 0x20, filled by no parser
    Fraction pictureAspect;      ///< 0x40, JPEG 2000
    double frameRate = 0.0;
    uint32_t cea708Captions = 0; ///< 1: the last caption construct had cc_type 2 or 3
    uint8_t interlaced = 0;
    uint32_t bitDepthLuma = 0;
    uint32_t bitDepthChroma = 0;

    H264TimingLayout h264;       ///< not a property; kept for SEI parsing
};

} // namespace SklibTs
