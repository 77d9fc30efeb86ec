#include "H264Parser.h"

#include <array>
#include <optional>

#include "ExpGolombReader.h"
#include "NalUnits.h"

namespace SklibTs {
namespace {

using V = VideoStreamInfo;

constexpr uint8_t kNalSei = 6;
constexpr uint8_t kNalSps = 7;
constexpr uint32_t kSeiBufferingPeriod = 0;
constexpr uint32_t kSeiPicTiming = 1;
constexpr uint32_t kExtendedSar = 255;
constexpr uint32_t kMaxCpbCount = 32;

bool HasChromaInfo(uint32_t profileIdc)
{
    switch (profileIdc) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86:
    case 118: case 128: case 138: case 139: case 134: case 135:
        return true;
    default:
        return false;
    }
}

void SkipScalingList(ExpGolombReader& in, int size)
{
    int64_t lastScale = 8;
    int64_t nextScale = 8;
    for (int j = 0; j < size; ++j) {
        if (nextScale != 0) {
            nextScale = ((lastScale + in.ReadSe()) % 256 + 256) % 256;
        }
        lastScale = nextScale == 0 ? lastScale : nextScale;
    }
}

struct HrdLengths {
    uint8_t cpbRemovalDelay = 0;
    uint8_t dpbOutputDelay = 0;
};

HrdLengths ReadHrdParameters(ExpGolombReader& in)
{
    const uint32_t cpbCount = in.ReadUe() + 1;
    if (cpbCount > kMaxCpbCount)
        throw InvalidExpGolombExc();
    in.Skip(8); // bit_rate_scale, cpb_size_scale
    for (uint32_t i = 0; i < cpbCount; ++i) {
        in.ReadUe(); // bit_rate_value_minus1
        in.ReadUe(); // cpb_size_value_minus1
        in.Skip(1);  // cbr_flag
    }
    in.Skip(5); // initial_cpb_removal_delay_length_minus1
    HrdLengths lengths;
    lengths.cpbRemovalDelay = static_cast<uint8_t>(in.Bits(5) + 1);
    lengths.dpbOutputDelay = static_cast<uint8_t>(in.Bits(5) + 1);
    in.Skip(5); // time_offset_length
    return lengths;
}

// Sample aspect ratios of aspect_ratio_idc 1 to 16.
constexpr std::array<std::array<uint16_t, 2>, 16> kSampleAspects{{
    {1, 1}, {12, 11}, {10, 11}, {16, 11}, {40, 33}, {24, 11}, {20, 11}, {32, 11},
    {80, 33}, {18, 11}, {15, 11}, {64, 33}, {160, 99}, {4, 3}, {3, 2}, {2, 1},
}};

void ReadVui(ExpGolombReader& in, V& info)
{
    if (in.Flag()) { // aspect_ratio_info_present_flag
        const uint32_t idc = in.Bits(8);
        if (idc == kExtendedSar) {
            const uint32_t sarWidth = in.Bits(16);
            const uint32_t sarHeight = in.Bits(16);
            info.aspectX = sarWidth;
            info.aspectY = sarHeight;
            info.flags |= V::kFlagAspect;
        } else if (idc >= 1 && idc <= kSampleAspects.size()) {
            info.aspectX = kSampleAspects[idc - 1][0];
            info.aspectY = kSampleAspects[idc - 1][1];
            info.flags |= V::kFlagAspect;
        }
    }
    if (in.Flag()) // overscan_info_present_flag
        in.Skip(1);
    if (in.Flag()) { // video_signal_type_present_flag
        in.Skip(4);  // video_format, video_full_range_flag
        if (in.Flag())
            in.Skip(24); // colour description
    }
    if (in.Flag()) { // chroma_loc_info_present_flag
        in.ReadUe();
        in.ReadUe();
    }
    if (in.Flag()) { // timing_info_present_flag
        const uint32_t numUnitsInTick = in.Bits(32);
        const uint32_t timeScale = in.Bits(32);
        const bool fixedFrameRate = in.Flag();
        if (fixedFrameRate && numUnitsInTick != 0) {
            info.frameRate = static_cast<double>(timeScale) / (2.0 * numUnitsInTick);
            info.flags |= V::kFlagFrameRate;
        }
    }
    H264TimingLayout& layout = info.h264;
    layout.nalHrdPresent = in.Flag();
    if (layout.nalHrdPresent) {
        const HrdLengths lengths = ReadHrdParameters(in);
        layout.cpbRemovalDelayLength = lengths.cpbRemovalDelay;
        layout.dpbOutputDelayLength = lengths.dpbOutputDelay;
    }
    layout.vclHrdPresent = in.Flag();
    if (layout.vclHrdPresent) {
        const HrdLengths lengths = ReadHrdParameters(in);
        layout.cpbRemovalDelayLength = lengths.cpbRemovalDelay;
        layout.dpbOutputDelayLength = lengths.dpbOutputDelay;
    }
    if (layout.nalHrdPresent || layout.vclHrdPresent)
        in.Skip(1); // low_delay_hrd_flag
    layout.picStructPresent = in.Flag();
}

std::unique_ptr<V> ParseSps(const RbspBuffer& rbsp)
{
    ExpGolombReader in(rbsp.begin(), rbsp.end());
    auto info = std::make_unique<V>();
    const uint32_t profileIdc = in.Bits(8);
    in.Skip(16); // constraint flags, level_idc
    info->h264.spsId = in.ReadUe();

    uint32_t chromaFormatIdc = 1;
    bool separateColourPlanes = false;
    if (HasChromaInfo(profileIdc)) {
        chromaFormatIdc = in.ReadUe();
        if (chromaFormatIdc > 3)
            return nullptr;
        if (chromaFormatIdc == 3)
            separateColourPlanes = in.Flag();
        in.ReadUe(); // bit_depth_luma_minus8
        in.ReadUe(); // bit_depth_chroma_minus8
        in.Skip(1);  // qpprime_y_zero_transform_bypass_flag
        if (in.Flag()) { // seq_scaling_matrix_present_flag
            const int lists = chromaFormatIdc != 3 ? 8 : 12;
            for (int i = 0; i < lists; ++i) {
                if (in.Flag())
                    SkipScalingList(in, i < 6 ? 16 : 64);
            }
        }
    }
    in.ReadUe(); // log2_max_frame_num_minus4
    const uint32_t pocType = in.ReadUe();
    if (pocType == 0) {
        in.ReadUe(); // log2_max_pic_order_cnt_lsb_minus4
    } else if (pocType == 1) {
        in.Skip(1); // delta_pic_order_always_zero_flag
        in.ReadSe();
        in.ReadSe();
        const uint32_t cycle = in.ReadUe();
        if (cycle > 255)
            return nullptr;
        for (uint32_t i = 0; i < cycle; ++i)
            in.ReadSe();
    }
    in.ReadUe(); // max_num_ref_frames
    in.Skip(1);  // gaps_in_frame_num_value_allowed_flag
    const uint64_t widthInMbs = uint64_t{in.ReadUe()} + 1;
    const uint64_t heightInMapUnits = uint64_t{in.ReadUe()} + 1;
    const bool frameMbsOnly = in.Flag();
    if (!frameMbsOnly)
        in.Skip(1); // mb_adaptive_frame_field_flag
    in.Skip(1);     // direct_8x8_inference_flag

    static constexpr uint32_t kChromaByIdc[] = {V::kChromaMonochrome, V::kChroma420, V::kChroma422,
                                                V::kChroma444H264};
    info->chromaFormat = kChromaByIdc[chromaFormatIdc];
    info->flags |= V::kFlagChromaFormat;

    uint64_t width = widthInMbs * 16;
    uint64_t height = heightInMapUnits * (frameMbsOnly ? 16 : 32);
    if (frameMbsOnly) {
        info->interlaced = 0;
        info->flags |= V::kFlagInterlaced;
    }
    if (in.Flag()) { // frame_cropping_flag
        const uint64_t left = in.ReadUe();
        const uint64_t right = in.ReadUe();
        const uint64_t top = in.ReadUe();
        const uint64_t bottom = in.ReadUe();
        const uint32_t chromaArrayType = separateColourPlanes ? 0 : chromaFormatIdc;
        const uint64_t subWidthC = chromaArrayType == 1 || chromaArrayType == 2 ? 2 : 1;
        const uint64_t subHeightC = chromaArrayType == 1 ? 2 : 1;
        const uint64_t cropUnitX = subWidthC;
        const uint64_t cropUnitY = subHeightC * (frameMbsOnly ? 1 : 2);
        const uint64_t cropX = (left + right) * cropUnitX;
        const uint64_t cropY = (top + bottom) * cropUnitY;
        if (cropX < width && cropY < height) { // a crop larger than the picture is ignored
            width -= cropX;
            height -= cropY;
        }
    }
    info->width = static_cast<uint32_t>(width);
    info->height = static_cast<uint32_t>(height);
    info->flags |= V::kFlagSize;
    info->h264.present = true;

    if (in.Flag()) // vui_parameters_present_flag
        ReadVui(in, *info);
    return info;
}

// One SEI NAL unit: picture timing gives pic_struct. A buffering period names the SPS its
// timing belongs to; a picture timing after one that names another SPS than the record's
// is skipped, because its delay fields would have lengths that the record does not know.
void ParseSei(const RbspBuffer& rbsp, V& target, std::optional<uint32_t>& bufferingPeriodSps)
{
    const uint8_t* pos = rbsp.begin();
    const uint8_t* const end = rbsp.end();
    while (end - pos >= 2 && *pos != 0x80) { // 0x80: rbsp trailing bits
        uint32_t payloadType = 0;
        while (pos < end && *pos == 0xFF) {
            payloadType += 255;
            ++pos;
        }
        if (pos == end)
            return;
        payloadType += *pos++;
        size_t payloadSize = 0;
        while (pos < end && *pos == 0xFF) {
            payloadSize += 255;
            ++pos;
        }
        if (pos == end)
            return;
        payloadSize += *pos++;
        const size_t available = static_cast<size_t>(end - pos);
        const uint8_t* messageEnd = pos + (payloadSize < available ? payloadSize : available);
        ExpGolombReader in(pos, messageEnd);
        if (payloadType == kSeiBufferingPeriod) {
            bufferingPeriodSps = in.ReadUe();
        } else if (payloadType == kSeiPicTiming) {
            const H264TimingLayout& layout = target.h264;
            const bool otherSps = bufferingPeriodSps && *bufferingPeriodSps != layout.spsId;
            if (!otherSps && layout.picStructPresent) {
                if (layout.nalHrdPresent || layout.vclHrdPresent)
                    in.Skip(layout.cpbRemovalDelayLength + layout.dpbOutputDelayLength);
                const uint32_t picStruct = in.Bits(4);
                target.interlaced = picStruct != 0 ? 1 : 0;
                target.flags |= V::kFlagInterlaced;
            }
        }
        pos = messageEnd;
    }
}

} // namespace

std::unique_ptr<VideoStreamInfo> ParseH264(EsProperties& es, const uint8_t* payload, int32_t length)
{
    if (payload == nullptr || length <= 0)
        return nullptr;
    std::unique_ptr<V> record;
    std::optional<uint32_t> bufferingPeriodSps;
    try {
        StartCodeUnits units(payload, static_cast<size_t>(length));
        StartCodeUnits::Unit unit{};
        while (units.Next(unit)) {
            // The last unit may be cut off by the end of the packet; it is not parsed.
            if (!unit.terminated || unit.size < 5)
                continue;
            const uint8_t nalType = unit.data[3] & 0x1F;
            if (nalType == kNalSps) {
                if (auto sps = ParseSps(RbspBuffer(unit.data + 4, unit.size - 4)))
                    record = std::move(sps);
            } else if (nalType == kNalSei) {
                V* target = record ? record.get() : es.MutableVideo();
                if (target != nullptr && target->h264.present)
                    ParseSei(RbspBuffer(unit.data + 4, unit.size - 4), *target, bufferingPeriodSps);
            }
        }
    } catch (const std::exception&) {
        return nullptr; // bit reader or Exp-Golomb code ran out: the packet gives nothing
    }
    return record;
}

} // namespace SklibTs
