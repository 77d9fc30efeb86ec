#pragma once
// Reports as they happen, with runs of the same report folded into one. A report that comes
// again in the same or the next packet (same indicator, message and location) extends the
// run instead of making a new event, so a fault that repeats for every packet costs one event
// with a count, not one per packet. Runs are handed on in the order they started, as soon as
// they end; memory is bounded by the number of runs kept open at once.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>

namespace Skts {

struct AnalyserEvent {
    uint64_t packet = 0;       // index of the packet being analysed (0-based, whole input)
    uint64_t offset = 0;       // byte offset of that packet in the input
    double timeMs = 0.0;       // analyser time
    int32_t index = -1;        // indicator index; -1 for events that are not indicator reports
    std::string name;
    std::string message;
    double value = 0.0;
    std::array<uint32_t, 5> location{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    nlohmann::json details;    // the values behind a timeline event (null for reports)
    // Of a run: how many reports it folds, and the last of them.
    uint64_t count = 1;
    uint64_t lastPacket = 0;
    double lastTimeMs = 0.0;
};

class EventCoalescer {
public:
    using Sink = std::function<void(const AnalyserEvent&)>;

    static constexpr uint64_t kRunGapPackets = 1;       // a run goes on while it repeats this often
    static constexpr uint64_t kMaxRunPackets = 100'000; // a run this long is handed on and restarts
    static constexpr size_t kMaxOpenRuns = 16'384;

    explicit EventCoalescer(Sink sink, size_t maxOpenRuns = kMaxOpenRuns)
        : sink_(std::move(sink)), maxOpenRuns_(maxOpenRuns)
    {
    }

    void Add(AnalyserEvent event);
    // Hands on every run still open (at the end of the input).
    void Flush();
    size_t OpenRuns() const { return runs_.size(); }

private:
    using Key = std::tuple<int32_t, std::string, std::array<uint32_t, 5>>;
    struct Run {
        AnalyserEvent event;
        bool open = true; // still reachable through index_
    };

    bool Ended(const Run& run, uint64_t packet) const;
    void HandOnEnded(uint64_t packet);

    Sink sink_;
    size_t maxOpenRuns_;
    std::list<Run> runs_; // by first report
    std::map<Key, std::list<Run>::iterator> index_;
};

} // namespace Skts
