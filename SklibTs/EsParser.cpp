#include "EsParser.h"

#include <exception>

#include "AacParser.h"
#include "Ac3Parser.h"
#include "H264Parser.h"
#include "HevcParser.h"
#include "MpegAudioParser.h"
#include "MpegVideoParser.h"
#include "StreamInfoStore.h"
#include "Vc1Parser.h"
#include "VesParser.h"

namespace SklibTs {
namespace {

constexpr int32_t kFixedHeaderBytes = 6;
constexpr int32_t kOptionalHeaderBytes = 9;

// stream_ids whose packets have no optional PES header.
bool HasNoOptionalHeader(uint8_t streamId)
{
    switch (streamId) {
    case 0xBC: // program_stream_map
    case 0xBE: // padding_stream
    case 0xBF: // private_stream_2
    case 0xF0: // ECM
    case 0xF1: // EMM
    case 0xF2: // DSMCC_stream
    case 0xF8: // ITU-T H.222.1 type E
    case 0xFF: // program_stream_directory
        return true;
    default:
        return false;
    }
}

void Dispatch(EsProperties& es, int32_t streamKind, const uint8_t* payload, int32_t length)
{
    const auto size = static_cast<uint32_t>(length);
    switch (streamKind) {
    case StreamKind::kMpeg1Video:
    case StreamKind::kMpeg2Video:
        StoreVideoInfo(es, ParseMpegVideo(payload, length));
        break;
    case StreamKind::kMpeg1Audio:
    case StreamKind::kMpeg2Audio:
        StoreAudioInfo(es, ParseMpegAudio(payload, length));
        break;
    case StreamKind::kAacAdts:
        StoreAudioInfo(es, ParseAacAdts(payload, length));
        break;
    case StreamKind::kAacLatm:
        StoreAudioInfo(es, ParseAacLatm(payload, length));
        break;
    case StreamKind::kH264:
        StoreVideoInfo(es, ParseH264(es, payload, length));
        break;
    case StreamKind::kJpeg2000:
        StoreVideoInfo(es, ParseWithVesParser(es, VesParser::kTypeJ2k, payload, size));
        break;
    case StreamKind::kHevc:
        StoreVideoInfo(es, ParseHevc(es, payload, length));
        break;
    case StreamKind::kJpegXs:
        StoreVideoInfo(es, ParseWithVesParser(es, VesParser::kTypeJpegXs, payload, size));
        break;
    case StreamKind::kAc3:
    case StreamKind::kAc3Descriptor:
        StoreAudioInfo(es, ParseAc3(payload, length));
        break;
    case StreamKind::kEac3:
    case StreamKind::kEac3Descriptor:
        StoreAudioInfo(es, ParseEac3(payload, length));
        break;
    case StreamKind::kVc1:
        StoreVideoInfo(es, ParseVc1(payload, length));
        break;
    case StreamKind::kAc4Descriptor:
        StoreAudioInfo(es, nullptr); // AC-4 is recognised, but nothing is read from it
        break;
    default:
        break;
    }
}

} // namespace

void ParsePes(EsProperties& es, int32_t streamKind, const uint8_t* pes, int32_t length) noexcept
{
    if (pes == nullptr || length < kFixedHeaderBytes || pes[0] != 0 || pes[1] != 0 || pes[2] != 1)
        return;
    const uint8_t streamId = pes[3];
    int32_t payloadStart = kFixedHeaderBytes;
    if (!HasNoOptionalHeader(streamId)) {
        if (length < kOptionalHeaderBytes)
            return;
        payloadStart = kOptionalHeaderBytes + pes[8];
        if (length - payloadStart < 1)
            return;
    }
    es.SetStreamId(streamId);
    try {
        Dispatch(es, streamKind, pes + payloadStart, length - payloadStart);
    } catch (const std::exception&) {
        // A parser ran out of its buffer (BytePtr::OutOfRange, InvalidBitIdxExc) or could
        // not allocate: this packet leaves no result.
    }
}

} // namespace SklibTs
