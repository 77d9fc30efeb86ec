#pragma once
#include <cstdint>
#include <string>

#include "LiveSource.h"

namespace CLI {
class App;
}

namespace Skts {

class StdoutSink;

struct ReportOptions {
    std::string input;
    std::string output = "report.html"; // "-": standard output
    size_t chunkSize = 65536;
    int32_t bitrate = 0; // 0: measured from the PCRs (a report is about timing)
    int32_t siStandard = 2;
    bool quiet = false;
    LiveOptions live;
};

// Adds the "report" subcommand: the analysis as one self-contained HTML page with plots.
void AddReportCommand(CLI::App& app, StdoutSink& out, int& exitCode);
int RunReport(const ReportOptions& options, StdoutSink& out);

} // namespace Skts
