#pragma once
// What skts says when the command line names no command or one it does not have: the list of
// commands, git-style, with the closest name when the word looks like a misspelt one.
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace Skts {

// The commands a user can call, in the order they were added (hidden ones left out).
std::vector<const CLI::App*> VisibleCommands(const CLI::App& app);

// The first clause of a description ("Analyse a transport stream"), for one-line listings.
std::string Summary(const std::string& description);

class CommandGuide {
public:
    explicit CommandGuide(const CLI::App& app) : app_(app) {}

    // The visible command of that name (aliases and ignored case as the parser takes them).
    const CLI::App* Find(const std::string& name) const;
    // "   analyze      Analyse a transport stream" lines, one per command.
    std::string CommandList() const;
    // "'NAME' is not a skts command. ..." with the closest command, if any, and the list.
    std::string UnknownCommand(const std::string& name) const;
    // The usage line and the list, for a command line without a command.
    std::string MissingCommand() const;
    // The command whose name is within two edits of `name` (the nearest; none for a tie).
    std::optional<std::string> Closest(const std::string& name) const;

private:
    const CLI::App& app_;
};

} // namespace Skts
