#include <gtest/gtest.h>

#include <vector>

#include "TsInfoImpl.h"
#include "TsTestStream.h"

using namespace SklibTs;

namespace {

// A 204-byte packet with the ISDB-T information trailer.
std::vector<uint8_t> IsdbtPacket(uint16_t pid, uint8_t cc, uint32_t counter, uint32_t layer, bool frameHead = false,
                                 uint32_t tmcc = 2)
{
    auto p = SktsTest::MakePacket(pid, cc, false, 204);
    p[188] = static_cast<uint8_t>((tmcc << 6) | (frameHead ? 0x02 : 0));
    p[189] = static_cast<uint8_t>(layer << 4);
    p[190] = static_cast<uint8_t>((counter >> 8) & 0x1F);
    p[191] = static_cast<uint8_t>(counter);
    return p;
}

// An IIP: mode 3, guard 1/8, layer A 1 segment QPSK 2/3, layer B 12 segments 64QAM 3/4.
std::vector<uint8_t> IipPacket(uint8_t cc, uint32_t counter, bool validLayers = true)
{
    auto p = IsdbtPacket(0x1FF0, cc, counter, 8);
    std::vector<bool> bits;
    const auto put = [&](uint32_t value, int n) {
        for (int i = n - 1; i >= 0; --i)
            bits.push_back((value >> i) & 1);
    };
    put(0, 16);                  // IIP_packet_pointer
    put(0, 1 + 1 + 2 + 4);       // sync word, AC position, reserved, timing indicator
    put(3, 2);                   // current mode 3
    put(2, 2);                   // current guard 1/8
    put(0xF, 4);                 // next mode / guard
    put(1, 1);                   // partial reception
    put(1, 3), put(1, 3), put(2, 3), put(1, 4);                      // layer A
    put(3, 3), put(2, 3), put(2, 3), put(validLayers ? 12 : 14, 4);  // layer B
    put(7, 3), put(7, 3), put(7, 3), put(15, 4);                     // layer C unused
    for (size_t i = 0; i < bits.size(); ++i) {
        if (bits[i])
            p[4 + i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
        else
            p[4 + i / 8] &= static_cast<uint8_t>(~(0x80 >> (i % 8)));
    }
    return p;
}

} // namespace

TEST(IsdbtTest, LocksOnTheCounterAndReportsTheLayers)
{
    TsInfoImpl analyser;
    int64_t time = 0;
    const auto feed = [&](const std::vector<uint8_t>& p) {
        analyser.ProcessPacket(p.data(), static_cast<uint32_t>(p.size()), &time);
        time += 8121;
    };
    IsdbtInfo info;
    feed(IsdbtPacket(0x100, 0, 7, 1));          // no frame head yet: nothing
    EXPECT_EQ(analyser.GetIsdbtInfo(info), kIsdbtNotLocked);
    feed(IsdbtPacket(0x100, 1, 0, 1, true));    // frame head: counter 0 expected next + 1
    feed(IsdbtPacket(0x100, 2, 1, 1));          // locks
    feed(IsdbtPacket(0x101, 0, 2, 2));
    EXPECT_EQ(analyser.GetIsdbtInfo(info), kIsdbtNotLocked); // locked, but no IIP yet
    feed(IipPacket(0, 3));
    ASSERT_EQ(analyser.GetIsdbtInfo(info), kIsdbtOk);
    EXPECT_EQ(info.mode, 3u);
    EXPECT_EQ(info.guardInterval, 2u);
    EXPECT_TRUE(info.partialReception);
    EXPECT_TRUE(info.layers[0].present);
    EXPECT_EQ(info.layers[1].segments, 12u);
    EXPECT_FALSE(info.layers[2].present);
    // Layer B, 64QAM 3/4, guard 1/8, 12 segments: about 16.85 Mbit/s.
    EXPECT_NEAR(static_cast<double>(info.layers[1].bitrate), 16.85e6, 0.05e6);
    EXPECT_EQ(info.pidLayers[0x100], 1u); // seen in layer A (the locking packet)
    EXPECT_EQ(info.pidLayers[0x101], 2u);

    // A wrong counter unlocks and forgets the IIP.
    feed(IsdbtPacket(0x100, 3, 9, 1));
    EXPECT_EQ(analyser.GetIsdbtInfo(info), kIsdbtNotLocked);

    // Locked again, an IIP with too many segments is not valid.
    feed(IsdbtPacket(0x100, 4, 0, 1, true));
    feed(IsdbtPacket(0x100, 5, 1, 1));
    feed(IipPacket(1, 2, false));
    EXPECT_EQ(analyser.GetIsdbtInfo(info), kIsdbtInvalidParameters);

    // A 188-byte packet and a TMCC identifier below 2 both break the lock.
    const auto plain = SktsTest::MakePacket(0x100, 6);
    analyser.ProcessPacket(plain.data(), 188, &time);
    EXPECT_EQ(analyser.GetIsdbtInfo(info), kIsdbtNotLocked);
    feed(IsdbtPacket(0x100, 7, 0, 1, true));
    feed(IsdbtPacket(0x100, 8, 1, 1));
    feed(IipPacket(2, 2));
    EXPECT_EQ(analyser.GetIsdbtInfo(info), kIsdbtOk);
    feed(IsdbtPacket(0x100, 9, 3, 1, false, 1));
    EXPECT_EQ(analyser.GetIsdbtInfo(info), kIsdbtNotLocked);
}
