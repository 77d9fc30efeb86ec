// AC-3, E-AC-3, AAC (ADTS and LATM) and MPEG audio parsers on hand-built frames: the header
// variants and acceptance rules that the sample streams do not exercise.
#include <gtest/gtest.h>

#include "AacParser.h"
#include "Ac3Parser.h"
#include "EsDescription.h"
#include "EsParser.h"
#include "EsTestSupport.h"
#include "MpegAudioParser.h"

namespace {

using EsTest::Append;
using EsTest::BitWriter;
using EsTest::Size;
using SklibTs::AudioStreamInfo;
using A = AudioStreamInfo;
using Bytes = std::vector<uint8_t>;


// ---- AC-3 / E-AC-3 ----

struct Ac3Params {
    uint32_t fscod = 0;        // 48 kHz
    uint32_t frmsizecod = 30;  // 448 kbit/s
    uint32_t bsid = 8;
    uint32_t bsmod = 0;
    uint32_t acmod = 7;        // 3/2
    bool lfe = true;
    uint32_t dialnorm = 27;
};

// A whole frame of frameBytes bytes: the header, then zeros (which hold no sync word).
Bytes Ac3Frame(const Ac3Params& p, size_t frameBytes)
{
    BitWriter w;
    w.Put(0x0B77, 16).Put(0, 16).Put(p.fscod, 2).Put(p.frmsizecod, 6).Put(p.bsid, 5).Put(p.bsmod, 3);
    w.Put(p.acmod, 3);
    if ((p.acmod & 1) != 0 && p.acmod != 1)
        w.Put(0, 2); // cmixlev
    if ((p.acmod & 4) != 0)
        w.Put(0, 2); // surmixlev
    if (p.acmod == 2)
        w.Put(0, 2); // dsurmod
    w.Put(p.lfe, 1).Put(p.dialnorm, 5);
    Bytes frame = w.Take();
    frame.resize(frameBytes, 0);
    return frame;
}

struct Eac3Params {
    uint32_t strmtyp = 0;   // independent
    uint32_t frmsiz = 511;  // 1024 bytes
    uint32_t fscod = 0;
    uint32_t numblkscod = 3; // 6 blocks, or fscod2 when fscod is 3
    uint32_t acmod = 2;
    bool lfe = false;
    uint32_t bsid = 16;
    uint32_t dialnorm = 31;
};

Bytes Eac3Frame(const Eac3Params& p)
{
    BitWriter w;
    w.Put(0x0B77, 16).Put(p.strmtyp, 2).Put(0, 3).Put(p.frmsiz, 11).Put(p.fscod, 2).Put(p.numblkscod, 2);
    w.Put(p.acmod, 3).Put(p.lfe, 1).Put(p.bsid, 5).Put(p.dialnorm, 5);
    Bytes frame = w.Take();
    frame.resize((p.frmsiz + 1) * 2, 0);
    return frame;
}

TEST(EsAc3, FrameHeaderAndNextSyncRule)
{
    const Ac3Params p;
    const Bytes frame = Ac3Frame(p, 1792);

    uint32_t frameBytes = 0;
    AudioStreamInfo info;
    ASSERT_TRUE(SklibTs::ReadAc3Header(frame.data(), frame.size(), info, frameBytes));
    EXPECT_EQ(frameBytes, 1792u); // 896 words at fscod 0, frmsizecod 30
    EXPECT_EQ(info.sampleRate, 48000u);
    EXPECT_EQ(info.bitRate, 448000u);
    EXPECT_EQ(info.channelMode, A::kChannelModeAc3First + 7);
    EXPECT_EQ(info.lfe, 1);
    EXPECT_EQ(info.channelCount, 6u);
    EXPECT_EQ(info.dialogueLevel, -27);
    EXPECT_EQ(info.bitstreamId, 8u);
    EXPECT_EQ(SklibTs::DescribeAudio(info, SklibTs::StreamKind::kAc3), "AC-3 48 kHz 3/2+LFE 448 kbit/s dialnorm -27 dB");

    // 44.1 kHz frames have odd sizes: frmsizecod 31 is one word longer than 30.
    Ac3Params p441 = p;
    p441.fscod = 1;
    p441.frmsizecod = 31;
    ASSERT_TRUE(SklibTs::ReadAc3Header(Ac3Frame(p441, 8).data(), 8, info, frameBytes));
    EXPECT_EQ(frameBytes, 2u * 976);
    EXPECT_EQ(info.sampleRate, 44100u);

    // A frame alone, or followed by up to 2 bytes, ends the payload: accepted.
    EXPECT_NE(SklibTs::ParseAc3(frame.data(), Size(frame)), nullptr);
    Bytes tail = frame;
    Append(tail, {0xAA, 0xBB});
    EXPECT_NE(SklibTs::ParseAc3(tail.data(), Size(tail)), nullptr);
    // 3 bytes after it that are not a sync word: the frame end is not confirmed.
    tail.push_back(0xCC);
    EXPECT_EQ(SklibTs::ParseAc3(tail.data(), Size(tail)), nullptr);
    // A frame cut short is not accepted either.
    EXPECT_EQ(SklibTs::ParseAc3(frame.data(), Size(frame) - 10), nullptr);
    // Followed by the next sync word: accepted whatever comes after.
    Bytes two = frame;
    Append(two, Ac3Frame(p, 1792));
    Append(two, {1, 2, 3, 4, 5, 6, 7});
    EXPECT_NE(SklibTs::ParseAc3(two.data(), Size(two)), nullptr);

    // A sync word inside audio data that looks like a header but is not followed by a sync
    // word is passed over; the real frame after it counts.
    Ac3Params fake;
    fake.fscod = 2;
    fake.frmsizecod = 0; // 32 kHz, 96 words
    fake.acmod = 2;
    Bytes stream = Ac3Frame(fake, 20);
    Append(stream, frame);
    Append(stream, frame);
    auto found = SklibTs::ParseAc3(stream.data(), Size(stream));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->sampleRate, 48000u);
    EXPECT_EQ(found->channelMode, A::kChannelModeAc3First + 7);

    // Headers that are not AC-3: reserved fscod, frmsizecod past the table, bsid of E-AC-3.
    Ac3Params bad = p;
    bad.fscod = 3;
    EXPECT_FALSE(SklibTs::ReadAc3Header(Ac3Frame(bad, 8).data(), 8, info, frameBytes));
    bad = p;
    bad.frmsizecod = 38;
    EXPECT_FALSE(SklibTs::ReadAc3Header(Ac3Frame(bad, 8).data(), 8, info, frameBytes));
    const Bytes eac3 = Eac3Frame({});
    EXPECT_EQ(SklibTs::ParseAc3(eac3.data(), Size(eac3)), nullptr);
    // Fewer than 8 bytes are never read.
    EXPECT_FALSE(SklibTs::ReadAc3Header(frame.data(), 7, info, frameBytes));
}

TEST(EsAc3, ChannelModesAndDualMono)
{
    // acmod 0 (1+1) and 2 (2/0 with dsurmod) move lfeon and dialnorm to other bit positions.
    for (uint32_t acmod = 0; acmod < 8; ++acmod) {
        Ac3Params p;
        p.acmod = acmod;
        p.lfe = acmod % 2 == 0;
        p.dialnorm = 10 + acmod;
        uint32_t frameBytes = 0;
        AudioStreamInfo info;
        ASSERT_TRUE(SklibTs::ReadAc3Header(Ac3Frame(p, 8).data(), 8, info, frameBytes)) << acmod;
        EXPECT_EQ(info.channelMode, A::kChannelModeAc3First + acmod);
        EXPECT_EQ(info.lfe, p.lfe ? 1 : 0) << acmod;
        EXPECT_EQ(info.dialogueLevel, -static_cast<int32_t>(p.dialnorm)) << acmod;
    }
    Ac3Params stereo;
    stereo.acmod = 2;
    stereo.lfe = false;
    stereo.frmsizecod = 24; // 256 kbit/s, 512 words
    const Bytes frame = Ac3Frame(stereo, 1024);
    const auto info = SklibTs::ParseAc3(frame.data(), Size(frame));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(SklibTs::DescribeAudio(*info, SklibTs::StreamKind::kAc3Descriptor), "AC-3 48 kHz 2/0 256 kbit/s dialnorm -27 dB");
}

TEST(EsEac3, IndependentAndDependentSubstreams)
{
    const Bytes frame = Eac3Frame({});
    auto info = SklibTs::ParseEac3(frame.data(), Size(frame));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->sampleRate, 48000u);
    EXPECT_EQ(info->bitRate, 256000u); // 1024 bytes per 1536 samples at 48 kHz
    EXPECT_EQ(info->samplesPerFrame, 1536u);
    EXPECT_EQ(info->bitstreamId, 16u);
    EXPECT_EQ(info->channelMode, A::kChannelModeAc3First + 2);
    EXPECT_EQ(info->dialogueLevel, -31);
    EXPECT_EQ(SklibTs::DescribeAudio(*info, SklibTs::StreamKind::kEac3), "E-AC-3 48 kHz 2/0 256 kbit/s dialnorm -31 dB");

    // Fewer blocks per frame: the same frame size is a higher rate.
    Eac3Params oneBlock;
    oneBlock.numblkscod = 0;
    oneBlock.frmsiz = 127; // 256 bytes per 256 samples
    const Bytes small = Eac3Frame(oneBlock);
    info = SklibTs::ParseEac3(small.data(), Size(small));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->samplesPerFrame, 256u);
    EXPECT_EQ(info->bitRate, 384000u);

    // fscod 3: half rates by fscod2, always 6 blocks.
    Eac3Params half;
    half.fscod = 3;
    half.numblkscod = 1; // fscod2 1: 22.05 kHz
    const Bytes low = Eac3Frame(half);
    info = SklibTs::ParseEac3(low.data(), Size(low));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->sampleRate, 22050u);
    EXPECT_EQ(info->samplesPerFrame, 1536u);
    half.numblkscod = 3; // fscod2 3 is reserved
    const Bytes reserved = Eac3Frame(half);
    EXPECT_EQ(SklibTs::ParseEac3(reserved.data(), Size(reserved)), nullptr);

    // A dependent substream alone says nothing; after an independent one, the independent
    // one is reported.
    Eac3Params dependent;
    dependent.strmtyp = 1;
    dependent.acmod = 7;
    const Bytes dep = Eac3Frame(dependent);
    EXPECT_EQ(SklibTs::ParseEac3(dep.data(), Size(dep)), nullptr);
    Bytes both = frame;
    Append(both, dep);
    info = SklibTs::ParseEac3(both.data(), Size(both));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->channelMode, A::kChannelModeAc3First + 2);

    // E-AC-3 streams may carry plain AC-3 frames; bsid 11 to 16 only for E-AC-3 headers.
    const Bytes ac3 = Ac3Frame({}, 1792);
    info = SklibTs::ParseEac3(ac3.data(), Size(ac3));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->bitRate, 448000u);
    Eac3Params wrongBsid;
    wrongBsid.bsid = 17;
    const Bytes future = Eac3Frame(wrongBsid);
    EXPECT_EQ(SklibTs::ParseEac3(future.data(), Size(future)), nullptr);
}

// ---- AAC in ADTS ----

struct AdtsParams {
    uint32_t profile = 1;       // LC
    uint32_t sampleRateIndex = 3;
    uint32_t configuration = 2;
    uint32_t frameLength = 200;
    uint32_t rawBlocks = 0;
};

Bytes AdtsHeader(const AdtsParams& p)
{
    BitWriter w;
    w.Put(0xFFF, 12).Put(0, 1).Put(0, 2).Put(1, 1);
    w.Put(p.profile, 2).Put(p.sampleRateIndex, 4).Put(0, 1).Put(p.configuration, 3).Put(0, 4);
    w.Put(p.frameLength, 13).Put(0x7FF, 11).Put(p.rawBlocks, 2);
    return w.Take();
}

TEST(EsAac, AdtsHeaders)
{
    Bytes payload = {0x00, 0xFF, 0x12}; // garbage before the first header is passed over
    Append(payload, AdtsHeader({}));
    auto info = SklibTs::ParseAacAdts(payload.data(), Size(payload));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->sampleRate, 48000u);
    EXPECT_EQ(info->aacProfile, A::kAacLc);
    EXPECT_EQ(info->channelMode, 14u);
    EXPECT_EQ(info->channelCount, 2u);
    EXPECT_EQ(info->samplesPerFrame, 1024u);
    EXPECT_EQ(SklibTs::DescribeAudio(*info, SklibTs::StreamKind::kAacAdts), "AAC LC 48 kHz stereo");

    struct Case {
        AdtsParams params;
        bool accepted;
        uint32_t profileFlag;
        uint32_t profile;
        uint32_t channelMode; // 0: no channel-mode flag
        uint32_t sampleRate;
    };
    const Case cases[] = {
        {{0, 0, 1, 200, 0}, true, A::kFlagAacProfile, A::kAacMain, 13, 96000},
        {{2, 11, 7, 200, 0}, true, A::kFlagAacProfile, A::kAacSsr, 19, 8000},
        {{3, 10, 6, 200, 0}, true, 0, 0, 18, 11025},  // profile 3: no profile
        {{1, 4, 0, 200, 0}, true, A::kFlagAacProfile, A::kAacLc, 0, 44100}, // configuration in the PCE
        {{1, 12, 2, 200, 0}, false, 0, 0, 0, 0},      // 7350 Hz exists for MPEG-4 only: reserved in ADTS
        {{1, 13, 2, 200, 0}, false, 0, 0, 0, 0},      // reserved sampling index
        {{1, 3, 2, 6, 0}, false, 0, 0, 0, 0},         // frame shorter than its header
    };
    for (const Case& c : cases) {
        const Bytes header = AdtsHeader(c.params);
        info = SklibTs::ParseAacAdts(header.data(), Size(header));
        ASSERT_EQ(info != nullptr, c.accepted) << c.params.sampleRateIndex;
        if (!info)
            continue;
        EXPECT_EQ(info->sampleRate, c.sampleRate);
        EXPECT_EQ(info->flags & A::kFlagAacProfile, c.profileFlag);
        EXPECT_EQ(info->aacProfile, c.profile);
        EXPECT_EQ(info->Has(A::kFlagChannelMode), c.channelMode != 0);
        EXPECT_EQ(info->channelMode, c.channelMode);
    }

    // Several raw data blocks per frame.
    AdtsParams blocks;
    blocks.rawBlocks = 3;
    const Bytes four = AdtsHeader(blocks);
    info = SklibTs::ParseAacAdts(four.data(), Size(four));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->samplesPerFrame, 4096u);

    // A header cut to 6 bytes is not read; nor is an MPEG audio header (layer bits set).
    const Bytes header = AdtsHeader({});
    EXPECT_EQ(SklibTs::ParseAacAdts(header.data(), 6), nullptr);
    const Bytes mp3 = {0xFF, 0xFB, 0x90, 0x64, 0, 0, 0, 0};
    EXPECT_EQ(SklibTs::ParseAacAdts(mp3.data(), Size(mp3)), nullptr);
}

// ---- AAC in LATM ----

struct LatmParams {
    bool useSameStreamMux = false;
    uint32_t audioMuxVersion = 0;
    uint32_t audioMuxVersionA = 0;
    uint32_t numProgram = 0;
    uint32_t numLayer = 0;
    uint32_t objectType = 2;
    uint32_t sampleRateIndex = 3;
    uint32_t explicitRate = 0;  // with index 15
    uint32_t configuration = 2;
    uint32_t extensionIndex = 0; // with object type 5 (SBR)
    uint32_t innerObjectType = 2;
    int32_t ascLength = -1;      // version 1: -1 = the true length
    int32_t muxLength = -1;      // -1 = the true length
};

// LatmGetValue: 2 bits of byte count - 1, then the bytes.
void PutLatmValue(BitWriter& w, uint32_t value)
{
    const uint32_t bytes = value > 0xFFFF ? 3 : value > 0xFF ? 2 : 1;
    w.Put(bytes - 1, 2).Put(value, static_cast<int>(8 * bytes));
}

void PutAudioSpecificConfig(BitWriter& w, const LatmParams& p)
{
    w.Put(p.objectType, 5).Put(p.sampleRateIndex, 4);
    if (p.sampleRateIndex == 15)
        w.Put(p.explicitRate, 24);
    w.Put(p.configuration, 4);
    if (p.objectType == 5)
        w.Put(p.extensionIndex, 4).Put(p.innerObjectType, 5);
    w.Put(0, 3); // GASpecificConfig: frameLengthFlag, dependsOnCoreCoder, extensionFlag
}

int AscBits(const LatmParams& p)
{
    return 5 + 4 + (p.sampleRateIndex == 15 ? 24 : 0) + 4 + (p.objectType == 5 ? 9 : 0) + 3;
}

Bytes LatmFrame(const LatmParams& p)
{
    BitWriter e; // AudioMuxElement(1)
    e.Put(p.useSameStreamMux, 1);
    if (!p.useSameStreamMux) {
        e.Put(p.audioMuxVersion, 1);
        if (p.audioMuxVersion != 0) {
            e.Put(p.audioMuxVersionA, 1);
            PutLatmValue(e, 0x1234); // taraBufferFullness, two bytes
        }
        e.Put(1, 1).Put(0, 6).Put(p.numProgram, 4).Put(p.numLayer, 3);
        if (p.audioMuxVersion != 0)
            PutLatmValue(e, static_cast<uint32_t>(p.ascLength >= 0 ? p.ascLength : AscBits(p)));
        PutAudioSpecificConfig(e, p);
        e.Put(0, 3).Put(0xFF, 8).Put(0, 1).Put(0, 1); // frameLengthType, latmBufferFullness, other data, crc
    }
    e.Put(0, 8).Put(0x55, 8); // PayloadLengthInfo and some payload
    const Bytes element = e.Take();
    const auto length = static_cast<uint32_t>(p.muxLength >= 0 ? p.muxLength : Size(element));
    BitWriter w;
    w.Put(0x2B7, 11).Put(length, 13).Bytes(element);
    return w.Take();
}

TEST(EsAac, LatmStreamMuxConfig)
{
    const auto parse = [](const LatmParams& p) {
        const Bytes frame = LatmFrame(p);
        return SklibTs::ParseAacLatm(frame.data(), Size(frame));
    };

    auto info = parse({});
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->sampleRate, 48000u);
    EXPECT_EQ(info->aacProfile, A::kAacLc);
    EXPECT_EQ(info->channelMode, 14u);
    EXPECT_EQ(SklibTs::DescribeAudio(*info, SklibTs::StreamKind::kAacLatm), "AAC LATM LC 48 kHz stereo");

    // audioMuxVersion 1: taraBufferFullness and the configuration length come first.
    LatmParams v1;
    v1.audioMuxVersion = 1;
    v1.configuration = 6;
    info = parse(v1);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->sampleRate, 48000u);
    EXPECT_EQ(info->channelMode, 18u);
    v1.audioMuxVersionA = 1; // reserved syntax
    EXPECT_EQ(parse(v1), nullptr);
    v1.audioMuxVersionA = 0;
    v1.ascLength = 200; // longer than what is left of the frame
    EXPECT_EQ(parse(v1), nullptr);

    // An explicit 24-bit sampling frequency.
    LatmParams explicitRate;
    explicitRate.sampleRateIndex = 15;
    explicitRate.explicitRate = 44100;
    info = parse(explicitRate);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->sampleRate, 44100u);
    EXPECT_EQ(info->channelMode, 14u);

    // HE-AAC with explicit SBR signalling: the extension rate is the output rate, the inner
    // object type the profile.
    LatmParams sbr;
    sbr.objectType = 5;
    sbr.sampleRateIndex = 6; // 24 kHz core
    sbr.extensionIndex = 3;  // 48 kHz
    sbr.configuration = 1;
    info = parse(sbr);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->sampleRate, 48000u);
    EXPECT_EQ(info->aacProfile, A::kAacLc);
    EXPECT_EQ(info->channelMode, 13u);

    // Reserved sampling index: rejected.
    LatmParams reserved;
    reserved.sampleRateIndex = 13;
    EXPECT_EQ(parse(reserved), nullptr);

    // Several programs or layers are not read.
    LatmParams programs;
    programs.numProgram = 1;
    EXPECT_EQ(parse(programs), nullptr);
    LatmParams layers;
    layers.numLayer = 2;
    EXPECT_EQ(parse(layers), nullptr);

    // A frame that reuses an earlier configuration is passed over for the next one that
    // carries its own.
    LatmParams same;
    same.useSameStreamMux = true;
    Bytes stream = LatmFrame(same);
    LatmParams next;
    next.sampleRateIndex = 5; // 32 kHz
    Append(stream, LatmFrame(next));
    info = SklibTs::ParseAacLatm(stream.data(), Size(stream));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->sampleRate, 32000u);
    const Bytes alone = LatmFrame(same);
    EXPECT_EQ(SklibTs::ParseAacLatm(alone.data(), Size(alone)), nullptr);

    // The mux length bounds the configuration: too short a length, or a frame cut inside its
    // configuration, gives nothing.
    LatmParams shortLength;
    shortLength.muxLength = 2;
    EXPECT_EQ(parse(shortLength), nullptr);
    const Bytes whole = LatmFrame({});
    for (int32_t cut = 3; cut < 7; ++cut)
        EXPECT_EQ(SklibTs::ParseAacLatm(whole.data(), cut), nullptr) << cut;
}

// ---- MPEG audio ----

TEST(EsMpegAudio, FrameHeaders)
{
    const Bytes mp3 = {0x00, 0xFF, 0x00, 0xFF, 0xFB, 0x90, 0x64, 0x00};
    auto info = SklibTs::ParseMpegAudio(mp3.data(), Size(mp3));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->mpegLayer, 3);
    EXPECT_EQ(info->bitRate, 128000u);
    EXPECT_EQ(info->sampleRate, 44100u);
    EXPECT_EQ(info->channelMode, A::kChannelModeMpegJointStereo);
    EXPECT_EQ(info->samplesPerFrame, 1152u);
    EXPECT_EQ(SklibTs::DescribeAudio(*info, SklibTs::StreamKind::kMpeg1Audio),
              "MPEG-1 audio Layer III 44.1 kHz joint stereo 128 kbit/s");

    SklibTs::MpegAudioFrame frame;
    ASSERT_TRUE(SklibTs::ReadMpegAudioHeader(mp3.data() + 3, 4, frame));
    EXPECT_EQ(frame.frameBytes, 417u); // 144 * 128000 / 44100
    const Bytes padded = {0xFF, 0xFB, 0x92, 0x64};
    ASSERT_TRUE(SklibTs::ReadMpegAudioHeader(padded.data(), 4, frame));
    EXPECT_EQ(frame.frameBytes, 418u);

    // MPEG-2 Layer II mono at 24 kHz, MPEG-2.5 Layer III at 8 kHz, MPEG-1 Layer I.
    const Bytes mpeg2 = {0xFF, 0xF4, 0x84, 0xC0};
    ASSERT_TRUE(SklibTs::ReadMpegAudioHeader(mpeg2.data(), 4, frame));
    EXPECT_EQ(frame.info.sampleRate, 24000u);
    EXPECT_EQ(frame.info.bitRate, 64000u);
    EXPECT_EQ(frame.info.mpegLayer, 2);
    EXPECT_EQ(frame.info.channelMode, A::kChannelModeMpegMono);
    EXPECT_EQ(frame.info.channelCount, 1u);
    const Bytes mpeg25 = {0xFF, 0xE3, 0x88, 0x00};
    ASSERT_TRUE(SklibTs::ReadMpegAudioHeader(mpeg25.data(), 4, frame));
    EXPECT_EQ(frame.info.sampleRate, 8000u);
    EXPECT_EQ(frame.info.bitRate, 64000u);
    EXPECT_EQ(frame.info.samplesPerFrame, 576u);
    EXPECT_EQ(frame.frameBytes, 576u); // 72 * 64000 / 8000
    const Bytes layer1 = {0xFF, 0xFF, 0x44, 0x80};
    ASSERT_TRUE(SklibTs::ReadMpegAudioHeader(layer1.data(), 4, frame));
    EXPECT_EQ(frame.info.mpegLayer, 1);
    EXPECT_EQ(frame.info.bitRate, 128000u);
    EXPECT_EQ(frame.info.sampleRate, 48000u);
    EXPECT_EQ(frame.frameBytes, 128u); // (12 * 128000 / 48000) * 4
    EXPECT_EQ(frame.info.channelMode, A::kChannelModeMpegDual);

    // Free format, bad bit rate, reserved rate, version, layer and emphasis: not headers.
    for (const Bytes& bad : std::vector<Bytes>{{0xFF, 0xFB, 0x00, 0x64},
                                                {0xFF, 0xFB, 0xF0, 0x64},
                                                {0xFF, 0xFB, 0x9C, 0x64},
                                                {0xFF, 0xEB, 0x90, 0x64},
                                                {0xFF, 0xF9, 0x90, 0x64},
                                                {0xFF, 0xFB, 0x90, 0x66}}) {
        EXPECT_FALSE(SklibTs::ReadMpegAudioHeader(bad.data(), bad.size(), frame));
        EXPECT_EQ(SklibTs::ParseMpegAudio(bad.data(), Size(bad)), nullptr);
    }
    EXPECT_FALSE(SklibTs::ReadMpegAudioHeader(mp3.data() + 3, 3, frame));
}

} // namespace
