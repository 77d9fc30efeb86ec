#include "RepetitionRules.h"

#include <algorithm>
#include <tuple>
#include <vector>

namespace SklibTs {

namespace {

constexpr uint32_t kAny = TableKey::kAny;
constexpr int64_t kMs = kTicksPerMillisecond;
constexpr int64_t kMinimumInterval = 25 * kMs;

struct RuleRow {
    const char* name;
    ConformanceIndicator indicator;
    uint32_t pid;
    uint32_t firstTableId;
    uint32_t lastTableId;
    int64_t maxInterval;
    bool armedAtStart;
    uint32_t mgtTypeLow = kAny;
    uint32_t mgtTypeHigh = kAny;
};

RepetitionRule MakeRule(int64_t maxInterval, bool armedAtStart)
{
    RepetitionRule rule;
    rule.armedAtStart = armedAtStart;
    rule.maxInterval = maxInterval;
    rule.minInterval = kMinimumInterval;
    return rule;
}

// One rule per table_id of the row's range, each with its own timing.
void AddRules(RepetitionRuleSet& rules, const RuleRow& row, const RepetitionRule& prototype)
{
    for (uint32_t tableId = row.firstTableId; tableId <= row.lastTableId; ++tableId) {
        RepetitionRuleKey key;
        key.pid = row.pid;
        key.table_id = tableId;
        key.indicator = static_cast<uint32_t>(row.indicator);
        key.name = row.name;
        key.mgtTypeLow = row.mgtTypeLow;
        key.mgtTypeHigh = row.mgtTypeHigh;
        rules[key] = prototype;
    }
}

void AddRules(RepetitionRuleSet& rules, const RuleRow& row)
{
    AddRules(rules, row, MakeRule(row.maxInterval, row.armedAtStart));
}

void BuildAtscRules(RepetitionRuleSet& rules)
{
    constexpr auto kSi = ConformanceIndicator::SiRepetitionError;
    constexpr uint32_t kBasePid = 0x1FFB;
    const RuleRow rows[] = {
        {"PAT", kSi, 0x0000, 0x00, 0x00, 500 * kMs, true},
        {"PMT", kSi, kAny, 0x02, 0x02, 500 * kMs, true},
        {"MGT", kSi, kBasePid, 0xC7, 0xC7, 150 * kMs, true},
        // Terrestrial and cable VCTs travel on the base PID like the other base tables.
        {"VCT", kSi, kBasePid, 0xC8, 0xC9, 400 * kMs, true},
        {"EIT 0", kSi, kAny, 0xCB, 0xCB, 500 * kMs, true, 0x100, 0x100},
        {"EIT 1", kSi, kAny, 0xCB, 0xCB, 3000 * kMs, false, 0x101, 0x101},
        {"EIT 2-4", kSi, kAny, 0xCB, 0xCB, 60000 * kMs, false, 0x102, 0x104},
        {"EIT 5-127", kSi, kAny, 0xCB, 0xCB, 60000 * kMs, false, 0x105, 0x17F},
        {"ETT", kSi, kAny, 0xCC, 0xCC, 60000 * kMs, false, 0x105, 0x17F},
        {"RRT", kSi, kBasePid, 0xCA, 0xCA, 60000 * kMs, true},
        {"STT", kSi, kBasePid, 0xCD, 0xCD, 1000 * kMs, true},
    };
    for (const RuleRow& row : rows)
        AddRules(rules, row);
}

void BuildDvbRules(RepetitionRuleSet& rules)
{
    constexpr auto kSi = ConformanceIndicator::SiRepetitionError;
    const RuleRow rows[] = {
        {"PAT", kSi, 0x0000, 0x00, 0x00, 500 * kMs, true},
        {"PMT", kSi, kAny, 0x02, 0x02, 500 * kMs, true},
        {"NIT Actual", kSi, 0x0010, 0x40, 0x40, 10000 * kMs, false},
        {"NIT Other", kSi, 0x0010, 0x41, 0x41, 10000 * kMs, false},
        {"BAT", kSi, 0x0011, 0x4A, 0x4A, 10000 * kMs, false},
        {"SDT Actual", kSi, 0x0011, 0x42, 0x42, 2000 * kMs, true},
        {"SDT Other", kSi, 0x0011, 0x46, 0x46, 10000 * kMs, false},
        {"EIT P/F Actual", kSi, 0x0012, 0x4E, 0x4E, 2000 * kMs, true},
        {"EIT P/F Other", kSi, 0x0012, 0x4F, 0x4F, 10000 * kMs, false},
        {"EITs Actual Day0-7", kSi, 0x0012, 0x50, 0x51, 10000 * kMs, false},
        {"EITs Other Day0-7", kSi, 0x0012, 0x60, 0x61, 30000 * kMs, false},
        {"EITs Actual Day8-63", kSi, 0x0012, 0x52, 0x5F, 10000 * kMs, false},
        {"EITs Other Day8-63", kSi, 0x0012, 0x62, 0x6F, 30000 * kMs, false},
        {"TDT", kSi, 0x0014, 0x70, 0x70, 30000 * kMs, true},
        {"TOT", kSi, 0x0014, 0x73, 0x73, 30000 * kMs, false},
        {"SDT Actual", ConformanceIndicator::SdtActualError, 0x0011, 0x42, 0x42, 2000 * kMs, true},
        {"SDT Other", ConformanceIndicator::SdtOtherError, 0x0011, 0x46, 0x46, 10000 * kMs, false},
        {"TDT", ConformanceIndicator::RstTdtError, 0x0014, 0x70, 0x70, 30000 * kMs, false},
    };
    for (const RuleRow& row : rows)
        AddRules(rules, row);

    // EIT present/following: sections 0 and 1 each keep their own timing. The parents have
    // no per-section evaluation, so these children only carry the settings for one; keeping
    // them unevaluated keeps the reports of the two EIT indicators to the table level.
    RepetitionRule eitActual = MakeRule(2000 * kMs, true);
    eitActual.fixedChildren = true;
    for (int32_t section : {0, 1})
        eitActual.sectionChildren[section] = MakeRule(2000 * kMs, true);
    AddRules(rules, {"EIT Actual", ConformanceIndicator::EitActualError, 0x0012, 0x4E, 0x4E, 0, true}, eitActual);

    RepetitionRule eitOther = MakeRule(10000 * kMs, false);
    eitOther.absenceCheck = false;
    eitOther.minIntervalCheck = false;
    eitOther.fixedChildren = true;
    for (int32_t section : {0, 1}) {
        RepetitionRule child = MakeRule(10000 * kMs, false);
        child.absenceCheck = false;
        eitOther.sectionChildren[section] = child;
    }
    AddRules(rules, {"EIT Other", ConformanceIndicator::EitOtherError, 0x0012, 0x4F, 0x4F, 0, false}, eitOther);

    RepetitionRule rst = MakeRule(10000 * kMs, false);
    rst.minIntervalCheck = false;
    AddRules(rules, {"RST", ConformanceIndicator::RstTdtError, 0x0013, 0x71, 0x71, 0, false}, rst);
}

// A new child copies the rule's settings and timing; children are kept one level deep.
RepetitionRule ChildOf(const RepetitionRule& rule)
{
    RepetitionRule child;
    child.absenceCheck = rule.absenceCheck;
    child.minIntervalCheck = rule.minIntervalCheck;
    child.armedAtStart = rule.armedAtStart;
    child.fixedChildren = rule.fixedChildren;
    child.perSectionChildren = rule.perSectionChildren;
    child.perSubtableChildren = rule.perSubtableChildren;
    child.deadline = rule.deadline;
    child.lastTime = rule.lastTime;
    child.maxInterval = rule.maxInterval;
    child.minInterval = rule.minInterval;
    return child;
}

bool TooFrequent(const RepetitionRule& child, int64_t now)
{
    return child.minIntervalCheck && child.lastTime != kNoTime && child.lastTime + child.minInterval > now;
}

// Children kept per rule: a stream that opens a new sub-table with every section must not
// grow them without end.
constexpr size_t kMaxChildren = 4096;

// Drops the half of the children that went longest without a section: they are the ones
// whose minimum interval can no longer be broken.
template <typename Key>
void TrimChildren(std::map<Key, RepetitionRule>& children)
{
    std::vector<int64_t> times;
    times.reserve(children.size());
    for (const auto& [key, child] : children)
        times.push_back(child.lastTime);
    const auto middle = times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2);
    std::nth_element(times.begin(), middle, times.end());
    const int64_t cut = *middle;
    size_t toDrop = children.size() / 2;
    for (auto it = children.begin(); it != children.end() && toDrop > 0;) {
        if (it->second.lastTime <= cut) {
            it = children.erase(it);
            --toDrop;
        } else {
            ++it;
        }
    }
}

// Updates the child for `childKey` or creates it when the rule's children are not fixed.
template <typename Key>
void TouchChild(std::map<Key, RepetitionRule>& children, const Key& childKey, const RepetitionRule& rule,
                int64_t now)
{
    const auto found = children.find(childKey);
    if (found != children.end()) {
        found->second.lastTime = now;
        found->second.deadline = now + rule.maxInterval;
    } else if (!rule.fixedChildren) {
        if (children.size() >= kMaxChildren)
            TrimChildren(children);
        children.emplace(childKey, ChildOf(rule));
    }
}

IndicatorLocation LocationOf(const TableKey& key)
{
    return {key.pid, key.table_id, key.table_id_extension, key.ext2, key.ext3};
}

int MilliSeconds(int64_t ticks) { return static_cast<int>(ticks / kMs); }

double Seconds(int64_t ticks) { return static_cast<double>(ticks) / static_cast<double>(kTicksPerSecond); }

} // namespace

bool RepetitionRuleKey::operator<(const RepetitionRuleKey& other) const
{
    const TableKey mine = Table();
    const TableKey theirs = other.Table();
    if (mine < theirs)
        return true;
    if (theirs < mine)
        return false;
    return std::tie(indicator, name, mgtTypeLow, mgtTypeHigh) <
           std::tie(other.indicator, other.name, other.mgtTypeLow, other.mgtTypeHigh);
}

void BuildRepetitionRules(RepetitionRuleSet& rules, int32_t standard)
{
    rules.clear();
    if (standard == kSiAtsc)
        BuildAtscRules(rules);
    else if (standard == kSiDvb || standard == kSiDvbDerived)
        BuildDvbRules(rules);
}

void ResetRuleTiming(RepetitionRule& rule, int64_t now)
{
    if (rule.fixedChildren) {
        for (auto& [section, child] : rule.sectionChildren)
            ResetRuleTiming(child, now);
        for (auto& [key, child] : rule.subtableChildren)
            ResetRuleTiming(child, now);
    } else {
        rule.sectionChildren.clear();
        rule.subtableChildren.clear();
    }
    if (rule.armedAtStart) {
        rule.lastTime = now;
        rule.deadline = now + rule.maxInterval;
    } else {
        rule.lastTime = kNoTime;
        rule.deadline = kNoTime;
    }
}

void RepetitionChecks::Build(int32_t standard)
{
    BuildRepetitionRules(rules_, standard);
    all_.clear();
    for (auto& candidates : byTableId_)
        candidates.clear();
    for (Entry& entry : rules_) {
        all_.push_back(&entry);
        const uint32_t tableId = entry.first.table_id;
        if (tableId < byTableId_.size()) {
            byTableId_[tableId].push_back(&entry);
        } else {
            for (auto& candidates : byTableId_)
                candidates.push_back(&entry);
        }
    }
}

const std::vector<RepetitionChecks::Entry*>& RepetitionChecks::Candidates(const TableKey& key) const
{
    return key.table_id < byTableId_.size() ? byTableId_[key.table_id] : all_;
}

void RepetitionChecks::ResetTiming(int64_t now)
{
    for (auto& [key, rule] : rules_)
        ResetRuleTiming(rule, now);
}

bool RepetitionChecks::Applies(const RepetitionRuleKey& rule, const TableKey& key) const
{
    if (!MatchKey(rule.Table(), key))
        return false;
    if (rule.mgtTypeLow == kAny)
        return true;
    const PidInfoImpl* info = key.pid < kPidCount ? pids_[key.pid].get() : nullptr;
    if (info == nullptr)
        return false;
    return std::any_of(info->mgtTableTypes.begin(), info->mgtTableTypes.end(),
                       [&](uint32_t type) { return type >= rule.mgtTypeLow && type <= rule.mgtTypeHigh; });
}

void RepetitionChecks::CheckSection(const TableKey& key, int32_t sectionNumber, int64_t now)
{
    for (Entry* entry : Candidates(key)) {
        auto& [ruleKey, rule] = *entry;
        if (!Applies(ruleKey, key))
            continue;
        bool tooFrequent = false;
        // Fields the rule leaves open are left open in the sub-table key as well.
        TableKey subtable = key;
        const TableKey pattern = ruleKey.Table();
        if (pattern.pid == kAny) subtable.pid = kAny;
        if (pattern.table_id == kAny) subtable.table_id = kAny;
        if (pattern.table_id_extension == kAny) subtable.table_id_extension = kAny;
        if (pattern.ext2 == kAny) subtable.ext2 = kAny;
        if (pattern.ext3 == kAny) subtable.ext3 = kAny;
        if (rule.perSectionChildren) {
            const auto child = rule.sectionChildren.find(sectionNumber);
            if (child != rule.sectionChildren.end() && TooFrequent(child->second, now))
                tooFrequent = true;
        }
        if (rule.perSubtableChildren) {
            const auto child = rule.subtableChildren.find(subtable);
            if (child != rule.subtableChildren.end() && TooFrequent(child->second, now))
                tooFrequent = true;
        }
        if (rule.perSectionChildren)
            TouchChild(rule.sectionChildren, sectionNumber, rule, now);
        if (rule.perSubtableChildren)
            TouchChild(rule.subtableChildren, subtable, rule, now);
        if (tooFrequent) {
            indicators_.Report(static_cast<ConformanceIndicator>(ruleKey.indicator),
                               FormatIndicatorMessage("%s: Sections with table_id 0x%x do occur more then %ims",
                                                      ruleKey.name.c_str(), key.table_id,
                                                      MilliSeconds(rule.minInterval)),
                               0.0, LocationOf(key), now);
        }
    }
}

void RepetitionChecks::CheckTable(const TableKey& key, int64_t now)
{
    for (Entry* entry : Candidates(key)) {
        auto& [ruleKey, rule] = *entry;
        if (!Applies(ruleKey, key))
            continue;
        if (rule.absenceCheck && rule.deadline != kNoTime && rule.deadline < now) {
            indicators_.Report(
                static_cast<ConformanceIndicator>(ruleKey.indicator),
                FormatIndicatorMessage("%s: Sections with table_id 0x%x  on PID %i do not occur at least every %ims",
                                       ruleKey.name.c_str(), key.table_id, static_cast<int>(key.pid),
                                       MilliSeconds(rule.maxInterval)),
                rule.lastTime == kNoTime ? -1.0 : Seconds(now - rule.lastTime), LocationOf(key), now);
        }
        rule.lastTime = now;
        rule.deadline = now + rule.maxInterval;
    }
}

void RepetitionChecks::CheckAbsence(int64_t now)
{
    for (auto& [ruleKey, rule] : rules_) {
        if (!rule.absenceCheck || rule.deadline == kNoTime || rule.deadline >= now)
            continue;
        rule.deadline = now + rule.maxInterval;
        const TableKey pattern = ruleKey.Table();
        indicators_.Report(
            static_cast<ConformanceIndicator>(ruleKey.indicator),
            FormatIndicatorMessage("%s: Sections with table_id 0x%x on PID %i do not occur at least every %ims",
                                   ruleKey.name.c_str(), pattern.table_id, static_cast<int>(pattern.pid),
                                   MilliSeconds(rule.maxInterval)),
            rule.lastTime == kNoTime ? -1.0 : Seconds(now - rule.lastTime), LocationOf(pattern), now);
    }
}

} // namespace SklibTs
