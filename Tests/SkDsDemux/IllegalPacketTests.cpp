// How the packet view, PES assembly, the analyser and the engine each treat packets whose
// adaptation field is illegal. All of them read the bytes through SkTp; these tests pin the
// rule each one applies on top, so that a change to one rule shows here.
#include <gtest/gtest.h>

#include <vector>

#include "Demuxer.h"
#include "SectionBuilder.h"
#include "SkPes.h"
#include "SkTp.h"
#include "SkTsInfo.h"

using DsDemux::Demuxer;
using DsDemux::PidEntry;
using SklibTs::SkTp;
using SktsTest::Bytes;

namespace {

constexpr uint16_t kPmtPid = 0x100;
constexpr uint16_t kAudioPid = 0x200;
constexpr uint8_t kMpeg1Audio = 0x03;
constexpr uint8_t kPcrFlag = 0x10;

// A payload-only packet of the audio PID; with unitStart it opens an unbounded PES.
Bytes AudioPacket(uint8_t cc, bool unitStart, uint8_t fill)
{
    Bytes p(188, fill);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>((unitStart ? 0x40 : 0) | (kAudioPid >> 8));
    p[2] = static_cast<uint8_t>(kAudioPid);
    p[3] = static_cast<uint8_t>(0x10 | cc);
    if (unitStart) {
        const Bytes header = {0, 0, 1, 0xC0, 0, 0, 0x80, 0x00, 0x00}; // no PTS, length 0
        std::copy(header.begin(), header.end(), p.begin() + 4);
    }
    return p;
}

// A packet of the audio PID with the given adaptation_field_control, field length and flags.
Bytes FieldPacket(uint8_t afc, uint8_t cc, uint8_t fieldLength, uint8_t flags)
{
    Bytes p(188, 0x5A);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>(kAudioPid >> 8);
    p[2] = static_cast<uint8_t>(kAudioPid);
    p[3] = static_cast<uint8_t>(afc << 4 | cc);
    p[4] = fieldLength;
    p[5] = flags;
    return p;
}

// The engine with the audio PID mapped, its analyser following a program that lists the PID
// (so that it collects the PID's PES packets too), and what both of them completed.
class Consumers {
public:
    Consumers()
    {
        EXPECT_EQ(engine.Init(), S_OK);
        engine.AddPid(kAudioPid, &Consumers::OnEnginePes, this);
        engine.Analyser()->AddAllPesCallback(&Consumers::OnAnalyserPes, this);
        uint8_t patCc = 0;
        uint8_t pmtCc = 0;
        const Bytes pat = SktsTest::SectionPackets(
            SktsTest::LongSection({0x00, 1}, SktsTest::PatBody({{1, kPmtPid}})), 0, patCc);
        const Bytes pmt = SktsTest::SectionPackets(
            SktsTest::LongSection({0x02, 1}, SktsTest::PmtBody(kAudioPid, {}, {{kMpeg1Audio, kAudioPid, {}}})),
            kPmtPid, pmtCc);
        Append(pat);
        Append(pmt);
    }

    // Runs the tables, then one PES: its start, the given packets and the start of the next.
    void FeedPes(const std::vector<Bytes>& afterStart)
    {
        Append(AudioPacket(0, true, 0x11));
        uint8_t cc = 1;
        for (const Bytes& packet : afterStart) {
            Append(packet);
            cc = static_cast<uint8_t>((packet[3] & 0x0F) + 1) & 0x0F;
        }
        Append(AudioPacket(cc, true, 0x22));
        for (int i = 0; i < 5; ++i) // the packet input finds sync over five packets
            Append({0x47, 0x1F, 0xFF, 0x10});
        engine.ProcessSample(stream_.data(), static_cast<int32_t>(stream_.size()));
    }

    const SklibTs::SkPidInfo& AudioInfo() const { return *engine.Analyser()->pidInfo[kAudioPid]; }

    Demuxer engine;
    std::vector<Bytes> enginePes;
    std::vector<bool> engineDataLost;
    std::vector<Bytes> analyserPes;

private:
    Bytes stream_;

    void Append(Bytes bytes)
    {
        bytes.resize(188, 0xFF);
        stream_.insert(stream_.end(), bytes.begin(), bytes.end());
    }

    static void OnEnginePes(uint32_t, PidEntry& entry, uint32_t, void* context)
    {
        auto* self = static_cast<Consumers*>(context);
        const SklibTs::SkPes& pes = entry.pes->pes;
        self->enginePes.emplace_back(pes.Data(), pes.Data() + pes.Length());
        self->engineDataLost.push_back(entry.pes->dataLost);
    }
    static void OnAnalyserPes(void* context, int32_t, const uint8_t* data, uint32_t size)
    {
        static_cast<Consumers*>(context)->analyserPes.emplace_back(data, data + size);
    }
};

// The PES both consumers assemble from the start packet and the given payload bytes.
Bytes ExpectedPes(const Bytes& middle)
{
    const Bytes start = AudioPacket(0, true, 0x11);
    Bytes pes(start.begin() + 4, start.end());
    pes.insert(pes.end(), middle.begin(), middle.end());
    return pes;
}

Bytes Tail(const Bytes& packet, size_t from) { return Bytes(packet.begin() + static_cast<std::ptrdiff_t>(from), packet.end()); }

// The one PES the engine and the one the analyser completed, against what each should hold.
void ExpectPes(const Consumers& run, const Bytes& engine, const Bytes& analyser)
{
    ASSERT_EQ(run.enginePes.size(), 1u);
    EXPECT_EQ(run.enginePes[0], engine);
    ASSERT_EQ(run.analyserPes.size(), 1u);
    EXPECT_EQ(run.analyserPes[0], analyser);
}

} // namespace

// PCR_flag set in an adaptation field of length 1: the flag is all the analyser asks for, so
// it counts a PCR read from the payload bytes behind the field; the packet view gives no PCR
// value, so the engine tracks none. The payload after the field reaches both PES packets.
TEST(IllegalPacketTest, PcrFlagInAFieldOfLengthOne)
{
    const Bytes packet = FieldPacket(3, 1, 1, kPcrFlag);
    const SkTp tp(packet.data(), 188);
    EXPECT_TRUE(tp.HasPcr());
    EXPECT_EQ(tp.GetPcr(), SklibTs::kNoTime);

    Consumers run;
    run.FeedPes({packet});
    EXPECT_EQ(run.AudioInfo().pcrCount, 1u);
    EXPECT_EQ(run.engine.PcrTracks().count(kAudioPid), 0u);
    ExpectPes(run, ExpectedPes(Tail(packet, 6)), ExpectedPes(Tail(packet, 6)));
}

// adaptation_field_control 2 (no payload) with a field shorter than the packet: the packet view
// still gives the stuffing bytes after the field as payload, and PES assembly and the analyser
// both append them to the PES.
TEST(IllegalPacketTest, AdaptationOnlyPacketWithAShortField)
{
    const Bytes packet = FieldPacket(2, 0, 10, 0);
    const SkTp tp(packet.data(), 188);
    EXPECT_FALSE(tp.HasPayload());
    uint32_t size = 0;
    EXPECT_EQ(tp.GetPayload(size), packet.data() + 15);
    EXPECT_EQ(size, 173u);

    Consumers run;
    run.FeedPes({packet});
    ExpectPes(run, ExpectedPes(Tail(packet, 15)), ExpectedPes(Tail(packet, 15)));
}

// Reserved adaptation_field_control 0: no payload for the continuity checks (the engine does
// not look at its counter, so a wrong one marks no loss), but the 184 bytes after the header
// are payload for PES assembly and for the analyser.
TEST(IllegalPacketTest, ReservedAdaptationFieldControl)
{
    const Bytes packet = FieldPacket(0, 9, 0x33, 0x33);
    const SkTp tp(packet.data(), 188);
    EXPECT_FALSE(tp.HasPayload());
    EXPECT_EQ(tp.GetAdaptationFieldLength(), -1);

    Consumers run;
    const Bytes next = AudioPacket(1, false, 0x44);
    run.FeedPes({packet, next});
    Bytes middle = Tail(packet, 4);
    const Bytes nextPayload = Tail(next, 4);
    middle.insert(middle.end(), nextPayload.begin(), nextPayload.end());
    ExpectPes(run, ExpectedPes(middle), ExpectedPes(middle));
    EXPECT_EQ(run.engineDataLost, (std::vector<bool>{false}));
}

// An adaptation field whose length byte does not fit in the packet: the packet view ignores
// the field and gives 184 payload bytes from byte 4, which PES assembly appends; the analyser
// takes no payload from a field that claims 183 bytes or more, but still counts the PCR its
// flag announces. No PCR value and no discontinuity come out of such a field.
TEST(IllegalPacketTest, LengthByteThatDoesNotFit)
{
    const Bytes packet = FieldPacket(3, 1, 200, 0x80 | kPcrFlag);
    const SkTp tp(packet.data(), 188);
    uint32_t length = 0;
    EXPECT_EQ(tp.GetAdaptationField(length), nullptr);
    EXPECT_FALSE(tp.GetDiscontinuityIndicator());
    EXPECT_TRUE(tp.HasPcr());
    EXPECT_EQ(tp.GetPcr(), SklibTs::kNoTime);
    uint32_t size = 0;
    EXPECT_EQ(tp.GetPayload(size), packet.data() + 4);
    EXPECT_EQ(size, 184u);

    Consumers run;
    run.FeedPes({packet});
    ExpectPes(run, ExpectedPes(Tail(packet, 4)), ExpectedPes({}));
    EXPECT_EQ(run.engine.PcrTracks().count(kAudioPid), 0u);
    EXPECT_EQ(run.AudioInfo().pcrCount, 1u);
}
