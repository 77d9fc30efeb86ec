// Timeline events from streams made out of a sample: each injected change gives exactly its
// event, at the packet index and byte offset where it was made.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "PcrField.h"
#include "RunTool.h"
#include "SectionBuilder.h"
#include "TempDir.h"
#include "TestData.h"

using nlohmann::json;
using SktsTest::RunCommand;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kPacket = 188;
constexpr int64_t kPtsModulus = int64_t{1} << 33;

std::string Tool() { return SKTS_TOOL; }

uint32_t PidOf(const uint8_t* p) { return ((p[1] & 0x1F) << 8) | p[2]; }
bool HasPcr(const uint8_t* p) { return (p[3] & 0x20) != 0 && p[4] > 0 && (p[5] & 0x10) != 0; }
int64_t PcrOf(const uint8_t* p)
{
    const int64_t base = (int64_t{p[6]} << 25) | (int64_t{p[7]} << 17) | (int64_t{p[8]} << 9) | (int64_t{p[9]} << 1) |
                         (p[10] >> 7);
    return base * 300 + (((p[10] & 1) << 8) | p[11]);
}

// The PES header of a packet starting one, or null.
uint8_t* PesHeader(uint8_t* p)
{
    if ((p[1] & 0x40) == 0 || (p[3] & 0x10) == 0)
        return nullptr;
    const size_t start = (p[3] & 0x20) ? 5 + p[4] : 4;
    if (start + 14 > kPacket || p[start] != 0 || p[start + 1] != 0 || p[start + 2] != 1)
        return nullptr;
    return p + start;
}

int64_t ReadStamp(const uint8_t* s)
{
    return (int64_t{s[0] & 0x0E} << 29) | (int64_t{s[1]} << 22) | (int64_t{s[2] & 0xFE} << 14) | (int64_t{s[3]} << 7) |
           (s[4] >> 1);
}
void WriteStamp(uint8_t* s, int64_t value)
{
    s[0] = static_cast<uint8_t>((s[0] & 0xF1) | ((value >> 29) & 0x0E));
    s[1] = static_cast<uint8_t>(value >> 22);
    s[2] = static_cast<uint8_t>(((value >> 14) & 0xFE) | 1);
    s[3] = static_cast<uint8_t>(value >> 7);
    s[4] = static_cast<uint8_t>(((value << 1) & 0xFE) | 1);
}

struct Event {
    std::string name;
    uint64_t packet;
    uint64_t offset;
    json details;
    bool operator<(const Event& o) const { return std::tie(packet, name) < std::tie(o.packet, o.name); }
};

// The timeline events (index -1) of a stream, except those the untouched sample has too.
class TimelineEvents : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto found = SktsTest::FindSample("h264_aac.ts");
        ASSERT_TRUE(found);
        sample = SktsTest::ReadFile(*found);
        baseline = Events(sample);
    }

    std::vector<Event> Events(const Bytes& stream)
    {
        const auto path = dir / ("s" + std::to_string(files++) + ".ts");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
        const auto result = RunCommand(Tool() + " analyze --json --events --bitrate 3000000 " + path.string());
        EXPECT_EQ(result.exitCode, 0) << result.err;
        const json report = json::parse(result.out);
        std::vector<Event> events;
        for (const auto& e : report["events"]) {
            if (e["index"] == -1)
                events.push_back({e["name"], e["packet"], e["offset"], e.value("details", json())});
            else
                indicatorEvents.push_back({e["name"], e["packet"], e["offset"], json()});
        }
        return events;
    }

    // Events of the changed stream that the sample does not have.
    std::vector<Event> NewEvents(const Bytes& stream)
    {
        indicatorEvents.clear();
        std::vector<Event> events = Events(stream);
        std::vector<Event> fresh;
        for (const Event& e : events) {
            const bool inBaseline = std::any_of(baseline.begin(), baseline.end(), [&](const Event& b) {
                return b.name == e.name && b.packet == e.packet && b.details == e.details;
            });
            if (!inBaseline)
                fresh.push_back(e);
        }
        return fresh;
    }

    size_t Packets() const { return sample.size() / kPacket; }
    uint8_t* Packet(Bytes& stream, size_t index) { return stream.data() + index * kPacket; }

    const SktsTest::TempDir dir{"skts_timeline"};
    int files = 0;
    Bytes sample;
    std::vector<Event> baseline;
    std::vector<Event> indicatorEvents;
};

} // namespace

TEST_F(TimelineEvents, PcrJumpSignalledOrNot)
{
    // From the 40th PCR on, every PCR is two seconds later.
    Bytes stream = sample;
    size_t pcrs = 0;
    size_t jumpPacket = 0;
    int64_t before = 0;
    int64_t after = 0;
    for (size_t i = 0; i < Packets(); ++i) {
        uint8_t* p = Packet(stream, i);
        if (PidOf(p) != 0x100 || !HasPcr(p))
            continue;
        if (++pcrs < 40) {
            before = PcrOf(p);
            continue;
        }
        if (pcrs == 40) {
            jumpPacket = i;
            after = PcrOf(p) + 2 * 27'000'000;
        }
        SktsTest::WritePcrField(p, PcrOf(p) + 2 * 27'000'000);
    }
    auto events = NewEvents(stream);
    ASSERT_EQ(events.size(), 1u) << events.size();
    EXPECT_EQ(events[0].name, "PcrDiscontinuity");
    EXPECT_EQ(events[0].packet, jumpPacket);
    EXPECT_EQ(events[0].offset, jumpPacket * kPacket);
    EXPECT_EQ(events[0].details["pid"], 0x100);
    EXPECT_EQ(events[0].details["pcr_before"], before);
    EXPECT_EQ(events[0].details["pcr_after"], after);
    EXPECT_EQ(events[0].details["signalled"], false);
    EXPECT_GT(events[0].details["jump_ms"].get<double>(), 2000.0);
    // The analyser's own report of it carries the same evidence.
    EXPECT_TRUE(std::any_of(indicatorEvents.begin(), indicatorEvents.end(), [&](const Event& e) {
        return e.name == "PcrDiscontinuityError" && e.packet == jumpPacket && e.offset == jumpPacket * kPacket;
    }));

    // The same jump signalled by the discontinuity_indicator.
    Packet(stream, jumpPacket)[5] |= 0x80;
    events = NewEvents(stream);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, "PcrDiscontinuity");
    EXPECT_EQ(events[0].packet, jumpPacket);
    EXPECT_EQ(events[0].details["signalled"], true);
    EXPECT_FALSE(std::any_of(indicatorEvents.begin(), indicatorEvents.end(),
                             [](const Event& e) { return e.name == "PcrDiscontinuityError"; }));
}

TEST_F(TimelineEvents, PcrAndPtsWrapNearTwoToThe33)
{
    // All PCRs, PTSs and DTSs moved so that the PCR base passes 2^33 at the 60th PCR.
    Bytes stream = sample;
    std::vector<size_t> pcrPackets;
    for (size_t i = 0; i < Packets(); ++i) {
        if (PidOf(Packet(stream, i)) == 0x100 && HasPcr(Packet(stream, i)))
            pcrPackets.push_back(i);
    }
    ASSERT_GT(pcrPackets.size(), 100u);
    const int64_t wrapBase = PcrOf(Packet(stream, pcrPackets[60])) / 300;
    const int64_t offset = kPtsModulus - wrapBase; // 90 kHz, added to every time stamp
    const int64_t pcrModulus = kPtsModulus * 300;
    std::map<uint32_t, size_t> ptsWrapPacket;
    std::map<uint32_t, std::pair<int64_t, int64_t>> ptsAround; // last before, first after (raw)
    for (size_t i = 0; i < Packets(); ++i) {
        uint8_t* p = Packet(stream, i);
        if (HasPcr(p))
            SktsTest::WritePcrField(p, (PcrOf(p) + offset * 300) % pcrModulus);
        uint8_t* pes = PesHeader(p);
        if (pes == nullptr || (pes[7] & 0x80) == 0)
            continue;
        const int64_t pts = ReadStamp(pes + 9) + offset;
        const uint32_t pid = PidOf(p);
        if (pts >= kPtsModulus && ptsWrapPacket.count(pid) == 0) {
            ptsWrapPacket[pid] = i;
            ptsAround[pid].second = pts % kPtsModulus;
        } else if (ptsWrapPacket.count(pid) == 0) {
            ptsAround[pid].first = pts;
        }
        WriteStamp(pes + 9, pts % kPtsModulus);
        if ((pes[7] & 0xC0) == 0xC0)
            WriteStamp(pes + 14, (ReadStamp(pes + 14) + offset) % kPtsModulus);
    }
    ASSERT_EQ(ptsWrapPacket.size(), 2u) << "video and audio both wrap";

    const auto events = NewEvents(stream);
    std::vector<Event> expected = {{"PcrWrap", pcrPackets[60], pcrPackets[60] * kPacket, {}}};
    for (const auto& [pid, packet] : ptsWrapPacket)
        expected.push_back({"PtsWrap", packet, packet * kPacket, {}});
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(events.size(), expected.size());
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].name, expected[i].name) << i;
        EXPECT_EQ(events[i].packet, expected[i].packet) << i;
        EXPECT_EQ(events[i].offset, expected[i].offset) << i;
        if (events[i].name == "PcrWrap") {
            EXPECT_EQ(events[i].details["pcr_after"].get<int64_t>(), (PcrOf(Packet(sample, pcrPackets[60])) + offset * 300) % pcrModulus);
            EXPECT_EQ(events[i].details["unwrapped_after"].get<int64_t>(), events[i].details["pcr_after"].get<int64_t>() + pcrModulus);
        } else {
            const uint32_t pid = events[i].details["pid"];
            EXPECT_EQ(events[i].details["pts_before"], ptsAround[pid].first) << pid;
            EXPECT_EQ(events[i].details["pts_after"], ptsAround[pid].second) << pid;
            EXPECT_EQ(events[i].details["unwrapped_after"].get<int64_t>(), ptsAround[pid].second + kPtsModulus);
        }
    }
    // A wrap is no discontinuity for the analyser either.
    EXPECT_FALSE(std::any_of(indicatorEvents.begin(), indicatorEvents.end(),
                             [](const Event& e) { return e.name == "PcrDiscontinuityError"; }));
}

TEST_F(TimelineEvents, PmtVersionChangeAddingAStream)
{
    // From the 10th PMT on, version 1 adds an AC-3 stream on PID 0x200, whose packets take the
    // place of the null packets from then on.
    Bytes stream = sample;
    using namespace SktsTest;
    const Bytes pmt = LongSection({0x02, 1, 1, true, 0, 0},
                                  PmtBody(0x100, {}, {{0x1B, 0x100, {}}, {0x0F, 0x101, {}}, {0x81, 0x200, {}}}));
    size_t pmts = 0;
    size_t changePacket = 0;
    size_t firstNewPid = 0;
    uint8_t counter = 0;
    for (size_t i = 0; i < Packets(); ++i) {
        uint8_t* p = Packet(stream, i);
        if (PidOf(p) == 0x1000 && ++pmts >= 10) {
            if (pmts == 10)
                changePacket = i;
            uint8_t cc = p[3] & 0x0F;
            const Bytes packet = SectionPackets(pmt, 0x1000, cc);
            ASSERT_EQ(packet.size(), kPacket);
            std::copy(packet.begin(), packet.end(), p);
        } else if (PidOf(p) == 0x1FFF && changePacket != 0) {
            if (firstNewPid == 0)
                firstNewPid = i;
            p[1] = 0x02;
            p[2] = 0x00;
            p[3] = static_cast<uint8_t>(0x10 | (counter++ & 0x0F));
        }
    }
    ASSERT_GT(firstNewPid, changePacket);
    const auto events = NewEvents(stream);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].name, "PmtChange");
    EXPECT_EQ(events[0].packet, changePacket);
    EXPECT_EQ(events[0].offset, changePacket * kPacket);
    EXPECT_EQ(events[0].details["version_before"], 0);
    EXPECT_EQ(events[0].details["version_after"], 1);
    EXPECT_EQ(events[0].details["streams_added"], json::parse(R"([{"pid": 512, "stream_type": 129}])"));
    EXPECT_TRUE(events[0].details["streams_removed"].empty());
    EXPECT_EQ(events[1].name, "PidAppeared");
    EXPECT_EQ(events[1].packet, firstNewPid);
    EXPECT_EQ(events[1].details["pid"], 0x200);
    // The null packets it took the place of are gone for good after a second.
    EXPECT_EQ(events[2].name, "PidVanished");
    EXPECT_EQ(events[2].details["pid"], 0x1FFF);
    EXPECT_GT(events[2].packet, firstNewPid);
    EXPECT_GT(events[2].details["silent_ms"].get<double>(), 1000.0);
}

TEST_F(TimelineEvents, SyncLostAndFoundAgain)
{
    // Three packets in a row without their sync byte: the third loses the sync, and the search
    // finds it again at the next packet.
    Bytes stream = sample;
    constexpr size_t k = 5000;
    for (size_t i = k; i < k + 3; ++i)
        Packet(stream, i)[0] = 0x00;
    const auto events = NewEvents(stream);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].name, "SyncLost");
    EXPECT_EQ(events[0].offset, (k + 2) * kPacket);
    EXPECT_EQ(events[0].packet, k + 2); // the first two were still handed to the analyser
    EXPECT_EQ(events[1].name, "SyncRegained");
    EXPECT_EQ(events[1].offset, (k + 3) * kPacket);
    EXPECT_EQ(events[1].packet, k + 2);
    EXPECT_EQ(events[1].details["bytes_skipped"], kPacket);
    EXPECT_TRUE(std::any_of(indicatorEvents.begin(), indicatorEvents.end(), [&](const Event& e) {
        return e.name == "TsSyncLoss" && e.offset == (k + 2) * kPacket;
    }));
    EXPECT_TRUE(std::any_of(indicatorEvents.begin(), indicatorEvents.end(), [&](const Event& e) {
        return e.name == "SyncByteError" && e.packet == k && e.offset == k * kPacket;
    }));
}
