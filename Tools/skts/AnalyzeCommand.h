#pragma once
#include <cstdint>
#include <string>

#include "LiveSource.h"

namespace CLI {
class App;
}

namespace Skts {

class StdoutSink;

struct AnalyzeOptions {
    std::string input;
    size_t chunkSize = 65536;
    int32_t bitrate = 10'000'000; // 0: measured from the PCRs at the start of the input
    bool json = false;
    bool events = false;
    int32_t siStandard = 2; // DVB, since most streams are DVB
    bool quiet = false;
    LiveOptions live;
};

// Adds the "analyze" subcommand; its callback runs the analysis, prints to out and sets exitCode.
void AddAnalyzeCommand(CLI::App& app, StdoutSink& out, int& exitCode);

// Reads the input through the packet input into an analyser and prints the summary.
int RunAnalyze(const AnalyzeOptions& options, StdoutSink& out);

} // namespace Skts
