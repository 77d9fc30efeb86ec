#pragma once
// The elementary-stream dispatcher: strips the PES header, runs the parser for the PID's
// stream kind and merges the result into the PID's record.
#include <cstdint>

#include "EsProperties.h"

namespace SklibTs {

// Stream kinds with a parser: PMT stream_type values, and the analyser's own codes (256 and
// up) for streams recognised by descriptors.
namespace EsKind {
inline constexpr int32_t kMpeg1Video = 0x01;
inline constexpr int32_t kMpeg2Video = 0x02;
inline constexpr int32_t kMpeg1Audio = 0x03;
inline constexpr int32_t kMpeg2Audio = 0x04;
inline constexpr int32_t kAacAdts = 0x0F;
inline constexpr int32_t kAacLatm = 0x11;
inline constexpr int32_t kH264 = 0x1B;
inline constexpr int32_t kJpeg2000 = 0x21;
inline constexpr int32_t kHevc = 0x24;
inline constexpr int32_t kJpegXs = 0x32;
inline constexpr int32_t kAc3 = 0x81;
inline constexpr int32_t kEac3 = 0x87;
inline constexpr int32_t kVc1 = 0xEA;
inline constexpr int32_t kAc3Descriptor = 256;
inline constexpr int32_t kEac3Descriptor = 257;
inline constexpr int32_t kAc4Descriptor = 263;
} // namespace EsKind

// One complete PES packet (at most 8,192 bytes as the analyser collects them) of a PID of the
// given stream kind. Short or malformed packets and unknown kinds change nothing; a parser
// failure of any kind leaves no result for the packet. Never throws.
void ParsePes(EsProperties& es, int32_t streamKind, const uint8_t* pes, int32_t length) noexcept;

} // namespace SklibTs
