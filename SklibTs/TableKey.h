#pragma once
#include <cstdint>

namespace SklibTs {

/// Identifies a table: the PID it arrived on, its table_id and up to three further
/// identifiers; 0xFFFFFFFF means absent in a key and "any value" in a filter.
struct TableKey {
    static constexpr uint32_t kAny = 0xFFFFFFFF; ///< absent, or in a filter: any value

    uint32_t pid = kAny;                ///< the PID the table arrived on
    uint32_t table_id = kAny;           ///< table_id of its sections
    uint32_t table_id_extension = kAny; ///< of long-form sections (program_number of a PMT, ...)
    uint32_t ext2 = kAny; ///< DVB SDT and BAT: original_network_id; DVB EIT: transport_stream_id; ATSC ETT: ETM_id
    uint32_t ext3 = kAny; ///< DVB EIT: original_network_id

    /// Every field equal.
    bool operator==(const TableKey&) const = default;
    /// Lexicographic over the five fields compared as signed values, so an absent field sorts
    /// before every present one.
    bool operator<(const TableKey& other) const;
};

/// True when every field of the filter is kAny or equal to the key's.
bool MatchKey(const TableKey& filter, const TableKey& key);

/// Fills a key with 0xFF bytes: the filter that matches every table.
void FillTableKeyWildcard(TableKey& key);
/// The filter that matches every table (every field kAny).
TableKey MakeWildcardKey();

} // namespace SklibTs
