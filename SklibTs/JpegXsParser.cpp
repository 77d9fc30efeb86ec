#include "JpegXsParser.h"

namespace SklibTs {

uint32_t JpegXsParser::ParsePayload(EsProperties&, const uint8_t* payload, uint32_t, VideoStreamInfo& out)
{
    if (payload == nullptr)
        return kStatusFailed;
    FillInfo(out);
    return kStatusOk;
}

} // namespace SklibTs
