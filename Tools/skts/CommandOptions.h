#pragma once
// Options every command that reads an input shares: how long a network input runs and waits,
// and --quiet for the progress line.
#include <cstdint>
#include <string>

#include "LiveSource.h"

namespace CLI {
class App;
}

namespace Skts {

class ByteSource;

// The text of the input argument: a file, - or a network address.
inline constexpr const char* kInputHelp =
    "Transport-stream file, - for standard input, or udp://[SOURCE@]ADDRESS:PORT or rtp://... "
    "(multicast with ?interface=NAME)";

// --timeout, and --duration unless the command has its own.
void AddLiveOptions(CLI::App& command, LiveOptions& live, bool withDuration);
void AddQuietFlag(CLI::App& command, bool& quiet);
// --si-standard: none 0, atsc 1, dvb 2 (the default) or 3.
void AddSiStandardOption(CLI::App& command, int32_t& siStandard);

// After a run: 2 with one line on standard error when a network input stopped (no datagram for
// the timeout), else 0.
int LiveRunExitCode(const ByteSource& source);

} // namespace Skts
