#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "LiveSource.h"

namespace CLI {
class App;
}

namespace Skts {

class StdoutSink;

struct DemuxOptions {
    std::string input;
    std::string outputDir = "out";
    std::vector<std::string> pids;
    size_t chunkSize = 65536;
    bool json = false;
    bool quiet = false;
    LiveOptions live;
};

// Adds the "demux" subcommand; its callback runs the engine and sets exitCode.
void AddDemuxCommand(CLI::App& app, StdoutSink& out, int& exitCode);
int RunDemux(const DemuxOptions& options, StdoutSink& out);

} // namespace Skts
