#pragma once
// The elementary-stream dispatcher: strips the PES header, runs the parser for the PID's
// stream kind and merges the result into the PID's record.
#include <cstdint>

#include "EsProperties.h"
#include "StreamKind.h"

namespace SklibTs {

// One complete PES packet (at most 8,192 bytes as the analyser collects them) of a PID of the
// given stream kind. Short or malformed packets and unknown kinds change nothing; a parser
// failure of any kind leaves no result for the packet. Never throws.
void ParsePes(EsProperties& es, int32_t streamKind, const uint8_t* pes, int32_t length) noexcept;

} // namespace SklibTs
