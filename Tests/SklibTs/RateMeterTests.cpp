#include <gtest/gtest.h>

#include <memory>

#include "RateMeter.h"
#include "SkTsInfo.h"
#include "TsTestStream.h"

using namespace SklibTs;

TEST(SlidingWindowTest, KeepsTheLastValuesAndTheirSum)
{
    SlidingWindow window(3);
    EXPECT_EQ(window.Min(), 0);
    window.Push(5);
    window.Push(1);
    EXPECT_FALSE(window.Full());
    EXPECT_EQ(window.Min(), 1);
    EXPECT_EQ(window.Max(), 5);
    window.Push(9);
    window.Push(4); // drops 5
    EXPECT_TRUE(window.Full());
    EXPECT_EQ(window.Sum(), 14);
    EXPECT_EQ(window.Min(), 1);
    EXPECT_EQ(window.Max(), 9);
    SlidingWindow none(0);
    none.Push(3);
    EXPECT_EQ(none.Sum(), 0);
}

TEST(PacketRateMeterTest, ShortWindowRateAndLongWindowExtremes)
{
    constexpr int64_t kPeriod = 5'400'000;
    PacketRateMeter meter(2, 3);
    const auto period = [&](int packets) {
        for (int i = 0; i < packets; ++i)
            meter.CountPacket();
        meter.ClosePeriod(kPeriod);
    };
    period(10);
    // One sample of 10 packets in 100 ms: 10 * 1504 bits * 10 per second.
    EXPECT_EQ(meter.Bitrate(), 150'400);
    EXPECT_EQ(meter.MaxBitrate(), 0); // no full short window yet
    period(30);
    EXPECT_EQ(meter.Bitrate(), 300'800);
    EXPECT_EQ(meter.MinBitrate(), 300'800);
    period(0);
    EXPECT_EQ(meter.Bitrate(), 225'600);
    EXPECT_EQ(meter.MinBitrate(), 225'600);
    EXPECT_EQ(meter.MaxBitrate(), 300'800);
}

namespace {

// Feeds `packets` packets of one PID to the analyser at `packetsPerSecond`.
void FeedAtRate(SkTsInfo& analyser, uint16_t pid, int packets, int64_t packetsPerSecond, int64_t& time, uint8_t& cc)
{
    for (int i = 0; i < packets; ++i) {
        const auto p = SktsTest::MakePacket(pid, cc++);
        analyser.ProcessPacket(p.data(), 188, &time);
        time += 54'000'000 / packetsPerSecond;
    }
}

} // namespace

TEST(AnalyserRatesTest, PerPidAndTransportRatesFollowTheWindows)
{
    std::unique_ptr<SkTsInfo> analyser(CreateTsInfo());
    int64_t time = 0;
    uint8_t cc = 0;
    // 1000 packets/s = 1,504,000 bit/s for 3 s.
    FeedAtRate(*analyser, 0x100, 3000, 1000, time, cc);
    const SkPidInfo* info = analyser->pidInfo[0x100];
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->packetCount, 3000u);
    EXPECT_NEAR(static_cast<double>(info->bitrate), 1'504'000.0, 1'504'000.0 * 0.02);
    EXPECT_NEAR(static_cast<double>(info->minBitrate), 1'504'000.0, 1'504'000.0 * 0.02);
    EXPECT_NEAR(static_cast<double>(analyser->bitrate), 1'504'000.0, 1'504'000.0 * 0.02);

    // Three times faster: once half a second of it is measured (periods close at the next tick
    // after their end), the short window mixes both rates, and the long window
    // still holds the slow sums of a second ago as its minimum.
    FeedAtRate(*analyser, 0x100, 1800, 3000, time, cc);
    EXPECT_NEAR(static_cast<double>(info->bitrate), 3'008'000.0, 3'008'000.0 * 0.03);
    EXPECT_NEAR(static_cast<double>(info->maxBitrate), 3'008'000.0, 3'008'000.0 * 0.03);
    EXPECT_NEAR(static_cast<double>(info->minBitrate), 1'504'000.0, 1'504'000.0 * 0.03);
}

TEST(AnalyserRatesTest, RateWindowSettingsApplyToNewPids)
{
    std::unique_ptr<SkTsInfo> analyser(CreateTsInfo());
    // One-second periods, a one-period short window: the rate is the last whole second.
    analyser->SetRateWindow({54'000'000, 1, 2});
    int64_t time = 0;
    uint8_t cc = 0;
    FeedAtRate(*analyser, 0x200, 1500, 500, time, cc); // 3 s at 500 packets/s
    EXPECT_EQ(analyser->pidInfo[0x200]->bitrate, 500 * 1504);
}

TEST(AnalyserRatesTest, SilentUnreferencedPidsAgeOutAfterAMinute)
{
    std::unique_ptr<SkTsInfo> analyser(CreateTsInfo());
    int64_t time = 0;
    uint8_t cc = 0;
    FeedAtRate(*analyser, 0x300, 10, 100, time, cc);
    ASSERT_NE(analyser->pidInfo[0x300], nullptr);
    uint8_t otherCc = 0;
    FeedAtRate(*analyser, 0x301, 5900, 100, time, otherCc); // 59 s of another PID
    EXPECT_NE(analyser->pidInfo[0x300], nullptr);
    FeedAtRate(*analyser, 0x301, 200, 100, time, otherCc);  // past 60 s of silence
    EXPECT_EQ(analyser->pidInfo[0x300], nullptr);
    EXPECT_NE(analyser->pidInfo[0x301], nullptr);
}
