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

struct PlayOptions {
    std::string input;
    std::vector<std::string> pins; // NAME=PID[,PID...][:video|audio|data]
    int32_t program = -1;          // -1: the first program of the PAT
    std::string outputDir = "out";
    size_t chunkSize = 188 * 7;
    bool fast = false;
    double duration = 0; // seconds; 0: the whole input
    std::string clock = "demux";
    bool discard = false;
    bool json = false;
    LiveOptions live; // a network input's timeout; its duration is --duration
};

// Adds the "play" subcommand; its callback plays the input through the filter graph.
void AddPlayCommand(CLI::App& app, StdoutSink& out, int& exitCode);
int RunPlay(const PlayOptions& options, StdoutSink& out);

} // namespace Skts
