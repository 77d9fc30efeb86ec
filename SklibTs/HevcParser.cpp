#include "HevcParser.h"

#include "ExpGolombReader.h"
#include "NalUnits.h"

namespace SklibTs {
namespace {

using V = VideoStreamInfo;

constexpr uint8_t kNalVps = 32;
constexpr uint8_t kNalSps = 33;
constexpr size_t kNalHeaderBytes = 2;
constexpr uint32_t kMaxSubLayers = 7;

void SkipProfileTierLevel(ExpGolombReader& in, uint32_t maxSubLayersMinus1)
{
    in.Skip(96); // general profile space .. general_level_idc
    bool profilePresent[kMaxSubLayers] = {};
    bool levelPresent[kMaxSubLayers] = {};
    for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        profilePresent[i] = in.Flag();
        levelPresent[i] = in.Flag();
    }
    if (maxSubLayersMinus1 > 0) {
        for (uint32_t i = maxSubLayersMinus1; i < 8; ++i)
            in.Skip(2); // reserved_zero_2bits
    }
    for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        if (profilePresent[i])
            in.Skip(88);
        if (levelPresent[i])
            in.Skip(8);
    }
}

std::unique_ptr<V> ParseVps(const RbspBuffer& rbsp)
{
    ExpGolombReader in(rbsp.begin(), rbsp.end());
    auto info = std::make_unique<V>();
    in.Skip(4 + 1 + 1 + 6); // vps id, base layer flags, vps_max_layers_minus1
    const uint32_t maxSubLayersMinus1 = in.Bits(3);
    if (maxSubLayersMinus1 >= kMaxSubLayers)
        return info;
    in.Skip(1 + 16); // temporal id nesting, reserved 0xffff
    SkipProfileTierLevel(in, maxSubLayersMinus1);
    const bool orderingInfoForAll = in.Flag();
    for (uint32_t i = orderingInfoForAll ? 0 : maxSubLayersMinus1; i <= maxSubLayersMinus1; ++i) {
        in.ReadUe();
        in.ReadUe();
        in.ReadUe();
    }
    const uint32_t maxLayerId = in.Bits(6);
    const uint32_t layerSets = in.ReadUe() + 1;
    if (layerSets > 1024)
        return info;
    for (uint32_t i = 1; i < layerSets; ++i)
        in.Skip(static_cast<int>(maxLayerId) + 1); // layer_id_included_flag
    if (in.Flag()) { // vps_timing_info_present_flag
        const uint32_t numUnitsInTick = in.Bits(32);
        const uint32_t timeScale = in.Bits(32);
        if (numUnitsInTick != 0) {
            info->frameRate = static_cast<double>(timeScale) / numUnitsInTick;
            info->flags |= V::kFlagFrameRate;
        }
    }
    return info;
}

struct SpsProperties {
    uint32_t chromaFormat = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitDepthLuma = 0;
    uint32_t bitDepthChroma = 0;
};

// Reads the whole SPS part needed before touching any record, so that a cut-off SPS leaves
// the record as it was.
SpsProperties ParseSps(const RbspBuffer& rbsp)
{
    ExpGolombReader in(rbsp.begin(), rbsp.end());
    in.Skip(4); // sps_video_parameter_set_id
    const uint32_t maxSubLayersMinus1 = in.Bits(3);
    if (maxSubLayersMinus1 >= kMaxSubLayers)
        throw InvalidExpGolombExc();
    in.Skip(1); // sps_temporal_id_nesting_flag
    SkipProfileTierLevel(in, maxSubLayersMinus1);
    in.ReadUe(); // sps_seq_parameter_set_id
    const uint32_t chromaFormatIdc = in.ReadUe();
    if (chromaFormatIdc > 3)
        throw InvalidExpGolombExc();
    bool separateColourPlanes = false;
    if (chromaFormatIdc == 3)
        separateColourPlanes = in.Flag();
    uint64_t width = in.ReadUe();
    uint64_t height = in.ReadUe();
    if (in.Flag()) { // conformance_window_flag
        const uint64_t left = in.ReadUe();
        const uint64_t right = in.ReadUe();
        const uint64_t top = in.ReadUe();
        const uint64_t bottom = in.ReadUe();
        const uint32_t chromaArrayType = separateColourPlanes ? 0 : chromaFormatIdc;
        const uint64_t subWidthC = chromaArrayType == 1 || chromaArrayType == 2 ? 2 : 1;
        const uint64_t subHeightC = chromaArrayType == 1 ? 2 : 1;
        const uint64_t cropX = (left + right) * subWidthC;
        const uint64_t cropY = (top + bottom) * subHeightC;
        if (cropX < width && cropY < height) { // a window larger than the picture is ignored
            width -= cropX;
            height -= cropY;
        }
    }
    SpsProperties sps;
    static constexpr uint32_t kChromaByIdc[] = {V::kChromaMonochrome, V::kChroma420, V::kChroma422,
                                                V::kChroma444};
    sps.chromaFormat = kChromaByIdc[chromaFormatIdc];
    sps.width = static_cast<uint32_t>(width);
    sps.height = static_cast<uint32_t>(height);
    sps.bitDepthLuma = in.ReadUe() + 8;
    sps.bitDepthChroma = in.ReadUe() + 8;
    return sps;
}

void Apply(const SpsProperties& sps, V& info)
{
    info.chromaFormat = sps.chromaFormat;
    info.width = sps.width;
    info.height = sps.height;
    info.bitDepthLuma = sps.bitDepthLuma;
    info.bitDepthChroma = sps.bitDepthChroma;
    info.flags |= V::kFlagChromaFormat | V::kFlagSize | V::kFlagBitDepth;
}

} // namespace

std::unique_ptr<VideoStreamInfo> ParseHevc(EsProperties& es, const uint8_t* payload, int32_t length)
{
    if (payload == nullptr || length <= 0)
        return nullptr;
    std::unique_ptr<V> record;
    try {
        StartCodeUnits units(payload, static_cast<size_t>(length));
        StartCodeUnits::Unit unit{};
        while (units.Next(unit)) {
            if (!unit.terminated || unit.size < 3 + kNalHeaderBytes + 1)
                continue;
            const uint8_t nalType = (unit.data[3] >> 1) & 0x3F;
            const uint8_t* body = unit.data + 3 + kNalHeaderBytes;
            const size_t bodySize = unit.size - 3 - kNalHeaderBytes;
            if (nalType == kNalVps) {
                record = ParseVps(RbspBuffer(body, bodySize));
            } else if (nalType == kNalSps) {
                const SpsProperties sps = ParseSps(RbspBuffer(body, bodySize));
                if (record) {
                    Apply(sps, *record);
                } else if (V* stored = es.MutableVideo()) {
                    Apply(sps, *stored);
                } else {
                    // No VPS yet (it may have come in an earlier PES): the size is worth having.
                    record = std::make_unique<V>();
                    Apply(sps, *record);
                }
                break;
            }
        }
    } catch (const std::exception&) {
        return nullptr; // a parameter set cut short: the packet gives nothing
    }
    if (record && record->flags == 0)
        return nullptr;
    return record;
}

} // namespace SklibTs
