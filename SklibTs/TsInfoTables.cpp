// Table bookkeeping of the analyser: section collection per PID, tables under assembly and
// stored by key, table deadlines, classification and the dispatch to the table handlers.
#include <algorithm>

#include "TableClass.h"
#include "TsInfoImpl.h"

namespace SklibTs {

namespace {

constexpr int64_t kDefaultTableInterval = 3'240'000'000; // 60 s
constexpr int64_t kSiNotifyInterval = 540'000'000;       // 10 s

} // namespace

bool TsInfoImpl::Deadline::operator<(const Deadline& other) const
{
    if (time != other.time)
        return time < other.time;
    if (key < other.key)
        return true;
    if (other.key < key)
        return false;
    return action < other.action;
}

void TsInfoImpl::ResetTableIntervals()
{
    notifyInterval_.fill(kDefaultTableInterval);
    expiryInterval_.fill(kDefaultTableInterval);
    if (siStandard == kSiDvb || siStandard == kSiDvbDerived) {
        notifyInterval_[0x42] = kSiNotifyInterval;
        notifyInterval_[0x4E] = kSiNotifyInterval;
    }
}

void TsInfoImpl::ResetTables()
{
    for (auto& section : sections_)
        section.reset();
    rawTables_.clear();
    tables.clear();
    deadlines_.clear();
    deadlineIndex_.clear();
    tableLastSeen_.clear();
}

void TsInfoImpl::CollectSections(uint32_t pid, const uint8_t* payload, uint32_t size, bool unitStart, int64_t time)
{
    if (!unitStart) {
        if (sections_[pid])
            FeedSection(pid, payload, size, time);
        return;
    }
    const uint32_t pointer = payload[0];
    const uint8_t* bytes = payload + 1;
    const uint32_t count = size - 1;
    if (pointer == 0 && count > 0 && bytes[0] == 0xFF)
        return;
    if (pointer != 0 && sections_[pid])
        FeedSection(pid, bytes, std::min(pointer, count), time);
    uint32_t position = pointer;
    while (position < count && bytes[position] != 0xFF) {
        sections_[pid] = std::make_unique<RawTableSection>();
        const uint32_t taken = FeedSection(pid, bytes + position, count - position, time);
        if (taken == 0)
            break;
        position += taken;
    }
}

uint32_t TsInfoImpl::FeedSection(uint32_t pid, const uint8_t* bytes, uint32_t count, int64_t time)
{
    RawTableSection& section = *sections_[pid];
    const int32_t taken = section.Append(bytes, static_cast<int32_t>(count));
    if (section.IsComplete())
        OnSectionComplete(pid, std::move(sections_[pid]), time);
    return taken > 0 ? static_cast<uint32_t>(taken) : 0;
}

void TsInfoImpl::OnSectionComplete(uint32_t pid, std::unique_ptr<RawTableSection> section, int64_t time)
{
    section->receive_time = time;
    const uint8_t tableId = section->data[0];
    for (const auto& callback : allSectionsCallbacks_)
        callback.function(callback.context, static_cast<uint16_t>(pid), tableId, section.get());
    for (const auto& entry : sectionCallbacks_) {
        if (entry.pid == pid && entry.tableId == tableId)
            entry.callback.function(entry.callback.context, static_cast<uint16_t>(pid), tableId, section.get());
    }
    StoreSection(pid, std::move(section), time);
}

void TsInfoImpl::StoreSection(uint32_t pid, std::unique_ptr<RawTableSection> section, int64_t time)
{
    TableKey key;
    int32_t sectionNumber = 0;
    if (!section->ParseHeader(static_cast<uint16_t>(pid), key, sectionNumber, static_cast<SiStandard>(siStandard)))
        return;
    checks_.CheckSection(key, sectionNumber, section->data, section->length, now_);
    tableLastSeen_[key] = time;
    if (!section->current_next_indicator)
        return;

    auto& raw = rawTables_[key];
    if (!raw)
        raw = std::make_unique<RawTable>();
    const bool restart = raw->version_number != section->version_number ||
                         sectionNumber > raw->last_section_number ||
                         raw->last_section_number != section->last_section_number;
    if (restart) {
        raw->Clear();
        raw->version_number = section->version_number;
        raw->last_section_number = section->last_section_number;
    }
    raw->sections[sectionNumber].reset(section.release());
    if (!raw->IsComplete())
        return;

    auto stored = std::make_unique<SkTable>(*raw);
    stored->completion_time = time;
    rawTables_.erase(key);
    OnTableComplete(key, std::move(stored), time);
}

void TsInfoImpl::OnTableComplete(const TableKey& key, std::unique_ptr<SkTable> table, int64_t time)
{
    const auto previous = tables.find(key);
    const bool changed = previous != tables.end() && !(*previous->second == *table);
    SetTableDeadlines(key, time);

    const int32_t tableClass = ClassifyTable(key, siStandard);
    ApplyTable(tableClass, key, *table);
    if (tableClass != TableClass::kNone)
        PidInfoFor(key.pid).tableClassMask |= TableClassBit(tableClass);

    SkTable* storedTable = table.get();
    tables[key] = std::move(table);
    checks_.CheckTable(key, now_);
    for (const auto& entry : tableCallbacks_) {
        if (MatchKey(entry.filter, key))
            entry.callback.function(entry.callback.context, &key, storedTable, changed ? 1 : 0);
    }
}

void TsInfoImpl::ApplyTable(int32_t tableClass, const TableKey& key, const SkTable& table)
{
    switch (tableClass) {
    case TableClass::kPat: ApplyPat(table); break;
    case TableClass::kCat: ApplyCat(table); break;
    case TableClass::kPmt: ApplyPmt(key, table); break;
    case TableClass::kNitActual: ApplyNitActual(table); break;
    case TableClass::kSdtActual: ApplySdtActual(table); break;
    case TableClass::kMgt: ApplyMgt(table); break;
    default: break; // virtual channel tables carry nothing the analyser keeps
    }
}

void TsInfoImpl::SetTableDeadlines(const TableKey& key, int64_t time)
{
    RemoveTableDeadlines(key);
    const uint32_t tid = key.table_id & 0xFF;
    const int64_t notifyAt = time + notifyInterval_[tid];
    const int64_t expireAt = time + expiryInterval_[tid];
    deadlines_.insert({notifyAt, key, DeadlineAction::Notify});
    deadlines_.insert({expireAt, key, DeadlineAction::Expire});
    deadlineIndex_[key] = {notifyAt, expireAt};
}

void TsInfoImpl::RemoveTableDeadlines(const TableKey& key)
{
    const auto entry = deadlineIndex_.find(key);
    if (entry == deadlineIndex_.end())
        return;
    deadlines_.erase({entry->second[0], key, DeadlineAction::Notify});
    deadlines_.erase({entry->second[1], key, DeadlineAction::Expire});
    deadlineIndex_.erase(entry);
}

void TsInfoImpl::RunTableDeadlines(int64_t now)
{
    while (!deadlines_.empty() && deadlines_.begin()->time < now) {
        const Deadline deadline = *deadlines_.begin();
        deadlines_.erase(deadlines_.begin());
        const auto index = deadlineIndex_.find(deadline.key);
        if (index != deadlineIndex_.end()) {
            index->second[static_cast<int>(deadline.action)] = kNoTime;
            if (index->second[0] == kNoTime && index->second[1] == kNoTime)
                deadlineIndex_.erase(index);
        }
        if (deadline.action == DeadlineAction::Notify) {
            for (const auto& entry : tableTimeoutCallbacks_) {
                if (MatchKey(entry.filter, deadline.key))
                    entry.callback.function(entry.callback.context, &deadline.key, deadline.time);
            }
        } else {
            ExpireTable(deadline.key);
        }
    }
}

bool TsInfoImpl::HasStoredTableOfClass(uint32_t pid, int32_t tableClass, const TableKey& except) const
{
    for (const auto& [key, table] : tables) {
        if (key.pid == pid && !(key == except) && ClassifyTable(key, siStandard) == tableClass)
            return true;
    }
    return false;
}

void TsInfoImpl::ExpireTable(const TableKey& key)
{
    const auto stored = tables.find(key);
    if (stored == tables.end())
        return;
    const int32_t tableClass = ClassifyTable(key, siStandard);
    switch (tableClass) {
    case TableClass::kPat:
        while (!programs.empty())
            RemoveProgram(programs.begin()->first);
        break;
    case TableClass::kCat:
        DropEmmList();
        break;
    case TableClass::kPmt: {
        const auto program = programs.find(static_cast<int32_t>(key.table_id_extension));
        if (program != programs.end() && program->second.pmt_pid == static_cast<int32_t>(key.pid))
            DropProgramStreams(program->second);
        break;
    }
    case TableClass::kNitActual:
        network = NetworkInfo{};
        break;
    case TableClass::kSdtActual:
        ClearServiceInformation();
        break;
    default:
        break;
    }
    tables.erase(stored);
    if (tableClass != TableClass::kNone && key.pid < kPidCount && pidImpl_[key.pid] &&
        !HasStoredTableOfClass(key.pid, tableClass, key))
        pidImpl_[key.pid]->tableClassMask &= ~(TableClassBit(tableClass));
}

void TsInfoImpl::AddTableCallback(const TableKey& filter, TableCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    if (function != nullptr)
        tableCallbacks_.push_back({filter, {function, context}});
}

void TsInfoImpl::AddAllTablesCallback(TableCallbackFn function, void* context)
{
    AddTableCallback(MakeWildcardKey(), function, context);
}

void TsInfoImpl::AddTableTimeoutCallback(const TableKey& filter, TableTimeoutCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    if (function != nullptr)
        tableTimeoutCallbacks_.push_back({filter, {function, context}});
}

} // namespace SklibTs
