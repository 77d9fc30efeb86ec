#include "ConformanceCollector.h"

#include <cstdio>
#include <string>

#include "AnalysisReport.h"
#include "EventWriter.h"
#include "SkTsInfo.h"
#include "SkTsPacketInput.h"
#include "TerminalText.h"

namespace Skts {

namespace {

constexpr uint32_t kAllIndicators = (1u << SklibTs::kIndicatorCount) - 1;

nlohmann::json LocationJson(const SklibTs::IndicatorLocation& location)
{
    return {location.pid, location.table_id, location.table_id_extension, location.ext2, location.ext3};
}

// "0x0011/0x42/-/-/-": the fields that apply, in hex.
std::string LocationText(const nlohmann::json& location)
{
    std::string text;
    for (const auto& field : location) {
        const uint32_t value = field.get<uint32_t>();
        if (!text.empty())
            text += '/';
        if (value == 0xFFFFFFFF) {
            text += '-';
        } else {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "0x%X", value);
            text += buffer;
        }
    }
    return text;
}

} // namespace

ConformanceCollector::ConformanceCollector(SklibTs::SkTsInfo& analyser, const SklibTs::SkTsPacketInputEx& input,
                                           EventSink events)
    : input_(input), events_(std::move(events))
{
    analyser.AddIndicatorStateCallback(kAllIndicators, &ConformanceCollector::OnState, this);
    analyser.AddIndicatorReportCallback(kAllIndicators, &ConformanceCollector::OnReport, this);
    analyser.AddAllPcrStatisticsCallback(&ConformanceCollector::OnPcrStatistics, this);
}

uint32_t ConformanceCollector::ActiveCount() const
{
    uint32_t active = 0;
    for (const auto& record : records_)
        active += record.active ? 1 : 0;
    return active;
}

void ConformanceCollector::RethrowFailure() const
{
    if (failure_)
        std::rethrow_exception(failure_);
}

void ConformanceCollector::OnState(void* context, uint32_t index, const SklibTs::IndicatorRecord& record)
{
    auto& self = *static_cast<ConformanceCollector*>(context);
    if (index < SklibTs::kIndicatorCount)
        self.records_[index] = record;
}

void ConformanceCollector::OnReport(void* context, uint32_t index, const SklibTs::IndicatorRecord& record)
{
    auto& self = *static_cast<ConformanceCollector*>(context);
    if (index >= SklibTs::kIndicatorCount || self.failure_)
        return;
    try {
        self.records_[index] = record;
        if (!self.events_)
            return;
        const auto position = self.input_.CurrentPacket();
        AnalyserEvent event;
        event.packet = position.index;
        event.offset = position.offset;
        event.timeMs = TicksToMs(record.time);
        event.index = static_cast<int32_t>(index);
        event.name = SklibTs::IndicatorName(index);
        event.message = ToUtf8(record.message);
        event.value = record.value;
        event.location = {record.location.pid, record.location.table_id, record.location.table_id_extension,
                          record.location.ext2, record.location.ext3};
        self.events_(std::move(event));
    } catch (...) {
        self.failure_ = std::current_exception();
    }
}

void ConformanceCollector::OnPcrStatistics(void* context, uint32_t pid, const SklibTs::PcrStatistics& statistics,
                                           const SklibTs::PcrSampleDeviation*, uint32_t)
{
    auto& self = *static_cast<ConformanceCollector*>(context);
    try {
        self.pcr_[pid] = statistics;
    } catch (...) {
        self.failure_ = std::current_exception();
    }
}

nlohmann::json ConformanceCollector::IndicatorsJson() const
{
    nlohmann::json indicators = nlohmann::json::array();
    for (uint32_t index = 0; index < SklibTs::kIndicatorCount; ++index) {
        const SklibTs::IndicatorRecord& record = records_[index];
        if (record.count == 0 && !record.active)
            continue;
        indicators.push_back({
            {"index", index},
            {"name", SklibTs::IndicatorName(index)},
            {"active", record.active},
            {"latched", record.latched},
            {"count", record.count},
            {"message", ToUtf8(record.message)},
            {"value", record.value},
            {"location", LocationJson(record.location)},
            {"time_ms", TicksToMs(record.time)},
        });
    }
    return indicators;
}

void ConformanceCollector::AddPcrJson(nlohmann::json& pids) const
{
    for (auto& entry : pids) {
        const auto found = pcr_.find(entry["pid"].get<uint32_t>());
        if (found == pcr_.end())
            continue;
        const SklibTs::PcrStatistics& s = found->second;
        entry["pcr"] = {
            // The statistics are those of the last whole analysis period; the count is complete.
            {"pcr_count", entry.value("pcr_count", s.pcrCount)},
            {"accuracy_max_ns", s.maxAccuracyNs},
            {"accuracy_rms_ns", s.rmsAccuracyNs},
            {"jitter_max_ns", s.maxJitterNs},
            {"jitter_rms_ns", s.rmsJitterNs},
            {"jitter_pp_ns", s.jitterPeakToPeakNs},
            {"pcr_bitrate", s.pcrBitrate},
            {"pcr_rate", s.pcrRate},
        };
    }
}

void PrintIndicators(const nlohmann::json& indicators, std::ostream& out)
{
    out << "\nIndicators\n";
    if (indicators.empty()) {
        out << "  none raised\n";
        return;
    }
    char line[160];
    for (const auto& indicator : indicators) {
        const char* state = indicator["active"].get<bool>() ? "active" : indicator["latched"].get<bool>() ? "latched" : "";
        std::snprintf(line, sizeof line, "  %2u %-22s %8u  %-7s  ", indicator["index"].get<uint32_t>(),
                      indicator["name"].get<std::string>().c_str(), indicator["count"].get<uint32_t>(), state);
        out << line << ForTerminal(indicator["message"].get<std::string>()) << "  (value " << indicator["value"].get<double>()
            << ", at " << LocationText(indicator["location"]) << ")\n";
    }
}

void PrintPcrStatistics(const nlohmann::json& pids, std::ostream& out)
{
    bool header = false;
    char line[200];
    for (const auto& pid : pids) {
        if (!pid.contains("pcr"))
            continue;
        if (!header) {
            out << "\nPCR\n     PID    PCRs  accuracy max/rms (ns)  jitter max/rms/p-p (ns)   PCR bit rate  PCR/s\n";
            header = true;
        }
        const auto& pcr = pid["pcr"];
        const int32_t bitrate = pcr["pcr_bitrate"].get<int32_t>();
        std::snprintf(line, sizeof line, "  0x%04X %7llu  %10.1f %10.1f  %8.1f %8.1f %8.1f  %13s  %5.1f\n",
                      pid["pid"].get<uint32_t>(), static_cast<unsigned long long>(pcr["pcr_count"].get<uint64_t>()),
                      pcr["accuracy_max_ns"].get<double>(), pcr["accuracy_rms_ns"].get<double>(),
                      pcr["jitter_max_ns"].get<double>(), pcr["jitter_rms_ns"].get<double>(),
                      pcr["jitter_pp_ns"].get<double>(), bitrate < 0 ? "unknown" : FormatBitrate(bitrate).c_str(),
                      pcr["pcr_rate"].get<double>());
        out << line;
    }
}

} // namespace Skts
