#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "BitReader.h"
#include "SkTp.h"
#include "SkTsExceptions.h"
#include "SkTsTypes.h"

using namespace SklibTs;

namespace {

std::vector<uint8_t> Packet(uint16_t pid, uint8_t afc, uint8_t cc, size_t size = 188)
{
    std::vector<uint8_t> p(size, 0xFF);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>(pid >> 8);
    p[2] = static_cast<uint8_t>(pid);
    p[3] = static_cast<uint8_t>((afc << 4) | cc);
    return p;
}

// Writes a PCR (base, extension) into an adaptation field of the given length.
void SetPcr(std::vector<uint8_t>& p, uint8_t afLength, int64_t base, int32_t extension)
{
    p[4] = afLength;
    p[5] = 0x10;
    p[6] = static_cast<uint8_t>(base >> 25);
    p[7] = static_cast<uint8_t>(base >> 17);
    p[8] = static_cast<uint8_t>(base >> 9);
    p[9] = static_cast<uint8_t>(base >> 1);
    p[10] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | ((extension >> 8) & 1));
    p[11] = static_cast<uint8_t>(extension);
}

} // namespace

TEST(SkTpTest, ValidityAndHeaderFields)
{
    auto p = Packet(0x1ABC, 1, 7);
    p[1] |= 0x40;
    EXPECT_FALSE(SkTp(p.data(), 187).IsValid());
    EXPECT_FALSE(SkTp(nullptr, 188).IsValid());
    EXPECT_THROW(SkTp(p.data(), 187).GetPid(), InvalidTpBufferExc);
    EXPECT_STREQ(InvalidTpBufferExc().what(), "TP buffer is invalid");

    const SkTp tp(p.data(), 188);
    EXPECT_EQ(tp.GetPid(), 0x1ABC);
    EXPECT_TRUE(tp.GetPayloadUnitStart());
    EXPECT_EQ(tp.GetContinuityCounter(), 7);
    EXPECT_TRUE(tp.HasPayload());
    uint32_t size = 0;
    const uint8_t* payload = tp.GetPayload(size);
    EXPECT_EQ(payload, p.data() + 4);
    EXPECT_EQ(size, 184u);
    uint32_t afLength = 99;
    EXPECT_EQ(tp.GetAdaptationField(afLength), nullptr);
    EXPECT_EQ(afLength, 0u);
}

TEST(SkTpTest, PayloadAndAdaptationFieldBounds)
{
    // A 204-byte packet's payload still ends at byte 188.
    auto p204 = Packet(0x100, 1, 0, 204);
    uint32_t size = 0;
    ASSERT_NE(SkTp(p204.data(), 204).GetPayload(size), nullptr);
    EXPECT_EQ(size, 184u);

    // A 204-byte packet bounds its adaptation field by its size, its payload by byte 188: a
    // field of 191 bytes fits and leaves no payload; in a 188-byte packet it does not fit.
    p204[3] = 0x30;
    p204[4] = 190;
    uint32_t fieldLength = 0;
    EXPECT_EQ(SkTp(p204.data(), 204).GetAdaptationField(fieldLength), p204.data() + 4);
    EXPECT_EQ(fieldLength, 191u);
    EXPECT_EQ(SkTp(p204.data(), 204).GetPayload(size), nullptr);
    EXPECT_EQ(SkTp(p204.data(), 188).GetAdaptationField(fieldLength), nullptr);
    EXPECT_EQ(SkTp(p204.data(), 188).GetPayload(size), p204.data() + 4);
    EXPECT_EQ(size, 184u);

    // Reserved adaptation_field_control 0: no payload flag, but the 184 bytes after the header.
    auto reserved = Packet(0x100, 0, 0);
    EXPECT_FALSE(SkTp(reserved.data(), 188).HasPayload());
    EXPECT_NE(SkTp(reserved.data(), 188).GetPayload(size), nullptr);
    EXPECT_EQ(size, 184u);

    // Adaptation field only, length 183: no payload at all.
    auto afOnly = Packet(0x100, 2, 0);
    afOnly[4] = 183;
    afOnly[5] = 0;
    EXPECT_EQ(SkTp(afOnly.data(), 188).GetPayload(size), nullptr);
    EXPECT_EQ(size, 0u);
    uint32_t afLength = 0;
    EXPECT_EQ(SkTp(afOnly.data(), 188).GetAdaptationField(afLength), afOnly.data() + 4);
    EXPECT_EQ(afLength, 184u);

    // An adaptation field whose length byte does not fit is ignored, payload from byte 4.
    auto oversized = Packet(0x100, 3, 0);
    oversized[4] = 200;
    EXPECT_EQ(SkTp(oversized.data(), 188).GetAdaptationField(afLength), nullptr);
    EXPECT_EQ(SkTp(oversized.data(), 188).GetPayload(size), oversized.data() + 4);
    EXPECT_EQ(size, 184u);

    // Length 0: no discontinuity, no PCR; the payload follows the length byte.
    auto empty = Packet(0x100, 3, 0);
    empty[4] = 0;
    const SkTp tp(empty.data(), 188);
    EXPECT_FALSE(tp.GetDiscontinuityIndicator());
    EXPECT_FALSE(tp.HasPcr());
    EXPECT_EQ(tp.GetPcr(), kNoTime);
    EXPECT_EQ(tp.GetPayload(size), empty.data() + 5);
    EXPECT_EQ(size, 183u);
}

TEST(SkTpTest, PcrAndDiscontinuity)
{
    auto p = Packet(0x100, 2, 0);
    SetPcr(p, 183, (int64_t{1} << 33) - 1, 299);
    p[5] |= 0x80;
    const SkTp tp(p.data(), 188);
    EXPECT_TRUE(tp.HasPcr());
    EXPECT_TRUE(tp.GetDiscontinuityIndicator());
    EXPECT_EQ(tp.GetPcr(), 2'576'980'377'599);

    SetPcr(p, 183, 1234567, 5);
    EXPECT_EQ(SkTp(p.data(), 188).GetPcr(), 1234567 * 300 + 5);

    // PCR_flag with a field too short for the PCR bytes: flagged, but no value.
    auto shortField = Packet(0x100, 2, 0);
    shortField[4] = 6;
    shortField[5] = 0x10;
    EXPECT_TRUE(SkTp(shortField.data(), 188).HasPcr());
    EXPECT_EQ(SkTp(shortField.data(), 188).GetPcr(), kNoTime);

    // Payload-only packets carry no PCR whatever byte 5 holds.
    auto payloadOnly = Packet(0x100, 1, 0);
    payloadOnly[4] = 7;
    payloadOnly[5] = 0x90;
    EXPECT_FALSE(SkTp(payloadOnly.data(), 188).HasPcr());
    EXPECT_FALSE(SkTp(payloadOnly.data(), 188).GetDiscontinuityIndicator());
}

TEST(BitReaderTest, ReadsAcrossBytesAndStopsAtTheEnd)
{
    const std::array<uint8_t, 4> bytes{0x12, 0x34, 0x56, 0x78};
    {
        BitReader r(bytes.data(), bytes.size());
        EXPECT_EQ(r.ReadBits(32), 0x12345678u);
        EXPECT_EQ(r.ReadBits(0), 0u);
        EXPECT_THROW(r.ReadBits(1), InvalidBitIdxExc);
    }
    {
        BitReader r(bytes.data(), bytes.size());
        EXPECT_THROW(r.ReadBits(33), InvalidBitIdxExc);
    }
    {
        BitReader r(bytes.data(), bytes.size());
        EXPECT_EQ(r.ReadBits(3), 0u);        // 000
        EXPECT_EQ(r.ReadBits(7), 0x48u);     // 1 0010 00
        EXPECT_EQ(r.ReadBits(13), 0x1A2Bu);  // 11 0100 0101 011
        EXPECT_EQ(r.BitsLeft(), 9u);
        EXPECT_EQ(r.ReadBits(9), 0x078u);
        EXPECT_EQ(r.BitsLeft(), 0u);
    }
    {
        // A read that runs past the end throws, and what it consumed stays consumed.
        BitReader r(bytes.data(), bytes.size());
        r.ReadBits(4);
        EXPECT_THROW(r.ReadBits(30), InvalidBitIdxExc);
        EXPECT_THROW(r.ReadBits(1), InvalidBitIdxExc);
        EXPECT_STREQ(InvalidBitIdxExc().what(), "InvalidBitIdxExc: Read outside the buffer");
    }
}
