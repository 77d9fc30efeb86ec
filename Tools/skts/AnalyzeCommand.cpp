#include "AnalyzeCommand.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "AnalysisReport.h"
#include "ByteSource.h"
#include "CommandError.h"
#include "ConformanceCollector.h"
#include "MuxRate.h"
#include "SkTsInfo.h"
#include "SkTsPacketInput.h"

namespace Skts {

namespace {
constexpr size_t kMuxRateProbeBytes = size_t{8} << 20;
constexpr int32_t kFallbackBitrate = 10'000'000;
} // namespace

void AddAnalyzeCommand(CLI::App& app, int& exitCode)
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
    command->callback([options, &exitCode] { exitCode = RunAnalyze(*options); });
}

int RunAnalyze(const AnalyzeOptions& options)
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
    ConformanceCollector conformance(*analyser, options.events && !options.json ? &std::cout : nullptr,
                                           options.events && options.json);

    const int64_t bytesRead = source.ReadAll(options.chunkSize, [&](const uint8_t* data, uint32_t size) {
        input->Write(data, size);
    });
    if (bytesRead < 0)
        throw CommandError(source.Error());
    if (bytesRead == 0)
        throw CommandError(source.Name() + " is empty");

    SklibTs::SkTsInfoLock lock(*analyser);
    if (analyser->packetsProcessed == 0)
        throw CommandError("no transport-stream sync found in " + source.Name());

    nlohmann::json report = BuildAnalysisReport(*analyser, bytesRead);
    report["analysis_bitrate"] = bitrate;
    report["indicators"] = conformance.IndicatorsJson();
    conformance.AddPcrJson(report["pids"]);
    if (options.events && options.json)
        report["events"] = conformance.EventsJson();
    if (options.json) {
        std::cout << report.dump(1) << '\n';
    } else {
        if (options.events)
            std::cout << '\n';
        PrintAnalysisReport(report, std::cout);
        PrintPcrStatistics(report["pids"], std::cout);
        PrintIndicators(report["indicators"], std::cout);
    }
    return 0;
}

} // namespace Skts
