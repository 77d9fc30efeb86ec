#pragma once
/// @file
/// Properties of a video elementary stream, as far as its headers tell them. A flags word says
/// which of the fields carry a value; fields without their flag are meaningless.
#include <cstdint>
#include <numeric>

namespace SklibTs {

/// A ratio kept reduced by the greatest common divisor of its terms.
struct Fraction {
    int32_t numerator = 1;   ///< upper term
    int32_t denominator = 1; ///< lower term

    /// Both terms equal.
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
    uint32_t spsId = 0;                 ///< seq_parameter_set_id of that SPS
    uint8_t cpbRemovalDelayLength = 0;  ///< bits
    uint8_t dpbOutputDelayLength = 0;   ///< bits
    bool nalHrdPresent = false;         ///< nal_hrd_parameters_present_flag
    bool vclHrdPresent = false;         ///< vcl_hrd_parameters_present_flag
    bool picStructPresent = false;      ///< pic_struct_present_flag
};

/// What the headers of a video stream (MPEG-1/2, H.264, HEVC, VC-1, JPEG 2000, JPEG XS) say.
/// A field is valid only when its flag is in `flags` (Has()).
struct VideoStreamInfo {
    /// A flag of `flags`: the field of that name carries a value (kFlagSize: width and height,
    /// kFlagAspect: aspectX and aspectY, kFlagBitDepth: both bit depths).
    ///@{
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
    ///@}
    /// The size carries the MPEG-2 size extension (bits 12-13 of width and height).
    static constexpr uint32_t kFlagSizeExtension = 0x80000000;

    static constexpr uint32_t kChromaNone = 0;       ///< chromaFormat: not known
    static constexpr uint32_t kChroma420 = 1;        ///< chromaFormat: 4:2:0
    static constexpr uint32_t kChroma422 = 2;        ///< chromaFormat: 4:2:2
    static constexpr uint32_t kChroma444 = 3;      ///< MPEG-2, HEVC
    static constexpr uint32_t kChroma444H264 = 4;  ///< H.264
    static constexpr uint32_t kChromaMonochrome = 5; ///< chromaFormat: luma only

    /// The field of `flag` carries a value.
    bool Has(uint32_t flag) const { return (flags & flag) != 0; }

    uint32_t flags = 0;          ///< kFlag... bits of the fields that carry a value
    uint32_t width = 0;          ///< coded width, pixels
    uint32_t height = 0;         ///< coded height, pixels
    uint32_t displayWidth = 0;   ///< MPEG-2 sequence display extension, pixels
    uint32_t displayHeight = 0;  ///< MPEG-2 sequence display extension, pixels
    uint32_t chromaFormat = kChromaNone; ///< a kChroma... value
    double aspectX = 0.0;        ///< aspect ratio aspectX:aspectY: the display aspect for MPEG-1/2, the sample aspect for H.264, HEVC and VC-1
    double aspectY = 0.0;        ///< see aspectX
    Fraction fraction1;          ///< 0x10, filled by no parser
    Fraction fraction2;          ///< 0x20, filled by no parser
    Fraction pictureAspect;      ///< 0x40, JPEG 2000
    double frameRate = 0.0;      ///< frames per second
    uint32_t cea708Captions = 0; ///< 1: the last caption construct had cc_type 2 or 3
    uint8_t interlaced = 0;      ///< 1: interlaced, 0: progressive
    uint32_t bitDepthLuma = 0;   ///< bits per luma sample (HEVC)
    uint32_t bitDepthChroma = 0; ///< bits per chroma sample (HEVC)

    H264TimingLayout h264;       ///< not a property; kept for SEI parsing
};

} // namespace SklibTs
