#include "StreamKind.h"

#include "ProgramMap.h"

namespace SklibTs {

using namespace StreamKind;

bool IsVideoKind(int32_t kind)
{
    switch (kind) {
    case kMpeg1Video: case kMpeg2Video: case kMpeg4Video: case kH264: case kJpeg2000: case kHevc: case kJpegXs:
    case kVc1:
        return true;
    default:
        return false;
    }
}

bool IsAudioKind(int32_t kind)
{
    switch (kind) {
    case kMpeg1Audio: case kMpeg2Audio: case kAacAdts: case kAc3: case kEac3: case kPrivateAudioE6:
    case kAc3Descriptor: case kEac3Descriptor: case kBssdAudio:
        return true;
    default:
        return false;
    }
}

bool IsCollectedKind(int32_t kind)
{
    switch (kind) {
    case kMpeg1Video: case kMpeg2Video: case kMpeg1Audio: case kMpeg2Audio: case kAacAdts: case kAacLatm:
    case kH264: case kJpeg2000: case kHevc: case kJpegXs: case kAc3: case kEac3: case kVc1:
    case kAc3Descriptor: case kEac3Descriptor: case kTeletext: case kAc4Descriptor:
        return true;
    default:
        return false;
    }
}

int32_t DeriveStreamKind(const ElementaryStream& s)
{
    // data_broadcast_id values (ETSI TS 101 162).
    constexpr int32_t kMultiprotocolEncapsulationId = 5;
    constexpr int32_t kDataCarouselId = 6;
    constexpr int32_t kIpMacNotificationId = 11;
    const int32_t st = s.stream_type;
    if (st == kPrivatePes && s.hasTeletextDescriptor)
        return kTeletext;
    if (st == kPrivatePes && s.hasAc3Descriptor)
        return kAc3Descriptor;
    if (st == kPrivatePes && s.hasEnhancedAc3Descriptor)
        return kEac3Descriptor;
    if (st == kPrivatePes && s.hasAc4Descriptor)
        return kAc4Descriptor;
    if (st >= kUserPrivateFirst && s.data_broadcast_id == kMultiprotocolEncapsulationId)
        return kMultiprotocolData;
    if (s.data_broadcast_id == kDataCarouselId)
        return kDataCarousel;
    if ((st == kPrivateSections || st == kDsmCc) && s.data_broadcast_id == kIpMacNotificationId)
        return kIpMacNotification;
    if (st == kPrivatePes && s.hasBssdRegistration)
        return kBssdAudio;
    return st;
}

const char* StreamKindName(int32_t kind)
{
    switch (kind) {
    case kMpeg1Video: return "MPEG-1 video";
    case kMpeg2Video: return "MPEG-2 video";
    case kMpeg1Audio: return "MPEG-1 audio";
    case kMpeg2Audio: return "MPEG-2 audio";
    case kPrivateSections: return "private sections";
    case kPrivatePes: return "private PES";
    case kDsmCc: return "DSM-CC";
    case kAacAdts: return "AAC (ADTS)";
    case kMpeg4Video: return "MPEG-4 video";
    case kAacLatm: return "AAC (LATM)";
    case kMetadata: return "metadata";
    case kH264: return "H.264";
    case kJpeg2000: return "JPEG 2000";
    case kHevc: return "HEVC";
    case kJpegXs: return "JPEG XS";
    case kAc3: return "AC-3";
    case kScte35: return "SCTE-35";
    case kEac3: return "E-AC-3";
    case kVc1: return "VC-1";
    case kAc3Descriptor: return "AC-3";
    case kEac3Descriptor: return "E-AC-3";
    case kTeletext: return "teletext";
    case kMultiprotocolData: return "data (MPE)";
    case kDataCarousel: return "data (object carousel)";
    case kIpMacNotification: return "data (MHP)";
    case kBssdAudio: return "BSSD audio";
    case kAc4Descriptor: return "AC-4";
    default: return kind < 0 ? "" : "other";
    }
}

} // namespace SklibTs
