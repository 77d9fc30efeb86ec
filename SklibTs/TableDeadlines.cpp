#include "TableDeadlines.h"

#include <cstddef>

#include "SkTsTypes.h"

namespace SklibTs {

namespace {

constexpr int64_t kDefaultTableInterval = 60 * kTicksPerSecond;
constexpr int64_t kSiNotifyInterval = 10 * kTicksPerSecond;

} // namespace

bool TableDeadlines::Deadline::operator<(const Deadline& other) const
{
    if (time != other.time)
        return time < other.time;
    if (key < other.key)
        return true;
    if (other.key < key)
        return false;
    return action < other.action;
}

void TableDeadlines::ResetIntervals(int32_t siStandard)
{
    notifyInterval_.fill(kDefaultTableInterval);
    expiryInterval_.fill(kDefaultTableInterval);
    if (siStandard == kSiDvb || siStandard == kSiDvbDerived) {
        notifyInterval_[0x42] = kSiNotifyInterval;
        notifyInterval_[0x4E] = kSiNotifyInterval;
    }
}

void TableDeadlines::Remove(const TableKey& key)
{
    const auto entry = byKey_.find(key);
    if (entry == byKey_.end())
        return;
    deadlines_.erase({entry->second[0], key, Action::Notify});
    deadlines_.erase({entry->second[1], key, Action::Expire});
    byKey_.erase(entry);
}

void TableDeadlines::Set(const TableKey& key, int64_t time)
{
    const uint32_t tid = key.table_id & 0xFF;
    const std::array<int64_t, 2> at{time + notifyInterval_[tid], time + expiryInterval_[tid]};
    const auto [entry, added] = byKey_.try_emplace(key, at);
    for (const Action action : {Action::Notify, Action::Expire}) {
        const auto index = static_cast<size_t>(action);
        // A repeated table moves its deadlines (their nodes) rather than making new ones.
        auto node = added ? Queue::node_type{} : deadlines_.extract(Deadline{entry->second[index], key, action});
        if (node) {
            node.value().time = at[index];
            deadlines_.insert(std::move(node));
        } else {
            deadlines_.insert(Deadline{at[index], key, action});
        }
    }
    entry->second = at;
}

void TableDeadlines::Clear()
{
    deadlines_.clear();
    byKey_.clear();
}

bool TableDeadlines::PopDue(int64_t now, Deadline& due)
{
    if (deadlines_.empty() || deadlines_.begin()->time >= now)
        return false;
    due = *deadlines_.begin();
    deadlines_.erase(deadlines_.begin());
    const auto entry = byKey_.find(due.key);
    if (entry != byKey_.end()) {
        entry->second[static_cast<int>(due.action)] = kNoTime;
        if (entry->second[0] == kNoTime && entry->second[1] == kNoTime)
            byKey_.erase(entry);
    }
    return true;
}

} // namespace SklibTs
