#pragma once
// One analysis of an input: the analyser with its packet input, the totals across stream
// changes, the conformance reports, and on demand the timeline events and the report's time
// series. `skts analyze` and `skts report` both run it.
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>

#include "AnalyserTotals.h"
#include "ConformanceCollector.h"
#include "EventCoalescer.h"
#include "ReportSeries.h"
#include "SkTsInfo.h"
#include "SkTsPacketInput.h"
#include "TimelineTracker.h"

namespace Skts {

class ByteSource;
class ProgressDisplay;

class Analysis {
public:
    struct Settings {
        int32_t bitrate = 10'000'000; // for inputs without arrival times
        int32_t siStandard = 2;
        bool timeline = false;       // timeline events beside the indicator reports
        bool series = false;         // the report's time series
    };
    using EventSink = std::function<void(const AnalyserEvent&)>;

    // events (may be empty) receives every event, runs folded, as each run ends.
    Analysis(const Settings& settings, EventSink events);
    ~Analysis();
    Analysis(const Analysis&) = delete;
    Analysis& operator=(const Analysis&) = delete;

    // Reads the whole input through the analyser; false stops it early (the sink failed).
    // Returns the bytes read, or -1 on a read error. Live input: packets are stamped with
    // their datagram's arrival time.
    int64_t Read(ByteSource& source, size_t chunkSize, ProgressDisplay& progress, const std::function<bool()>& goOn);
    // Hands on the runs still open; call after Read.
    void FlushEvents();

    // The analyze document (without events), and the series when they were kept.
    nlohmann::json Report(int64_t bytesRead);
    nlohmann::json SeriesJson();

    uint64_t Packets() const { return totals_->Packets(); }
    uint32_t ActiveIndicators() const { return conformance_->ActiveCount(); }
    SklibTs::SkTsInfo& Analyser() { return *analyser_; }

private:
    void RethrowFailures() const;

    Settings settings_;
    std::unique_ptr<SklibTs::SkTsInfo> analyser_;
    std::unique_ptr<SklibTs::SkTsPacketInputEx> input_;
    EventSink sink_;
    std::unique_ptr<EventCoalescer> events_;
    std::unique_ptr<AnalyserTotals> totals_;
    std::unique_ptr<ConformanceCollector> conformance_;
    std::unique_ptr<TimelineTracker> timeline_;
    std::unique_ptr<ReportSeries> series_;
};

} // namespace Skts
