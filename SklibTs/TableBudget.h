#pragma once
// Keeps the tables the analyser holds (complete copies, tables under assembly and the
// bookkeeping of their keys) within a fixed budget, whatever the stream sends: a flood of
// sections that each open a new table key would otherwise be kept for the whole expiry time
// and grow memory with the input. Keys are held in order of their last section; over a limit
// the oldest key goes first, from the PID that exceeds its share, else from the PID that holds
// the most.
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "TableKey.h"

namespace SklibTs {

class SkTable;

class TableBudget {
public:
    static constexpr size_t kMaxTablesPerPid = 2048;
    static constexpr size_t kMaxTables = 8192;
    // Section bytes plus kTableCost per key (its 256 section slots and bookkeeping).
    static constexpr size_t kMaxBytes = size_t{24} << 20;
    static constexpr size_t kTableCost = 3072;

    // The key's tables now hold `bytes` of sections; it becomes the newest key.
    void Touch(const TableKey& key, size_t bytes);
    // The same without changing the key's age (a table expired, part of it remains).
    void Resize(const TableKey& key, size_t bytes);
    void Forget(const TableKey& key);
    void Clear();

    // The key to drop next while a limit is exceeded, never `keep`; nullopt within the budget.
    std::optional<TableKey> Victim(const TableKey& keep) const;

    size_t Tables() const { return entries_.size(); }
    size_t Bytes() const { return bytes_; }
    size_t TablesOn(uint32_t pid) const;

    // Bytes of the sections a table holds (0 for none).
    static size_t SectionBytes(const SkTable* table);

private:
    struct PidKeys {
        std::list<TableKey> byAge; // oldest first
        size_t bytes = 0;
    };
    struct Entry {
        std::list<TableKey>::iterator position;
        size_t bytes = 0;
    };

    void SetPidBytes(uint32_t pid, PidKeys& keys, size_t bytes);
    std::optional<TableKey> OldestOn(uint32_t pid, const TableKey& keep) const;

    std::map<TableKey, Entry> entries_;
    std::map<uint32_t, PidKeys> pids_;
    std::set<std::pair<size_t, uint32_t>> pidsByBytes_; // heaviest last
    size_t bytes_ = 0;
};

} // namespace SklibTs
