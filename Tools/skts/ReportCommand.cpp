#include "ReportCommand.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "Analysis.h"
#include "ByteSource.h"
#include "CommandError.h"
#include "CommandOptions.h"
#include "EventWriter.h"
#include "MuxRate.h"
#include "ProgressDisplay.h"
#include "ReportPage.h"
#include "StdoutSink.h"

namespace Skts {

namespace {

// Events kept for the page; later ones are counted only.
constexpr size_t kMaxEvents = 10'000;

// Writes the page beside its final name and renames it, so no half-written report is left.
void WritePageFile(const nlohmann::json& document, const std::string& path)
{
    const std::string temporary = path + ".part";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file)
            throw CommandError("cannot write " + path + ": " + std::strerror(errno));
        WriteReportPage(document, file);
        file.flush();
        if (!file) {
            const std::string reason = std::strerror(errno);
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            throw CommandError("cannot write " + path + ": " + reason);
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        throw CommandError("cannot write " + path + ": " + ec.message());
    }
}

} // namespace

void AddReportCommand(CLI::App& app, StdoutSink& out, int& exitCode)
{
    auto options = std::make_shared<ReportOptions>();
    CLI::App* command = app.add_subcommand(
        "report", "Analyse a transport stream and write one self-contained HTML page: summary, program tree, "
                  "PIDs, bit rate per PID over time, PCR accuracy and jitter, decoder buffer margin (PTS minus "
                  "PCR), the indicator timeline and the stream's events; its data are one embedded JSON document.");
    command->add_option("input", options->input, kInputHelp)->required();
    command->add_option("-o,--output", options->output, "The page to write (default report.html; - for standard output)");
    command->add_option("--chunk", options->chunkSize, "Bytes handed to the packet input per write (default 65536)")
        ->check(CLI::Range(size_t{1}, size_t{64} << 20));
    command->add_option("--bitrate", options->bitrate,
                        "File input: bit rate in bit/s for packet times (default: the mux rate from the PCRs of "
                        "the first 8 MiB)")
        ->check(CLI::Range(1, INT32_MAX));
    AddSiStandardOption(*command, options->siStandard);
    AddLiveOptions(*command, options->live, true);
    AddQuietFlag(*command, options->quiet);
    command->callback([options, &out, &exitCode] { exitCode = RunReport(*options, out); });
}

int RunReport(const ReportOptions& options, StdoutSink& sink)
{
    ByteSource source(options.input, options.live);
    if (!source.IsOpen())
        throw CommandError(source.Error());
    const int32_t bitrate = AnalysisBitrate(source, options.bitrate);

    nlohmann::json events = nlohmann::json::array();
    uint64_t eventsDropped = 0;
    Analysis::Settings settings;
    settings.bitrate = bitrate;
    settings.siStandard = options.siStandard;
    settings.timeline = true;
    settings.series = true;
    Analysis analysis(settings, [&](const AnalyserEvent& event) {
        if (events.size() < kMaxEvents)
            events.push_back(EventWriter::ToJson(event));
        else
            ++eventsDropped;
    });
    ProgressDisplay progress(std::cerr, !options.quiet && ProgressDisplay::StderrIsTerminal(), source.Size());
    const int64_t bytesRead = analysis.Read(source, options.chunkSize, progress, [] { return true; });
    if (bytesRead < 0)
        throw CommandError(source.Error());
    if (bytesRead == 0)
        throw CommandError(source.Name() + (source.IsLive() ? " gave no transport-stream bytes" : " is empty"));
    if (analysis.Packets() == 0)
        throw CommandError("no transport-stream sync found in " + source.Name());
    analysis.FlushEvents();

    nlohmann::json document = analysis.Report(bytesRead);
    if (const LiveSource* live = source.Live()) {
        document["analysis_bitrate"] = 0;
        document["live"] = live->StatsJson();
    }
    document["input"] = source.Name();
    document["events"] = std::move(events);
    document["events_dropped"] = eventsDropped;
    document["series"] = analysis.SeriesJson();

    if (options.output == "-") {
        WriteReportPage(document, sink.Stream());
        if (sink.Failed())
            throw CommandError(sink.Error());
    } else {
        WritePageFile(document, options.output);
        sink.Stream() << "wrote " << options.output << ": " << document["packets"].get<uint64_t>() << " packets, "
                      << document["programs"].size() << " programs, " << document["events"].size() << " events\n";
    }
    return LiveRunExitCode(source);
}

} // namespace Skts
