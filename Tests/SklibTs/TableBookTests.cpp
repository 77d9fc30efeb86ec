#include <gtest/gtest.h>

#include <vector>

#include "SectionBuilder.h"
#include "StreamKind.h"
#include "TableClass.h"
#include "TsInfoImpl.h"

using namespace SklibTs;
using SktsTest::Bytes;

namespace {

// An analyser fed with hand-made sections at a steady packet clock.
class TableBookFixture : public ::testing::Test {
protected:
    void Send(uint16_t pid, const Bytes& section)
    {
        const Bytes packets = SktsTest::SectionPackets(section, pid, cc_[pid]);
        for (size_t i = 0; i < packets.size(); i += 188)
            Feed(packets.data() + i);
    }
    void Feed(const uint8_t* packet)
    {
        analyser.ProcessPacket(packet, 188, &time);
        time += 54'000; // 1 ms a packet
    }
    // Lets analyser time pass with null packets.
    void Idle(int64_t ticks)
    {
        Bytes null(188, 0xFF);
        null[0] = 0x47;
        null[1] = 0x1F;
        null[2] = 0xFF;
        null[3] = 0x10;
        const int64_t until = time + ticks;
        while (time < until) {
            analyser.ProcessPacket(null.data(), 188, &time);
            time += 5'400'000;
        }
    }
    static Bytes Pat(uint16_t tsid, const std::vector<SktsTest::PatEntry>& programs, uint8_t version = 0)
    {
        return SktsTest::LongSection({0x00, tsid, version}, SktsTest::PatBody(programs));
    }
    static Bytes Pmt(uint16_t program, uint16_t pcrPid, const std::vector<SktsTest::PmtStream>& streams,
                     uint8_t version = 0)
    {
        return SktsTest::LongSection({0x02, program, version}, SktsTest::PmtBody(pcrPid, {}, streams));
    }
    static void OnTable(void* context, const TableKey* key, SkTable*, uint16_t changed)
    {
        static_cast<TableBookFixture*>(context)->completed.push_back({*key, changed != 0});
    }

    TsInfoImpl analyser;
    int64_t time = 0;
    uint8_t cc_[8192] = {};
    std::vector<std::pair<TableKey, bool>> completed;
};

} // namespace

TEST_F(TableBookFixture, FollowsPatAndPmtIntoTheProgramMap)
{
    analyser.AddAllTablesCallback(&TableBookFixture::OnTable, this);
    Send(0, Pat(5, {{0, 0x10}, {1, 0x100}, {2, 0x200}}));
    EXPECT_EQ(analyser.transportStreamId, 5);
    ASSERT_EQ(analyser.programs.size(), 2u);
    EXPECT_EQ(analyser.programs.at(1).pmt_pid, 0x100);
    EXPECT_EQ(analyser.GetPidReferences(0x100, kRefPmt), 1u);

    const Bytes ac3Descriptor = SktsTest::DescriptorBytes(0x6A, {0x00});
    Send(0x100, Pmt(1, 0x101, {{0x1B, 0x101, {}}, {0x06, 0x102, ac3Descriptor}}));
    const Program& program = analyser.programs.at(1);
    EXPECT_EQ(program.pcr_pid, 0x101);
    ASSERT_EQ(program.streams.size(), 2u);
    EXPECT_EQ(program.programKind, kProgramVideo);
    ASSERT_NE(analyser.pidInfo[0x102], nullptr);
    EXPECT_EQ(analyser.pidInfo[0x101]->streamKind, StreamKind::kH264);
    EXPECT_EQ(analyser.pidInfo[0x102]->streamKind, StreamKind::kAc3Descriptor); // private data carrying AC-3
    EXPECT_EQ(analyser.GetPidProgram(0x102), 1u);
    EXPECT_EQ(analyser.pidInfo[0x100]->tableClassMask & TableClassBit(TableClass::kPmt), TableClassBit(TableClass::kPmt));

    // A repeated identical PMT is reported unchanged; a new version as changed.
    Send(0x100, Pmt(1, 0x101, {{0x1B, 0x101, {}}, {0x06, 0x102, ac3Descriptor}}));
    Send(0x100, Pmt(1, 0x101, {{0x1B, 0x101, {}}}, 1));
    ASSERT_EQ(completed.size(), 4u);
    EXPECT_FALSE(completed[1].second);
    EXPECT_FALSE(completed[2].second);
    EXPECT_TRUE(completed[3].second);
    EXPECT_EQ(analyser.programs.at(1).streams.size(), 1u);
    EXPECT_EQ(analyser.GetPidProgram(0x102), 0xFFFFFFFFu);
    EXPECT_EQ(analyser.GetPidReferences(0x102, kRefElementaryStream), 0u);
}

TEST_F(TableBookFixture, AppliesAPmtStoredBeforeItsProgramExists)
{
    Send(0, Pat(1, {{1, 0x100}}));
    // Program 2's PMT arrives on the PID the PAT gives program 1: stored, not applied.
    Send(0x100, Pmt(2, 0x201, {{0x02, 0x201, {}}}));
    EXPECT_EQ(analyser.programs.count(2), 0u);
    EXPECT_EQ(analyser.tables.size(), 2u);
    Send(0, Pat(1, {{1, 0x100}, {2, 0x100}}, 1));
    ASSERT_EQ(analyser.programs.count(2), 1u);
    EXPECT_EQ(analyser.programs.at(2).pcr_pid, 0x201);
    EXPECT_EQ(analyser.programs.at(2).streams.size(), 1u);
}

TEST_F(TableBookFixture, CountsSharedPcrReferencesPerProgram)
{
    Send(0, Pat(1, {{1, 0x100}, {2, 0x200}, {3, 0x300}}));
    for (uint16_t n = 1; n <= 3; ++n)
        Send(static_cast<uint16_t>(n * 0x100), Pmt(n, 0x50, {{0x03, static_cast<uint16_t>(n * 0x100 + 1), {}}}));
    EXPECT_EQ(analyser.GetPidReferences(0x50, kRefPcr), 3u);
    EXPECT_EQ(analyser.pidInfo[0x50]->programs, (std::set<int32_t>{1, 2, 3}));
    Send(0x200, Pmt(2, 0x50, {{0x03, 0x201, {}}})); // repeated: no change
    EXPECT_EQ(analyser.GetPidReferences(0x50, kRefPcr), 3u);
    Send(0, Pat(1, {{1, 0x100}, {3, 0x300}}, 1));
    EXPECT_EQ(analyser.GetPidReferences(0x50, kRefPcr), 2u);
    EXPECT_EQ(analyser.GetPidReferences(0x200, kRefPmt), 0u);
    EXPECT_EQ(analyser.GetPidProgram(0x50), 1u);
}

TEST_F(TableBookFixture, ANewTransportStreamResetsEverything)
{
    Send(0, Pat(1, {{1, 0x100}}));
    Send(0x100, Pmt(1, 0x101, {{0x1B, 0x101, {}}}));
    analyser.SetSync(true);
    ASSERT_NE(analyser.pidInfo[0x101], nullptr);
    Send(0, Pat(2, {{7, 0x700}}));
    EXPECT_EQ(analyser.transportStreamId, 2);
    EXPECT_EQ(analyser.pidInfo[0x101], nullptr);
    ASSERT_EQ(analyser.programs.size(), 1u);
    EXPECT_EQ(analyser.programs.begin()->first, 7);
    // The reset clears sync without a loss report, so the packet input searches again.
    EXPECT_FALSE(analyser.inSync);
    EXPECT_EQ(analyser.GetIndicators().Record(ConformanceIndicator::TsSyncLoss).count, 0u);
    EXPECT_EQ(analyser.tables.size(), 1u);
}

TEST_F(TableBookFixture, VersionChangeMidTableRestartsItAndTablesExpire)
{
    // A two-section PAT: version 0 section 0, then version 1 sections 1 and 0.
    const auto patSection = [](uint8_t version, uint8_t number, uint16_t program) {
        return SktsTest::LongSection({0x00, 9, version, true, number, 1},
                                     SktsTest::PatBody({{program, static_cast<uint16_t>(0x100 + program)}}));
    };
    Send(0, patSection(0, 0, 1));
    EXPECT_TRUE(analyser.programs.empty());
    Send(0, patSection(1, 1, 2));
    Send(0, patSection(1, 0, 3));
    ASSERT_EQ(analyser.programs.size(), 2u);
    EXPECT_EQ(analyser.programs.count(3), 1u);
    EXPECT_EQ(analyser.programs.count(1), 0u);

    // A section with current_next_indicator 0 is not used.
    Send(0x103, SktsTest::LongSection({0x02, 3, 0, false}, SktsTest::PmtBody(0x1FFF, {}, {{0x02, 0x500, {}}})));
    EXPECT_TRUE(analyser.programs.at(3).streams.empty());
    Send(0x103, Pmt(3, 0x1FFF, {{0x02, 0x500, {}}}));
    EXPECT_EQ(analyser.programs.at(3).pcr_pid, -1);
    EXPECT_EQ(analyser.programs.at(3).streams.size(), 1u);

    // Without repetition, every table and what it contributed go after 60 s.
    Idle(59 * 54'000'000LL);
    EXPECT_EQ(analyser.programs.size(), 2u);
    Idle(2 * 54'000'000LL);
    EXPECT_TRUE(analyser.programs.empty());
    EXPECT_TRUE(analyser.tables.empty());
    EXPECT_EQ(analyser.GetPidReferences(0x103, kRefPmt), 0u);
    // PID 0, silent and unreferenced for a minute, has aged out with its table classes.
    EXPECT_EQ(analyser.pidInfo[0], nullptr);
}

TEST_F(TableBookFixture, CollectsSectionsSplitAndPackedInPackets)
{
    analyser.AddAllTablesCallback(&TableBookFixture::OnTable, this);
    // Two short PMT-like sections back to back in one packet, then one split over packets
    // with a pointer_field that finishes the previous section first.
    const Bytes a = Pmt(1, 0x1FFF, {});
    const Bytes b = Pmt(2, 0x1FFF, {});
    Send(0, Pat(1, {{1, 0x100}, {2, 0x100}}));
    Bytes packet(188, 0xFF);
    packet[0] = 0x47;
    packet[1] = 0x41;
    packet[2] = 0x00;
    packet[3] = 0x10;
    packet[4] = 0;
    std::copy(a.begin(), a.end(), packet.begin() + 5);
    std::copy(b.begin(), b.end(), packet.begin() + 5 + static_cast<std::ptrdiff_t>(a.size()));
    Feed(packet.data());
    EXPECT_EQ(completed.size(), 3u);

    // A section split at its fifth byte, the rest arriving behind a pointer_field.
    const Bytes c = Pmt(1, 0x1FFF, {{0x02, 0x111, {}}}, 1);
    Bytes first(188, 0xFF), second(188, 0xFF);
    first[0] = second[0] = 0x47;
    first[2] = second[2] = 0x00;
    first[1] = 0x41;
    second[1] = 0x41;
    first[3] = 0x11;
    second[3] = 0x12;
    first[4] = static_cast<uint8_t>(183 - 5);
    std::copy(c.begin(), c.begin() + 5, first.begin() + 5 + 178);
    second[4] = static_cast<uint8_t>(c.size() - 5);
    std::copy(c.begin() + 5, c.end(), second.begin() + 5);
    Feed(first.data());
    Feed(second.data());
    EXPECT_EQ(completed.size(), 4u);
    EXPECT_EQ(analyser.programs.at(1).streams.size(), 1u);
}

TEST_F(TableBookFixture, AnUnchangedRepetitionKeepsTheStoredCopyWithNewTimesAndDeadlines)
{
    struct Seen {
        const SkTable* table;
        bool changed;
        int64_t completion;
    };
    std::vector<Seen> seen;
    analyser.AddAllTablesCallback(
        [](void* context, const TableKey*, SkTable* table, uint16_t changed) {
            static_cast<std::vector<Seen>*>(context)->push_back({table, changed != 0, table->completion_time});
        },
        &seen);
    // A long PMT first, so that the sections assembled after it reuse a buffer that held more.
    Send(0, Pat(1, {{1, 0x100}}));
    Send(0x100, Pmt(1, 0x101, {{0x1B, 0x101, {}}, {0x0F, 0x102, {}}, {0x06, 0x103, Bytes(40, 0x55)}}));
    Send(0, Pat(1, {{1, 0x100}}));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_FALSE(seen[2].changed);
    EXPECT_EQ(seen[2].table, seen[0].table);
    const SkTable& pat = *seen[2].table;
    EXPECT_GT(seen[2].completion, seen[0].completion);
    EXPECT_EQ(pat.completion_time, seen[2].completion);
    EXPECT_EQ(pat.sections[0]->receive_time, pat.completion_time);
    EXPECT_EQ(pat.sections[0]->length, static_cast<int32_t>(Pat(1, {{1, 0x100}}).size()));

    // Repeated after 30 s, the PAT expires 60 s after that repetition, not after the first.
    Idle(30 * 54'000'000LL);
    Send(0, Pat(1, {{1, 0x100}}));
    Idle(40 * 54'000'000LL);
    ASSERT_EQ(analyser.programs.size(), 1u);
    Idle(21 * 54'000'000LL);
    EXPECT_TRUE(analyser.programs.empty());

    // A change is a new copy, and says so.
    Send(0, Pat(1, {{1, 0x100}}));
    Send(0, Pat(1, {{2, 0x200}}, 1));
    ASSERT_TRUE(seen.back().changed);
    EXPECT_EQ(analyser.programs.count(2), 1u);
    EXPECT_EQ(analyser.tables.at(TableKey{0, 0, 1, TableKey::kAny, TableKey::kAny}).get(), seen.back().table);
}
