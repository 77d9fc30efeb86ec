#include "EventWriter.h"

#include <cstdio>

#include "SkTsTypes.h"
#include "TerminalText.h"

namespace Skts {

double TicksToMs(int64_t ticks)
{
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(SklibTs::kTicksPerSecond);
}

AnalyserEvent ChangeEvent(const TransportStreamChange& change)
{
    AnalyserEvent event;
    event.packet = change.packet;
    event.timeMs = TicksToMs(change.time);
    event.index = -1;
    event.name = "TransportStreamChange";
    event.message = "transport_stream_id changed from " + std::to_string(change.oldId) + " to " +
                    std::to_string(change.newId) + " at packet " + std::to_string(change.packet) +
                    ": the analysis starts again";
    event.value = change.newId;
    return event;
}

nlohmann::json EventWriter::ToJson(const AnalyserEvent& event)
{
    nlohmann::json j = {{"time_ms", event.timeMs}, {"index", event.index},  {"name", event.name},
                        {"message", event.message}, {"value", event.value}, {"count", event.count}};
    if (event.count > 1)
        j["last_time_ms"] = event.lastTimeMs;
    if (event.index >= 0)
        j["location"] = event.location;
    j["packet"] = event.packet;
    j["offset"] = event.offset;
    if (!event.details.is_null())
        j["details"] = event.details;
    return j;
}

void EventWriter::Begin()
{
    if (json_)
        out_ << "{\n \"events\": [";
}

void EventWriter::Write(const AnalyserEvent& event)
{
    if (json_) {
        out_ << (first_ ? "\n  " : ",\n  ") << ToJson(event).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        first_ = false;
        return;
    }
    char head[64];
    if (event.index >= 0)
        std::snprintf(head, sizeof head, "%12.3f ms  %2d %-22s ", event.timeMs, event.index, event.name.c_str());
    else
        std::snprintf(head, sizeof head, "%12.3f ms   - %-22s ", event.timeMs, event.name.c_str());
    out_ << head << ForTerminal(event.message) << "  (value " << event.value;
    if (event.count > 1) {
        char run[64];
        std::snprintf(run, sizeof run, "; %llu times until %.3f ms", static_cast<unsigned long long>(event.count),
                      event.lastTimeMs);
        out_ << run;
    }
    out_ << ") at packet " << event.packet << ", byte " << event.offset << '\n';
}

void EventWriter::End()
{
    if (json_)
        out_ << (first_ ? "],\n" : "\n ],\n");
}

} // namespace Skts
