#pragma once
// When each stored table is due again: a notify deadline (its timeout callbacks) and an expire
// deadline (its effect is undone), both counted from the table's completion with intervals
// per table_id.
#include <array>
#include <cstdint>
#include <map>
#include <set>

#include "TableKey.h"

namespace SklibTs {

class TableDeadlines {
public:
    enum class Action : int32_t { Notify = 0, Expire = 1 };
    struct Deadline {
        int64_t time;
        TableKey key;
        Action action;
        bool operator<(const Deadline& other) const;
    };

    TableDeadlines() { ResetIntervals(0); }

    // Both intervals 60 s; for the DVB standards SDT actual and EIT p/f actual notify after 10 s.
    void ResetIntervals(int32_t siStandard);
    // Replaces the key's deadlines with those of a table completed at `time`.
    void Set(const TableKey& key, int64_t time);
    // The key's deadlines go (a table dropped to stay within the table budget).
    void Remove(const TableKey& key);
    void Clear();
    // Takes the earliest deadline before now, if there is one.
    bool PopDue(int64_t now, Deadline& due);

private:
    using Queue = std::set<Deadline>;

    Queue deadlines_;
    std::map<TableKey, std::array<int64_t, 2>> byKey_; // notify and expire times
    std::array<int64_t, 256> notifyInterval_{};
    std::array<int64_t, 256> expiryInterval_{};
};

} // namespace SklibTs
