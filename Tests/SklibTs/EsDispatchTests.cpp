// The elementary-stream dispatcher end to end: PES header handling, the per-PID JPEG 2000 and
// JPEG XS parser objects, and the rules that merge a new record into the stored one.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "BytePtr.h"
#include "EsDescription.h"
#include "EsParser.h"
#include "EsTestSupport.h"
#include "StreamInfoStore.h"
#include "VesParser.h"

namespace {

using EsTest::Append;
using EsTest::BitWriter;
using EsTest::MakePes;
using SklibTs::AudioStreamInfo;
using SklibTs::EsProperties;
namespace StreamKind = SklibTs::StreamKind;
using SklibTs::VesParser;
using SklibTs::VideoStreamInfo;
using A = AudioStreamInfo;
using V = VideoStreamInfo;
using Bytes = std::vector<uint8_t>;

void Parse(EsProperties& es, int32_t kind, const Bytes& pes)
{
    SklibTs::ParsePes(es, kind, pes.data(), static_cast<int32_t>(pes.size()));
}

// ---- JPEG 2000 ----

struct J2kParams {
    uint16_t denominator = 1;
    uint16_t numerator = 25;
    bool fiel = false;
    uint8_t fieldCoding = 1;
    bool soc = true;
    uint32_t xsiz = 1920;
    uint32_t ysiz = 1080;
    uint16_t lsiz = 41;     // one component
    int32_t restBytes = -1; // bytes after Ysiz; -1: as Lsiz says
};

BitWriter& Tag(BitWriter& w, const char (&tag)[5])
{
    for (int i = 0; i < 4; ++i)
        w.Put(static_cast<uint8_t>(tag[i]), 8);
    return w;
}

Bytes J2kAccessUnit(const J2kParams& p)
{
    BitWriter w;
    Tag(w, "elsm");
    Tag(w, "frat").Put(p.denominator, 16).Put(p.numerator, 16);
    Tag(w, "brat").Put(150000000, 32).Put(120000000, 32);
    if (p.fiel)
        Tag(w, "fiel").Put(p.fieldCoding, 8).Put(1, 8);
    Tag(w, "tcod").Put(0x10203040, 32);
    Tag(w, "bcol").Put(0x0300, 16);
    if (p.soc) {
        w.Put(0xFF4F, 16).Put(0xFF51, 16).Put(p.lsiz, 16).Put(0, 16).Put(p.xsiz, 32).Put(p.ysiz, 32);
        const int32_t rest = p.restBytes >= 0 ? p.restBytes : p.lsiz - 12;
        for (int32_t i = 0; i < rest; ++i)
            w.Put(0, 8);
    } else {
        w.Put(0xFF90, 16).Put(10, 16).Put(0, 32); // a tile-part header instead
    }
    return w.Take();
}

Bytes J2kPes(const J2kParams& p) { return MakePes(J2kAccessUnit(p), 0xBD); }

TEST(EsJ2k, AccessUnitHeaderAndSiz)
{
    EsProperties es;
    Parse(es, StreamKind::kJpeg2000, J2kPes({}));
    ASSERT_NE(es.Video(), nullptr);
    EXPECT_EQ(es.ParserType(), VesParser::kTypeJ2k);
    EXPECT_EQ(es.StreamId(), 0xBD);
    const V& v = *es.Video();
    EXPECT_EQ(v.flags, V::kFlagSize | V::kFlagFrameRate | V::kFlagInterlaced | V::kFlagPictureAspect);
    EXPECT_EQ(v.width, 1920u);
    EXPECT_EQ(v.height, 1080u);
    EXPECT_EQ(v.frameRate, 25.0);
    EXPECT_EQ(v.interlaced, 0);
    EXPECT_EQ(v.pictureAspect.numerator, 16);
    EXPECT_EQ(v.pictureAspect.denominator, 9);
    EXPECT_EQ(SklibTs::DescribeVideo(v, StreamKind::kJpeg2000), "JPEG 2000 1920x1080 25 fps progressive aspect 16:9");

    // A packet without SIZ reports the size the parser object saw last.
    J2kParams noSiz;
    noSiz.soc = false;
    Parse(es, StreamKind::kJpeg2000, J2kPes(noSiz));
    EXPECT_EQ(es.Video()->width, 1920u);
    EXPECT_EQ(es.Video()->height, 1080u);

    // A SIZ whose rest would run past the payload is ignored; one that ends exactly at the
    // payload's end is read.
    J2kParams overlong;
    overlong.xsiz = 1280;
    overlong.ysiz = 720;
    overlong.restBytes = 10;
    Parse(es, StreamKind::kJpeg2000, J2kPes(overlong));
    EXPECT_EQ(es.Video()->width, 1920u);
    overlong.restBytes = 29;
    Parse(es, StreamKind::kJpeg2000, J2kPes(overlong));
    EXPECT_EQ(es.Video()->width, 1280u);
    EXPECT_EQ(es.Video()->height, 720u);

    // Before any SIZ the size is the parser's -1 for both.
    EsProperties fresh;
    Parse(fresh, StreamKind::kJpeg2000, J2kPes(noSiz));
    ASSERT_NE(fresh.Video(), nullptr);
    EXPECT_EQ(fresh.Video()->width, 0xFFFFFFFFu);
    EXPECT_EQ(fresh.Video()->height, 0xFFFFFFFFu);
    EXPECT_TRUE(fresh.Video()->Has(V::kFlagSize));
}

TEST(EsJ2k, FieldsFrameRatesAndBrokenPackets)
{
    // Two fields per frame, each its own codestream: SIZ gives the field height.
    J2kParams twoFields;
    twoFields.fiel = true;
    twoFields.fieldCoding = 2;
    twoFields.ysiz = 540;
    twoFields.denominator = 1001;
    twoFields.numerator = 30000;
    EsProperties es;
    Parse(es, StreamKind::kJpeg2000, J2kPes(twoFields));
    ASSERT_NE(es.Video(), nullptr);
    EXPECT_EQ(es.Video()->interlaced, 1);
    EXPECT_EQ(es.Video()->height, 1080u);
    EXPECT_EQ(es.Video()->pictureAspect.numerator, 16);
    EXPECT_EQ(es.Video()->pictureAspect.denominator, 9);
    EXPECT_NEAR(es.Video()->frameRate, 29.97, 1e-3);

    // Field coding 1 carries a fiel box too, but one codestream per frame: no doubling.
    J2kParams oneField = twoFields;
    oneField.fieldCoding = 1;
    EsProperties single;
    Parse(single, StreamKind::kJpeg2000, J2kPes(oneField));
    ASSERT_NE(single.Video(), nullptr);
    EXPECT_EQ(single.Video()->interlaced, 1);
    EXPECT_EQ(single.Video()->height, 540u);
    EXPECT_EQ(single.Video()->pictureAspect.numerator, 32);
    EXPECT_EQ(single.Video()->pictureAspect.denominator, 9);

    // bchl in place of bcol is accepted.
    Bytes bchl = J2kAccessUnit({});
    bchl[32] = 'b', bchl[33] = 'c', bchl[34] = 'h', bchl[35] = 'l';
    EsProperties withBchl;
    Parse(withBchl, StreamKind::kJpeg2000, MakePes(bchl));
    ASSERT_NE(withBchl.Video(), nullptr);

    // Denominator 0: the rate is not finite, and a not-a-number rate never equals the stored
    // one, so the record is replaced.
    const V before = *es.Video();
    J2kParams zero = twoFields;
    zero.denominator = 0;
    zero.numerator = 0;
    Parse(es, StreamKind::kJpeg2000, J2kPes(zero));
    ASSERT_NE(es.Video(), nullptr);
    EXPECT_FALSE(std::isfinite(es.Video()->frameRate));
    const V* nanRecord = es.Video();
    Parse(es, StreamKind::kJpeg2000, J2kPes(zero));
    EXPECT_NE(es.Video(), nanRecord);
    EXPECT_NE(SklibTs::DescribeVideo(*es.Video(), StreamKind::kJpeg2000).find("unknown fps"), std::string::npos);
    zero.numerator = 25; // 25 / 0: infinite
    Parse(es, StreamKind::kJpeg2000, J2kPes(zero));
    EXPECT_TRUE(std::isinf(es.Video()->frameRate));

    // Back to a sound header; then packets that fail leave that record as it is.
    Parse(es, StreamKind::kJpeg2000, J2kPes(twoFields));
    const V* stored = es.Video();
    ASSERT_EQ(stored->height, before.height);
    Bytes notElsm = J2kAccessUnit(twoFields);
    notElsm[0] = 'E';
    Parse(es, StreamKind::kJpeg2000, MakePes(notElsm));
    EXPECT_EQ(es.Video(), stored);
    EXPECT_EQ(es.Video()->frameRate, stored->frameRate);
    Bytes noTcod = J2kAccessUnit({});
    noTcod[24] = 'x';
    Parse(es, StreamKind::kJpeg2000, MakePes(noTcod));
    EXPECT_EQ(es.Video(), stored);
    EXPECT_NEAR(es.Video()->frameRate, 29.97, 1e-3);

    // Cut anywhere inside the header, the read runs out of the payload: no result. The parser
    // object may have taken the frame rate by then; the stored record keeps what it had.
    const Bytes whole = J2kAccessUnit(twoFields);
    for (size_t cut = 1; cut < 44; ++cut) {
        EsProperties cutEs;
        Parse(cutEs, StreamKind::kJpeg2000, MakePes(Bytes(whole.begin(), whole.begin() + static_cast<long>(cut))));
        EXPECT_EQ(cutEs.Video(), nullptr) << cut;
        Parse(es, StreamKind::kJpeg2000, MakePes(Bytes(whole.begin(), whole.begin() + static_cast<long>(cut))));
        EXPECT_EQ(es.Video(), stored) << cut;
    }
}

TEST(EsJ2k, BytePtrBounds)
{
    const uint8_t data[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    SklibTs::BytePtr in(data, 5);
    EXPECT_EQ(in.ReadU16(), 0x1234);
    EXPECT_EQ(in.ReadU8(), 0x56);
    EXPECT_EQ(in.Remaining(), 2);
    EXPECT_THROW(in.ReadU32(), SklibTs::BytePtr::OutOfRange);
    SklibTs::BytePtr skipped(data, 5);
    skipped.Skip(5);
    try {
        skipped.ReadU8();
        ADD_FAILURE() << "read past the end";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "OutOfRange: BytePtr tried to read beyond its buffer.");
    }
    SklibTs::BytePtr none(nullptr, 5);
    EXPECT_EQ(none.Size(), 0);
    EXPECT_THROW(none.ReadU8(), SklibTs::BytePtr::OutOfRange);
}

TEST(EsJpegXs, StreamTypeChangeReplacesParser)
{
    EsProperties es;
    Parse(es, StreamKind::kJpeg2000, J2kPes({}));
    ASSERT_EQ(es.ParserType(), VesParser::kTypeJ2k);
    const VesParser* j2k = es.Parser();

    // The same PID now of stream type 0x32: a JPEG XS object takes the J2K one's place.
    Parse(es, StreamKind::kJpegXs, MakePes({0xFF, 0x10, 0xFF, 0x50}));
    EXPECT_EQ(es.ParserType(), VesParser::kTypeJpegXs);
    EXPECT_NE(es.Parser(), j2k);

    // JPEG XS reports nothing: a record without properties.
    EsProperties xs;
    Parse(xs, StreamKind::kJpegXs, MakePes({0xFF, 0x10, 0xFF, 0x50}));
    ASSERT_NE(xs.Video(), nullptr);
    EXPECT_EQ(xs.Video()->flags, 0u);
    EXPECT_EQ(SklibTs::DescribeVideo(*xs.Video(), StreamKind::kJpegXs), "JPEG XS");

    // And back: a fresh J2K object, which has seen no SIZ yet.
    J2kParams noSiz;
    noSiz.soc = false;
    EsProperties back;
    Parse(back, StreamKind::kJpegXs, MakePes({1}));
    Parse(back, StreamKind::kJpeg2000, J2kPes(noSiz));
    EXPECT_EQ(back.ParserType(), VesParser::kTypeJ2k);
    EXPECT_EQ(back.Video()->width, 0xFFFFFFFFu);

    // Clear forgets the object with the records.
    back.Clear();
    EXPECT_EQ(back.ParserType(), EsProperties::kNoParser);
    EXPECT_EQ(back.Video(), nullptr);
}

// ---- PES header handling ----

Bytes AdtsFrame()
{
    BitWriter w;
    w.Put(0xFFF, 12).Put(0, 1).Put(0, 2).Put(1, 1).Put(1, 2).Put(3, 4).Put(0, 1).Put(2, 3).Put(0, 4);
    w.Put(7, 13).Put(0x7FF, 11).Put(0, 2);
    return w.Take();
}

TEST(EsDispatch, PesHeaders)
{
    // stream_id 0xBE has no optional header: the payload starts at byte 6.
    Bytes padding = {0, 0, 1, 0xBE, 0, 7};
    Append(padding, AdtsFrame());
    EsProperties es;
    Parse(es, StreamKind::kAacAdts, padding);
    ASSERT_NE(es.Audio(), nullptr);
    EXPECT_EQ(es.Audio()->sampleRate, 48000u);
    EXPECT_EQ(es.StreamId(), 0xBE);

    // With a PTS the payload starts after PES_header_data_length more bytes.
    Bytes withPts = {0, 0, 1, 0xC0, 0, 0, 0x80, 0x80, 5, 0x21, 0, 1, 0, 1};
    Append(withPts, AdtsFrame());
    EsProperties pts;
    Parse(pts, StreamKind::kAacAdts, withPts);
    ASSERT_NE(pts.Audio(), nullptr);
    EXPECT_EQ(pts.StreamId(), 0xC0);

    // Too short, no start code, a header running past the packet, an empty payload: nothing,
    // not even the stream_id.
    const std::vector<Bytes> ignored = {
        {0, 0, 1, 0xBE, 0},
        {0, 0, 2, 0xBE, 0, 7, 0xFF, 0xF1, 0x4C, 0x80, 0x00, 0xFF, 0xFC},
        {0, 0, 1, 0xC0, 0, 0, 0x80},
        {0, 0, 1, 0xC0, 0, 0, 0x80, 0x80, 5, 0x21, 0, 1, 0, 1},
        {0, 0, 1, 0xC0, 0, 0, 0x80, 0x80, 200, 0xFF, 0xF1, 0x4C, 0x80},
    };
    for (const Bytes& pes : ignored) {
        EsProperties none;
        Parse(none, StreamKind::kAacAdts, pes);
        EXPECT_EQ(none.Audio(), nullptr);
        EXPECT_EQ(none.StreamId(), EsProperties::kNoStreamId);
    }
    SklibTs::ParsePes(es, StreamKind::kAacAdts, nullptr, 100);

    // A kind without a parser records the stream_id and nothing else.
    EsProperties other;
    Parse(other, 0x06, MakePes(AdtsFrame(), 0xBD));
    EXPECT_EQ(other.StreamId(), 0xBD);
    EXPECT_EQ(other.Audio(), nullptr);
    EXPECT_EQ(other.Video(), nullptr);

    // AC-4 is recognised but not read: it drops a video record and stores nothing.
    EsProperties ac4;
    Parse(ac4, StreamKind::kJpeg2000, J2kPes({}));
    ASSERT_NE(ac4.Video(), nullptr);
    Parse(ac4, StreamKind::kAc4Descriptor, MakePes({0xAC, 0x40, 0, 0}, 0xBD));
    EXPECT_EQ(ac4.Video(), nullptr);
    EXPECT_EQ(ac4.Audio(), nullptr);
}

TEST(EsDispatch, RandomAndCutPacketsOfEveryKind)
{
    // Everything ASan would catch reading past a packet: prefixes of a valid packet and
    // random bytes behind a valid PES header, for every kind with a parser.
    const int32_t kinds[] = {StreamKind::kMpeg1Video, StreamKind::kMpeg2Video, StreamKind::kMpeg1Audio, StreamKind::kMpeg2Audio,
                             StreamKind::kAacAdts, StreamKind::kAacLatm, StreamKind::kH264, StreamKind::kJpeg2000,
                             StreamKind::kHevc, StreamKind::kJpegXs, StreamKind::kAc3, StreamKind::kEac3,
                             StreamKind::kVc1, StreamKind::kAc3Descriptor, StreamKind::kEac3Descriptor,
                             StreamKind::kAc4Descriptor};
    std::mt19937 random(7);
    for (int32_t kind : kinds) {
        EsProperties es;
        const Bytes j2k = J2kPes({});
        for (size_t cut = 0; cut <= j2k.size(); ++cut) {
            Bytes exact(j2k.begin(), j2k.begin() + static_cast<long>(cut));
            Parse(es, kind, exact); // a vector of exactly cut bytes, so ASan sees the end
        }
        for (int round = 0; round < 200; ++round) {
            Bytes payload(random() % 300);
            for (uint8_t& b : payload)
                b = static_cast<uint8_t>(random() % 4 == 0 ? 0 : random() % 4 == 0 ? 1 : random());
            Parse(es, kind, MakePes(payload));
        }
        // Whatever was learnt is described under the PID's coding, and only one kind is kept.
        const std::string coding = SklibTs::CodingName(kind);
        EXPECT_FALSE(es.Video() != nullptr && es.Audio() != nullptr) << coding;
        if (es.Video() != nullptr) {
            EXPECT_EQ(SklibTs::DescribeVideo(*es.Video(), kind).rfind(coding, 0), 0u) << coding;
        }
        if (es.Audio() != nullptr) {
            EXPECT_EQ(SklibTs::DescribeAudio(*es.Audio(), kind).rfind(coding, 0), 0u) << coding;
        }
    }
}

// ---- Merge rules ----

std::unique_ptr<V> VideoRecord(uint32_t flags)
{
    auto v = std::make_unique<V>();
    v->flags = flags;
    v->width = 720;
    v->height = 576;
    v->frameRate = 25.0;
    v->aspectX = 16.0;
    v->aspectY = 9.0;
    v->chromaFormat = V::kChroma420;
    return v;
}

TEST(EsStore, VideoRecordsMergeOrReplace)
{
    EsProperties es;
    SklibTs::StoreVideoInfo(es, VideoRecord(V::kFlagSize | V::kFlagFrameRate | V::kFlagAspect));
    const V* stored = es.Video();

    // Equal groups in common: the new groups join the stored record.
    SklibTs::StoreVideoInfo(es, VideoRecord(V::kFlagFrameRate | V::kFlagChromaFormat));
    ASSERT_EQ(es.Video(), stored);
    EXPECT_EQ(stored->flags, V::kFlagSize | V::kFlagFrameRate | V::kFlagAspect | V::kFlagChromaFormat);

    // A different frame rate replaces the record, dropping what only the old one had.
    auto faster = VideoRecord(V::kFlagFrameRate | V::kFlagInterlaced);
    faster->frameRate = 50.0;
    SklibTs::StoreVideoInfo(es, std::move(faster));
    ASSERT_NE(es.Video(), nullptr);
    EXPECT_EQ(es.Video()->flags, V::kFlagFrameRate | V::kFlagInterlaced);
    EXPECT_EQ(es.Video()->frameRate, 50.0);

    // A different size (both without extension bits) replaces as well.
    EsProperties sized;
    SklibTs::StoreVideoInfo(sized, VideoRecord(V::kFlagSize | V::kFlagAspect));
    auto other = VideoRecord(V::kFlagSize);
    other->width = 1920;
    SklibTs::StoreVideoInfo(sized, std::move(other));
    EXPECT_EQ(sized.Video()->width, 1920u);
    EXPECT_FALSE(sized.Video()->Has(V::kFlagAspect));

    // Nothing new: the stored record stays.
    SklibTs::StoreVideoInfo(sized, nullptr);
    EXPECT_NE(sized.Video(), nullptr);
}

TEST(EsStore, SizeExtensionIsKeptAgainstRecordsWithoutIt)
{
    EsProperties es;
    auto extended = VideoRecord(V::kFlagSize | V::kFlagSizeExtension | V::kFlagChromaFormat);
    extended->width = 4096 + 0x100;
    extended->height = 2 * 4096 + 0x80;
    SklibTs::StoreVideoInfo(es, std::move(extended));
    const V* stored = es.Video();

    // Without the extension the sizes are not compared and the stored one stays.
    SklibTs::StoreVideoInfo(es, VideoRecord(V::kFlagSize | V::kFlagFrameRate));
    ASSERT_EQ(es.Video(), stored);
    EXPECT_EQ(stored->width, 4096u + 0x100);
    EXPECT_EQ(stored->height, 2 * 4096u + 0x80);
    EXPECT_TRUE(stored->Has(V::kFlagSizeExtension));
    EXPECT_TRUE(stored->Has(V::kFlagFrameRate));

    // With the extension and another size: replaced.
    auto changed = VideoRecord(V::kFlagSize | V::kFlagSizeExtension);
    changed->width = 4096 + 0x200;
    SklibTs::StoreVideoInfo(es, std::move(changed));
    EXPECT_EQ(es.Video()->width, 4096u + 0x200);
    EXPECT_FALSE(es.Video()->Has(V::kFlagFrameRate));

    // A stored size without extension gives way to an extended one, which is merged.
    EsProperties plain;
    SklibTs::StoreVideoInfo(plain, VideoRecord(V::kFlagSize | V::kFlagAspect));
    auto big = VideoRecord(V::kFlagSize | V::kFlagSizeExtension);
    big->width = 8192;
    SklibTs::StoreVideoInfo(plain, std::move(big));
    EXPECT_EQ(plain.Video()->width, 8192u);
    EXPECT_TRUE(plain.Video()->Has(V::kFlagSizeExtension));
    EXPECT_TRUE(plain.Video()->Has(V::kFlagAspect));
}

TEST(EsStore, AudioRecordsAndTheOtherKind)
{
    EsProperties es;
    auto first = std::make_unique<A>();
    first->flags = A::kFlagSampleRate | A::kFlagBitRate;
    first->sampleRate = 48000;
    first->bitRate = 448000;
    SklibTs::StoreAudioInfo(es, std::move(first));
    const A* stored = es.Audio();

    auto second = std::make_unique<A>();
    second->flags = A::kFlagSampleRate | A::kFlagDialogueLevel;
    second->sampleRate = 48000;
    second->dialogueLevel = -27;
    SklibTs::StoreAudioInfo(es, std::move(second));
    ASSERT_EQ(es.Audio(), stored);
    EXPECT_EQ(stored->bitRate, 448000u);
    EXPECT_EQ(stored->dialogueLevel, -27);

    auto third = std::make_unique<A>();
    third->flags = A::kFlagSampleRate;
    third->sampleRate = 44100;
    SklibTs::StoreAudioInfo(es, std::move(third));
    ASSERT_NE(es.Audio(), nullptr);
    EXPECT_EQ(es.Audio()->flags, A::kFlagSampleRate);

    // A PID holds one kind of record: storing video drops audio and the other way round,
    // even when there is nothing new to store.
    SklibTs::StoreVideoInfo(es, VideoRecord(V::kFlagSize));
    EXPECT_EQ(es.Audio(), nullptr);
    ASSERT_NE(es.Video(), nullptr);
    SklibTs::StoreAudioInfo(es, nullptr);
    EXPECT_EQ(es.Video(), nullptr);
    EXPECT_EQ(es.Audio(), nullptr);
}

} // namespace
