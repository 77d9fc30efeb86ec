#include "MpegAudioParser.h"

namespace SklibTs {
namespace {

using A = AudioStreamInfo;

enum Version { kMpeg25 = 0, kReserved = 1, kMpeg2 = 2, kMpeg1 = 3 };

// kbit/s by [table][bitrate_index]; tables: MPEG-1 layer I, II, III, MPEG-2/2.5 layer I,
// MPEG-2/2.5 layers II and III.
constexpr uint16_t kBitRates[5][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
};
constexpr uint32_t kSampleRates[3] = {44100, 48000, 32000};

} // namespace

bool ReadMpegAudioHeader(const uint8_t* data, size_t size, MpegAudioFrame& frame)
{
    if (size < 4 || data[0] != 0xFF || (data[1] & 0xE0) != 0xE0)
        return false;
    const int version = (data[1] >> 3) & 3;
    const int layerBits = (data[1] >> 1) & 3;
    const int bitRateIndex = data[2] >> 4;
    const int sampleRateIndex = (data[2] >> 2) & 3;
    const int padding = (data[2] >> 1) & 1;
    const int mode = data[3] >> 6;
    const int emphasis = data[3] & 3;
    // Free-format (index 0) frames are not accepted: their size cannot be told from the
    // header, and random data matches them too easily.
    if (version == kReserved || layerBits == 0 || bitRateIndex == 0 || bitRateIndex == 15 ||
        sampleRateIndex == 3 || emphasis == 2)
        return false;
    const int layer = 4 - layerBits;
    const int table = version == kMpeg1 ? layer - 1 : (layer == 1 ? 3 : 4);
    const uint32_t bitRate = kBitRates[table][bitRateIndex] * 1000u;
    uint32_t sampleRate = kSampleRates[sampleRateIndex];
    if (version == kMpeg2)
        sampleRate /= 2;
    else if (version == kMpeg25)
        sampleRate /= 4;

    uint32_t samples = 0;
    if (layer == 1) {
        samples = 384;
        frame.frameBytes = (12 * bitRate / sampleRate + padding) * 4;
    } else if (layer == 2 || version == kMpeg1) {
        samples = 1152;
        frame.frameBytes = 144 * bitRate / sampleRate + padding;
    } else {
        samples = 576;
        frame.frameBytes = 72 * bitRate / sampleRate + padding;
    }

    A& info = frame.info;
    info = A{};
    info.bitRate = bitRate;
    info.sampleRate = sampleRate;
    info.channelMode = A::kChannelModeMpegStereo + static_cast<uint32_t>(mode);
    info.mpegLayer = static_cast<uint8_t>(layer);
    info.samplesPerFrame = samples;
    info.channelCount = mode == 3 ? 1 : 2;
    info.flags = A::kFlagBitRate | A::kFlagSampleRate | A::kFlagChannelMode | A::kFlagMpegLayer |
                 A::kFlagFrameLayout;
    return true;
}

std::unique_ptr<AudioStreamInfo> ParseMpegAudio(const uint8_t* payload, int32_t length)
{
    if (payload == nullptr || length <= 0)
        return nullptr;
    const auto size = static_cast<size_t>(length);
    MpegAudioFrame frame;
    for (size_t i = 0; i + 4 <= size; ++i) {
        if (ReadMpegAudioHeader(payload + i, size - i, frame))
            return std::make_unique<AudioStreamInfo>(frame.info);
    }
    return nullptr;
}

} // namespace SklibTs
