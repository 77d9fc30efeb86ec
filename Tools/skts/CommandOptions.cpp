#include "CommandOptions.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <map>
#include <string>

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

void AddSiStandardOption(CLI::App& command, int32_t& siStandard)
{
    command.add_option("--si-standard", siStandard,
                       "Service-information tables to follow: none, atsc, dvb (default) or 3 (a DVB-based set)")
        ->transform(CLI::CheckedTransformer(std::map<std::string, int32_t>{{"none", 0}, {"atsc", 1}, {"dvb", 2}, {"3", 3}},
                                            CLI::ignore_case));
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
