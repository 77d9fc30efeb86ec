#include "CommandOptions.h"

#include <CLI/CLI.hpp>
#include <iostream>

#include "ByteSource.h"
#include "CommandError.h"

namespace Skts {

void AddLiveOptions(CLI::App& command, LiveOptions& live, bool withDuration)
{
    if (withDuration) {
        command.add_option("--duration", live.durationSeconds, "Network input: stop after this many seconds")
            ->check(CLI::PositiveNumber);
    }
    command.add_option("--timeout", live.timeoutSeconds,
                       "Network input: give up when no datagram comes for this many seconds (default 5)")
        ->check(CLI::PositiveNumber);
}

void AddQuietFlag(CLI::App& command, bool& quiet)
{
    command.add_flag("-q,--quiet", quiet, "No progress line on standard error");
}

int LiveRunExitCode(const ByteSource& source)
{
    const LiveSource* live = source.Live();
    if (live == nullptr || live->Ended() != LiveSource::End::Silence)
        return kExitSuccess;
    std::cerr << "skts: " << live->SilenceMessage() << '\n';
    return kExitBadInput;
}

} // namespace Skts
