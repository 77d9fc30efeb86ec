#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "SkTsInfo.h"
#include "SkTsPacketInput.h"
#include "TsTestStream.h"

using namespace SklibTs;

namespace {

struct Delivered {
    std::vector<uint8_t> bytes;
    int64_t time;
};

// An analyser with a packet input and a record of every packet the analyser passed on.
class PacketInputFixture : public ::testing::Test {
protected:
    void SetUp() override { Recreate(10'000'000); }

    void Recreate(int32_t bitrate)
    {
        input.reset();
        analyser.reset(CreateTsInfo());
        input.reset(CreateTsPacketInput(analyser.get(), bitrate));
        delivered.clear();
        analyser->AddPacketCallback(&PacketInputFixture::OnPacket, this);
        analyser->AddIndicatorReportCallback(1u, &PacketInputFixture::OnSyncLoss, this);
    }

    static void OnPacket(void* context, const uint8_t* packet, uint32_t size, const int64_t* time)
    {
        static_cast<PacketInputFixture*>(context)->delivered.push_back({{packet, packet + size}, *time});
    }
    static void OnSyncLoss(void* context, uint32_t, const IndicatorRecord&)
    {
        ++static_cast<PacketInputFixture*>(context)->syncLosses;
    }

    std::unique_ptr<SkTsInfo> analyser;
    std::unique_ptr<SkTsPacketInput> input;
    std::vector<Delivered> delivered;
    int syncLosses = 0;
};

} // namespace

TEST_F(PacketInputFixture, StampsPacketsFromByteCountAndBitrate)
{
    const auto stream = SktsTest::MakeStream(0x100, 6700);
    input->Write(stream.data(), static_cast<uint32_t>(stream.size()));
    ASSERT_GE(delivered.size(), 6650u);
    EXPECT_EQ(delivered[0].time, 0);
    EXPECT_EQ(delivered[1].time, 8121);
    EXPECT_EQ(delivered[2].time, 16243);
    EXPECT_EQ(delivered[3].time, 24364);
    EXPECT_EQ(delivered[10].time, 81216);
    // 6,649 packets are 10,000,096 bits: one second plus 96 bits.
    EXPECT_EQ(delivered[6649].time, 54'000'518);
    EXPECT_EQ(analyser->packetSize, 188u);

    EXPECT_EQ(input->SetBitrate(0), 10'000'000);
    EXPECT_EQ(input->SetBitrate(-5), 10'000'000);
    EXPECT_EQ(input->SetBitrate(3'000'000), 3'000'000);
}

TEST_F(PacketInputFixture, BitrateChangeKeepsTimesContinuous)
{
    const auto stream = SktsTest::MakeStream(0x100, 20);
    input->Write(stream.data(), 188 * 10);
    const int64_t before = delivered.back().time; // packet 9 at 10 Mbit/s
    input->SetBitrate(1'000'000);
    input->Write(stream.data() + 188 * 10, 188 * 10);
    // Packet 10 starts where packet 9 ended at the old rate; then 81,216 ticks a packet.
    EXPECT_EQ(delivered[10].time, 81'216);
    EXPECT_EQ(delivered[11].time - delivered[10].time, 81'216);
    EXPECT_GT(delivered[10].time, before);
}

TEST_F(PacketInputFixture, OneByteAtATimeDeliversTheSamePacketsAndTimes)
{
    auto stream = SktsTest::MakeStream(0x200, 40);
    for (size_t i = 0; i < stream.size(); ++i)
        stream[i] = i % 188 == 0 ? stream[i] : static_cast<uint8_t>(i * 7);
    input->Write(stream.data(), static_cast<uint32_t>(stream.size()));
    const auto blockResult = delivered;

    Recreate(10'000'000);
    for (size_t i = 0; i < stream.size(); ++i) {
        // The first search needs 1021 bytes at hand: five sync bytes 204 apart span 817 more.
        if (i == 1020) {
            EXPECT_FALSE(analyser->inSync);
        }
        input->Write(&stream[i], 1);
        if (i == 1020) {
            EXPECT_TRUE(analyser->inSync);
        }
    }
    ASSERT_EQ(delivered.size(), blockResult.size());
    for (size_t i = 0; i < delivered.size(); ++i) {
        EXPECT_EQ(delivered[i].bytes, blockResult[i].bytes) << "packet " << i;
        EXPECT_EQ(delivered[i].time, blockResult[i].time) << "packet " << i;
    }
    EXPECT_EQ(syncLosses, 0);
}

TEST_F(PacketInputFixture, ChoosesPacketSizeAndPrefers188)
{
    auto stream204 = SktsTest::MakeStream(0x300, 30, 204);
    input->Write(stream204.data(), static_cast<uint32_t>(stream204.size()));
    EXPECT_EQ(analyser->packetSize, 204u);
    ASSERT_EQ(delivered.size(), 30u);
    EXPECT_EQ(delivered[0].bytes.size(), 204u);
    // Every packet advances the time by 188 bytes, also at 204 bytes per packet.
    EXPECT_EQ(delivered[1].time, 8121);

    // The same 204-byte stream with sync bytes also lined up at 188 spacing for five packets.
    for (size_t offset : {188u, 376u, 564u, 752u})
        stream204[offset] = 0x47;
    Recreate(10'000'000);
    input->Write(stream204.data(), 1021);
    EXPECT_TRUE(analyser->inSync);
    EXPECT_EQ(analyser->packetSize, 188u);
}

TEST_F(PacketInputFixture, LosesSyncAtTheThirdBadPacketAndFindsItAgain)
{
    auto stream = SktsTest::MakeStream(0x400, 30);
    for (size_t k : {10u, 11u, 12u})
        stream[k * 188] = 0x00;
    input->Write(stream.data(), static_cast<uint32_t>(stream.size()));
    // Two bad packets are delivered (and counted as sync byte errors); the third is not.
    EXPECT_EQ(analyser->syncByteErrors, 2u);
    EXPECT_EQ(syncLosses, 1);
    // Searching again from packet 12 finds packet 13 onwards (17 packets, all the rest).
    ASSERT_EQ(delivered.size(), 10u + 17u);
    EXPECT_EQ(delivered.back().bytes, std::vector<uint8_t>(stream.end() - 188, stream.end()));
    EXPECT_TRUE(analyser->inSync);
    EXPECT_EQ(analyser->packetsProcessed, 12u + 17u);
    // The bytes dropped in the search (packet 12) still count for the time.
    EXPECT_EQ(delivered[10].time, 13 * 1504 * 54'000'000LL / 10'000'000);
}

TEST_F(PacketInputFixture, SurvivesArbitraryBytes)
{
    std::mt19937 random(7);
    std::vector<uint8_t> noise(200'000);
    for (auto& b : noise)
        b = static_cast<uint8_t>(random() % 4 == 0 ? 0x47 : random());
    for (size_t chunk : {1u, 187u, 4096u}) {
        Recreate(10'000'000);
        for (size_t i = 0; i < noise.size(); i += chunk)
            input->Write(noise.data() + i, static_cast<uint32_t>(std::min(chunk, noise.size() - i)));
    }
    std::vector<uint8_t> allSync(100'000, 0x47);
    Recreate(10'000'000);
    input->Write(allSync.data(), static_cast<uint32_t>(allSync.size()));
    EXPECT_TRUE(analyser->inSync);
    EXPECT_EQ(analyser->packetsProcessed, allSync.size() / 188);
    input->Write(nullptr, 0);
}

namespace {

struct Located {
    uint64_t index;
    uint64_t offset;
    int64_t time;
};

// The extended input: every packet with the offset the input gives for it, and the offset it
// gives at each loss of sync.
class LocatingInputFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        packets.clear();
        lossOffsets.clear();
        input.reset();
        analyser.reset(CreateTsInfo());
        input.reset(CreateTsPacketInputEx(analyser.get(), 10'000'000));
        analyser->AddPacketCallback(&LocatingInputFixture::OnPacket, this);
        analyser->AddIndicatorReportCallback(1u, &LocatingInputFixture::OnSyncLoss, this);
    }
    static void OnPacket(void* context, const uint8_t*, uint32_t, const int64_t* time)
    {
        auto& self = *static_cast<LocatingInputFixture*>(context);
        const auto position = self.input->CurrentPacket();
        self.packets.push_back({position.index, position.offset, *time});
    }
    static void OnSyncLoss(void* context, uint32_t, const IndicatorRecord&)
    {
        auto& self = *static_cast<LocatingInputFixture*>(context);
        self.lossOffsets.push_back(self.input->CurrentPacket().offset);
    }

    std::unique_ptr<SkTsInfo> analyser;
    std::unique_ptr<SkTsPacketInputEx> input;
    std::vector<Located> packets;
    std::vector<uint64_t> lossOffsets;
};

} // namespace

TEST_F(LocatingInputFixture, GivesEveryPacketsOffsetWhateverTheChunkingAndAcrossSyncLoss)
{
    // 100 bytes that are no packet, then 40 packets of which 10, 11 and 12 lose their sync byte.
    std::vector<uint8_t> stream(100, 0x11);
    const auto packetsPart = SktsTest::MakeStream(0x100, 40);
    stream.insert(stream.end(), packetsPart.begin(), packetsPart.end());
    for (size_t k : {10u, 11u, 12u})
        stream[100 + k * 188] = 0x00;

    std::vector<std::vector<Located>> runs;
    for (const size_t chunk : {size_t{1}, size_t{187}, size_t{1316}, stream.size()}) {
        SetUp();
        for (size_t at = 0; at < stream.size(); at += chunk)
            input->Write(stream.data() + at, static_cast<uint32_t>(std::min(chunk, stream.size() - at)));
        // Packets 0 to 9, then 13 onwards: 10 and 11 go to the analyser, which stops at their
        // sync byte (no callback), and 12 breaks the sync.
        ASSERT_EQ(packets.size(), 10u + 27u) << "chunk " << chunk;
        for (size_t i = 0; i < packets.size(); ++i) {
            const uint64_t inStream = i < 10 ? i : i + 3;
            EXPECT_EQ(packets[i].offset, 100 + inStream * 188) << "chunk " << chunk << ", packet " << i;
            EXPECT_EQ(packets[i].index, i < 10 ? i : i + 2) << "chunk " << chunk << ", packet " << i;
        }
        // The third bad packet in a row, the one that is not delivered, broke the sync.
        ASSERT_EQ(lossOffsets.size(), 1u);
        EXPECT_EQ(lossOffsets[0], 100u + 12 * 188);
        runs.push_back(packets);
    }
    // The offsets change nothing in the times: the byte clock still counts every byte.
    for (size_t i = 0; i < runs[0].size(); ++i)
        EXPECT_EQ(runs[0][i].time, runs[3][i].time);
    EXPECT_EQ(runs[3][0].time, 100 * 8 * 54'000'000LL / 10'000'000);
}

TEST_F(LocatingInputFixture, WriteAtStampsThePacketsEachWriteCompletes)
{
    const auto stream = SktsTest::MakeStream(0x100, 21);
    // Datagrams of seven packets, then one cut in the middle of a packet.
    input->WriteAt(stream.data(), 7 * 188, 1'000'000);
    input->WriteAt(stream.data() + 7 * 188, 7 * 188 + 100, 5'000'000);
    input->WriteAt(stream.data() + 14 * 188 + 100, 7 * 188 - 100, 9'000'000);
    ASSERT_EQ(packets.size(), 21u);
    for (size_t i = 0; i < 7; ++i)
        EXPECT_EQ(packets[i].time, 1'000'000) << i;
    for (size_t i = 7; i < 14; ++i)
        EXPECT_EQ(packets[i].time, 5'000'000) << i;
    // Packet 14 began in the second datagram but arrived whole with the third.
    for (size_t i = 14; i < 21; ++i)
        EXPECT_EQ(packets[i].time, 9'000'000) << i;
    for (size_t i = 0; i < packets.size(); ++i)
        EXPECT_EQ(packets[i].offset, i * 188);

    // A plain write goes on from the last arrival time at the byte clock's pace.
    const auto more = SktsTest::MakeStream(0x100, 2);
    input->Write(more.data(), static_cast<uint32_t>(more.size()));
    ASSERT_EQ(packets.size(), 23u);
    EXPECT_EQ(packets[21].time, 9'000'000);
    EXPECT_EQ(packets[22].time, 9'000'000 + 8121);
}
