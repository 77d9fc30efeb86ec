#pragma once
#include <cstdint>

namespace SklibTs {

// Identifies a table: the PID it arrived on, its table_id and up to three further
// identifiers; 0xFFFFFFFF means absent in a key and "any value" in a filter.
struct TableKey {
    static constexpr uint32_t kAny = 0xFFFFFFFF;

    uint32_t pid = kAny;
    uint32_t table_id = kAny;
    uint32_t table_id_extension = kAny;
    uint32_t ext2 = kAny;
    uint32_t ext3 = kAny;

    bool operator==(const TableKey&) const = default;
    // Lexicographic over the five fields compared as signed values, so an absent field sorts
    // before every present one.
    bool operator<(const TableKey& other) const;
};

// True when every field of the filter is kAny or equal to the key's.
bool MatchKey(const TableKey& filter, const TableKey& key);

// Fills a key with 0xFF bytes: the filter that matches every table.
void FillTableKeyWildcard(TableKey& key);
TableKey MakeWildcardKey();

} // namespace SklibTs
