#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "SkPes.h"
#include "SkTp.h"

using SklibTs::SkPes;
using SklibTs::SkTp;

namespace {

std::vector<uint8_t> PayloadPacket(bool unitStart, const std::vector<uint8_t>& payload, uint8_t cc = 0)
{
    std::vector<uint8_t> p(188, 0xFF);
    p[0] = 0x47;
    p[1] = unitStart ? 0x41 : 0x01;
    p[2] = 0x00;
    if (payload.size() >= 184) {
        p[3] = static_cast<uint8_t>(0x10 | cc);
        std::copy(payload.begin(), payload.begin() + 184, p.begin() + 4);
    } else {
        // Adaptation-field stuffing in front of a short payload.
        p[3] = static_cast<uint8_t>(0x30 | cc);
        p[4] = static_cast<uint8_t>(183 - payload.size());
        if (p[4] > 0)
            p[5] = 0x00;
        std::copy(payload.begin(), payload.end(), p.end() - static_cast<std::ptrdiff_t>(payload.size()));
    }
    return p;
}

std::vector<uint8_t> PesHeader(uint8_t streamId, uint16_t length, uint8_t flags, uint8_t headerLength)
{
    std::vector<uint8_t> h = {0, 0, 1, streamId, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length),
                              0x80, flags, headerLength};
    return h;
}

} // namespace

TEST(SkPesTest, CompletesByLengthOrByTheNextStart)
{
    SkPes pes(nullptr, 0, 0);
    // A continuation before any start is skipped.
    EXPECT_FALSE(pes.AddTp(SkTp(PayloadPacket(false, std::vector<uint8_t>(184, 1)).data(), 188)));
    EXPECT_EQ(pes.GetState(), SkPes::kIdle);

    // PES_packet_length 10 and 16 bytes in the first packet: complete at once, nothing pending.
    auto small = PesHeader(0xE0, 10, 0x00, 0);
    small.resize(16, 0xAB);
    bool pending = true;
    EXPECT_TRUE(pes.AddTp(SkTp(PayloadPacket(true, small).data(), 188), pending));
    EXPECT_FALSE(pending);
    EXPECT_EQ(pes.Capacity(), 8192); // grows in 8 KiB steps
    uint32_t size = 0;
    ASSERT_NE(pes.GetPayload(size), nullptr);
    EXPECT_EQ(size, 7u);

    // Unbounded length: the next start completes it and is reported pending.
    SkPes video(nullptr, 0, 0);
    auto header = PesHeader(0xE0, 0, 0x80, 5);
    header.insert(header.end(), {0x21, 0x00, 0x05, 0xBF, 0x21}); // PTS 90,000
    header.resize(184, 0x55);
    EXPECT_FALSE(video.AddTp(SkTp(PayloadPacket(true, header).data(), 188)));
    EXPECT_FALSE(video.AddTp(SkTp(PayloadPacket(false, std::vector<uint8_t>(184, 0x66)).data(), 188)));
    EXPECT_TRUE(video.AddTp(SkTp(PayloadPacket(true, header).data(), 188), pending));
    EXPECT_TRUE(pending);
    EXPECT_EQ(video.Length(), 368);
    const auto [dts, pts] = video.GetTimeStamps();
    EXPECT_EQ(dts, INT64_MIN);
    EXPECT_EQ(pts, 90'000);
}

TEST(SkPesTest, HeadersAndTimeStampEdgeCases)
{
    std::vector<uint8_t> padding = {0, 0, 1, 0xBE, 0, 4, 1, 2, 3, 4};
    SkPes wrapped(padding.data(), static_cast<int32_t>(padding.size()), static_cast<int32_t>(padding.size()));
    uint32_t size = 0;
    EXPECT_NE(wrapped.GetHeader(size), nullptr);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(wrapped.GetTimeStamps().second, INT64_MIN);
    EXPECT_EQ(wrapped.GetStreamId(), 0xBE);

    // PTS and DTS flags with a header too short for the DTS: PTS only.
    std::vector<uint8_t> ptsOnly = PesHeader(0xC0, 0, 0xC0, 5);
    ptsOnly.insert(ptsOnly.end(), {0x31, 0x00, 0x01, 0x00, 0x01, 0xEE});
    SkPes p(ptsOnly.data(), static_cast<int32_t>(ptsOnly.size()), static_cast<int32_t>(ptsOnly.size()));
    const auto [dts, pts] = p.GetTimeStamps();
    EXPECT_EQ(dts, INT64_MIN);
    EXPECT_NE(pts, INT64_MIN);

    // Truncated headers give nothing and never read past the data.
    std::vector<uint8_t> cut = {0, 0, 1, 0xE0, 0, 0, 0x80, 0xC0};
    SkPes truncated(cut.data(), static_cast<int32_t>(cut.size()), static_cast<int32_t>(cut.size()));
    EXPECT_EQ(truncated.GetHeader(size), nullptr);
    EXPECT_EQ(truncated.GetPayload(size), nullptr);
    EXPECT_EQ(truncated.GetTimeStamps().second, INT64_MIN);
    // A wrapped buffer cannot grow, so adding to it discards the PES.
    SkPes fixed(cut.data(), 8, 0);
    EXPECT_FALSE(fixed.AddTp(SkTp(PayloadPacket(true, std::vector<uint8_t>(184, 0)).data(), 188)));
}

TEST(SkPesTest, APesOverEightMebibytesIsDroppedAndTheBufferShrinks)
{
    SkPes pes(nullptr, 0, 0);
    auto header = PesHeader(0xE0, 0, 0x00, 0);
    header.resize(184, 0);
    pes.AddTp(SkTp(PayloadPacket(true, header).data(), 188));
    const auto body = PayloadPacket(false, std::vector<uint8_t>(184, 7));
    int packets = 1;
    while (pes.GetState() == SkPes::kAssembling) {
        pes.AddTp(SkTp(body.data(), 188));
        ++packets;
    }
    EXPECT_GT(packets * 184, 0x800000 - 184);
    EXPECT_EQ(pes.GetState(), SkPes::kIdle);
    EXPECT_EQ(pes.Length(), 0);
    EXPECT_EQ(pes.Capacity(), 32768);
}

TEST(SkPesTest, RecycleEmptiesThePesAsNewButKeepsItsBlock)
{
    SkPes pes(nullptr, 0, 0);
    auto header = PesHeader(0xE0, 0, 0x80, 5);
    header.insert(header.end(), {0x21, 0x00, 0x05, 0xBF, 0x21}); // PTS 90,000
    header.resize(184, 0x55);
    pes.AddTp(SkTp(PayloadPacket(true, header).data(), 188));
    for (int i = 0; i < 100; ++i) // past 16 KiB: the block was replaced by a doubled one
        pes.AddTp(SkTp(PayloadPacket(false, std::vector<uint8_t>(184, 0x66)).data(), 188));
    ASSERT_EQ(pes.GetState(), SkPes::kAssembling);
    const uint8_t* block = pes.Data();
    const int32_t reserved = pes.ReservedBytes();
    EXPECT_GE(reserved, pes.Capacity());

    pes.Recycle();
    EXPECT_EQ(pes.GetState(), SkPes::kIdle);
    EXPECT_EQ(pes.Length(), 0);
    EXPECT_EQ(pes.Capacity(), 0);
    EXPECT_EQ(pes.GetStreamId(), -1);
    uint32_t size = 1;
    EXPECT_EQ(pes.GetHeader(size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(pes.GetTimeStamps().second, INT64_MIN);
    EXPECT_EQ(pes.ReservedBytes(), reserved);
    // A continuation is still no start.
    EXPECT_FALSE(pes.AddTp(SkTp(PayloadPacket(false, std::vector<uint8_t>(184, 1)).data(), 188)));
    EXPECT_EQ(pes.Length(), 0);

    // The next PES is assembled as in a new SkPes, capacity steps included, in the same block.
    SkPes fresh(nullptr, 0, 0);
    auto audio = PesHeader(0xC0, 0, 0x80, 5);
    audio.insert(audio.end(), {0x21, 0x00, 0x07, 0x5F, 0x91});
    audio.resize(184, 0x77);
    for (SkPes* p : {&pes, &fresh})
        p->AddTp(SkTp(PayloadPacket(true, audio).data(), 188));
    EXPECT_EQ(pes.Capacity(), fresh.Capacity());
    EXPECT_EQ(pes.Data(), block);
    ASSERT_EQ(pes.Length(), fresh.Length());
    EXPECT_TRUE(std::equal(pes.Data(), pes.Data() + pes.Length(), fresh.Data()));
    EXPECT_EQ(pes.GetTimeStamps(), fresh.GetTimeStamps());

    // A block over the limit given is freed.
    pes.Recycle(reserved - 1);
    EXPECT_EQ(pes.ReservedBytes(), 0);
    EXPECT_EQ(pes.Capacity(), 0);
    pes.AddTp(SkTp(PayloadPacket(true, audio).data(), 188));
    EXPECT_EQ(pes.Length(), fresh.Length());
    EXPECT_EQ(pes.ReservedBytes(), 8192);

    // A wrapping PES keeps its bytes and room, and owns no block.
    std::vector<uint8_t> padding = {0, 0, 1, 0xBE, 0, 4, 1, 2, 3, 4};
    SkPes wrapped(padding.data(), static_cast<int32_t>(padding.size()), static_cast<int32_t>(padding.size()));
    wrapped.Recycle();
    EXPECT_EQ(wrapped.Length(), 0);
    EXPECT_EQ(wrapped.GetState(), SkPes::kIdle);
    EXPECT_EQ(wrapped.Capacity(), 10);
    EXPECT_EQ(wrapped.ReservedBytes(), 0);
}
