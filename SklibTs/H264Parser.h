#pragma once
#include <cstdint>
#include <memory>

#include "EsProperties.h"

namespace SklibTs {

// H.264: sequence parameter set (size with cropping, chroma format, VUI aspect ratio and
// frame rate) and picture-timing SEI (pic_struct). A SEI in a packet without an SPS updates
// the PID's stored record in place. Returns the record of the packet's last SPS, or null.
std::unique_ptr<VideoStreamInfo> ParseH264(EsProperties& es, const uint8_t* payload, int32_t length);

} // namespace SklibTs
