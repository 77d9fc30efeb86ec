#include "AnalyzeCommand.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "Analysis.h"
#include "AnalysisReport.h"
#include "ByteSource.h"
#include "CommandError.h"
#include "CommandOptions.h"
#include "EventWriter.h"
#include "MuxRate.h"
#include "ProgressDisplay.h"
#include "StdoutSink.h"

namespace Skts {

namespace {

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

} // namespace

void AddAnalyzeCommand(CLI::App& app, StdoutSink& out, int& exitCode)
{
    auto options = std::make_shared<AnalyzeOptions>();
    CLI::App* command = app.add_subcommand(
        "analyze", "Analyse a transport stream: packet size and sync, programs, per-PID bit rates and stream "
                   "properties, PCR accuracy and jitter, and the conformance indicators raised.");
    command->add_option("input", options->input, kInputHelp)->required();
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
    AddSiStandardOption(*command, options->siStandard);
    command->add_flag("--json", options->json, "Print one JSON document instead of the readable summary");
    command->add_flag("--events", options->events,
                      "Print each conformance report and each change in the stream's life (PCR jumps and wraps, "
                      "PTS wraps, PAT/PMT changes, PIDs appearing and vanishing, sync lost and found) as it "
                      "happens, with packet index and byte offset (with --json: an \"events\" array)");
    AddLiveOptions(*command, options->live, true);
    AddQuietFlag(*command, options->quiet);
    command->callback([options, &out, &exitCode] { exitCode = RunAnalyze(*options, out); });
}

int RunAnalyze(const AnalyzeOptions& options, StdoutSink& sink)
{
    ByteSource source(options.input, options.live);
    if (!source.IsOpen())
        throw CommandError(source.Error());

    // A network input has an arrival clock of its own; a file's times come from a bit rate.
    const int32_t bitrate = AnalysisBitrate(source, options.bitrate);

    // Events are written as they happen (runs folded), so memory does not grow with them.
    std::ostream& out = sink.Stream();
    EventWriter writer(out, options.json);
    Analysis::Settings settings;
    settings.bitrate = bitrate;
    settings.siStandard = options.siStandard;
    settings.timeline = options.events;
    Analysis analysis(settings, options.events ? Analysis::EventSink([&writer](const AnalyserEvent& event) {
                                                     writer.Write(event);
                                                 })
                                               : Analysis::EventSink());
    if (options.events)
        writer.Begin();

    ProgressDisplay progress(std::cerr, !options.quiet && ProgressDisplay::StderrIsTerminal(), source.Size());
    const int64_t bytesRead =
        analysis.Read(source, options.chunkSize, progress, [&sink] { return !sink.Failed(); });
    if (sink.Failed())
        throw CommandError(sink.Error());
    if (bytesRead < 0)
        throw CommandError(source.Error());
    if (bytesRead == 0)
        throw CommandError(source.Name() + (source.IsLive() ? " gave no transport-stream bytes" : " is empty"));
    if (analysis.Packets() == 0)
        throw CommandError("no transport-stream sync found in " + source.Name());
    if (options.events) {
        analysis.FlushEvents();
        writer.End();
    }

    nlohmann::json report = analysis.Report(bytesRead);
    if (const LiveSource* live = source.Live()) {
        report["analysis_bitrate"] = 0; // times are the datagrams' arrival times
        report["live"] = live->StatsJson();
    }
    if (options.json) {
        if (options.events)
            WriteRemainingKeys(report, out);
        else
            out << report.dump(1, ' ', false, kJsonErrors) << '\n';
    } else {
        if (options.events)
            out << '\n';
        PrintAnalysisReport(report, out);
        PrintPcrStatistics(report["pids"], out);
        PrintIndicators(report["indicators"], out);
        if (report.contains("live"))
            PrintLiveStats(report["live"], out);
    }
    if (sink.Failed())
        throw CommandError(sink.Error());
    return LiveRunExitCode(source);
}

} // namespace Skts
