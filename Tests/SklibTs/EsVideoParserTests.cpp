// MPEG-2, H.264, HEVC and VC-1 parsers on hand-built payloads: the header features that the
// sample streams do not exercise.
#include <gtest/gtest.h>

#include <algorithm>

#include "EsParser.h"
#include "EsTestSupport.h"
#include "H264Parser.h"
#include "HevcParser.h"
#include "MpegVideoParser.h"
#include "Vc1Parser.h"

namespace {

using EsTest::AppendUnit;
using EsTest::BitWriter;
using EsTest::Size;
using SklibTs::EsProperties;
using SklibTs::VideoStreamInfo;
using V = VideoStreamInfo;
using Bytes = std::vector<uint8_t>;


// ---- MPEG-2 video ----

Bytes SequenceHeader(uint32_t width, uint32_t height, uint32_t aspect, uint32_t frameRateCode)
{
    BitWriter w;
    w.Put(0xB3, 8).Put(width, 12).Put(height, 12).Put(aspect, 4).Put(frameRateCode, 4);
    w.Put(0x3FFFF, 18).Put(1, 1).Put(112, 10).Put(0, 3);
    return w.Take();
}

Bytes SequenceExtension(uint32_t chroma, uint32_t widthExt, uint32_t heightExt, bool progressive)
{
    BitWriter w;
    w.Put(0xB5, 8).Put(1, 4).Put(0x48, 8).Put(progressive, 1).Put(chroma, 2).Put(widthExt, 2).Put(heightExt, 2);
    w.Put(0, 12).Put(1, 1).Put(0, 8).Put(0, 1).Put(0, 7);
    return w.Take();
}

Bytes DisplayExtension(uint32_t width, uint32_t height, bool colour)
{
    BitWriter w;
    w.Put(0xB5, 8).Put(2, 4).Put(1, 3).Put(colour, 1);
    if (colour)
        w.Put(0x010101, 24);
    w.Put(width, 14).Put(1, 1).Put(height, 14);
    return w.Take();
}

Bytes CaptionUserData(const std::vector<uint32_t>& ccTypes, size_t dropBytes = 0)
{
    BitWriter w;
    w.Put(0xB2, 8).Put(0x47413934, 32).Put(3, 8).Put(0b010, 3).Put(ccTypes.size(), 5).Put(0xFF, 8);
    for (uint32_t type : ccTypes)
        w.Put(0x1F, 5).Put(1, 1).Put(type, 2).Put(0x8080, 16);
    w.Put(0xFF, 8);
    Bytes unit = w.Take();
    unit.resize(unit.size() - dropBytes);
    return unit;
}

TEST(EsMpegVideo, SequenceHeaderExtensionsAndCaptions)
{
    Bytes es;
    AppendUnit(es, SequenceHeader(720, 576, 3, 3));
    AppendUnit(es, SequenceExtension(1, 0, 0, false));
    AppendUnit(es, DisplayExtension(704, 576, true));
    AppendUnit(es, CaptionUserData({0, 3}));
    AppendUnit(es, {0x00, 0x00, 0x00, 0x00}); // a picture
    auto info = SklibTs::ParseMpegVideo(es.data(), Size(es));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->flags, V::kFlagSize | V::kFlagSizeExtension | V::kFlagAspect | V::kFlagFrameRate |
                               V::kFlagChromaFormat | V::kFlagInterlaced | V::kFlagDisplaySize | V::kFlagCaptions);
    EXPECT_EQ(info->width, 720u);
    EXPECT_EQ(info->height, 576u);
    EXPECT_EQ(info->aspectX, 16.0);
    EXPECT_EQ(info->frameRate, 25.0);
    EXPECT_EQ(info->chromaFormat, V::kChroma420);
    EXPECT_EQ(info->interlaced, 1);
    EXPECT_EQ(info->displayWidth, 704u);
    EXPECT_EQ(info->displayHeight, 576u);
    EXPECT_EQ(info->cea708Captions, 1u);

    // The last construct decides the caption kind; a display extension without colour
    // description; codes outside the tables set nothing.
    es.clear();
    AppendUnit(es, SequenceHeader(352, 288, 9, 0));
    AppendUnit(es, DisplayExtension(320, 240, false));
    AppendUnit(es, CaptionUserData({3, 0}));
    info = SklibTs::ParseMpegVideo(es.data(), Size(es));
    ASSERT_NE(info, nullptr);
    EXPECT_FALSE(info->Has(V::kFlagAspect));
    EXPECT_FALSE(info->Has(V::kFlagFrameRate));
    EXPECT_EQ(info->displayWidth, 320u);
    EXPECT_EQ(info->displayHeight, 240u);
    EXPECT_EQ(info->cea708Captions, 0u);

    // User data too short for its cc_count, another identifier, no caption type code.
    for (const Bytes& userData : {CaptionUserData({3, 3}, 4), Bytes{0xB2, 'A', 'B', 'C', 'D', 3, 0x42, 0xFF, 0xFC},
                                  Bytes{0xB2, 'G', 'A', '9', '4', 4, 0x42, 0xFF, 0xFC, 0x80, 0x80}}) {
        es.clear();
        AppendUnit(es, SequenceHeader(352, 288, 1, 3));
        AppendUnit(es, userData);
        info = SklibTs::ParseMpegVideo(es.data(), Size(es));
        ASSERT_NE(info, nullptr);
        EXPECT_FALSE(info->Has(V::kFlagCaptions));
    }
}

TEST(EsMpegVideo, SizeExtensionAndCutHeaders)
{
    Bytes es;
    AppendUnit(es, SequenceHeader(0x100, 0x080, 2, 5));
    AppendUnit(es, SequenceExtension(2, 1, 2, true));
    auto info = SklibTs::ParseMpegVideo(es.data(), Size(es));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->width, 4096u + 0x100);
    EXPECT_EQ(info->height, 2 * 4096u + 0x080);
    EXPECT_TRUE(info->Has(V::kFlagSizeExtension));
    EXPECT_EQ(info->chromaFormat, V::kChroma422);
    EXPECT_EQ(info->interlaced, 0);

    // A second sequence header in the same packet keeps the extension bits.
    AppendUnit(es, SequenceHeader(0x200, 0x100, 2, 5));
    info = SklibTs::ParseMpegVideo(es.data(), Size(es));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->width, 4096u + 0x200);

    // An extension without a sequence header gives no size.
    es.clear();
    AppendUnit(es, SequenceExtension(1, 1, 1, true));
    info = SklibTs::ParseMpegVideo(es.data(), Size(es));
    ASSERT_NE(info, nullptr);
    EXPECT_FALSE(info->Has(V::kFlagSize));
    EXPECT_FALSE(info->Has(V::kFlagSizeExtension));

    // A display extension cut inside its fields throws in the bit reader: no result at all,
    // not even the sequence header before it.
    es.clear();
    AppendUnit(es, SequenceHeader(720, 576, 3, 3));
    Bytes display = DisplayExtension(704, 576, true);
    display.resize(display.size() - 2);
    AppendUnit(es, display);
    EXPECT_EQ(SklibTs::ParseMpegVideo(es.data(), Size(es)), nullptr);

    // A sequence header unit shorter than 12 bytes is not read; nothing else: no record.
    es = {0, 0, 1, 0xB3, 0x2D, 0x02, 0x40, 0x33};
    EXPECT_EQ(SklibTs::ParseMpegVideo(es.data(), Size(es)), nullptr);
}

// ---- H.264 ----

struct SpsParams {
    uint32_t profile = 100;
    uint32_t chromaFormatIdc = 1;
    uint32_t spsId = 0;
    uint32_t widthMbs = 120;     // 1920
    uint32_t heightUnits = 68;   // 1088
    bool frameMbsOnly = true;
    bool crop = false;
    uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    bool vui = true;
    uint32_t aspectIdc = 1;
    uint32_t sarWidth = 0, sarHeight = 0;
    bool timing = true;
    uint32_t numUnitsInTick = 1001, timeScale = 60000;
    bool fixedFrameRate = true;
    bool nalHrd = false;
    uint32_t cpbLength = 24, dpbLength = 6;
    bool picStructPresent = false;
    bool scalingMatrix = false;
    uint32_t pocType = 0;
};

Bytes H264Sps(const SpsParams& p)
{
    BitWriter w;
    w.Put(0x67, 8).Put(p.profile, 8).Put(0, 8).Put(40, 8).Ue(p.spsId);
    if (p.profile == 100) {
        w.Ue(p.chromaFormatIdc);
        if (p.chromaFormatIdc == 3)
            w.Put(0, 1);
        w.Ue(0).Ue(0).Put(0, 1).Put(p.scalingMatrix, 1);
        if (p.scalingMatrix) {
            w.Put(1, 1); // list 0 present: deltas 8, then zero to end the list
            w.Se(8).Se(-16);
            w.Put(0, 7);
        }
    }
    w.Ue(4).Ue(p.pocType);
    if (p.pocType == 0)
        w.Ue(4);
    else if (p.pocType == 1)
        w.Put(0, 1).Se(-3).Se(5).Ue(2).Se(1).Se(-1);
    w.Ue(4).Put(0, 1).Ue(p.widthMbs - 1).Ue(p.heightUnits - 1).Put(p.frameMbsOnly, 1);
    if (!p.frameMbsOnly)
        w.Put(1, 1);
    w.Put(1, 1).Put(p.crop, 1);
    if (p.crop)
        w.Ue(p.cropLeft).Ue(p.cropRight).Ue(p.cropTop).Ue(p.cropBottom);
    w.Put(p.vui, 1);
    if (p.vui) {
        w.Put(1, 1).Put(p.aspectIdc, 8);
        if (p.aspectIdc == 255)
            w.Put(p.sarWidth, 16).Put(p.sarHeight, 16);
        w.Put(1, 1).Put(0, 1);               // overscan
        w.Put(1, 1).Put(5, 3).Put(0, 1).Put(1, 1).Put(0x010101, 24); // video signal type
        w.Put(1, 1).Ue(0).Ue(0);             // chroma location
        w.Put(p.timing, 1);
        if (p.timing)
            w.Put(p.numUnitsInTick, 32).Put(p.timeScale, 32).Put(p.fixedFrameRate, 1);
        w.Put(p.nalHrd, 1);
        if (p.nalHrd) {
            w.Ue(1).Put(4, 4).Put(6, 4);
            for (int i = 0; i < 2; ++i)
                w.Ue(1000).Ue(2000).Put(i, 1);
            w.Put(23, 5).Put(p.cpbLength - 1, 5).Put(p.dpbLength - 1, 5).Put(24, 5);
        }
        w.Put(0, 1); // vcl hrd
        if (p.nalHrd)
            w.Put(0, 1);
        w.Put(p.picStructPresent, 1).Put(0, 1); // bitstream_restriction_flag
    }
    w.Trailing();
    return EsTest::Escape(w.Take());
}

Bytes H264PicTimingSei(const SpsParams& p, uint32_t picStruct, int bufferingPeriodSps = -1)
{
    Bytes sei = {0x06};
    if (bufferingPeriodSps >= 0) {
        BitWriter bp;
        bp.Ue(static_cast<uint32_t>(bufferingPeriodSps)).Put(0, 24).Put(0, 24).Trailing();
        const Bytes body = bp.Take();
        sei.push_back(0);
        sei.push_back(static_cast<uint8_t>(body.size()));
        EsTest::Append(sei, body);
    }
    BitWriter pt;
    if (p.nalHrd)
        pt.Put(0, static_cast<int>(p.cpbLength)).Put(0, static_cast<int>(p.dpbLength));
    if (p.picStructPresent)
        pt.Put(picStruct, 4).Put(0, 3); // no clock timestamps
    pt.Trailing();
    const Bytes body = pt.Take();
    sei.push_back(1);
    sei.push_back(static_cast<uint8_t>(body.size()));
    EsTest::Append(sei, body);
    sei.push_back(0x80);
    return EsTest::Escape(sei);
}

Bytes H264Stream(const std::vector<Bytes>& units)
{
    Bytes es;
    AppendUnit(es, {0x09, 0xF0}); // access unit delimiter
    for (const auto& unit : units)
        AppendUnit(es, unit);
    AppendUnit(es, {0x65, 0x88, 0x84}); // start of a slice, so the last unit is terminated
    return es;
}

std::unique_ptr<V> ParseH264Units(EsProperties& es, const std::vector<Bytes>& units)
{
    const Bytes stream = H264Stream(units);
    return SklibTs::ParseH264(es, stream.data(), Size(stream));
}

TEST(EsH264, SequenceParameterSet)
{
    EsProperties es;
    SpsParams p;
    p.crop = true;
    p.cropBottom = 4; // 1088 - 2 * 4
    auto info = ParseH264Units(es, {H264Sps(p)});
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->width, 1920u);
    EXPECT_EQ(info->height, 1080u);
    EXPECT_EQ(info->chromaFormat, V::kChroma420);
    EXPECT_EQ(info->interlaced, 0);
    EXPECT_TRUE(info->Has(V::kFlagInterlaced));
    EXPECT_NEAR(info->frameRate, 29.97, 0.001);
    EXPECT_EQ(info->aspectX, 1.0);

    // Explicit SAR, 4:2:2 cropping units, a scaling matrix and picture order count type 1.
    p = {};
    p.chromaFormatIdc = 2;
    p.aspectIdc = 255;
    p.sarWidth = 64;
    p.sarHeight = 45;
    p.crop = true;
    p.cropLeft = 4;
    p.cropRight = 4;
    p.cropTop = 1;
    p.cropBottom = 1;
    p.scalingMatrix = true;
    p.pocType = 1;
    p.fixedFrameRate = false;
    info = ParseH264Units(es, {H264Sps(p)});
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->width, 1920u - 16);
    EXPECT_EQ(info->height, 1088u - 2);
    EXPECT_EQ(info->chromaFormat, V::kChroma422);
    EXPECT_EQ(info->aspectX, 64.0);
    EXPECT_EQ(info->aspectY, 45.0);
    EXPECT_FALSE(info->Has(V::kFlagFrameRate)); // not a fixed rate

    // Field-coded: height counts map units of two fields, cropping in units of 2 x 2 lines,
    // interlacing is left to picture timing.
    p = {};
    p.frameMbsOnly = false;
    p.heightUnits = 34;
    p.crop = true;
    p.cropBottom = 2;
    p.chromaFormatIdc = 0;
    info = ParseH264Units(es, {H264Sps(p)});
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->height, 34u * 32 - 2 * 2);
    EXPECT_FALSE(info->Has(V::kFlagInterlaced));
    EXPECT_EQ(info->chromaFormat, V::kChromaMonochrome);

    // Baseline profile without chroma information, no VUI; 4:4:4 has its own H.264 code.
    p = {};
    p.profile = 66;
    p.vui = false;
    info = ParseH264Units(es, {H264Sps(p)});
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->chromaFormat, V::kChroma420);
    EXPECT_FALSE(info->Has(V::kFlagAspect));
    p = {};
    p.chromaFormatIdc = 3;
    info = ParseH264Units(es, {H264Sps(p)});
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->chromaFormat, V::kChroma444H264);
}

TEST(EsH264, UnterminatedAndCutUnits)
{
    EsProperties es;
    const Bytes sps = H264Sps(SpsParams{});
    // The last NAL unit of a packet may continue in the next: it is not parsed.
    Bytes stream;
    AppendUnit(stream, {0x09, 0xF0});
    AppendUnit(stream, sps);
    EXPECT_EQ(SklibTs::ParseH264(es, stream.data(), Size(stream)), nullptr);
    // An SPS that ends before its VUI is complete gives nothing.
    Bytes cut(sps.begin(), sps.begin() + 14);
    EXPECT_EQ(ParseH264Units(es, {cut}), nullptr);
    // Emulation-prevention bytes inside the SPS are removed before reading.
    SpsParams p;
    p.numUnitsInTick = 1; // 31 zero bits: escaped whatever the bit position
    p.timeScale = 50;
    const Bytes escaped = H264Sps(p);
    const Bytes escape = {0, 0, 3};
    ASSERT_NE(std::search(escaped.begin(), escaped.end(), escape.begin(), escape.end()), escaped.end());
    auto info = ParseH264Units(es, {escaped});
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->frameRate, 25.0);
}

TEST(EsH264, PictureTimingSei)
{
    SpsParams p;
    p.nalHrd = true;
    p.cpbLength = 18;
    p.dpbLength = 7;
    p.picStructPresent = true;
    p.frameMbsOnly = false;
    p.heightUnits = 34;
    EsProperties es;
    // pic_struct 3 (top field, bottom field) after the HRD delay fields: interlaced.
    auto info = ParseH264Units(es, {H264Sps(p), H264PicTimingSei(p, 3)});
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->interlaced, 1);
    EXPECT_TRUE(info->Has(V::kFlagInterlaced));
    EXPECT_EQ(info->h264.cpbRemovalDelayLength, 18);
    EXPECT_EQ(info->h264.dpbOutputDelayLength, 7);

    // A later packet without SPS updates the stored record in place.
    SklibTs::ParsePes(es, SklibTs::StreamKind::kH264, EsTest::MakePes(H264Stream({H264Sps(p)})).data(),
                      Size(EsTest::MakePes(H264Stream({H264Sps(p)}))));
    ASSERT_NE(es.Video(), nullptr);
    EXPECT_FALSE(es.Video()->Has(V::kFlagInterlaced));
    EXPECT_EQ(ParseH264Units(es, {H264PicTimingSei(p, 0)}), nullptr);
    EXPECT_EQ(es.Video()->interlaced, 0);
    EXPECT_TRUE(es.Video()->Has(V::kFlagInterlaced));
    EXPECT_EQ(ParseH264Units(es, {H264PicTimingSei(p, 1)}), nullptr);
    EXPECT_EQ(es.Video()->interlaced, 1);

    // A buffering period naming another SPS makes the timing fields unreadable: skipped.
    EXPECT_EQ(ParseH264Units(es, {H264PicTimingSei(p, 0, 5)}), nullptr);
    EXPECT_EQ(es.Video()->interlaced, 1);
    EXPECT_EQ(ParseH264Units(es, {H264PicTimingSei(p, 0, 0)}), nullptr);
    EXPECT_EQ(es.Video()->interlaced, 0);

    // Without pic_struct_present_flag the SEI says nothing; without any record it is ignored.
    SpsParams noPicStruct;
    info = ParseH264Units(es, {H264Sps(noPicStruct), H264PicTimingSei(noPicStruct, 3)});
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->interlaced, 0);
    EsProperties empty;
    EXPECT_EQ(ParseH264Units(empty, {H264PicTimingSei(p, 3)}), nullptr);
    EXPECT_EQ(empty.Video(), nullptr);
}

// ---- HEVC ----

void ProfileTierLevel(BitWriter& w, uint32_t maxSubLayersMinus1)
{
    w.Put(0, 2).Put(0, 1).Put(2, 5).Put(0x20000000, 32).Put(0xB0, 8).Put(0, 40).Put(120, 8);
    for (uint32_t i = 0; i < maxSubLayersMinus1; ++i)
        w.Put(1, 1).Put(1, 1);
    if (maxSubLayersMinus1 > 0)
        for (uint32_t i = maxSubLayersMinus1; i < 8; ++i)
            w.Put(0, 2);
    for (uint32_t i = 0; i < maxSubLayersMinus1; ++i)
        w.Put(0, 88).Put(90, 8);
}

Bytes HevcVps(bool timing, uint32_t numUnitsInTick, uint32_t timeScale, uint32_t maxSubLayersMinus1 = 0)
{
    BitWriter w;
    w.Put(32 << 1, 8).Put(1, 8); // NAL header
    w.Put(0, 4).Put(1, 1).Put(1, 1).Put(0, 6).Put(maxSubLayersMinus1, 3).Put(1, 1).Put(0xFFFF, 16);
    ProfileTierLevel(w, maxSubLayersMinus1);
    w.Put(1, 1);
    for (uint32_t i = 0; i <= maxSubLayersMinus1; ++i)
        w.Ue(4).Ue(0).Ue(0);
    w.Put(0, 6).Ue(0).Put(timing, 1);
    if (timing)
        w.Put(numUnitsInTick, 32).Put(timeScale, 32).Put(0, 1).Put(0, 1);
    w.Put(0, 1).Trailing();
    return EsTest::Escape(w.Take());
}

struct HevcSpsParams {
    uint32_t chromaFormatIdc = 1;
    uint32_t width = 1920, height = 1088;
    bool window = false;
    uint32_t left = 0, right = 0, top = 0, bottom = 0;
    uint32_t bitDepthLuma = 10, bitDepthChroma = 10;
    uint32_t maxSubLayersMinus1 = 0;
};

Bytes HevcSps(const HevcSpsParams& p)
{
    BitWriter w;
    w.Put(33 << 1, 8).Put(1, 8);
    w.Put(0, 4).Put(p.maxSubLayersMinus1, 3).Put(1, 1);
    ProfileTierLevel(w, p.maxSubLayersMinus1);
    w.Ue(0).Ue(p.chromaFormatIdc);
    if (p.chromaFormatIdc == 3)
        w.Put(0, 1);
    w.Ue(p.width).Ue(p.height).Put(p.window, 1);
    if (p.window)
        w.Ue(p.left).Ue(p.right).Ue(p.top).Ue(p.bottom);
    w.Ue(p.bitDepthLuma - 8).Ue(p.bitDepthChroma - 8).Ue(4).Trailing();
    return EsTest::Escape(w.Take());
}

std::unique_ptr<V> ParseHevcUnits(EsProperties& es, const std::vector<Bytes>& units)
{
    Bytes stream;
    AppendUnit(stream, {0x46, 0x01, 0x50});
    for (const auto& unit : units)
        AppendUnit(stream, unit);
    AppendUnit(stream, {0x26, 0x01, 0xAF});
    return SklibTs::ParseHevc(es, stream.data(), Size(stream));
}

TEST(EsHevc, ParameterSets)
{
    EsProperties es;
    HevcSpsParams p;
    p.window = true;
    p.bottom = 4; // 4:2:0: two lines per unit
    auto info = ParseHevcUnits(es, {HevcVps(true, 1001, 60000, 1), HevcSps(p)});
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->width, 1920u);
    EXPECT_EQ(info->height, 1080u);
    EXPECT_EQ(info->chromaFormat, V::kChroma420);
    EXPECT_EQ(info->bitDepthLuma, 10u);
    EXPECT_EQ(info->bitDepthChroma, 10u);
    EXPECT_NEAR(info->frameRate, 59.94, 0.001);

    // 4:2:2 window units are 2 x 1; a VPS without timing gives no frame rate; sub-layers.
    p = {};
    p.chromaFormatIdc = 2;
    p.window = true;
    p.left = 8;
    p.top = 3;
    p.bitDepthChroma = 12;
    p.maxSubLayersMinus1 = 2;
    info = ParseHevcUnits(es, {HevcVps(false, 0, 0), HevcSps(p)});
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->width, 1920u - 16);
    EXPECT_EQ(info->height, 1088u - 3);
    EXPECT_EQ(info->chromaFormat, V::kChroma422);
    EXPECT_EQ(info->bitDepthChroma, 12u);
    EXPECT_FALSE(info->Has(V::kFlagFrameRate));

    // An SPS without VPS in the packet fills the stored record in place.
    es.SetVideo(ParseHevcUnits(es, {HevcVps(true, 1, 25), HevcSps({})}));
    p = {};
    p.chromaFormatIdc = 3;
    p.width = 3840;
    p.height = 2160;
    EXPECT_EQ(ParseHevcUnits(es, {HevcSps(p)}), nullptr);
    ASSERT_NE(es.Video(), nullptr);
    EXPECT_EQ(es.Video()->width, 3840u);
    EXPECT_EQ(es.Video()->chromaFormat, V::kChroma444);
    EXPECT_EQ(es.Video()->frameRate, 25.0);

    // Only the first SPS is read; an SPS cut short leaves nothing and changes nothing.
    p.width = 1280;
    const Bytes sps = HevcSps(p);
    EXPECT_EQ(ParseHevcUnits(es, {Bytes(sps.begin(), sps.begin() + 20)}), nullptr);
    EXPECT_EQ(es.Video()->width, 3840u);
    // With neither a VPS nor a stored record, the (first) SPS still makes a record.
    EsProperties fresh;
    info = ParseHevcUnits(fresh, {HevcSps({}), sps});
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->flags, V::kFlagSize | V::kFlagChromaFormat | V::kFlagBitDepth);
    EXPECT_EQ(info->width, 1920u);
}

// ---- VC-1 ----

Bytes Vc1SequenceHeader(uint32_t codedWidth, uint32_t codedHeight, bool interlace, bool display)
{
    BitWriter w;
    w.Put(0x0F, 8).Put(3, 2).Put(3, 3).Put(1, 2).Put(7, 3).Put(31, 5).Put(0, 1);
    w.Put(codedWidth / 2 - 1, 12).Put(codedHeight / 2 - 1, 12);
    w.Put(0, 1).Put(interlace, 1).Put(0, 4).Put(display, 1);
    if (display) {
        w.Put(1919, 14).Put(1079, 14).Put(1, 1).Put(15, 4).Put(15, 8).Put(8, 8); // SAR 16:9
        w.Put(1, 1).Put(0, 1).Put(2, 8).Put(2, 4);                                  // 25000 / 1001
    }
    w.Put(0, 1).Trailing();
    return w.Take();
}

TEST(EsVc1, AdvancedProfileSequenceHeader)
{
    Bytes es;
    AppendUnit(es, Vc1SequenceHeader(1920, 1088, true, true));
    AppendUnit(es, {0x0E, 0x00, 0x00});
    auto info = SklibTs::ParseVc1(es.data(), Size(es));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->width, 1920u);
    EXPECT_EQ(info->height, 1088u);
    EXPECT_EQ(info->chromaFormat, V::kChroma420);
    EXPECT_EQ(info->interlaced, 1);
    EXPECT_EQ(info->displayWidth, 1920u);
    EXPECT_EQ(info->aspectX, 16.0);
    EXPECT_EQ(info->aspectY, 9.0);
    EXPECT_NEAR(info->frameRate, 24.975, 0.001);

    es.clear();
    AppendUnit(es, Vc1SequenceHeader(720, 576, false, false));
    info = SklibTs::ParseVc1(es.data(), Size(es));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->width, 720u);
    EXPECT_FALSE(info->Has(V::kFlagFrameRate));

    // Simple/main profile headers are not read; a cut header gives nothing.
    es = {0, 0, 1, 0x0F, 0x40, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(SklibTs::ParseVc1(es.data(), Size(es)), nullptr);
    es.clear();
    const Bytes header = Vc1SequenceHeader(1920, 1088, true, true);
    AppendUnit(es, Bytes(header.begin(), header.begin() + 8));
    EXPECT_EQ(SklibTs::ParseVc1(es.data(), Size(es)), nullptr);
}

} // namespace
