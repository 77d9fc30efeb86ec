#pragma once
#include <cstdint>
#include <memory>

#include "AudioStreamInfo.h"

namespace SklibTs {

// Reads an AC-3 frame header (bsid up to 10) at data; yields the frame size in bytes.
bool ReadAc3Header(const uint8_t* data, size_t size, AudioStreamInfo& info, uint32_t& frameBytes);

// Reads an E-AC-3 independent-substream frame header (bsid 11 to 16) at data.
bool ReadEac3Header(const uint8_t* data, size_t size, AudioStreamInfo& info, uint32_t& frameBytes);

// The properties of the first AC-3 frame in the payload that is followed by the next sync
// word or ends within 2 bytes of the payload's end; null when there is none.
std::unique_ptr<AudioStreamInfo> ParseAc3(const uint8_t* payload, int32_t length);

// As ParseAc3 for E-AC-3 streams, which may carry AC-3 frames as well.
std::unique_ptr<AudioStreamInfo> ParseEac3(const uint8_t* payload, int32_t length);

} // namespace SklibTs
