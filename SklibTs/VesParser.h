#pragma once
// Video elementary-stream parsers that live per PID (JPEG 2000, JPEG XS).
#include <cstdint>
#include <memory>

#include "BsParser.h"
#include "VideoStreamInfo.h"

namespace SklibTs {

class EsProperties;

class VesParser : public BsParser {
public:
    static constexpr uint32_t kStatusOk = 0;
    static constexpr uint32_t kStatusFailed = 14;

    static constexpr int32_t kTypeJ2k = 3;
    static constexpr int32_t kTypeJpegXs = 4;

    ~VesParser() override = default;

    // Reads one PES payload and fills out; kStatusOk or kStatusFailed.
    virtual uint32_t ParsePayload(EsProperties& es, const uint8_t* payload, uint32_t length,
                                  VideoStreamInfo& out) = 0;
    // Index of the first 00 00 01 at or after from, looking while the index stays below
    // length - 4; -1 when there is none.
    virtual int32_t FindStartCode(const uint8_t* data, int32_t from, uint32_t length) const;
    // Fixed revision number of this parser interface.
    virtual int32_t InterfaceRevision() const { return 13; }
    // Copies what the parser has learnt into out.
    virtual int32_t FillInfo(VideoStreamInfo& out) = 0;
    // Operations reserved for parsers that report more than the picture format.
    virtual bool Reserved5() { return false; }
    virtual bool Reserved6() { return false; }
    virtual bool Reserved7() { return false; }
    virtual bool Reserved8() { return false; }
    virtual bool Reserved9() { return false; }
    virtual bool Reserved10() { return false; }
    virtual bool Reserved11() { return false; }
    virtual bool Reserved12() { return false; }
    virtual bool Reserved13() { return false; }
    virtual bool Reserved14() { return false; }
    virtual bool Reserved15() { return false; }

    int32_t TypeCode() const { return typeCode_; }

protected:
    explicit VesParser(int32_t typeCode) : typeCode_(typeCode) {}

private:
    [[maybe_unused]] int64_t reserved0_ = 0;
    [[maybe_unused]] int64_t reserved1_ = 0;
    [[maybe_unused]] int32_t unitSize_ = 8;
    int32_t typeCode_;
};

// The parser object for a type code (kTypeJ2k, kTypeJpegXs), or null for any other.
std::unique_ptr<VesParser> MakeVesParser(int32_t typeCode);

// Runs the PID's parser object of the given type on one PES payload, first replacing a
// parser of another type, and returns a copy of what it reported, or null on failure.
// Exceptions of the parser (BytePtr::OutOfRange) pass to the caller.
std::unique_ptr<VideoStreamInfo> ParseWithVesParser(EsProperties& es, int32_t typeCode,
                                                    const uint8_t* payload, uint32_t length);

} // namespace SklibTs
