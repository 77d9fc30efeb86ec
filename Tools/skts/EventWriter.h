#pragma once
// Writes events as they are handed on: one readable line each, or one JSON object each as the
// elements of the "events" array that opens the JSON document.
#include <nlohmann/json.hpp>
#include <ostream>

#include "AnalyserTotals.h"
#include "EventCoalescer.h"

namespace Skts {

class EventWriter {
public:
    EventWriter(std::ostream& out, bool json) : out_(out), json_(json) {}

    // JSON: writes "{" and the opening of the "events" array.
    void Begin();
    void Write(const AnalyserEvent& event);
    // JSON: closes the array; the caller goes on with the document's other keys.
    void End();

    static nlohmann::json ToJson(const AnalyserEvent& event);

private:
    std::ostream& out_;
    bool json_;
    bool first_ = true;
};

// The event that tells of a change of transport_stream_id (index -1: not an indicator).
AnalyserEvent ChangeEvent(const TransportStreamChange& change);

double TicksToMs(int64_t ticks);

} // namespace Skts
