// skts: the command-line face of the Korvath transport-stream toolkit.
#include <CLI/CLI.hpp>
#include <iostream>
#include <new>

#include "AnalyzeCommand.h"
#include "CommandError.h"
#include "DemuxCommand.h"
#include "PlayCommand.h"
#include "ReportCommand.h"
#include "StdoutSink.h"
#include "RegisterCommand.h"
#include "ToolCommands.h"

namespace {

int Run(int argc, char** argv, Skts::StdoutSink& out)
{
    CLI::App app{"skts - analyse and demultiplex MPEG-2 transport streams (188- or 204-byte packets)."};
    Skts::AddToolCommands(app, out);
    int exitCode = Skts::kExitSuccess;
    Skts::AddAnalyzeCommand(app, out, exitCode);
    Skts::AddDemuxCommand(app, out, exitCode);
    Skts::AddPlayCommand(app, out, exitCode);
    Skts::AddRegisterCommands(app, out, exitCode);
    Skts::AddReportCommand(app, out, exitCode);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::Success&) {
        // --version went to standard output, checked below.
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return Skts::kExitBadInput;
    } catch (const Skts::CommandError& e) {
        out.Finish();
        std::cerr << "skts: " << e.what() << '\n';
        return Skts::kExitBadInput;
    }
    if (!out.Finish()) {
        std::cerr << "skts: " << out.Error() << '\n';
        return Skts::kExitBadInput;
    }
    return exitCode;
}

} // namespace

int main(int argc, char** argv)
{
    // Nothing escapes: a failure that is not the input's or the system's is a bug, reported in
    // one line with exit code 1 rather than an abort.
    try {
        Skts::StdoutSink out;
        return Run(argc, argv, out);
    } catch (const std::bad_alloc&) {
        std::cerr << "skts: internal error: out of memory\n";
    } catch (const std::exception& e) {
        std::cerr << "skts: internal error: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "skts: internal error\n";
    }
    return Skts::kExitInternalError;
}
