// The SI repetition rule sets and their evaluation: maximum intervals (absence) per table and
// tick, minimum intervals per section, MGT table types for the ATSC EIT rules.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "RepetitionRules.h"
#include "SectionBuilder.h"
#include "TsInfoImpl.h"

using namespace SklibTs;
using enum SklibTs::ConformanceIndicator;
using SktsTest::Bytes;

namespace {

constexpr uint32_t kAny = TableKey::kAny;
constexpr int64_t kMs = 54'000;
constexpr int64_t kSecond = 54'000'000;

struct Reports {
    std::vector<std::pair<uint32_t, IndicatorRecord>> all;
    static void On(void* context, uint32_t index, const IndicatorRecord& record)
    {
        static_cast<Reports*>(context)->all.emplace_back(index, record);
    }
    // Reports whose message starts with `prefix`.
    std::vector<std::pair<uint32_t, IndicatorRecord>> Starting(const std::wstring& prefix) const
    {
        std::vector<std::pair<uint32_t, IndicatorRecord>> selected;
        for (const auto& r : all) {
            if (r.second.message.rfind(prefix, 0) == 0)
                selected.push_back(r);
        }
        return selected;
    }
};

} // namespace

TEST(RuleSetTest, AtscEitRulesApplyByTheMgtTableTypeOfThePid)
{
    Indicators indicators;
    PidInfoTable pids;
    pids[0x1D00] = std::make_unique<PidInfoImpl>(0x1D00, 10, 10);
    RepetitionChecks checks(indicators, pids);
    checks.Build(kSiAtsc);
    checks.ResetTiming(0);
    Reports reports;
    indicators.AddReportCallback(0xFFFFFFFF, &Reports::On, &reports);
    const TableKey eit{0x1D00, 0xCB, 1, kAny, kAny};

    checks.CheckSection(eit, 0, kSecond);
    checks.CheckSection(eit, 0, kSecond + 10 * kMs);
    EXPECT_TRUE(reports.all.empty()) << "no MGT type: no EIT rule applies";

    // The rule's first section makes the sub-table's child as a copy of the rule, which was
    // not armed: only from the second section on does the child have a time to compare.
    pids[0x1D00]->mgtTableTypes = {0x101};
    checks.CheckSection(eit, 0, 2 * kSecond);
    checks.CheckSection(eit, 0, 2 * kSecond + 10 * kMs);
    EXPECT_TRUE(reports.all.empty());
    checks.CheckSection(eit, 0, 2 * kSecond + 20 * kMs);
    ASSERT_EQ(reports.all.size(), 1u);
    EXPECT_EQ(reports.all[0].second.message, L"EIT 1: Sections with table_id 0xcb do occur more then 25ms");
    EXPECT_EQ(reports.all[0].second.location, (IndicatorLocation{0x1D00, 0xCB, 1, kAny, kAny}));

    // 25 ms later is no longer too frequent.
    checks.CheckSection(eit, 0, 2 * kSecond + 45 * kMs);
    EXPECT_EQ(reports.all.size(), 1u);
}

namespace {

// An analyser under a rule set, fed with hand-made sections at exact times; null packets
// every 10 ms keep the ticks on a 10 ms grid from time 0.
class RuleTiming : public ::testing::Test {
protected:
    void SetUp() override { analyser.AddIndicatorReportCallback(0xFFFFFFFF, &Reports::On, &reports); }
    void Send(uint16_t pid, const Bytes& section)
    {
        const Bytes packets = SktsTest::SectionPackets(section, pid, cc_[pid]);
        for (size_t i = 0; i < packets.size(); i += 188)
            analyser.ProcessPacket(packets.data() + i, 188, &time);
    }
    void IdleUntil(int64_t until)
    {
        Bytes null(188, 0xFF);
        null[0] = 0x47;
        null[1] = 0x1F;
        null[3] = 0x10;
        while (time < until) {
            time = (time / (10 * kMs) + 1) * 10 * kMs;
            if (time <= until)
                analyser.ProcessPacket(null.data(), 188, &time);
        }
        time = until;
    }
    static Bytes Sdt(uint8_t version = 0)
    {
        return SktsTest::LongSection({0x42, 0x0001, version}, {0x00, 0x01, 0xFF});
    }

    TsInfoImpl analyser;
    Reports reports;
    int64_t time = 0;

private:
    uint8_t cc_[8192] = {};
};

} // namespace

TEST_F(RuleTiming, SdtActualAbsenceAndTooFrequentSections)
{
    analyser.SetSiStandard(kSiDvb);
    IdleUntil(0);
    for (int k = 0; k < 8; ++k) {
        IdleUntil(static_cast<int64_t>(k) * 500 * kMs + 5 * kMs);
        Send(0x11, Sdt());
    }
    EXPECT_TRUE(reports.Starting(L"SDT").empty()) << "every 500 ms is within both limits";

    // Three seconds without: one report per SDT indicator from the periodic pass.
    const int64_t lastSdt = time;
    IdleUntil(lastSdt + 3 * kSecond);
    const auto absent = reports.Starting(L"SDT Actual");
    ASSERT_EQ(absent.size(), 2u);
    std::set<ConformanceIndicator> indicators;
    for (const auto& [index, record] : absent) {
        indicators.insert(static_cast<ConformanceIndicator>(index));
        EXPECT_EQ(record.message, L"SDT Actual: Sections with table_id 0x42 on PID 17 do not occur at least every 2000ms");
        EXPECT_EQ(record.location, (IndicatorLocation{0x11, 0x42, kAny, kAny, kAny}));
        EXPECT_NEAR(record.value, static_cast<double>(record.time - lastSdt) / kSecond, 1e-9);
        EXPECT_GT(record.value, 2.0);
        EXPECT_LE(record.value, 2.1);
    }
    EXPECT_EQ(indicators, (std::set<ConformanceIndicator>{SiRepetitionError, SdtActualError}));

    // Two sections 10 ms apart: too frequent for both rules.
    reports.all.clear();
    Send(0x11, Sdt());
    IdleUntil(time + 10 * kMs);
    Send(0x11, Sdt());
    const auto frequent = reports.Starting(L"SDT Actual");
    ASSERT_EQ(frequent.size(), 2u);
    for (const auto& [index, record] : frequent) {
        EXPECT_EQ(record.message, L"SDT Actual: Sections with table_id 0x42 do occur more then 25ms");
        EXPECT_EQ(record.location.pid, 0x11u);
        EXPECT_EQ(record.location.table_id, 0x42u);
        EXPECT_EQ(record.location.table_id_extension, 1u);
        EXPECT_EQ(record.value, 0.0);
    }

    // A table that completes after its deadline but before the next periodic pass is
    // reported by the table check, in its own wording.
    reports.all.clear();
    const int64_t sent = time;
    IdleUntil(sent + 2 * kSecond + 45 * kMs); // deadline sent + 2 s lies between two passes
    Send(0x11, Sdt(1));
    const auto late = reports.Starting(L"SDT Actual");
    ASSERT_EQ(late.size(), 2u);
    for (const auto& [index, record] : late) {
        EXPECT_EQ(record.message, L"SDT Actual: Sections with table_id 0x42  on PID 17 do not occur at least every 2000ms");
        EXPECT_EQ(record.location.table_id_extension, 1u) << "the table's own key";
        EXPECT_NEAR(record.value, static_cast<double>(record.time - sent) / kSecond, 1e-9);
    }
}

// The absence reports of an idle stream name the rules armed at start, each after its own
// maximum interval; the others wait for their table's first section.
TEST_F(RuleTiming, AnIdleStreamReportsTheTablesOfTheRulesArmedAtStart)
{
    using Absence = std::set<std::pair<ConformanceIndicator, std::wstring>>;
    // The absence reports until `until`; the periodic pass runs every 100 ms.
    const auto absent = [this](int64_t until) {
        IdleUntil(until);
        Absence seen;
        for (const auto& [index, record] : reports.all) {
            if (record.message.find(L"do not occur") != std::wstring::npos)
                seen.emplace(static_cast<ConformanceIndicator>(index), record.message);
        }
        return seen;
    };
    const auto rule = [](const wchar_t* name, const wchar_t* tableId, int pid, int ms) {
        return std::make_pair(SiRepetitionError, std::wstring(name) + L": Sections with table_id " + tableId +
                                                     L" on PID " + std::to_wstring(pid) +
                                                     L" do not occur at least every " + std::to_wstring(ms) + L"ms");
    };
    const auto as = [](ConformanceIndicator indicator, std::pair<ConformanceIndicator, std::wstring> report) {
        report.first = indicator;
        return report;
    };
    const std::pair<ConformanceIndicator, std::wstring> noPat{
        PatError, L"Sections with table_id 0x00 do not occur at least every 0,5s on PID 0x0000"};

    analyser.SetSiStandard(kSiDvb);
    int64_t start = time;
    EXPECT_EQ(absent(start + 2 * kSecond + 200 * kMs),
              (Absence{noPat, rule(L"PAT", L"0x0", 0, 500), rule(L"PMT", L"0x2", -1, 500),
                       rule(L"SDT Actual", L"0x42", 17, 2000), rule(L"EIT P/F Actual", L"0x4e", 18, 2000),
                       as(SdtActualError, rule(L"SDT Actual", L"0x42", 17, 2000)),
                       as(EitActualError, rule(L"EIT Actual", L"0x4e", 18, 2000))}));
    const Absence later = absent(start + 30 * kSecond + 200 * kMs);
    EXPECT_TRUE(later.count(rule(L"TDT", L"0x70", 20, 30000)));
    EXPECT_TRUE(later.count({NitActualError, L"Section with table_id 0x40 do not occur at least every 10s on PID 0x0010"}));
    EXPECT_EQ(later.size(), 9u) << "BAT, NIT, other SDT and EIT, TOT and the RST/TDT rule wait for a section";

    // A rule not armed at start runs from its table's first section on.
    reports.all.clear();
    Send(0x11, SktsTest::LongSection({0x4A, 0x0001}, {0xF0, 0x00, 0xF0, 0x00}));
    const int64_t bat = time;
    EXPECT_FALSE(absent(bat + 9 * kSecond).count(rule(L"BAT", L"0x4a", 17, 10000)));
    EXPECT_TRUE(absent(bat + 10 * kSecond + 200 * kMs).count(rule(L"BAT", L"0x4a", 17, 10000)));

    reports.all.clear();
    analyser.SetSiStandard(kSiAtsc);
    start = time;
    EXPECT_EQ(absent(start + kSecond + 200 * kMs),
              (Absence{noPat, rule(L"PAT", L"0x0", 0, 500), rule(L"PMT", L"0x2", -1, 500),
                       rule(L"MGT", L"0xc7", 0x1FFB, 150), rule(L"VCT", L"0xc8", 0x1FFB, 400),
                       rule(L"VCT", L"0xc9", 0x1FFB, 400), rule(L"EIT 0", L"0xcb", -1, 500),
                       rule(L"STT", L"0xcd", 0x1FFB, 1000)}));
}

// A reset forgets the sub-tables the rules have seen: a section right after it is no repeat.
TEST_F(RuleTiming, AResetForgetsTheSubTablesSeen)
{
    analyser.SetSiStandard(kSiDvb);
    IdleUntil(0);
    Send(0x11, Sdt());
    IdleUntil(10 * kMs);
    analyser.Reset();
    Send(0x11, Sdt());
    IdleUntil(20 * kMs);
    Send(0x11, Sdt());
    const auto frequent = reports.Starting(L"SDT Actual: Sections with table_id 0x42 do occur more then 25ms");
    EXPECT_EQ(frequent.size(), 2u) << "only the third section, once per SDT rule";
}

TEST_F(RuleTiming, WithoutSiRulesOnlyTheFixedChecksRun)
{
    // Standard 0: the SDT may come as often or as rarely as it likes.
    IdleUntil(0);
    Send(0x11, Sdt());
    IdleUntil(10 * kMs);
    Send(0x11, Sdt());
    IdleUntil(5 * kSecond);
    EXPECT_TRUE(reports.Starting(L"SDT").empty());
    for (const auto& [index, record] : reports.all)
        EXPECT_EQ(index, IndicatorIndex(PatError)) << "only the missing PAT";
}

TEST_F(RuleTiming, TheMgtAssignsTableTypesThatTheAtscEitRulesMatch)
{
    analyser.SetSiStandard(kSiAtsc);
    IdleUntil(0);
    const Bytes mgt = SktsTest::LongSection(
        {0xC7, 0x0000}, {0x00, 0x00, 0x01, 0x01, 0x00, 0xFD, 0x00, 0xE0, 0x00, 0x00, 0x01, 0x00, 0xF0, 0x00, 0xF0, 0x00});
    for (int k = 0; k < 3; ++k) {
        IdleUntil(time + 100 * kMs);
        Send(0x1FFB, mgt);
    }
    ASSERT_NE(analyser.pidInfo[0x1D00], nullptr);
    EXPECT_EQ(analyser.pidInfo[0x1D00]->mgtTableTypes, (std::vector<uint32_t>{0x100})) << "each type once";

    reports.all.clear();
    const Bytes eit = SktsTest::LongSection({0xCB, 0x0001}, {0x00, 0x00});
    for (int k = 0; k < 3; ++k) {
        IdleUntil(time + 10 * kMs);
        Send(0x1D00, eit);
    }
    const auto frequent = reports.Starting(L"EIT 0: Sections with table_id 0xcb do occur more then 25ms");
    ASSERT_FALSE(frequent.empty());
    EXPECT_EQ(frequent[0].second.location.pid, 0x1D00u);
    EXPECT_TRUE(reports.Starting(L"EIT 1").empty());
}
