#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "LiveAddress.h"
#include "ProgressDisplay.h"
#include "RtpDepacketizer.h"

using namespace Skts;

TEST(LiveAddressTest, ReadsEveryPartAndNamesWhatIsWrong)
{
    LiveAddress a;
    std::string error;
    ASSERT_TRUE(LiveAddress::Parse("rtp://10.0.0.9@239.1.2.3:5004?interface=eth1", a, error)) << error;
    EXPECT_EQ(a.protocol, LiveAddress::Protocol::Rtp);
    EXPECT_EQ(a.source, "10.0.0.9");
    EXPECT_EQ(a.address, "239.1.2.3");
    EXPECT_EQ(a.port, 5004);
    EXPECT_EQ(a.interfaceName, "eth1");
    ASSERT_TRUE(LiveAddress::Parse("udp://[ff15::17]:1234", a, error)) << error;
    EXPECT_EQ(a.protocol, LiveAddress::Protocol::Udp);
    EXPECT_EQ(a.address, "ff15::17");
    EXPECT_TRUE(a.source.empty());
    ASSERT_TRUE(LiveAddress::Parse("udp://[2001:db8::1]@[ff3e::8000:1]:5000", a, error)) << error;
    EXPECT_EQ(a.source, "2001:db8::1");

    EXPECT_FALSE(LiveAddress::IsLive("file.ts"));
    EXPECT_FALSE(LiveAddress::IsLive("-"));
    for (const char* bad : {"udp://", "udp://1.2.3.4", "udp://1.2.3.4:", "udp://1.2.3.4:0", "udp://1.2.3.4:65536",
                            "udp://1.2.3.4:12x", "udp://::1:5000", "udp://[::1:5000", "udp://@1.2.3.4:5",
                            "udp://1.2.3.4:5?interface=", "udp://1.2.3.4:5?ttl=1", "udp://:5000"}) {
        EXPECT_FALSE(LiveAddress::Parse(bad, a, error)) << bad;
        EXPECT_EQ(error.rfind("bad address '" + std::string(bad) + "': ", 0), 0u) << error;
    }
}

namespace {

std::vector<uint8_t> Rtp(uint16_t sequence, std::vector<uint8_t> payload, uint8_t csrcs = 0, bool extension = false,
                         uint8_t padding = 0)
{
    std::vector<uint8_t> d = {static_cast<uint8_t>(0x80 | (padding ? 0x20 : 0) | (extension ? 0x10 : 0) | csrcs), 33,
                              static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence), 0, 0, 0, 0, 0, 0, 0, 1};
    d.resize(d.size() + 4u * csrcs, 0xAA);
    if (extension)
        d.insert(d.end(), {0xBE, 0xDE, 0, 2, 1, 2, 3, 4, 5, 6, 7, 8});
    d.insert(d.end(), payload.begin(), payload.end());
    if (padding) {
        d.resize(d.size() + padding, 0);
        d.back() = padding;
    }
    return d;
}

} // namespace

TEST(RtpDepacketizerTest, TakesOffHeadersAndCountsMissingSequenceNumbers)
{
    RtpDepacketizer rtp(false);
    const std::vector<uint8_t> ts = {0x47, 1, 2, 3};
    for (const auto& datagram : {Rtp(10, ts), Rtp(11, ts, 2), Rtp(12, ts, 0, true), Rtp(13, ts, 1, true, 3)}) {
        const auto payload = rtp.Take(datagram.data(), datagram.size());
        ASSERT_EQ(payload.size, ts.size());
        EXPECT_EQ(std::vector<uint8_t>(datagram.begin() + static_cast<std::ptrdiff_t>(payload.offset),
                                       datagram.begin() + static_cast<std::ptrdiff_t>(payload.offset + payload.size)),
                  ts);
    }
    // 14 and 15 missing; 40000 and 40001: the sender started anew; 40002 and 40003 missing;
    // 40005 to 65534 missing; 65535 -> 0 is no gap; a late 0 is out of order.
    for (uint16_t sequence : {16, 17, 40000, 40001, 40004, 65535, 0, 1, 0}) {
        const auto d = Rtp(sequence, ts);
        rtp.Take(d.data(), d.size());
    }
    EXPECT_EQ(rtp.Counts().packets, 13u);
    EXPECT_EQ(rtp.Counts().gaps, 3u);
    EXPECT_EQ(rtp.Counts().lost, 2u + 2u + (65535u - 40005u));
    EXPECT_EQ(rtp.Counts().restarts, 1u);
    EXPECT_EQ(rtp.Counts().outOfOrder, 1u);

    // A header longer than the datagram is dropped and counted, never read past.
    auto cut = Rtp(1, ts, 0, true);
    cut.resize(14);
    EXPECT_EQ(rtp.Take(cut.data(), cut.size()).size, 0u);
    EXPECT_EQ(rtp.Counts().malformed, 1u);
}

TEST(RtpDepacketizerTest, DetectionLeavesPlainTransportStreamAlone)
{
    RtpDepacketizer detect(true);
    const std::vector<uint8_t> plain = {0x47, 0x80, 0x21, 0, 0, 0};
    auto payload = detect.Take(plain.data(), plain.size());
    EXPECT_EQ(payload.offset, 0u);
    EXPECT_EQ(payload.size, plain.size());
    EXPECT_FALSE(detect.SawRtp());
    // Not RTP either: handed on whole for the packet input to judge.
    const std::vector<uint8_t> noise = {0x12, 0x34, 0x56};
    EXPECT_EQ(detect.Take(noise.data(), noise.size()).size, noise.size());
    const auto rtp = Rtp(7, {0x47, 9});
    payload = detect.Take(rtp.data(), rtp.size());
    EXPECT_EQ(payload.offset, 12u);
    EXPECT_EQ(payload.size, 2u);
    EXPECT_TRUE(detect.SawRtp());
}

TEST(ProgressDisplayTest, RedrawsAtMostTenTimesASecondAndOnlyWhenEnabled)
{
    int64_t now = 0;
    std::ostringstream out;
    {
        ProgressDisplay progress(out, true, 1'000'000, [&now] { return now; });
        for (int i = 0; i < 1000; ++i) { // one second in steps of 1 ms
            now += 1'000'000;
            progress.File(static_cast<uint64_t>(i) * 1000);
        }
    }
    const std::string text = out.str();
    const auto draws = std::count(text.begin(), text.end(), '\r');
    EXPECT_GE(draws, 9); // nine or ten lines, and the clearing at the end
    EXPECT_LE(draws, 11);
    EXPECT_NE(text.find("left"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 4), "\r\x1b[K");

    std::ostringstream quiet;
    {
        ProgressDisplay progress(quiet, false, 1000, [&now] { return now += 500'000'000; });
        progress.File(10);
        progress.Live(1.0, 5, 1);
    }
    EXPECT_TRUE(quiet.str().empty());

    EXPECT_EQ(ProgressDisplay::FileLine(500'000'000, 1'000'000'000, 10.0), " 50.0%  500.0 MB  50.0 MB/s  0:10 left");
    EXPECT_EQ(ProgressDisplay::FileLine(2'000'000, -1, 1.0), "2.0 MB  2.0 MB/s");
    EXPECT_EQ(ProgressDisplay::LiveLine(3725.0, 12'345'678, 2), "1:02:05  12.346 Mbit/s  2 indicators active");
}
