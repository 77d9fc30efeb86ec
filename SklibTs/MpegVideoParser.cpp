#include "MpegVideoParser.h"

#include "BitReader.h"
#include "NalUnits.h"
#include "SkTsExceptions.h"

namespace SklibTs {
namespace {

constexpr uint8_t kSequenceHeader = 0xB3;
constexpr uint8_t kExtension = 0xB5;
constexpr uint8_t kUserData = 0xB2;
constexpr uint32_t kSequenceExtensionId = 1;
constexpr uint32_t kSequenceDisplayExtensionId = 2;
constexpr uint32_t kGa94 = 0x47413934;
constexpr uint32_t kCcDataTypeCode = 3;
constexpr uint32_t kSizeExtensionBits = 0x3000;

using V = VideoStreamInfo;

void ParseSequenceHeader(BitReader& bits, V& info)
{
    const uint32_t width = bits.ReadBits(12);
    const uint32_t height = bits.ReadBits(12);
    const uint32_t aspectCode = bits.ReadBits(4);
    const uint32_t frameRateCode = bits.ReadBits(4);
    // An extension seen earlier in this packet has already set bits 12-13.
    info.width = (info.width & kSizeExtensionBits) | width;
    info.height = (info.height & kSizeExtensionBits) | height;
    info.flags |= V::kFlagSize;

    static constexpr double kAspects[][2] = {{1.0, 1.0}, {4.0, 3.0}, {16.0, 9.0}, {2.21, 1.0}};
    if (aspectCode >= 1 && aspectCode <= 4) {
        info.aspectX = kAspects[aspectCode - 1][0];
        info.aspectY = kAspects[aspectCode - 1][1];
        info.flags |= V::kFlagAspect;
    }
    static constexpr double kFrameRates[] = {23.976, 24.0, 25.0, 29.97, 30.0, 50.0, 59.94, 60.0};
    if (frameRateCode >= 1 && frameRateCode <= 8) {
        info.frameRate = kFrameRates[frameRateCode - 1];
        info.flags |= V::kFlagFrameRate;
    }
}

void ParseSequenceExtension(BitReader& bits, V& info)
{
    bits.SkipBits(8); // profile_and_level_indication
    const bool progressiveSequence = bits.ReadFlag();
    const uint32_t chromaFormat = bits.ReadBits(2);
    const uint32_t widthExtension = bits.ReadBits(2);
    const uint32_t heightExtension = bits.ReadBits(2);
    info.chromaFormat = chromaFormat;
    info.flags |= V::kFlagChromaFormat;
    // Beyond the size and chroma bits: progressive_sequence is the interlacing users ask for.
    info.interlaced = progressiveSequence ? 0 : 1;
    info.flags |= V::kFlagInterlaced;
    if (info.Has(V::kFlagSize)) {
        info.width = (info.width & ~kSizeExtensionBits) | widthExtension << 12;
        info.height = (info.height & ~kSizeExtensionBits) | heightExtension << 12;
        info.flags |= V::kFlagSizeExtension;
    }
}

void ParseSequenceDisplayExtension(BitReader& bits, V& info)
{
    bits.SkipBits(3); // video_format
    if (bits.ReadFlag())
        bits.SkipBits(24); // colour primaries, transfer characteristics, matrix coefficients
    const uint32_t displayWidth = bits.ReadBits(14);
    bits.SkipBits(1); // marker
    const uint32_t displayHeight = bits.ReadBits(14);
    info.displayWidth = displayWidth;
    info.displayHeight = displayHeight;
    info.flags |= V::kFlagDisplaySize;
}

void ParseExtension(BitReader& bits, V& info)
{
    switch (bits.ReadBits(4)) {
    case kSequenceExtensionId:
        ParseSequenceExtension(bits, info);
        break;
    case kSequenceDisplayExtensionId:
        ParseSequenceDisplayExtension(bits, info);
        break;
    default:
        break;
    }
}

// ATSC A/53 cc_data in user data: "GA94", type 3, flags, cc_count, em_data, constructs.
void ParseUserData(BitReader& bits, size_t unitSize, V& info)
{
    if (bits.ReadBits(32) != kGa94 || bits.ReadBits(8) != kCcDataTypeCode)
        return;
    bits.SkipBits(3); // process_em_data_flag, process_cc_data_flag, additional_data_flag
    const uint32_t ccCount = bits.ReadBits(5);
    bits.SkipBits(8); // em_data
    constexpr size_t kBytesBeforeConstructs = 4 + 4 + 1 + 2;
    if (ccCount == 0 || unitSize < kBytesBeforeConstructs + 3 * size_t{ccCount})
        return;
    uint32_t captions = 0;
    for (uint32_t i = 0; i < ccCount; ++i) {
        bits.SkipBits(6); // marker bits, cc_valid
        const uint32_t ccType = bits.ReadBits(2);
        bits.SkipBits(16);
        captions = ccType > 1 ? 1 : 0;
    }
    info.cea708Captions = captions;
    info.flags |= V::kFlagCaptions;
}

void ParseUnits(const uint8_t* payload, size_t length, V& info)
{
    StartCodeUnits units(payload, length);
    StartCodeUnits::Unit unit{};
    while (units.Next(unit)) {
        if (unit.size < 4)
            continue;
        BitReader bits(unit.data + 4, unit.data + unit.size);
        switch (unit.data[3]) {
        case kSequenceHeader:
            if (unit.size >= 12)
                ParseSequenceHeader(bits, info);
            break;
        case kExtension:
            if (unit.size >= 5)
                ParseExtension(bits, info);
            break;
        case kUserData:
            if (unit.size >= 9)
                ParseUserData(bits, unit.size, info);
            break;
        default:
            break;
        }
    }
}

} // namespace

std::unique_ptr<VideoStreamInfo> ParseMpegVideo(const uint8_t* payload, int32_t length)
{
    if (payload == nullptr || length <= 0)
        return nullptr;
    auto info = std::make_unique<V>();
    try {
        ParseUnits(payload, static_cast<size_t>(length), *info);
    } catch (const InvalidBitIdxExc&) {
        return nullptr; // a header cut short: nothing of this packet is trusted
    }
    if (info->flags == 0)
        return nullptr;
    return info;
}

} // namespace SklibTs
