#include "AnalyzeCommand.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "AnalysisReport.h"
#include "ByteSource.h"
#include "CommandError.h"
#include "SkTsInfo.h"
#include "SkTsPacketInput.h"

namespace Skts {

void AddAnalyzeCommand(CLI::App& app, int& exitCode)
{
    auto options = std::make_shared<AnalyzeOptions>();
    CLI::App* command = app.add_subcommand(
        "analyze", "Analyse a transport stream: packet size and sync, errors, transport and per-PID bit rates.");
    command->add_option("input", options->input, "Transport-stream file, or - for standard input")->required();
    command->add_option("--chunk", options->chunkSize,
                        "Bytes handed to the packet input per write (default 65536); any chunking gives the same result")
        ->check(CLI::Range(size_t{1}, size_t{64} << 20));
    command->add_option("--bitrate", options->bitrate,
                        "Bit rate in bit/s from which packet arrival times are derived, since a file has no "
                        "arrival clock (default 10000000)")
        ->check(CLI::Range(1, INT32_MAX));
    command->add_option("--si-standard", options->siStandard,
                        "Service-information tables to follow: none, atsc, dvb (default) or 3 (a DVB-based set)")
        ->transform(CLI::CheckedTransformer(std::map<std::string, int32_t>{{"none", 0}, {"atsc", 1}, {"dvb", 2}, {"3", 3}},
                                            CLI::ignore_case));
    command->add_flag("--json", options->json, "Print one JSON document instead of the readable summary");
    command->callback([options, &exitCode] { exitCode = RunAnalyze(*options); });
}

int RunAnalyze(const AnalyzeOptions& options)
{
    ByteSource source(options.input);
    if (!source.IsOpen())
        throw CommandError(source.Error());

    const std::unique_ptr<SklibTs::SkTsInfo> analyser(SklibTs::CreateTsInfo());
    const std::unique_ptr<SklibTs::SkTsPacketInput> input(SklibTs::CreateTsPacketInput(analyser.get(), options.bitrate));
    if (!analyser || !input)
        throw CommandError("out of memory");
    analyser->SetSiStandard(options.siStandard);

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

    const nlohmann::json report = BuildAnalysisReport(*analyser, bytesRead);
    if (options.json)
        std::cout << report.dump(1) << '\n';
    else
        PrintAnalysisReport(report, std::cout);
    return 0;
}

} // namespace Skts
