#include "VesParser.h"

#include "EsProperties.h"
#include "J2kParser.h"
#include "JpegXsParser.h"

namespace SklibTs {

int32_t VesParser::FindStartCode(const uint8_t* data, int32_t from, uint32_t length) const
{
    if (data == nullptr || from < 0)
        return -1;
    for (int64_t i = from; i < static_cast<int64_t>(length) - 4; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)
            return static_cast<int32_t>(i);
    }
    return -1;
}

std::unique_ptr<VesParser> MakeVesParser(int32_t typeCode)
{
    switch (typeCode) {
    case VesParser::kTypeJ2k:
        return std::make_unique<J2kParser>();
    case VesParser::kTypeJpegXs:
        return std::make_unique<JpegXsParser>();
    default:
        return nullptr;
    }
}

std::unique_ptr<VideoStreamInfo> ParseWithVesParser(EsProperties& es, int32_t typeCode,
                                                    const uint8_t* payload, uint32_t length)
{
    if (es.Parser() != nullptr && es.Parser()->TypeCode() != typeCode)
        es.SetParser(nullptr);
    if (es.Parser() == nullptr)
        es.SetParser(MakeVesParser(typeCode));
    VesParser* parser = es.Parser();
    if (parser == nullptr)
        return nullptr;
    VideoStreamInfo info;
    if (parser->ParsePayload(es, payload, length, info) != VesParser::kStatusOk)
        return nullptr;
    return std::make_unique<VideoStreamInfo>(info);
}

} // namespace SklibTs
