#include "AacParser.h"

#include <iterator>

#include "BitReader.h"
#include "SkTsExceptions.h"

namespace SklibTs {
namespace {

using A = AudioStreamInfo;

constexpr uint32_t kSampleRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                       22050, 16000, 12000, 11025, 8000, 7350};
// ADTS is MPEG-2 AAC, whose table stops at 8000 Hz: index 12 (7350 Hz, MPEG-4 only) is
// reserved there and taking it would accept false syncs.
constexpr uint32_t kAdtsSampleRateIndexes = 12;
constexpr uint32_t kExplicitSampleRate = 15;
constexpr uint32_t kAdtsHeaderBytes = 7;
constexpr uint32_t kLatmSyncWord = 0x2B7;
constexpr uint32_t kLatmHeaderBytes = 3;
constexpr uint32_t kAotEscape = 31;
constexpr uint32_t kAotSbr = 5;
constexpr uint32_t kAotPs = 29;
// Channels of channel_configuration 1 to 7.
constexpr uint32_t kChannelsByConfiguration[8] = {0, 1, 2, 3, 4, 5, 6, 8};

// Audio object types 1 (Main), 2 (LC), 3 (SSR), i.e. ADTS profile + 1.
void SetProfile(uint32_t objectType, A& info)
{
    static constexpr uint32_t kProfiles[] = {A::kAacMain, A::kAacLc, A::kAacSsr};
    if (objectType >= 1 && objectType <= 3) {
        info.aacProfile = kProfiles[objectType - 1];
        info.flags |= A::kFlagAacProfile;
    }
}

void SetChannelConfiguration(uint32_t configuration, A& info)
{
    if (configuration >= 1 && configuration <= 7) {
        info.channelMode = A::kChannelModeAacFirst - 1 + configuration;
        info.flags |= A::kFlagChannelMode;
        info.channelCount = kChannelsByConfiguration[configuration];
    }
}

uint32_t ReadObjectType(BitReader& bits)
{
    const uint32_t objectType = bits.ReadBits(5);
    return objectType == kAotEscape ? 32 + bits.ReadBits(6) : objectType;
}

// 0 for a reserved index.
uint32_t ReadSampleRate(BitReader& bits)
{
    const uint32_t index = bits.ReadBits(4);
    if (index == kExplicitSampleRate)
        return bits.ReadBits(24);
    return index < std::size(kSampleRates) ? kSampleRates[index] : 0;
}

// AudioSpecificConfig up to the channel configuration; with explicit SBR / PS signalling the
// extension sampling frequency is the rate the decoder puts out.
bool ReadAudioSpecificConfig(BitReader& bits, A& info)
{
    uint32_t objectType = ReadObjectType(bits);
    uint32_t sampleRate = ReadSampleRate(bits);
    const uint32_t configuration = bits.ReadBits(4);
    if (objectType == kAotSbr || objectType == kAotPs) {
        const uint32_t extensionRate = ReadSampleRate(bits);
        if (extensionRate != 0)
            sampleRate = extensionRate;
        objectType = ReadObjectType(bits);
    }
    if (sampleRate == 0)
        return false;
    info.sampleRate = sampleRate;
    info.flags |= A::kFlagSampleRate;
    SetProfile(objectType, info);
    SetChannelConfiguration(configuration, info);
    info.samplesPerFrame = 1024;
    info.flags |= A::kFlagFrameLayout;
    return true;
}

// LatmGetValue of ISO/IEC 14496-3.
uint32_t ReadLatmValue(BitReader& bits)
{
    const uint32_t bytes = bits.ReadBits(2) + 1;
    uint32_t value = 0;
    for (uint32_t i = 0; i < bytes; ++i)
        value = value << 8 | bits.ReadBits(8);
    return value;
}

bool ReadStreamMuxConfig(BitReader& bits, A& info)
{
    const bool audioMuxVersion = bits.ReadFlag();
    if (audioMuxVersion) {
        if (bits.ReadFlag()) // audioMuxVersionA: reserved syntax
            return false;
        ReadLatmValue(bits); // taraBufferFullness
    }
    bits.SkipBits(1 + 6); // allStreamsSameTimeFraming, numSubFrames
    const uint32_t numProgram = bits.ReadBits(4);
    const uint32_t numLayer = bits.ReadBits(3);
    if (numProgram != 0 || numLayer != 0)
        return false; // several programs or layers: not what broadcast streams carry
    if (!audioMuxVersion)
        return ReadAudioSpecificConfig(bits, info);
    const uint32_t ascLength = ReadLatmValue(bits);
    if (ascLength > bits.BitsLeft())
        return false;
    return ReadAudioSpecificConfig(bits, info);
}

} // namespace

bool ReadAdtsHeader(const uint8_t* data, size_t size, AudioStreamInfo& info, uint32_t& frameBytes)
{
    if (size < kAdtsHeaderBytes || data[0] != 0xFF || (data[1] & 0xF6) != 0xF0)
        return false; // sync word, layer 0
    const uint32_t profile = data[2] >> 6;
    const uint32_t sampleRateIndex = (data[2] >> 2) & 0x0F;
    const uint32_t configuration = (data[2] & 1) << 2 | data[3] >> 6;
    frameBytes = (data[3] & 3u) << 11 | uint32_t{data[4]} << 3 | data[5] >> 5;
    const uint32_t rawBlocks = (data[6] & 3u) + 1;
    if (sampleRateIndex >= kAdtsSampleRateIndexes || frameBytes < kAdtsHeaderBytes)
        return false;
    info = A{};
    info.sampleRate = kSampleRates[sampleRateIndex];
    info.flags |= A::kFlagSampleRate;
    SetProfile(profile + 1, info);
    SetChannelConfiguration(configuration, info);
    info.samplesPerFrame = 1024 * rawBlocks;
    info.flags |= A::kFlagFrameLayout;
    return true;
}

bool ReadLatmFrame(const uint8_t* data, size_t size, AudioStreamInfo& info)
{
    if (size < kLatmHeaderBytes + 1 || (uint32_t{data[0]} << 3 | data[1] >> 5) != kLatmSyncWord)
        return false;
    const size_t muxLength = (data[1] & 0x1Fu) << 8 | data[2];
    const size_t available = size - kLatmHeaderBytes;
    const uint8_t* const element = data + kLatmHeaderBytes;
    BitReader bits(element, element + (muxLength < available ? muxLength : available));
    info = A{};
    try {
        if (bits.ReadFlag()) // useSameStreamMux: the configuration came earlier
            return false;
        return ReadStreamMuxConfig(bits, info);
    } catch (const InvalidBitIdxExc&) {
        return false;
    }
}

std::unique_ptr<AudioStreamInfo> ParseAacAdts(const uint8_t* payload, int32_t length)
{
    if (payload == nullptr || length <= 0)
        return nullptr;
    const auto size = static_cast<size_t>(length);
    auto info = std::make_unique<AudioStreamInfo>();
    uint32_t frameBytes = 0;
    for (size_t i = 0; i + kAdtsHeaderBytes <= size; ++i) {
        if (ReadAdtsHeader(payload + i, size - i, *info, frameBytes))
            return info;
    }
    return nullptr;
}

std::unique_ptr<AudioStreamInfo> ParseAacLatm(const uint8_t* payload, int32_t length)
{
    if (payload == nullptr || length <= 0)
        return nullptr;
    const auto size = static_cast<size_t>(length);
    auto info = std::make_unique<AudioStreamInfo>();
    for (size_t i = 0; i + kLatmHeaderBytes < size; ++i) {
        if (ReadLatmFrame(payload + i, size - i, *info))
            return info;
    }
    return nullptr;
}

} // namespace SklibTs
