// The engine's bit rate stays a sane 64-bit figure whatever the PCRs or the reading speed say.
#include <gtest/gtest.h>

#include <vector>

#include "Demuxer.h"
#include "HostileStreams.h"

using DsDemux::Demuxer;

namespace {

// PCRs on `pid` every `spacing` packets (nulls between), each `step` PCR ticks after the last.
std::vector<uint8_t> PcrStream(uint16_t pid, int pcrs, int spacing, int64_t step)
{
    SktsTest::TsWriter ts;
    for (int i = 0; i < pcrs; ++i) {
        ts.Pcr(pid, 27'000'000 + i * step);
        for (int n = 1; n < spacing; ++n)
            ts.Packet(0x1FFF, false);
    }
    return ts.bytes;
}

void Feed(Demuxer& engine, const std::vector<uint8_t>& stream, size_t chunk = 65536)
{
    for (size_t i = 0; i < stream.size(); i += chunk)
        engine.ProcessSample(stream.data() + i, static_cast<int32_t>(std::min(chunk, stream.size() - i)));
}

} // namespace

// A PCR that advances one tick every 50 packets claims 2 Tbit/s: the claim is rejected, the
// rate and the packet count stay what they were.
TEST(DemuxerRateTest, AbsurdPcrRatesAreRejected)
{
    Demuxer engine;
    ASSERT_EQ(engine.Init(), S_OK);
    Feed(engine, PcrStream(0x50, 20, 50, 1));
    EXPECT_EQ(engine.BitRate(), Demuxer::kDefaultBitrate);
    EXPECT_FALSE(engine.PcrTracks().at(0x50).stable);
    EXPECT_EQ(engine.PacketCount(), 20 * 50 - 1) << "counted from the first packet";

    // Just above the ceiling: rejected as well; just below: taken, in full.
    Demuxer above;
    ASSERT_EQ(above.Init(), S_OK);
    Feed(above, PcrStream(0x50, 8, 1000, 20'000)); // 2.03 Gbit/s
    EXPECT_EQ(above.BitRate(), Demuxer::kDefaultBitrate);
    Demuxer fast;
    ASSERT_EQ(fast.Init(), S_OK);
    Feed(fast, PcrStream(0x50, 8, 1000, 27'072)); // 1.5 Gbit/s
    EXPECT_EQ(fast.BitRate(), 1'500'000'000);
    EXPECT_EQ(fast.PcrTracks().at(0x50).rate, 1'500'000'000);
}

// Reading faster than 2^31 bit/s (a pipe from cache) holds the wall-clock rate at the ceiling
// instead of wrapping it negative.
TEST(DemuxerRateTest, WallClockRatesAboveThirtyTwoBitsAreHeldAtTheCeiling)
{
    int64_t now = 1'000'000'000;
    Demuxer engine([&now] { return now; });
    ASSERT_EQ(engine.Init(), S_OK);
    SktsTest::TsWriter nulls;
    for (int i = 0; i < 150'000; ++i) // 2.26 Gbit/s when read in 100 ms
        nulls.Packet(0x1FFF, false);
    for (int round = 0; round < 5; ++round) {
        Feed(engine, nulls.bytes, 1 << 20);
        now += 100'000'000;
    }
    EXPECT_EQ(engine.BitRate(), Demuxer::kMaxBitRate);
    // Counted from packet times, which follow the rate in force: near, never negative.
    EXPECT_NEAR(static_cast<double>(engine.PacketCount()), 5 * 150'000.0, 5 * 150'000 * 0.001);
}
