#pragma once
#include <cstdint>
#include <memory>

#include "AudioStreamInfo.h"

namespace SklibTs {

struct MpegAudioFrame {
    AudioStreamInfo info;
    uint32_t frameBytes = 0;
};

// Reads an MPEG-1 / MPEG-2 / MPEG-2.5 audio frame header at data (at least 4 bytes);
// false when the bytes are not a valid header.
bool ReadMpegAudioHeader(const uint8_t* data, size_t size, MpegAudioFrame& frame);

// The properties of the first valid MPEG audio frame header in the payload, or null.
std::unique_ptr<AudioStreamInfo> ParseMpegAudio(const uint8_t* payload, int32_t length);

} // namespace SklibTs
