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
using SktsTest::Bytes;

namespace {

constexpr uint32_t kAny = TableKey::kAny;
constexpr int64_t kMs = 54'000;
constexpr int64_t kSecond = 54'000'000;

const RepetitionRule* Find(const RepetitionRuleSet& rules, const std::string& name, uint32_t tableId,
                           uint32_t indicator = 15)
{
    for (const auto& [key, rule] : rules) {
        if (key.name == name && key.table_id == tableId && key.indicator == indicator)
            return &rule;
    }
    return nullptr;
}

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

TEST(RuleSetTest, TheRuleSetsOfEachStandard)
{
    RepetitionRuleSet rules;
    BuildRepetitionRules(rules, kSiNone);
    EXPECT_TRUE(rules.empty());
    BuildRepetitionRules(rules, 99);
    EXPECT_TRUE(rules.empty());

    BuildRepetitionRules(rules, kSiAtsc);
    EXPECT_EQ(rules.size(), 12u);
    for (const auto& [key, rule] : rules) {
        EXPECT_EQ(key.indicator, 15u) << key.name;
        EXPECT_EQ(rule.minInterval, 25 * kMs) << key.name;
        EXPECT_TRUE(rule.absenceCheck && rule.minIntervalCheck && rule.perSubtableChildren) << key.name;
        EXPECT_FALSE(rule.perSectionChildren || rule.fixedChildren) << key.name;
    }
    for (uint32_t tableId : {0xC8u, 0xC9u}) {
        const RepetitionRule* vct = Find(rules, "VCT", tableId);
        ASSERT_NE(vct, nullptr);
        EXPECT_EQ(vct->maxInterval, 400 * kMs);
    }
    ASSERT_NE(Find(rules, "MGT", 0xC7), nullptr);
    EXPECT_EQ(Find(rules, "MGT", 0xC7)->maxInterval, 150 * kMs);
    EXPECT_EQ(Find(rules, "STT", 0xCD)->maxInterval, kSecond);
    EXPECT_TRUE(Find(rules, "EIT 0", 0xCB)->armedAtStart);
    EXPECT_FALSE(Find(rules, "EIT 1", 0xCB)->armedAtStart);
    for (const auto& [key, rule] : rules) {
        if (key.name == "EIT 2-4") {
            EXPECT_EQ(key.mgtTypeLow, 0x102u);
            EXPECT_EQ(key.mgtTypeHigh, 0x104u);
            EXPECT_EQ(key.pid, kAny);
        }
        if (key.name == "RRT") {
            EXPECT_EQ(key.pid, 0x1FFBu);
        }
    }

    BuildRepetitionRules(rules, kSiDvb);
    RepetitionRuleSet derived;
    BuildRepetitionRules(derived, kSiDvbDerived);
    // 21 named rules; the EIT schedule ranges give one rule per table_id.
    EXPECT_EQ(rules.size(), 49u);
    ASSERT_EQ(derived.size(), rules.size());
    for (auto a = rules.begin(), b = derived.begin(); a != rules.end(); ++a, ++b)
        EXPECT_FALSE(a->first < b->first || b->first < a->first);
    ASSERT_NE(Find(rules, "SDT Actual", 0x42, 15), nullptr);
    ASSERT_NE(Find(rules, "SDT Actual", 0x42, 18), nullptr);
    for (uint32_t tableId = 0x52; tableId <= 0x5F; ++tableId)
        EXPECT_NE(Find(rules, "EITs Actual Day8-63", tableId), nullptr) << tableId;
    const RepetitionRule* eitActual = Find(rules, "EIT Actual", 0x4E, 20);
    ASSERT_NE(eitActual, nullptr);
    EXPECT_TRUE(eitActual->fixedChildren && eitActual->armedAtStart);
    EXPECT_EQ(eitActual->sectionChildren.size(), 2u);
    const RepetitionRule* eitOther = Find(rules, "EIT Other", 0x4F, 21);
    ASSERT_NE(eitOther, nullptr);
    EXPECT_FALSE(eitOther->absenceCheck || eitOther->minIntervalCheck);
    EXPECT_TRUE(eitOther->sectionChildren.at(1).minIntervalCheck);
    EXPECT_FALSE(eitOther->sectionChildren.at(1).absenceCheck);
    EXPECT_FALSE(Find(rules, "RST", 0x71, 23)->minIntervalCheck);
    EXPECT_EQ(Find(rules, "TDT", 0x70, 23)->maxInterval, 30 * kSecond);
    EXPECT_FALSE(Find(rules, "TDT", 0x70, 23)->armedAtStart);
    EXPECT_TRUE(Find(rules, "TDT", 0x70, 15)->armedAtStart);

    // Reset arms only the rules armed at start, keeps fixed children (reset themselves) and
    // forgets the children a rule made on its own.
    RepetitionRule sdt = *Find(rules, "SDT Actual", 0x42, 18);
    sdt.subtableChildren[TableKey{0x11, 0x42, kAny, kAny, kAny}] = sdt;
    ResetRuleTiming(sdt, 7 * kSecond);
    EXPECT_TRUE(sdt.subtableChildren.empty());
    EXPECT_EQ(sdt.lastTime, 7 * kSecond);
    EXPECT_EQ(sdt.deadline, 9 * kSecond);
    RepetitionRule actual = *eitActual;
    ResetRuleTiming(actual, kSecond);
    ASSERT_EQ(actual.sectionChildren.size(), 2u);
    EXPECT_EQ(actual.sectionChildren.at(0).deadline, 3 * kSecond);
    RepetitionRule bat = *Find(rules, "BAT", 0x4A);
    ResetRuleTiming(bat, kSecond);
    EXPECT_EQ(bat.deadline, kNoTime);
    EXPECT_EQ(bat.lastTime, kNoTime);
}

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
    std::set<uint32_t> indicators;
    for (const auto& [index, record] : absent) {
        indicators.insert(index);
        EXPECT_EQ(record.message, L"SDT Actual: Sections with table_id 0x42 on PID 17 do not occur at least every 2000ms");
        EXPECT_EQ(record.location, (IndicatorLocation{0x11, 0x42, kAny, kAny, kAny}));
        EXPECT_NEAR(record.value, static_cast<double>(record.time - lastSdt) / kSecond, 1e-9);
        EXPECT_GT(record.value, 2.0);
        EXPECT_LE(record.value, 2.1);
    }
    EXPECT_EQ(indicators, (std::set<uint32_t>{15, 18}));

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
        EXPECT_EQ(index, 2u) << "only the missing PAT";
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
