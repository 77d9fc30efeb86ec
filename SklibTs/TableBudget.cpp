#include "TableBudget.h"

#include "SkTable.h"
#include "SkTableSection.h"

namespace SklibTs {

size_t TableBudget::SectionBytes(const SkTable* table)
{
    size_t bytes = 0;
    if (table != nullptr) {
        const int32_t used = table->SlotsInUse();
        for (int32_t i = 0; i < used; ++i) {
            if (const SkTableSection* section = table->sections[i].get())
                bytes += static_cast<size_t>(section->length);
        }
    }
    return bytes;
}

void TableBudget::SetPidBytes(uint32_t pid, PidKeys& keys, size_t bytes)
{
    // The PID's node moves to its new place: a table repeated every few milliseconds would
    // otherwise free and allocate one each time.
    auto node = pidsByBytes_.extract({keys.bytes, pid});
    keys.bytes = bytes;
    if (keys.byAge.empty())
        return;
    if (node) {
        node.value().first = bytes;
        pidsByBytes_.insert(std::move(node));
    } else {
        pidsByBytes_.insert({bytes, pid});
    }
}

void TableBudget::Touch(const TableKey& key, size_t bytes)
{
    const size_t cost = bytes + kTableCost;
    PidKeys& keys = pids_[key.pid];
    auto [entry, inserted] = entries_.try_emplace(key);
    size_t pidBytes = keys.bytes;
    if (inserted) {
        entry->second.position = keys.byAge.insert(keys.byAge.end(), key);
    } else {
        keys.byAge.splice(keys.byAge.end(), keys.byAge, entry->second.position);
        pidBytes -= entry->second.bytes;
        bytes_ -= entry->second.bytes;
    }
    entry->second.bytes = cost;
    bytes_ += cost;
    SetPidBytes(key.pid, keys, pidBytes + cost);
}

void TableBudget::Resize(const TableKey& key, size_t bytes)
{
    const auto entry = entries_.find(key);
    if (entry == entries_.end())
        return;
    PidKeys& keys = pids_[key.pid];
    const size_t cost = bytes + kTableCost;
    bytes_ = bytes_ - entry->second.bytes + cost;
    SetPidBytes(key.pid, keys, keys.bytes - entry->second.bytes + cost);
    entry->second.bytes = cost;
}

void TableBudget::Forget(const TableKey& key)
{
    const auto entry = entries_.find(key);
    if (entry == entries_.end())
        return;
    const auto pid = pids_.find(key.pid);
    PidKeys& keys = pid->second;
    keys.byAge.erase(entry->second.position);
    bytes_ -= entry->second.bytes;
    SetPidBytes(key.pid, keys, keys.bytes - entry->second.bytes);
    entries_.erase(entry);
    if (keys.byAge.empty())
        pids_.erase(pid);
}

void TableBudget::Clear()
{
    entries_.clear();
    pids_.clear();
    pidsByBytes_.clear();
    bytes_ = 0;
}

size_t TableBudget::TablesOn(uint32_t pid) const
{
    const auto keys = pids_.find(pid);
    return keys == pids_.end() ? 0 : keys->second.byAge.size();
}

std::optional<TableKey> TableBudget::OldestOn(uint32_t pid, const TableKey& keep) const
{
    const auto keys = pids_.find(pid);
    if (keys == pids_.end())
        return std::nullopt;
    for (const TableKey& key : keys->second.byAge) {
        if (!(key == keep))
            return key;
    }
    return std::nullopt;
}

std::optional<TableKey> TableBudget::Victim(const TableKey& keep) const
{
    if (TablesOn(keep.pid) > kMaxTablesPerPid)
        return OldestOn(keep.pid, keep);
    if (entries_.size() <= kMaxTables && bytes_ <= kMaxBytes)
        return std::nullopt;
    for (auto heaviest = pidsByBytes_.rbegin(); heaviest != pidsByBytes_.rend(); ++heaviest) {
        if (const auto key = OldestOn(heaviest->second, keep))
            return key;
    }
    return std::nullopt;
}

} // namespace SklibTs
