// Keys, CRC, section assembly and header reading, tables.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <numeric>
#include <random>

#include "Crc32.h"
#include "SectionBuilder.h"
#include "SkTable.h"
#include "SkTableSection.h"
#include "TableKey.h"

using namespace SklibTs;
using SktsTest::Bytes;

namespace {

constexpr uint32_t kAny = TableKey::kAny;

std::unique_ptr<RawTableSection> Assemble(const Bytes& bytes)
{
    auto section = std::make_unique<RawTableSection>();
    section->Append(bytes.data(), static_cast<int32_t>(bytes.size()));
    return section;
}

struct Header {
    bool ok;
    TableKey key;
    int32_t sectionNumber;
};

Header ReadHeader(RawTableSection& s, uint16_t pid, SiStandard standard)
{
    Header h{};
    h.sectionNumber = -7;
    h.ok = s.ParseHeader(pid, h.key, h.sectionNumber, standard);
    return h;
}

Bytes Pat(uint16_t tsid, uint8_t version, uint8_t section, uint8_t last, const std::vector<SktsTest::PatEntry>& p)
{
    return SktsTest::LongSection({0x00, tsid, version, true, section, last}, SktsTest::PatBody(p));
}

} // namespace

TEST(PsiTableKey, OrdersAsSignedFieldsAndMatchesFilters)
{
    const TableKey pat{0, 0, 1, kAny, kAny};
    const TableKey patOtherTs{0, 0, 2, kAny, kAny};
    const TableKey tdt{0x14, 0x70, kAny, kAny, kAny};
    const TableKey tdtExt{0x14, 0x70, 0, kAny, kAny};

    EXPECT_TRUE(pat < patOtherTs);
    EXPECT_FALSE(patOtherTs < pat);
    EXPECT_FALSE(pat < pat);
    EXPECT_TRUE(pat < tdt); // pid decides first
    EXPECT_TRUE(tdt < tdtExt) << "an absent field sorts before every present value";
    EXPECT_TRUE((TableKey{0, 0, 0, kAny, kAny} < TableKey{0, 0, 0, 0, kAny}));
    EXPECT_TRUE((TableKey{0, 0, 0x80000000, 0, 0} < TableKey{0, 0, 0x7FFFFFFF, 0, 0}))
        << "0x80000000 is negative as a signed value";
    EXPECT_EQ(pat, (TableKey{0, 0, 1, kAny, kAny}));
    EXPECT_NE(pat, patOtherTs);

    std::map<TableKey, int> byKey{{tdtExt, 3}, {patOtherTs, 2}, {tdt, 4}, {pat, 1}};
    std::vector<int> order;
    for (const auto& [key, value] : byKey)
        order.push_back(value);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 4, 3}));

    TableKey wildcard{1, 2, 3, 4, 5};
    FillTableKeyWildcard(wildcard);
    EXPECT_EQ(wildcard, (TableKey{kAny, kAny, kAny, kAny, kAny}));
    EXPECT_EQ(MakeWildcardKey(), wildcard);
    EXPECT_TRUE(MatchKey(wildcard, pat));
    EXPECT_TRUE(MatchKey(wildcard, tdt));
    EXPECT_TRUE(MatchKey((TableKey{kAny, 0x70, kAny, kAny, kAny}), tdt));
    EXPECT_FALSE(MatchKey((TableKey{kAny, 0x70, kAny, kAny, kAny}), pat));
    EXPECT_TRUE(MatchKey((TableKey{0, 0, 2, kAny, kAny}), patOtherTs));
    EXPECT_FALSE(MatchKey((TableKey{0, 0, 2, kAny, kAny}), pat));
    EXPECT_FALSE(MatchKey(tdtExt, tdt)) << "a present filter field needs the same value in the key";
}

TEST(PsiCrc32, KnownVectorsAndSectionCheck)
{
    const std::string check = "123456789";
    EXPECT_EQ(ComputeCrc32(reinterpret_cast<const uint8_t*>(check.data()), 9), 0x0376E6E7u);
    EXPECT_EQ(ComputeCrc32(nullptr, 0), 0xFFFFFFFFu);
    const uint8_t zeros[4] = {};
    EXPECT_EQ(ComputeCrc32(zeros, 4), 0xC704DD7Bu);
    // A PAT as carried by many streams: tsid 1, program 1 on PID 0x100.
    const Bytes pat = {0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x01, 0xE1, 0x00, 0x00, 0x00, 0x00, 0x00};
    Bytes fixed = pat;
    SktsTest::FixCrc(fixed);
    EXPECT_EQ(ComputeCrc32(pat.data(), 12), SktsTest::Crc32Mpeg2(pat.data(), 12));
    EXPECT_TRUE(CheckCrc32(fixed.data(), 16));
    EXPECT_FALSE(CheckCrc32(fixed.data(), 0));
    EXPECT_FALSE(CheckCrc32(fixed.data(), -3));
    EXPECT_FALSE(CheckCrc32(nullptr, 16));
    for (size_t bit = 0; bit < fixed.size() * 8; ++bit) {
        Bytes damaged = fixed;
        damaged[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        EXPECT_FALSE(CheckCrc32(damaged.data(), 16)) << "bit " << bit;
    }
    std::mt19937 random(7);
    for (int size = 1; size < 300; size += 7) {
        Bytes data(static_cast<size_t>(size));
        for (auto& b : data)
            b = static_cast<uint8_t>(random());
        EXPECT_EQ(ComputeCrc32(data.data(), size), SktsTest::Crc32Mpeg2(data.data(), data.size()));
    }
}

TEST(PsiSectionAssembly, SplitsAtEveryOffsetAndStopsAtTheSectionEnd)
{
    Bytes body(300);
    std::iota(body.begin(), body.end(), uint8_t{0});
    const Bytes section = SktsTest::LongSection({0x02, 5, 3, true, 0, 0}, body);
    Bytes stream = section;
    stream.insert(stream.end(), {0x02, 0xB0, 0x10, 0xAA}); // start of the next section

    for (size_t split = 0; split <= section.size(); ++split) {
        RawTableSection s;
        const int32_t first = s.Append(stream.data(), static_cast<int32_t>(split));
        EXPECT_EQ(first, static_cast<int32_t>(split));
        EXPECT_EQ(s.IsComplete(), split == section.size()) << split;
        const int32_t second = s.Append(stream.data() + split, static_cast<int32_t>(stream.size() - split));
        ASSERT_EQ(first + second, static_cast<int32_t>(section.size())) << "split " << split;
        ASSERT_TRUE(s.IsComplete());
        ASSERT_EQ(s.length, static_cast<int32_t>(section.size()));
        EXPECT_TRUE(std::equal(section.begin(), section.end(), s.data)) << split;
        EXPECT_EQ(s.receive_time, kNoTime);
    }

    for (int32_t chunk : {1, 2, 3, 183, 184}) {
        RawTableSection s;
        int32_t taken = 0;
        for (size_t pos = 0; pos < stream.size(); pos += static_cast<size_t>(chunk)) {
            const int32_t n = std::min<int32_t>(chunk, static_cast<int32_t>(stream.size() - pos));
            taken += s.Append(stream.data() + pos, n);
        }
        EXPECT_EQ(taken, static_cast<int32_t>(section.size())) << "chunk " << chunk;
        EXPECT_TRUE(s.IsComplete());
    }

    RawTableSection empty;
    EXPECT_EQ(empty.Append(stream.data(), 0), 0);
    EXPECT_FALSE(empty.IsComplete());
    EXPECT_EQ(empty.Append(stream.data(), 2), 2);
    EXPECT_FALSE(empty.IsComplete());
}

TEST(PsiSectionAssembly, SectionsBeyond4096BytesAreCutAndNeverComplete)
{
    Bytes biggest = {0x02, 0xB0 | 0x0F, 0xFD}; // section_length 4093: exactly 4096 bytes
    biggest.resize(4096 + 100, 0x5A);
    RawTableSection fits;
    EXPECT_EQ(fits.Append(biggest.data(), static_cast<int32_t>(biggest.size())), 4096);
    EXPECT_TRUE(fits.IsComplete());

    Bytes oversized = {0x02, 0xBF, 0xFF}; // section_length 4095: 4098 bytes declared
    oversized.resize(5000, 0x5A);
    RawTableSection s;
    int32_t taken = 0;
    for (size_t pos = 0; pos < oversized.size(); pos += 184)
        taken += s.Append(oversized.data() + pos, static_cast<int32_t>(std::min<size_t>(184, oversized.size() - pos)));
    EXPECT_EQ(taken, 4096);
    EXPECT_EQ(s.length, 4096);
    EXPECT_FALSE(s.IsComplete());
    EXPECT_EQ(s.Append(oversized.data(), 184), 0);
}

TEST(PsiSectionHeader, LongAndShortFormsUnderEachStandard)
{
    auto pat = Assemble(Pat(0x1234, 7, 2, 3, {{1, 0x100}}));
    Header h = ReadHeader(*pat, 0, kSiNone);
    ASSERT_TRUE(h.ok);
    EXPECT_EQ(h.key, (TableKey{0, 0x00, 0x1234, kAny, kAny}));
    EXPECT_EQ(h.sectionNumber, 2);
    EXPECT_EQ(pat->version_number, 7);
    EXPECT_EQ(pat->last_section_number, 3);
    EXPECT_TRUE(pat->current_next_indicator);
    EXPECT_FALSE(pat->segmented);

    auto next = Assemble(SktsTest::LongSection({0x02, 9, 31, false, 0, 0}, SktsTest::PmtBody(0x101, {}, {})));
    h = ReadHeader(*next, 0x100, kSiDvb);
    ASSERT_TRUE(h.ok);
    EXPECT_FALSE(next->current_next_indicator);
    EXPECT_EQ(next->version_number, 31);

    const Bytes tdtBody = {0xE1, 0x23, 0x12, 0x00, 0x00};
    for (SiStandard standard : {kSiNone, kSiAtsc, kSiDvb, kSiDvbDerived}) {
        auto tdt = Assemble(SktsTest::ShortSection(0x70, tdtBody));
        h = ReadHeader(*tdt, 0x14, standard);
        ASSERT_TRUE(h.ok);
        EXPECT_EQ(h.key, (TableKey{0x14, 0x70, kAny, kAny, kAny}));
        EXPECT_EQ(h.sectionNumber, 0);
        EXPECT_EQ(tdt->version_number, -1);
        EXPECT_EQ(tdt->last_section_number, 0);
        EXPECT_TRUE(tdt->current_next_indicator);

        // Stuffing with section_syntax_indicator set is still a short section.
        auto stuffing = Assemble(SktsTest::ShortSection(0x72, Bytes(20, 0xFF), true));
        h = ReadHeader(*stuffing, 0x14, standard);
        EXPECT_TRUE(h.ok);
        EXPECT_EQ(h.key.table_id_extension, kAny);
    }

    auto tooShort = Assemble({0x00, 0xB0, 0x05, 0x00, 0x01, 0xC1, 0x00, 0x00});
    ASSERT_TRUE(tooShort->IsComplete());
    EXPECT_FALSE(ReadHeader(*tooShort, 0, kSiNone).ok);

    // A short SDT is malformed where DVB tables are known, acceptable where they are not.
    const Bytes shortSdt = SktsTest::ShortSection(0x42, Bytes(12, 0));
    EXPECT_FALSE(ReadHeader(*Assemble(shortSdt), 0x11, kSiDvb).ok);
    EXPECT_FALSE(ReadHeader(*Assemble(shortSdt), 0x11, kSiDvbDerived).ok);
    EXPECT_TRUE(ReadHeader(*Assemble(shortSdt), 0x11, kSiNone).ok);
    EXPECT_TRUE(ReadHeader(*Assemble(shortSdt), 0x11, kSiAtsc).ok);
    for (uint8_t id : {0x40, 0x41, 0x46, 0x4A, 0x4C, 0x4E, 0x5F, 0x6F, 0xA0, 0xA6})
        EXPECT_FALSE(ReadHeader(*Assemble(SktsTest::ShortSection(id, {1, 2})), 0x30, kSiDvb).ok) << int(id);
    for (uint8_t id : {0x43, 0x4B, 0x4D, 0x70, 0x73, 0xA7})
        EXPECT_TRUE(ReadHeader(*Assemble(SktsTest::ShortSection(id, {1, 2})), 0x30, kSiDvb).ok) << int(id);
    for (uint8_t id : {0xC7, 0xCA, 0xCD, 0xD3, 0xD4}) {
        EXPECT_FALSE(ReadHeader(*Assemble(SktsTest::ShortSection(id, {1, 2})), 0x1FFB, kSiAtsc).ok) << int(id);
        EXPECT_TRUE(ReadHeader(*Assemble(SktsTest::ShortSection(id, {1, 2})), 0x1FFB, kSiDvb).ok) << int(id);
    }
    EXPECT_TRUE(ReadHeader(*Assemble(SktsTest::ShortSection(0xCE, {1, 2})), 0x1FFB, kSiAtsc).ok);
}

TEST(PsiSectionHeader, DvbAndAtscKeyExtensions)
{
    // SDT: transport_stream_id, reserved, original_network_id.
    const Bytes sdt = SktsTest::LongSection({0x42, 0x0101, 1, true, 0, 0}, {0x22, 0x33, 0xFF});
    Header h = ReadHeader(*Assemble(sdt), 0x11, kSiDvb);
    ASSERT_TRUE(h.ok);
    EXPECT_EQ(h.key, (TableKey{0x11, 0x42, 0x0101, 0x2233, kAny}));
    EXPECT_EQ(ReadHeader(*Assemble(sdt), 0x11, kSiDvbDerived).key.ext2, 0x2233u);
    EXPECT_EQ(ReadHeader(*Assemble(sdt), 0x11, kSiNone).key.ext2, kAny);
    EXPECT_EQ(ReadHeader(*Assemble(sdt), 0x12, kSiDvb).key.ext2, kAny) << "SDT only counts on PID 0x11";
    EXPECT_EQ(ReadHeader(*Assemble(sdt), 0x1C00, kSiDvb).key.ext2, 0x2233u);
    const Bytes anyOn1C00 = SktsTest::LongSection({0x90, 7, 1, true, 0, 0}, {0x44, 0x55});
    EXPECT_EQ(ReadHeader(*Assemble(anyOn1C00), 0x1C00, kSiDvb).key, (TableKey{0x1C00, 0x90, 7, 0x4455, kAny}));

    // EIT: service_id, version..., transport_stream_id, original_network_id,
    // segment_last_section_number, last_table_id, events.
    const Bytes eitBody = {0x10, 0x01, 0x20, 0x02, 0x0F, 0x50, 0xAA};
    const Bytes eitPf = SktsTest::LongSection({0x4E, 0x0300, 2, true, 1, 1}, eitBody);
    auto pf = Assemble(eitPf);
    h = ReadHeader(*pf, 0x12, kSiDvb);
    ASSERT_TRUE(h.ok);
    EXPECT_EQ(h.key, (TableKey{0x12, 0x4E, 0x0300, 0x1001, 0x2002}));
    EXPECT_FALSE(pf->segmented);
    const Bytes eitSchedule = SktsTest::LongSection({0x50, 0x0300, 2, true, 8, 15}, eitBody);
    auto schedule = Assemble(eitSchedule);
    h = ReadHeader(*schedule, 0x12, kSiDvbDerived);
    ASSERT_TRUE(h.ok);
    EXPECT_EQ(h.sectionNumber, 8);
    EXPECT_TRUE(schedule->segmented);
    EXPECT_EQ(schedule->segment_last_section_number, 0x0F);
    EXPECT_EQ(ReadHeader(*Assemble(eitSchedule), 0x12, kSiNone).key.ext2, kAny);
    const Bytes eitShort = SktsTest::LongSection({0x6F, 1, 0, true, 0, 0}, {0x10, 0x01}); // 14 bytes
    EXPECT_FALSE(ReadHeader(*Assemble(eitShort), 0x12, kSiDvb).ok);
    EXPECT_TRUE(ReadHeader(*Assemble(eitShort), 0x12, kSiNone).ok);

    // ATSC ETT: protocol_version, then ETM_id.
    const Bytes ett = SktsTest::LongSection({0xCC, 0, 4, true, 0, 0}, {0x00, 0x12, 0x34, 0x56, 0x78, 0x01});
    h = ReadHeader(*Assemble(ett), 0x1FFB, kSiAtsc);
    ASSERT_TRUE(h.ok);
    EXPECT_EQ(h.key, (TableKey{0x1FFB, 0xCC, 0, 0x12345678, kAny}));
    const Bytes ettShort = SktsTest::LongSection({0xCC, 0, 4, true, 0, 0}, {0x00}); // 13 bytes
    EXPECT_FALSE(ReadHeader(*Assemble(ettShort), 0x1FFB, kSiAtsc).ok);
    EXPECT_TRUE(ReadHeader(*Assemble(ettShort), 0x1FFB, kSiDvb).ok);
}

namespace {

// Stores a section the way the analyser does: assembled, header read, put in its slot.
void Store(SkTable& table, const Bytes& bytes, SiStandard standard = kSiNone, int64_t time = 0)
{
    auto section = Assemble(bytes);
    TableKey key;
    int32_t number = 0;
    ASSERT_TRUE(section->ParseHeader(0x12, key, number, standard));
    table.version_number = section->version_number;
    table.last_section_number = section->last_section_number;
    section->receive_time = time;
    table.sections[static_cast<size_t>(number)] = std::move(section);
}

Bytes EitSchedule(uint8_t number, uint8_t segmentLast, uint8_t last)
{
    return SktsTest::LongSection({0x50, 1, 0, true, number, last}, {0, 1, 0, 2, segmentLast, 0x50});
}

} // namespace

TEST(PsiTable, CompletenessOfPlainAndSegmentedTables)
{
    RawTable table;
    EXPECT_FALSE(table.IsComplete());
    Store(table, Pat(1, 0, 2, 2, {}));
    EXPECT_FALSE(table.IsComplete()) << "section 0 missing";
    Store(table, Pat(1, 0, 0, 2, {}));
    EXPECT_FALSE(table.IsComplete());
    Store(table, Pat(1, 0, 1, 2, {}));
    EXPECT_TRUE(table.IsComplete());
    table.last_section_number = -1;
    EXPECT_TRUE(table.IsComplete());

    RawTable eit;
    Store(eit, EitSchedule(0, 2, 15), kSiDvb);
    Store(eit, EitSchedule(1, 2, 15), kSiDvb);
    EXPECT_FALSE(eit.IsComplete());
    Store(eit, EitSchedule(2, 2, 15), kSiDvb);
    EXPECT_FALSE(eit.IsComplete()) << "segment 8 has no section yet";
    Store(eit, EitSchedule(8, 9, 15), kSiDvb);
    EXPECT_FALSE(eit.IsComplete()) << "section 9 is required by section 8";
    Store(eit, EitSchedule(9, 9, 15), kSiDvb);
    EXPECT_TRUE(eit.IsComplete()) << "sections 3-7 and 10-15 are past their segments' ends";

    // The same sections read as plain MPEG sections need every slot.
    RawTable plain;
    for (uint8_t n : {0, 1, 2, 8, 9})
        Store(plain, EitSchedule(n, 2, 15), kSiNone);
    EXPECT_FALSE(plain.IsComplete());
}

TEST(PsiTable, EqualityCopyAndClear)
{
    RawTable a;
    Store(a, Pat(1, 4, 0, 1, {{1, 0x100}}), kSiNone, 111);
    Store(a, Pat(1, 4, 1, 1, {{2, 0x200}}), kSiNone, 222);
    a.completion_time = 999;

    const SkTable copy(a);
    EXPECT_TRUE(copy == a);
    EXPECT_EQ(copy.completion_time, kNoTime);
    EXPECT_EQ(copy.version_number, 4);
    EXPECT_EQ(copy.last_section_number, 1);
    ASSERT_TRUE(copy.sections[1]);
    EXPECT_EQ(copy.sections[1]->receive_time, 222);
    EXPECT_NE(copy.sections[0]->data, a.sections[0]->data);
    EXPECT_EQ(dynamic_cast<const RawTableSection*>(copy.sections[0].get()), nullptr);

    a.sections[1]->data[9] ^= 1; // the copy owns its bytes
    EXPECT_FALSE(copy == a);
    a.sections[1]->data[9] ^= 1;
    EXPECT_TRUE(copy == a);

    SkTable otherVersion(a);
    otherVersion.version_number = 5;
    EXPECT_FALSE(otherVersion == a);
    SkTable otherLast(a);
    otherLast.last_section_number = 2;
    EXPECT_FALSE(otherLast == a);
    SkTable missing(a);
    missing.sections[1].reset();
    EXPECT_FALSE(missing == a);
    EXPECT_FALSE(a == missing);
    SkTable shorter(a);
    shorter.sections[1]->length -= 1;
    EXPECT_FALSE(shorter == a);

    a.Clear();
    EXPECT_EQ(a.version_number, -1);
    EXPECT_EQ(a.last_section_number, 1);
    for (const auto& s : a.sections)
        EXPECT_EQ(s, nullptr);
    EXPECT_FALSE(a.IsComplete());
}

// Walks of the sections stop after the highest slot held, which is looked for eight slots at a
// time: sections on either side of those runs' edges, and in the last slot, still count.
TEST(PsiTable, SectionsAtTheEdgesOfTheSlotRunsAreCopiedComparedAndCleared)
{
    const uint8_t bytes[] = {0x00, 0xB0, 0x05, 0x00, 0x01, 0xC1, 0x00, 0x00};
    SkTable empty;
    EXPECT_EQ(empty.SlotsInUse(), 0);
    for (int32_t slot : {0, 7, 8, 15, 16, 254, 255}) {
        SCOPED_TRACE(slot);
        SkTable table;
        table.sections[0] = std::make_unique<SkTableSection>(bytes, 8, 1);
        table.sections[slot] = std::make_unique<SkTableSection>(bytes, 8, 2);
        EXPECT_EQ(table.SlotsInUse(), slot + 1);
        const SkTable copy(table);
        ASSERT_TRUE(copy.sections[slot]);
        EXPECT_EQ(copy.sections[slot]->receive_time, 2);
        EXPECT_TRUE(copy == table);
        SkTable without(table);
        without.sections[slot].reset();
        EXPECT_FALSE(without == table);
        EXPECT_FALSE(table == without);
        table.Clear();
        EXPECT_EQ(table.SlotsInUse(), 0);
        EXPECT_FALSE(table.sections[slot]);
    }
}
