// skts: the command-line face of the Korvath transport-stream toolkit.
#include <CLI/CLI.hpp>
#include <iostream>

#include "AnalyzeCommand.h"
#include "CommandError.h"
#include "DemuxCommand.h"
#include "PlayCommand.h"
#include "RegisterCommand.h"

int main(int argc, char** argv)
{
    CLI::App app{"skts - analyse and demultiplex MPEG-2 transport streams (188- or 204-byte packets)."};
    app.require_subcommand(1);
    int exitCode = 0;
    Skts::AddAnalyzeCommand(app, exitCode);
    Skts::AddDemuxCommand(app, exitCode);
    Skts::AddPlayCommand(app, exitCode);
    Skts::AddRegisterCommands(app, exitCode);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return Skts::kExitBadInput;
    } catch (const Skts::CommandError& e) {
        std::cerr << "skts: " << e.what() << '\n';
        return Skts::kExitBadInput;
    }
    return exitCode;
}
