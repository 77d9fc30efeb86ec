#pragma once
#include <cstdint>
#include <memory>

#include "AudioStreamInfo.h"

namespace SklibTs {

// Reads an ADTS frame header at data; false when the bytes are not a valid header.
bool ReadAdtsHeader(const uint8_t* data, size_t size, AudioStreamInfo& info, uint32_t& frameBytes);

// Reads a LOAS AudioSyncStream frame (sync word 0x2B7) at data whose AudioMuxElement carries
// a StreamMuxConfig, and takes the properties from its AudioSpecificConfig. False for
// anything else, including frames that refer to an earlier configuration.
bool ReadLatmFrame(const uint8_t* data, size_t size, AudioStreamInfo& info);

// The properties of the first valid ADTS frame in the payload, or null.
std::unique_ptr<AudioStreamInfo> ParseAacAdts(const uint8_t* payload, int32_t length);

// The properties of the first LATM frame with a configuration in the payload, or null.
std::unique_ptr<AudioStreamInfo> ParseAacLatm(const uint8_t* payload, int32_t length);

} // namespace SklibTs
