#pragma once
// Follows the analyser's conformance indicators and PCR statistics through its callbacks, so
// the report can show the last state of each indicator, every report as it happened and the
// latest PCR accuracy and jitter per PCR PID.
#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <ostream>

#include "ConformanceTypes.h"
#include "EventCoalescer.h"

namespace SklibTs {
class SkTsInfo;
class SkTsPacketInputEx;
}

namespace Skts {


class ConformanceCollector {
public:
    using EventSink = std::function<void(AnalyserEvent)>;
    // Registers with the analyser; `events` (may be empty) receives every report as it happens,
    // with the packet the input was handing on.
    ConformanceCollector(SklibTs::SkTsInfo& analyser, const SklibTs::SkTsPacketInputEx& input, EventSink events);
    ConformanceCollector(const ConformanceCollector&) = delete;
    ConformanceCollector& operator=(const ConformanceCollector&) = delete;

    // "indicators": every indicator raised at least once, by index.
    nlohmann::json IndicatorsJson() const;
    // Adds "pcr" to each PID entry of `pids` that carries PCRs.
    void AddPcrJson(nlohmann::json& pids) const;
    // Nothing may be thrown through the analyser: a callback that failed keeps its exception,
    // and the command rethrows it after the write that called it.
    bool Failed() const { return failure_ != nullptr; }
    // Indicators active now.
    uint32_t ActiveCount() const;
    void RethrowFailure() const;

private:
    static void OnState(void* context, uint32_t index, const SklibTs::IndicatorRecord& record);
    static void OnReport(void* context, uint32_t index, const SklibTs::IndicatorRecord& record);
    static void OnPcrStatistics(void* context, uint32_t pid, const SklibTs::PcrStatistics& statistics,
                                const SklibTs::PcrSampleDeviation* samples, uint32_t count);

    std::array<SklibTs::IndicatorRecord, SklibTs::kIndicatorCount> records_{};
    std::map<uint32_t, SklibTs::PcrStatistics> pcr_;
    const SklibTs::SkTsPacketInputEx& input_;
    EventSink events_;
    std::exception_ptr failure_;
};

// The readable forms of the two sections, printed after the PID table.
void PrintIndicators(const nlohmann::json& indicators, std::ostream& out);
void PrintPcrStatistics(const nlohmann::json& pids, std::ostream& out);

} // namespace Skts
