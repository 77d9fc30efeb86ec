#include "ToolCommands.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "BashCompletion.h"
#include "BuildId.h"
#include "CommandError.h"
#include "CommandGuide.h"
#include "ManualPage.h"
#include "SkTsInfo.h"
#include "StdoutSink.h"

namespace Skts {

namespace {

constexpr const char* kToolName = "skts";
constexpr const char* kHelpCommand = "help";

// "skts 1.0.7.18", the build and the toolkit's version, one per line.
std::string VersionText()
{
    const SklibTs::ToolkitVersion toolkit = SklibTs::GetToolkitVersion();
    std::string compiler;
#if defined(__clang__)
    compiler = "clang " __clang_version__;
#elif defined(__GNUC__)
    compiler = "GCC " __VERSION__;
#endif
    return std::string(kToolName) + " " + SKTS_VERSION + "\n" +
           "build " + BuildId() + " (" + SKTS_BUILD_TYPE + (compiler.empty() ? "" : ", " + compiler) + ")\n" +
           "toolkit SklibTs " + std::to_string(toolkit.major) + "." + std::to_string(toolkit.minor) + "." +
           std::to_string(toolkit.patch) + "." + std::to_string(toolkit.build) + "\n";
}

std::string Footer()
{
    std::string footer =
        "Exit status: 0 success; 1 internal error (a bug, reported in one line); 2 bad input or output, or a bad "
        "command line (reported in one line naming it).\n";
#if !defined(_WIN32)
    footer += "Environment: SKTS_REGISTRY names the file that holds the registry of COM servers and filters "
              "(default $XDG_DATA_HOME/skts/registry, else ~/.local/share/skts/registry).\n";
#endif
    footer += std::string("See '") + kToolName + " " + kHelpCommand +
              " COMMAND' for the arguments and options of a command.";
    return footer;
}

// `help [COMMAND]`: the tool's help, or the help of one command as `COMMAND --help` prints it.
void AddHelpCommand(CLI::App& app, StdoutSink& out)
{
    auto name = std::make_shared<std::string>();
    CLI::App* help = app.add_subcommand(kHelpCommand, "Show the help of a command: its usage, arguments and options");
    help->add_option("command", *name, "The command (without it: the tool's help with the list of commands)");
    help->callback([&app, &out, name] {
        if (name->empty()) {
            // app.help() would describe the command selected, which is this one.
            out.Stream() << app.get_formatter()->make_help(&app, app.get_name(), CLI::AppFormatMode::Normal);
            return;
        }
        const CLI::App* command = CommandGuide(app).Find(*name);
        if (command == nullptr)
            throw CommandError(CommandGuide(app).UnknownCommand(*name));
        out.Stream() << command->help(app.get_name());
    });
}

} // namespace

void AddToolCommands(CLI::App& app, StdoutSink& out)
{
    app.name(kToolName);
    // At most one command; none is answered below, with the list, rather than by CLI11.
    app.require_subcommand(0, 1);
    app.add_flag_callback(
        "--version",
        [&out] {
            out.Stream() << VersionText();
            throw CLI::Success();
        },
        "Print the version and the build, then exit");
    // The build writes the manual page and the completion script with these.
    app.add_subcommand("manual-page", "Print the manual page (roff)")
        ->group("")
        ->callback([&app, &out] { ManualPage(app, std::string(kToolName) + " " + SKTS_VERSION).Write(out.Stream()); });
    app.add_subcommand("bash-completion", "Print the bash completion script")
        ->group("")
        ->callback([&app, &out] { BashCompletion(app, kHelpCommand).Write(out.Stream()); });

    // The other commands are all there once parsing starts: `help` goes after them in every
    // listing, and the settings that commands would inherit are made only now (a command's help
    // has no footer of its own; commands keep rejecting stray words, the tool takes its own to
    // name them).
    app.preparse_callback([&app, &out](size_t) {
        AddHelpCommand(app, out);
        app.footer(Footer());
        app.allow_extras();
    });
    app.parse_complete_callback([&app] {
        const std::vector<std::string> stray = app.remaining();
        if (!stray.empty() && stray.front().rfind('-', 0) == 0)
            throw CommandError("unknown option " + stray.front() + ". See '" + app.get_name() + " --help'.");
        if (!stray.empty())
            throw CommandError(CommandGuide(app).UnknownCommand(stray.front()));
        if (app.get_subcommands().empty())
            throw CommandError(CommandGuide(app).MissingCommand());
    });
}

} // namespace Skts
