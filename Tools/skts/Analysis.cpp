#include "Analysis.h"

#include "AnalysisReport.h"
#include "ByteSource.h"
#include "CommandError.h"
#include "EventWriter.h"
#include "ProgressDisplay.h"

namespace Skts {

namespace {

nlohmann::json ChangesJson(const AnalyserTotals& totals)
{
    nlohmann::json changes = nlohmann::json::array();
    for (const TransportStreamChange& change : totals.Changes()) {
        changes.push_back({{"packet", change.packet},
                           {"time_ms", TicksToMs(change.time)},
                           {"old_transport_stream_id", change.oldId},
                           {"new_transport_stream_id", change.newId}});
    }
    return changes;
}

// Arrival (ns) to analyser ticks (54 per microsecond).
int64_t NsToTicks(int64_t ns) { return ns / 1000 * 54 + ns % 1000 * 54 / 1000; }

} // namespace

Analysis::Analysis(const Settings& settings, EventSink events)
    : settings_(settings), analyser_(SklibTs::CreateTsInfo()),
      input_(SklibTs::CreateTsPacketInputEx(analyser_.get(), settings.bitrate)), sink_(std::move(events))
{
    if (!analyser_ || !input_)
        throw CommandError("out of memory");
    analyser_->SetSiStandard(settings.siStandard);
    std::function<void(AnalyserEvent)> add;
    if (sink_) {
        events_ = std::make_unique<EventCoalescer>([this](const AnalyserEvent& event) { sink_(event); });
        add = [this](AnalyserEvent event) { events_->Add(std::move(event)); };
    }
    totals_ = std::make_unique<AnalyserTotals>(*analyser_, [this, add](const TransportStreamChange& change) {
        if (!add)
            return;
        AnalyserEvent event = ChangeEvent(change);
        event.offset = input_->CurrentPacket().offset;
        add(std::move(event));
    });
    conformance_ = std::make_unique<ConformanceCollector>(*analyser_, *input_, add);
    if (settings.timeline && add)
        timeline_ = std::make_unique<TimelineTracker>(*analyser_, *input_, add);
    if (settings.series)
        series_ = std::make_unique<ReportSeries>(*analyser_, *totals_);
}

Analysis::~Analysis() = default;

void Analysis::RethrowFailures() const
{
    conformance_->RethrowFailure();
    if (timeline_)
        timeline_->RethrowFailure();
    if (series_)
        series_->RethrowFailure();
}

int64_t Analysis::Read(ByteSource& source, size_t chunkSize, ProgressDisplay& progress,
                       const std::function<bool()>& goOn)
{
    const bool live = source.IsLive();
    int64_t firstArrival = SklibTs::kNoTime;
    uint64_t bytes = 0;
    const auto failed = [this] {
        return conformance_->Failed() || (timeline_ && timeline_->Failed()) || (series_ && series_->Failed());
    };
    const int64_t bytesRead = source.ReadAll(chunkSize, [&](const uint8_t* data, uint32_t size) {
        if (live) {
            if (firstArrival == SklibTs::kNoTime)
                firstArrival = source.ArrivalNs();
            input_->WriteAt(data, size, NsToTicks(source.ArrivalNs() - firstArrival));
            progress.Live(source.Live()->ElapsedSeconds(), analyser_->bitrate, conformance_->ActiveCount());
        } else {
            input_->Write(data, size);
            bytes += size;
            progress.File(bytes);
        }
        return !failed() && goOn();
    });
    progress.Finish();
    RethrowFailures();
    return bytesRead;
}

void Analysis::FlushEvents()
{
    if (events_)
        events_->Flush();
}

nlohmann::json Analysis::Report(int64_t bytesRead)
{
    SklibTs::SkTsInfoLock lock(*analyser_);
    nlohmann::json report = BuildAnalysisReport(*analyser_, bytesRead);
    // The analyser's counters restart when the transport_stream_id changes; these cover the input.
    report["packets"] = totals_->Packets();
    report["sync_byte_errors"] = totals_->SyncByteErrors();
    report["transport_errors"] = totals_->TransportErrors();
    report["bytes_outside_packets"] = static_cast<uint64_t>(bytesRead) - totals_->PacketBytes();
    report["transport_stream_changes"] = ChangesJson(*totals_);
    report["transport_stream_change_count"] = totals_->ChangeCount();
    report["tables_dropped"] = totals_->TablesDropped();
    report["analysis_bitrate"] = settings_.bitrate;
    report["indicators"] = conformance_->IndicatorsJson();
    conformance_->AddPcrJson(report["pids"]);
    return report;
}

nlohmann::json Analysis::SeriesJson()
{
    if (!series_)
        return nullptr;
    SklibTs::SkTsInfoLock lock(*analyser_);
    series_->Finish();
    return series_->Json();
}

} // namespace Skts
