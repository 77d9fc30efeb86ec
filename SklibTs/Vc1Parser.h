#pragma once
#include <cstdint>
#include <memory>

#include "VideoStreamInfo.h"

namespace SklibTs {

// VC-1 advanced profile sequence header: maximum coded size, chroma format, interlacing,
// display size, sample aspect ratio and frame rate. Null without one or when it is cut short.
std::unique_ptr<VideoStreamInfo> ParseVc1(const uint8_t* payload, int32_t length);

} // namespace SklibTs
