// The analyser's tables stay within a fixed budget whatever the stream sends.
#include <gtest/gtest.h>

#include <memory>

#include "HostileStreams.h"
#include "SkTsPacketInput.h"
#include "TableBudget.h"
#include "TsInfoImpl.h"

using namespace SklibTs;

namespace {

TableKey Key(uint32_t pid, uint32_t extension) { return {pid, 0x4E, extension, 1, 1}; }

} // namespace

// Over its share a PID gives up its oldest key; over the whole budget the PID holding the
// most does; the key being stored is never the one dropped.
TEST(TableBudget, OldestKeysGoFirstFromThePidThatHoldsTheMost)
{
    TableBudget budget;
    for (uint32_t i = 0; i <= TableBudget::kMaxTablesPerPid; ++i)
        budget.Touch(Key(0x12, i), 100);
    EXPECT_EQ(budget.Victim(Key(0x12, 5)), Key(0x12, 0));
    budget.Touch(Key(0x12, 0), 100); // seen again: now the newest
    EXPECT_EQ(budget.Victim(Key(0x12, 0)), Key(0x12, 1));
    budget.Forget(Key(0x12, 1));
    EXPECT_EQ(budget.Victim(Key(0x12, 0)), std::nullopt);
    EXPECT_EQ(budget.TablesOn(0x12), TableBudget::kMaxTablesPerPid);

    // Bytes: a few large tables on another PID push the total over; the heavier PID pays.
    budget.Touch(Key(0x20, 1), 8u << 20);
    budget.Touch(Key(0x20, 2), 8u << 20);
    EXPECT_EQ(budget.Victim(Key(0x12, 7)), std::nullopt);
    budget.Touch(Key(0x20, 3), 8u << 20);
    EXPECT_GT(budget.Bytes(), TableBudget::kMaxBytes);
    EXPECT_EQ(budget.Victim(Key(0x12, 7)), Key(0x20, 1));
    EXPECT_EQ(budget.Victim(Key(0x20, 1)), Key(0x20, 2)) << "never the key being stored";
    budget.Resize(Key(0x20, 3), 0);
    EXPECT_EQ(budget.Victim(Key(0x12, 7)), std::nullopt);
    budget.Clear();
    EXPECT_EQ(budget.Tables(), 0u);
    EXPECT_EQ(budget.Bytes(), 0u);
}

// A flood of EIT sections, each opening a new table key: the analyser keeps at most its share
// of them, counts what it dropped, and the PAT and the programs on other PIDs stay.
TEST(TableBudget, AFloodOfTableKeysIsBoundedAndCounted)
{
    const std::unique_ptr<SkTsInfo> analyser(CreateTsInfo());
    analyser->SetSiStandard(kSiDvb);
    const std::unique_ptr<SkTsPacketInput> input(CreateTsPacketInput(analyser.get(), 10'000'000));
    constexpr size_t kSections = 6000;
    const auto stream = SktsTest::TableFloodStream(kSections);
    input->Write(stream.data(), static_cast<uint32_t>(stream.size()));

    SkTsInfoLock lock(*analyser);
    size_t onFloodPid = 0;
    bool patStored = false;
    for (const auto& [key, table] : analyser->tables) {
        onFloodPid += key.pid == 0x12 ? 1 : 0;
        patStored = patStored || (key.pid == 0 && key.table_id == 0);
    }
    EXPECT_EQ(onFloodPid, TableBudget::kMaxTablesPerPid);
    EXPECT_TRUE(patStored);
    EXPECT_EQ(analyser->programs.size(), 1u);
    EXPECT_EQ(analyser->tablesDropped, kSections - TableBudget::kMaxTablesPerPid);
    // The newest keys are the ones kept.
    EXPECT_EQ(analyser->tables.count({0x12, 0x4E, kSections - 1, 1, 0}), 1u);
    EXPECT_EQ(analyser->tables.count({0x12, 0x4E, 0, 1, 0}), 0u);
}
