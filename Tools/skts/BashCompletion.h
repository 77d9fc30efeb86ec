#pragma once
// The bash completion script of skts, written from the command definitions: command names,
// each command's options, the fixed choices of an option's value, and command names after
// `help`. Files are left to bash's own completion.
#include <ostream>
#include <string>

namespace CLI {
class App;
}

namespace Skts {

class BashCompletion {
public:
    // `helpCommand` names the command whose argument is another command's name.
    BashCompletion(const CLI::App& app, std::string helpCommand) : app_(app), helpCommand_(std::move(helpCommand)) {}

    void Write(std::ostream& out) const;

    // The values an option's type names in braces ("TEXT:{demux,system,none}", mappings
    // "{none->0,...}" give their keys); empty when the value is free.
    static std::string Choices(const std::string& typeName);

private:
    const CLI::App& app_;
    std::string helpCommand_;
};

} // namespace Skts
