#pragma once
// What every command-line tool owes its user besides its commands: `--version`, `help COMMAND`,
// a git-style answer to a missing or unknown command, and the manual page and bash completion
// written from the command definitions (hidden commands the build uses).
namespace CLI {
class App;
}

namespace Skts {

class StdoutSink;

// Call once, before or after the other commands are added: whatever needs the full set of
// commands happens when parsing starts. --version ends the parse with CLI::Success after
// writing to `out`; a missing or unknown command throws CommandError.
void AddToolCommands(CLI::App& app, StdoutSink& out);

} // namespace Skts
