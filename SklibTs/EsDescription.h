#pragma once
// Plain-words summaries of stream-property records, e.g.
// "H.264 1280x720 25 fps progressive 4:2:0" or "AC-3 48 kHz 3/2+LFE 448 kbit/s dialnorm -27 dB".
// Only properties whose flag is set appear.
#include <cstdint>
#include <string>

#include "AudioStreamInfo.h"
#include "VideoStreamInfo.h"

namespace SklibTs {

// Name of the coding of a stream kind ("H.264", "AC-3", ...); empty for an unknown kind.
std::string CodingName(int32_t streamKind);

std::string DescribeVideo(const VideoStreamInfo& info, int32_t streamKind);
std::string DescribeAudio(const AudioStreamInfo& info, int32_t streamKind);

} // namespace SklibTs
