#pragma once
// The DirectShow media types an application gives the demultiplexer's output pins for the
// elementary streams of a transport stream.
#include <cstdint>
#include <string>

#include "MediaType.h"

namespace Skts {

enum class PinKind { Video, Audio, Data };

struct PinMediaType {
    PinKind kind = PinKind::Data;
    GUID subtype = GUID_NULL;
    std::string subtypeName; // "H.264", "AAC", ... or "" when the subtype is open
};

// The type for an elementary stream of the given kind: the PMT stream_type, or the analyser's
// own codes for streams it recognised by their descriptors (AC-3, E-AC-3...).
PinMediaType MediaTypeForStream(int32_t streamKind);
// The media type of a pin: major type from the kind, the subtype, no format block.
CMediaType MakePinMediaType(const PinMediaType& type);
const char* PinKindName(PinKind kind);

} // namespace Skts
