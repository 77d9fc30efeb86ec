#include "AnalyzeCommand.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "AnalyserTotals.h"
#include "AnalysisReport.h"
#include "ByteSource.h"
#include "CommandError.h"
#include "ConformanceCollector.h"
#include "EventCoalescer.h"
#include "EventWriter.h"
#include "MuxRate.h"
#include "SkTsInfo.h"
#include "SkTsPacketInput.h"
#include "StdoutSink.h"

namespace Skts {

namespace {
constexpr size_t kMuxRateProbeBytes = size_t{8} << 20;
constexpr int32_t kFallbackBitrate = 10'000'000;

constexpr auto kJsonErrors = nlohmann::json::error_handler_t::replace;

// The document's keys after "events", as dump(1) would write them inside the object.
void WriteRemainingKeys(const nlohmann::json& report, std::ostream& out)
{
    bool first = true;
    for (const auto& [key, value] : report.items()) {
        std::string text = value.dump(1, ' ', false, kJsonErrors);
        for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2))
            text.replace(at, 1, "\n ");
        out << (first ? "" : ",\n") << ' ' << nlohmann::json(key).dump() << ": " << text;
        first = false;
    }
    out << "\n}\n";
}

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

} // namespace

void AddAnalyzeCommand(CLI::App& app, StdoutSink& out, int& exitCode)
{
    auto options = std::make_shared<AnalyzeOptions>();
    CLI::App* command = app.add_subcommand(
        "analyze", "Analyse a transport stream: packet size and sync, programs, per-PID bit rates and stream "
                   "properties, PCR accuracy and jitter, and the conformance indicators raised.");
    command->add_option("input", options->input, "Transport-stream file, or - for standard input")->required();
    command->add_option("--chunk", options->chunkSize,
                        "Bytes handed to the packet input per write (default 65536); any chunking gives the same result")
        ->check(CLI::Range(size_t{1}, size_t{64} << 20));
    command->add_option("--bitrate", options->bitrate,
                        "Bit rate in bit/s from which packet arrival times are derived, since a file has no "
                        "arrival clock (default 10000000); 'auto' measures the mux rate from the PCRs of the "
                        "first 8 MiB (10000000 when they give none)")
        ->transform(CLI::Validator(
            [](std::string& value) -> std::string {
                if (value == "auto") {
                    value = "0";
                    return {};
                }
                int64_t rate = 0;
                const bool whole = CLI::detail::lexical_cast(value, rate);
                return whole && rate >= 1 && rate <= INT32_MAX ? std::string{}
                                                              : "bit rate must be 1 to 2147483647 or auto";
            },
            "BITRATE|auto"));
    command->add_option("--si-standard", options->siStandard,
                        "Service-information tables to follow: none, atsc, dvb (default) or 3 (a DVB-based set)")
        ->transform(CLI::CheckedTransformer(std::map<std::string, int32_t>{{"none", 0}, {"atsc", 1}, {"dvb", 2}, {"3", 3}},
                                            CLI::ignore_case));
    command->add_flag("--json", options->json, "Print one JSON document instead of the readable summary");
    command->add_flag("--events", options->events,
                      "Print each conformance report as it happens (with --json: an \"events\" array)");
    command->callback([options, &out, &exitCode] { exitCode = RunAnalyze(*options, out); });
}

int RunAnalyze(const AnalyzeOptions& options, StdoutSink& sink)
{
    ByteSource source(options.input);
    if (!source.IsOpen())
        throw CommandError(source.Error());

    int32_t bitrate = options.bitrate;
    if (bitrate <= 0) {
        const std::vector<uint8_t>& start = source.Peek(kMuxRateProbeBytes);
        bitrate = EstimateMuxRate(start.data(), start.size());
        if (bitrate <= 0)
            bitrate = kFallbackBitrate;
    }

    const std::unique_ptr<SklibTs::SkTsInfo> analyser(SklibTs::CreateTsInfo());
    const std::unique_ptr<SklibTs::SkTsPacketInput> input(SklibTs::CreateTsPacketInput(analyser.get(), bitrate));
    if (!analyser || !input)
        throw CommandError("out of memory");
    analyser->SetSiStandard(options.siStandard);

    // Events are written as they happen (runs folded), so memory does not grow with them.
    std::ostream& out = sink.Stream();
    EventWriter writer(out, options.json);
    EventCoalescer events([&writer](const AnalyserEvent& event) { writer.Write(event); });
    EventCoalescer* eventLog = options.events ? &events : nullptr;
    AnalyserTotals totals(*analyser, [eventLog](const TransportStreamChange& change) {
        if (eventLog != nullptr)
            eventLog->Add(ChangeEvent(change));
    });
    ConformanceCollector conformance(*analyser, totals, eventLog);
    if (eventLog != nullptr)
        writer.Begin();

    const int64_t bytesRead = source.ReadAll(options.chunkSize, [&](const uint8_t* data, uint32_t size) {
        input->Write(data, size);
        return !conformance.Failed() && !sink.Failed();
    });
    conformance.RethrowFailure();
    if (sink.Failed())
        throw CommandError(sink.Error());
    if (bytesRead < 0)
        throw CommandError(source.Error());
    if (bytesRead == 0)
        throw CommandError(source.Name() + " is empty");

    SklibTs::SkTsInfoLock lock(*analyser);
    if (totals.Packets() == 0)
        throw CommandError("no transport-stream sync found in " + source.Name());
    if (eventLog != nullptr) {
        events.Flush();
        writer.End();
    }

    nlohmann::json report = BuildAnalysisReport(*analyser, bytesRead);
    // The analyser's counters restart when the transport_stream_id changes; these cover the input.
    report["packets"] = totals.Packets();
    report["sync_byte_errors"] = totals.SyncByteErrors();
    report["transport_errors"] = totals.TransportErrors();
    report["bytes_outside_packets"] = static_cast<uint64_t>(bytesRead) - totals.PacketBytes();
    report["transport_stream_changes"] = ChangesJson(totals);
    report["transport_stream_change_count"] = totals.ChangeCount();
    report["tables_dropped"] = totals.TablesDropped();
    report["analysis_bitrate"] = bitrate;
    report["indicators"] = conformance.IndicatorsJson();
    conformance.AddPcrJson(report["pids"]);
    if (options.json) {
        if (eventLog != nullptr)
            WriteRemainingKeys(report, out);
        else
            out << report.dump(1, ' ', false, kJsonErrors) << '\n';
    } else {
        if (options.events)
            out << '\n';
        PrintAnalysisReport(report, out);
        PrintPcrStatistics(report["pids"], out);
        PrintIndicators(report["indicators"], out);
    }
    if (sink.Failed())
        throw CommandError(sink.Error());
    return 0;
}

} // namespace Skts
