#pragma once
#include "VesParser.h"

namespace SklibTs {

// Recognises a JPEG XS stream; it reports no property.
class JpegXsParser final : public VesParser {
public:
    JpegXsParser() : VesParser(kTypeJpegXs) {}
    ~JpegXsParser() override = default;

    uint32_t ParsePayload(EsProperties& es, const uint8_t* payload, uint32_t length,
                          VideoStreamInfo& out) override;
    int32_t FillInfo(VideoStreamInfo&) override { return 0; }
};

} // namespace SklibTs
