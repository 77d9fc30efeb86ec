#pragma once
#include <cstdint>
#include <memory>

#include "EsProperties.h"

namespace SklibTs {

// HEVC: video parameter set (frame rate from its timing information) and sequence parameter
// set (size with conformance window, chroma format, bit depths). The first SPS ends the scan;
// it fills the packet's VPS record or, without one, the PID's stored record in place (or a
// new record when the PID has none yet). Returns the packet's record, or null.
std::unique_ptr<VideoStreamInfo> ParseHevc(EsProperties& es, const uint8_t* payload, int32_t length);

} // namespace SklibTs
