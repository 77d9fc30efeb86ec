#pragma once
// The manual page of skts in roff (man(7)), written from the command definitions themselves:
// the same descriptions, usage lines and options as `skts help COMMAND`, so the page and the
// tool cannot disagree.
#include <ostream>
#include <string>

namespace CLI {
class App;
}

namespace Skts {

class ManualPage {
public:
    // `version` goes into the page's header ("skts 1.0.7.18").
    ManualPage(const CLI::App& app, std::string version) : app_(app), version_(std::move(version)) {}

    // The whole page: NAME, SYNOPSIS, DESCRIPTION, OPTIONS, COMMANDS and a section for every
    // "Heading: text" line of the tool's help footer (EXIT STATUS, ENVIRONMENT).
    void Write(std::ostream& out) const;

    // Text made safe for roff: backslashes escaped, no line starting with a control character.
    static std::string Escape(const std::string& text);

private:
    void WriteOptions(std::ostream& out, const CLI::App& command) const;

    const CLI::App& app_;
    std::string version_;
};

} // namespace Skts
