#include "Vc1Parser.h"

#include <array>

#include "BitReader.h"
#include "NalUnits.h"
#include "SkTsExceptions.h"

namespace SklibTs {
namespace {

using V = VideoStreamInfo;

constexpr uint8_t kSequenceHeader = 0x0F;
constexpr uint32_t kAdvancedProfile = 3;
constexpr uint32_t kColorDiff420 = 1;
constexpr uint32_t kExplicitAspect = 15;

// Sample aspect ratios of ASPECT_RATIO 1 to 13.
constexpr std::array<std::array<uint16_t, 2>, 13> kSampleAspects{{
    {1, 1}, {12, 11}, {10, 11}, {16, 11}, {40, 33}, {24, 11}, {20, 11},
    {32, 11}, {80, 33}, {18, 11}, {15, 11}, {64, 33}, {160, 99},
}};
constexpr double kFrameRateNumerators[] = {24000, 25000, 30000, 50000, 60000, 48000, 72000};
constexpr double kFrameRateDenominators[] = {1000, 1001};

void ReadDisplayExtension(BitReader& bits, V& info)
{
    info.displayWidth = bits.ReadBits(14) + 1;
    info.displayHeight = bits.ReadBits(14) + 1;
    info.flags |= V::kFlagDisplaySize;
    if (bits.ReadFlag()) { // ASPECT_RATIO_FLAG
        const uint32_t aspect = bits.ReadBits(4);
        if (aspect == kExplicitAspect) {
            info.aspectX = bits.ReadBits(8) + 1;
            info.aspectY = bits.ReadBits(8) + 1;
            info.flags |= V::kFlagAspect;
        } else if (aspect >= 1 && aspect <= kSampleAspects.size()) {
            info.aspectX = kSampleAspects[aspect - 1][0];
            info.aspectY = kSampleAspects[aspect - 1][1];
            info.flags |= V::kFlagAspect;
        }
    }
    if (bits.ReadFlag()) { // FRAMERATE_FLAG
        if (!bits.ReadFlag()) { // FRAMERATEIND 0: code pair
            const uint32_t nr = bits.ReadBits(8);
            const uint32_t dr = bits.ReadBits(4);
            if (nr >= 1 && nr <= 7 && dr >= 1 && dr <= 2) {
                info.frameRate = kFrameRateNumerators[nr - 1] / kFrameRateDenominators[dr - 1];
                info.flags |= V::kFlagFrameRate;
            }
        } else { // explicit rate in units of 1/32 Hz
            info.frameRate = (bits.ReadBits(16) + 1) / 32.0;
            info.flags |= V::kFlagFrameRate;
        }
    }
}

// Returns false when the header is not an advanced-profile one.
bool ReadSequenceHeader(BitReader& bits, V& info)
{
    if (bits.ReadBits(2) != kAdvancedProfile)
        return false;
    bits.SkipBits(3); // LEVEL
    const uint32_t colorDiff = bits.ReadBits(2);
    bits.SkipBits(3 + 5 + 1); // FRMRTQ_POSTPROC, BITRTQ_POSTPROC, POSTPROCFLAG
    const uint32_t maxCodedWidth = bits.ReadBits(12);
    const uint32_t maxCodedHeight = bits.ReadBits(12);
    bits.SkipBits(1); // PULLDOWN
    const bool interlace = bits.ReadFlag();
    bits.SkipBits(4); // TFCNTRFLAG, FINTERPFLAG, RESERVED, PSF
    const bool displayExtension = bits.ReadFlag();

    info.width = maxCodedWidth * 2 + 2;
    info.height = maxCodedHeight * 2 + 2;
    info.flags |= V::kFlagSize;
    info.chromaFormat = colorDiff == kColorDiff420 ? V::kChroma420 : V::kChromaNone;
    info.flags |= V::kFlagChromaFormat;
    info.interlaced = interlace ? 1 : 0;
    info.flags |= V::kFlagInterlaced;
    if (displayExtension)
        ReadDisplayExtension(bits, info);
    return true;
}

} // namespace

std::unique_ptr<VideoStreamInfo> ParseVc1(const uint8_t* payload, int32_t length)
{
    if (payload == nullptr || length <= 0)
        return nullptr;
    auto info = std::make_unique<V>();
    try {
        StartCodeUnits units(payload, static_cast<size_t>(length));
        StartCodeUnits::Unit unit{};
        while (units.Next(unit)) {
            if (unit.size < 4 || unit.data[3] != kSequenceHeader)
                continue;
            const RbspBuffer header(unit.data + 4, unit.size - 4); // same escaping as H.264
            BitReader bits(header.begin(), header.end());
            if (ReadSequenceHeader(bits, *info))
                break;
        }
    } catch (const InvalidBitIdxExc&) {
        return nullptr;
    }
    if (info->flags == 0)
        return nullptr;
    return info;
}

} // namespace SklibTs
