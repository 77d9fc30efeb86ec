#pragma once
#include "VesParser.h"

namespace SklibTs {

class BytePtr;

// Reads the access-unit header of a JPEG 2000 video elementary stream (frame rate, field
// coding) and the SIZ marker segment of its codestream (picture size). What it learns
// persists across PES packets, so a packet without SIZ reports the last size seen.
class J2kParser final : public VesParser {
public:
    J2kParser() : VesParser(kTypeJ2k) {}
    ~J2kParser() override = default;

    uint32_t ParsePayload(EsProperties& es, const uint8_t* payload, uint32_t length,
                          VideoStreamInfo& out) override;
    int32_t FillInfo(VideoStreamInfo& out) override;

private:
    bool ReadAccessUnitHeader(BytePtr& in);
    void ReadSizSegment(BytePtr& in);
    int64_t PictureHeight() const;

    int32_t frameRateDenominator_ = -1;
    int32_t frameRateNumerator_ = -1;
    int32_t fieldCoding_ = -1;
    int32_t fieldOrder_ = -1;
    uint8_t fieldsPresent_ = 0;
    int32_t width_ = -1;
    int32_t height_ = -1;
    [[maybe_unused]] int32_t reserved0_ = -1;
    [[maybe_unused]] int32_t reserved1_ = -1;
};

} // namespace SklibTs
