#include "MediaTypes.h"

namespace Skts {

namespace {

// Subtypes the platform headers name only in codec-specific headers; the values are the
// well-known ones (FOURCC-based where the codec has a FOURCC).
constexpr GUID kSubtypeMpeg1Video = {0xE436EB86, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID kSubtypeH264 = {0x34363248, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID kSubtypeHevc = {0x43564548, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID kSubtypeMpeg1Audio = {0xE436EB87, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID kSubtypeAdtsAac = {0x00001600, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID kSubtypeLoasAac = {0x00001602, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID kSubtypeAc3 = {0xE06D802C, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
constexpr GUID kSubtypeEac3 = {0xA7FB87AF, 0x2D02, 0x42FB, {0xA4, 0xD4, 0x05, 0xCD, 0x93, 0x84, 0x3B, 0xDD}};
constexpr GUID kSubtypeVc1 = {0x31435657, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID kMediaTypeMpeg2Pes = {0xE06D8020, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};

PinMediaType Video(const GUID& subtype, const char* name) { return {PinKind::Video, subtype, name}; }
PinMediaType Audio(const GUID& subtype, const char* name) { return {PinKind::Audio, subtype, name}; }

} // namespace

PinMediaType MediaTypeForStream(int32_t streamKind)
{
    switch (streamKind) {
    case 0x01: return Video(kSubtypeMpeg1Video, "MPEG-1 video");
    case 0x02: return Video(MEDIASUBTYPE_MPEG2_VIDEO, "MPEG-2 video");
    case 0x1B: return Video(kSubtypeH264, "H.264");
    case 0x24: return Video(kSubtypeHevc, "HEVC");
    case 0xEA: return Video(kSubtypeVc1, "VC-1");
    case 0x03: return Audio(kSubtypeMpeg1Audio, "MPEG-1 audio");
    case 0x04: return Audio(MEDIASUBTYPE_MPEG2_AUDIO, "MPEG-2 audio");
    case 0x0F: return Audio(kSubtypeAdtsAac, "AAC");
    case 0x11: return Audio(kSubtypeLoasAac, "AAC (LATM)");
    case 0x81:
    case 256: return Audio(kSubtypeAc3, "AC-3");
    case 0x87:
    case 257: return Audio(kSubtypeEac3, "E-AC-3");
    default: return {};
    }
}

CMediaType MakePinMediaType(const PinMediaType& type)
{
    const GUID& major = type.kind == PinKind::Video   ? MEDIATYPE_Video
                        : type.kind == PinKind::Audio ? MEDIATYPE_Audio
                                                      : kMediaTypeMpeg2Pes;
    CMediaType media(&major);
    media.SetSubtype(&type.subtype);
    media.SetFormatType(&FORMAT_None);
    media.SetVariableSize();
    return media;
}

const char* PinKindName(PinKind kind)
{
    switch (kind) {
    case PinKind::Video: return "video";
    case PinKind::Audio: return "audio";
    case PinKind::Data: return "data";
    }
    return "data";
}

} // namespace Skts
