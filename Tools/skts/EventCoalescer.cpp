#include "EventCoalescer.h"

namespace Skts {

bool EventCoalescer::Ended(const Run& run, uint64_t packet) const
{
    return !run.open || run.event.lastPacket + kRunGapPackets < packet ||
           run.event.packet + kMaxRunPackets <= packet;
}

void EventCoalescer::HandOnEnded(uint64_t packet)
{
    while (!runs_.empty() && (Ended(runs_.front(), packet) || runs_.size() > maxOpenRuns_)) {
        Run& run = runs_.front();
        if (run.open)
            index_.erase(Key{run.event.index, run.event.message, run.event.location});
        sink_(run.event);
        runs_.pop_front();
    }
}

void EventCoalescer::Add(AnalyserEvent event)
{
    HandOnEnded(event.packet);
    Key key{event.index, event.message, event.location};
    const auto found = index_.find(key);
    if (found != index_.end()) {
        Run& run = *found->second;
        if (!Ended(run, event.packet)) {
            ++run.event.count;
            run.event.lastPacket = event.packet;
            run.event.lastTimeMs = event.timeMs;
            return;
        }
        // It ended but waits behind an older run: it is closed, the report starts anew.
        run.open = false;
        index_.erase(found);
    }
    event.count = 1;
    event.lastPacket = event.packet;
    event.lastTimeMs = event.timeMs;
    runs_.push_back({std::move(event), true});
    index_.emplace(std::move(key), std::prev(runs_.end()));
    HandOnEnded(runs_.back().event.packet);
}

void EventCoalescer::Flush()
{
    for (const Run& run : runs_)
        sink_(run.event);
    runs_.clear();
    index_.clear();
}

} // namespace Skts
