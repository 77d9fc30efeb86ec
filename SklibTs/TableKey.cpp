#include "TableKey.h"

#include <cstring>
#include <tuple>
#include <type_traits>

namespace SklibTs {

bool TableKey::operator<(const TableKey& other) const
{
    const auto asSigned = [](const TableKey& k) {
        return std::make_tuple(static_cast<int32_t>(k.pid), static_cast<int32_t>(k.table_id),
                               static_cast<int32_t>(k.table_id_extension), static_cast<int32_t>(k.ext2),
                               static_cast<int32_t>(k.ext3));
    };
    return asSigned(*this) < asSigned(other);
}

bool MatchKey(const TableKey& filter, const TableKey& key)
{
    const auto fieldMatches = [](uint32_t f, uint32_t k) { return f == TableKey::kAny || f == k; };
    return fieldMatches(filter.pid, key.pid) && fieldMatches(filter.table_id, key.table_id) &&
           fieldMatches(filter.table_id_extension, key.table_id_extension) && fieldMatches(filter.ext2, key.ext2) &&
           fieldMatches(filter.ext3, key.ext3);
}

static_assert(sizeof(TableKey) == 5 * sizeof(uint32_t) && std::is_trivially_copyable_v<TableKey>);

void FillTableKeyWildcard(TableKey& key) { std::memset(static_cast<void*>(&key), 0xFF, sizeof key); }

TableKey MakeWildcardKey()
{
    TableKey key;
    FillTableKeyWildcard(key);
    return key;
}

} // namespace SklibTs
