#pragma once
#include <cstdint>
#include <memory>

#include "VideoStreamInfo.h"

namespace SklibTs {

// MPEG-1 / MPEG-2 video: sequence header, sequence and sequence display extensions and ATSC
// (GA94) caption user data. Null when the payload tells nothing or a header is cut short.
std::unique_ptr<VideoStreamInfo> ParseMpegVideo(const uint8_t* payload, int32_t length);

} // namespace SklibTs
