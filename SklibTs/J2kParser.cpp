#include "J2kParser.h"

#include "BytePtr.h"

namespace SklibTs {
namespace {

constexpr uint32_t Tag(const char (&text)[5])
{
    return static_cast<uint32_t>(text[0]) << 24 | static_cast<uint32_t>(text[1]) << 16 |
           static_cast<uint32_t>(text[2]) << 8 | static_cast<uint32_t>(text[3]);
}

constexpr uint32_t kTagElsm = Tag("elsm");
constexpr uint32_t kTagFrat = Tag("frat");
constexpr uint32_t kTagBrat = Tag("brat");
constexpr uint32_t kTagFiel = Tag("fiel");
constexpr uint32_t kTagTcod = Tag("tcod");
constexpr uint32_t kTagBcol = Tag("bcol");
constexpr uint32_t kTagBchl = Tag("bchl");

constexpr uint16_t kMarkerSoc = 0xFF4F;
constexpr uint16_t kMarkerSiz = 0xFF51;
constexpr int32_t kSizFixedBytes = 12; // Lsiz .. Ysiz, counted by Lsiz
constexpr int32_t kFieldCodingTwoFields = 2;

} // namespace

uint32_t J2kParser::ParsePayload(EsProperties&, const uint8_t* payload, uint32_t length, VideoStreamInfo& out)
{
    if (payload == nullptr)
        return kStatusFailed;
    BytePtr in(payload, static_cast<int32_t>(length > INT32_MAX ? INT32_MAX : length));
    if (!ReadAccessUnitHeader(in))
        return kStatusFailed;
    if (in.ReadU16() == kMarkerSoc)
        ReadSizSegment(in);
    FillInfo(out);
    return kStatusOk;
}

bool J2kParser::ReadAccessUnitHeader(BytePtr& in)
{
    if (in.ReadU32() != kTagElsm || in.ReadU32() != kTagFrat)
        return false;
    frameRateDenominator_ = in.ReadU16();
    frameRateNumerator_ = in.ReadU16();
    if (in.ReadU32() != kTagBrat)
        return false;
    in.Skip(8); // maximum and actual bit rate
    uint32_t tag = in.ReadU32();
    if (tag == kTagFiel) {
        fieldCoding_ = in.ReadU8();
        fieldOrder_ = in.ReadU8();
        fieldsPresent_ = 1;
        tag = in.ReadU32();
    }
    if (tag != kTagTcod)
        return false;
    in.Skip(4); // time code
    tag = in.ReadU32();
    if (tag != kTagBcol && tag != kTagBchl)
        return false;
    in.Skip(2);
    return true;
}

void J2kParser::ReadSizSegment(BytePtr& in)
{
    if (in.ReadU16() != kMarkerSiz)
        return;
    const int32_t lsiz = in.ReadU16();
    in.Skip(2); // Rsiz
    const auto xsiz = static_cast<int32_t>(in.ReadU32());
    const auto ysiz = static_cast<int32_t>(in.ReadU32());
    const int32_t rest = lsiz - kSizFixedBytes;
    if (xsiz < 0 || ysiz < 0 || rest < 0 || rest > in.Remaining())
        return;
    in.Skip(rest);
    width_ = xsiz;
    height_ = ysiz;
}

// With field coding 2 each field is a codestream of its own, so SIZ gives the height of one
// field and the picture is twice as high. A fiel box alone does not mean that: field coding 1
// (one field per frame, i.e. progressive) carries the fiel box too.
int64_t J2kParser::PictureHeight() const
{
    return fieldCoding_ == kFieldCodingTwoFields ? int64_t{2} * height_ : height_;
}

int32_t J2kParser::FillInfo(VideoStreamInfo& out)
{
    out.interlaced = fieldsPresent_ != 0 ? 1 : 0;
    out.flags |= VideoStreamInfo::kFlagInterlaced;
    out.frameRate = static_cast<double>(frameRateNumerator_) / static_cast<double>(frameRateDenominator_);
    out.flags |= VideoStreamInfo::kFlagFrameRate;
    const int64_t pictureHeight = PictureHeight();
    out.width = static_cast<uint32_t>(width_);
    out.height = static_cast<uint32_t>(pictureHeight);
    out.flags |= VideoStreamInfo::kFlagSize;
    out.pictureAspect = MakeReducedFraction(width_, pictureHeight);
    out.flags |= VideoStreamInfo::kFlagPictureAspect;
    return 0;
}

} // namespace SklibTs
