#pragma once
// The SI repetition rules of an SI standard: per table kind a maximum interval between
// complete tables (absence) and a minimum interval between sections (too frequent).
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Indicators.h"
#include "PidInfoImpl.h"
#include "SkTsTypes.h"
#include "TableKey.h"

namespace SklibTs {

struct RepetitionRuleKey {
    uint32_t pid = TableKey::kAny;
    uint32_t table_id = TableKey::kAny;
    uint32_t table_id_extension = TableKey::kAny;
    uint32_t ext2 = TableKey::kAny;
    uint32_t ext3 = TableKey::kAny;
    uint32_t indicator = 0;
    std::string name;
    // Range of MGT table types the PID must carry; kAny: no restriction.
    uint32_t mgtTypeLow = TableKey::kAny;
    uint32_t mgtTypeHigh = TableKey::kAny;

    bool operator<(const RepetitionRuleKey& other) const;
    TableKey Table() const { return {pid, table_id, table_id_extension, ext2, ext3}; }
};

struct RepetitionRule {
    bool absenceCheck = true;
    bool minIntervalCheck = true;
    bool armedAtStart = false;
    bool fixedChildren = false;
    bool perSectionChildren = false;
    bool perSubtableChildren = true;
    int64_t deadline = kNoTime;
    int64_t lastTime = kNoTime;
    int64_t maxInterval = 0;
    int64_t minInterval = 0;
    // Children keep the timing of one section number or one sub-table of the rule.
    std::map<int32_t, RepetitionRule> sectionChildren;
    std::map<TableKey, RepetitionRule> subtableChildren;
};

using RepetitionRuleSet = std::map<RepetitionRuleKey, RepetitionRule>;

// Empties the set and fills it with the rules of `standard`; other standards have none.
void BuildRepetitionRules(RepetitionRuleSet& rules, int32_t standard);
// Restarts the timing of a rule and its children at `now`.
void ResetRuleTiming(RepetitionRule& rule, int64_t now);

using PidInfoTable = std::array<std::unique_ptr<PidInfoImpl>, kPidCount>;

// Evaluates the rule set against the sections, tables and ticks of the analyser.
class RepetitionChecks {
public:
    RepetitionChecks(Indicators& indicators, const PidInfoTable& pids) : indicators_(indicators), pids_(pids) {}
    RepetitionChecks(const RepetitionChecks&) = delete; // the index points into the set
    RepetitionChecks& operator=(const RepetitionChecks&) = delete;

    void Build(int32_t standard);
    void ResetTiming(int64_t now);
    // A complete section: raises the rules whose minimum interval it breaks.
    void CheckSection(const TableKey& key, int32_t sectionNumber, int64_t now);
    // A complete table: raises the rules whose maximum interval it closes too late.
    void CheckTable(const TableKey& key, int64_t now);
    // Periodic: raises the rules whose table has not come within the maximum interval.
    void CheckAbsence(int64_t now);

    const RepetitionRuleSet& Rules() const { return rules_; }

private:
    using Entry = RepetitionRuleSet::value_type;

    bool Applies(const RepetitionRuleKey& rule, const TableKey& key) const;
    // The rules that may apply to the key, in the set's order: every section would otherwise
    // be matched against every rule of the standard.
    const std::vector<Entry*>& Candidates(const TableKey& key) const;

    Indicators& indicators_;
    const PidInfoTable& pids_;
    RepetitionRuleSet rules_;
    std::array<std::vector<Entry*>, 256> byTableId_; // rules for that table_id or for any
    std::vector<Entry*> all_;                        // for a key outside the table_id range
};

} // namespace SklibTs
