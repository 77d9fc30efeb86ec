#include "CommandGuide.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <sstream>

namespace Skts {

namespace {

// Messages end without a newline: the caller ends the line.
std::string WithoutFinalNewline(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// Insertions, deletions, substitutions and swaps of neighbours, case ignored.
size_t EditDistance(const std::string& a, const std::string& b)
{
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    const auto same = [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    };
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (same(a[i - 1], b[j - 1]) ? 0 : 1)});
            if (i > 1 && j > 1 && same(a[i - 1], b[j - 2]) && same(a[i - 2], b[j - 1]))
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

} // namespace

std::vector<const CLI::App*> VisibleCommands(const CLI::App& app)
{
    return app.get_subcommands([](const CLI::App* command) {
        return !command->get_name().empty() && !command->get_group().empty() && !command->get_disabled();
    });
}

std::string Summary(const std::string& description)
{
    size_t end = description.size();
    for (const char* stop : {": ", ". "})
        end = std::min(end, description.find(stop));
    std::string summary = description.substr(0, end);
    while (!summary.empty() && summary.back() == '.')
        summary.pop_back();
    return summary;
}

const CLI::App* CommandGuide::Find(const std::string& name) const
{
    for (const CLI::App* command : VisibleCommands(app_)) {
        if (command->check_name(name))
            return command;
    }
    return nullptr;
}

std::string CommandGuide::CommandList() const
{
    const std::vector<const CLI::App*> commands = VisibleCommands(app_);
    size_t width = 0;
    for (const CLI::App* command : commands)
        width = std::max(width, command->get_name().size());
    std::ostringstream list;
    for (const CLI::App* command : commands) {
        list << "   " << command->get_name() << std::string(width - command->get_name().size() + 3, ' ')
             << Summary(command->get_description()) << '\n';
    }
    return list.str();
}

std::string CommandGuide::UnknownCommand(const std::string& name) const
{
    std::ostringstream text;
    text << "'" << name << "' is not a " << app_.get_name() << " command. See '" << app_.get_name() << " help'.\n";
    if (const auto closest = Closest(name))
        text << "\nThe most similar command is\n   " << *closest << '\n';
    text << "\nThe commands are:\n" << CommandList();
    return WithoutFinalNewline(text.str());
}

std::string CommandGuide::MissingCommand() const
{
    const std::string name = app_.get_name();
    std::ostringstream text;
    text << "no command given.\n\nUsage: " << name << " COMMAND [OPTIONS] [ARGUMENTS]\n"
         << "       " << name << " help COMMAND\n"
         << "       " << name << " --version\n"
         << "\nThe commands are:\n"
         << CommandList() << "\nSee '" << name << " help COMMAND' for the arguments and options of a command.\n";
    return WithoutFinalNewline(text.str());
}

std::optional<std::string> CommandGuide::Closest(const std::string& name) const
{
    constexpr size_t kMaxEdits = 2;
    std::optional<std::string> best;
    size_t bestDistance = kMaxEdits + 1;
    bool tie = false;
    for (const CLI::App* command : VisibleCommands(app_)) {
        const size_t distance = EditDistance(name, command->get_name());
        if (distance < bestDistance) {
            best = command->get_name();
            bestDistance = distance;
            tie = false;
        } else if (distance == bestDistance) {
            tie = true;
        }
    }
    if (tie)
        return std::nullopt;
    return best;
}

} // namespace Skts
