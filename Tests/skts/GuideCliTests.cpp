// skts as a user meets it first: --version, no command, a wrong command, help COMMAND.
#include <gtest/gtest.h>

#include <string>

#include "RunTool.h"
#include "SkDsDemux.h"
#include "SkTsInfo.h"

namespace {

const std::string kTool = std::string("'") + SKTS_TOOL + "'";

SktsTest::ToolResult Skts(const std::string& arguments) { return SktsTest::RunCommand(kTool + " " + arguments); }

// Every command appears in the list, each on a line of its own with its summary.
void ExpectCommandList(const std::string& text)
{
    EXPECT_NE(text.find("\nThe commands are:\n"), std::string::npos) << text;
    for (const char* command : {"analyze", "demux", "play", "register", "unregister", "filters", "help"})
        EXPECT_NE(text.find("\n   " + std::string(command) + " "), std::string::npos) << command << " in\n" << text;
    EXPECT_EQ(text.find("manual-page"), std::string::npos) << "hidden commands stay hidden";
}

TEST(SktsVersion, NamesTheProductVersionTheBuildAndTheToolkit)
{
    const auto result = Skts("--version");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    const SklibTs::ToolkitVersion toolkit = SklibTs::GetToolkitVersion();
    const std::string toolkitLine = "toolkit SklibTs " + std::to_string(toolkit.major) + "." + std::to_string(toolkit.minor) +
                                    "." + std::to_string(toolkit.patch) + "." + std::to_string(toolkit.build) + "\n";
    EXPECT_EQ(result.out.rfind("skts " SKTS_PROJECT_VERSION "\nbuild ", 0), 0u) << result.out;
    EXPECT_NE(result.out.find(toolkitLine), std::string::npos) << result.out;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 3);
}

TEST(SktsVersion, IsTheVersionTheFilterReports)
{
    const std::string filter = std::to_string(SkDsDemux::kVersionMajor) + "." + std::to_string(SkDsDemux::kVersionMinor) +
                               "." + std::to_string(SkDsDemux::kVersionRevision) + "." +
                               std::to_string(SkDsDemux::kVersionBuild);
    EXPECT_EQ(filter, SKTS_PROJECT_VERSION);
}

TEST(SktsVersion, FailsWhenItCannotBeWritten)
{
    const auto result = SktsTest::RunCommand("{ " + kTool + " --version >/dev/full; }");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("cannot write standard output"), std::string::npos) << result.err;
}

TEST(SktsCommandGuide, NoCommandGivesTheUsageAndTheCommands)
{
    const auto result = Skts("");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("skts: no command given.\n\nUsage: skts COMMAND", 0), 0u) << result.err;
    ExpectCommandList(result.err);
}

TEST(SktsCommandGuide, UnknownCommandIsNamedWithTheCommands)
{
    const auto result = Skts("nosuchcommand in.ts");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("skts: 'nosuchcommand' is not a skts command. See 'skts help'.\n", 0), 0u) << result.err;
    EXPECT_EQ(result.err.find("most similar"), std::string::npos);
    ExpectCommandList(result.err);
}

TEST(SktsCommandGuide, MisspeltCommandGetsTheClosestOne)
{
    for (const auto& [typed, meant] : {std::pair{"analyse", "analyze"}, {"demx", "demux"}, {"filter", "filters"}}) {
        const auto result = Skts(typed);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find("The most similar command is\n   " + std::string(meant) + "\n"), std::string::npos)
            << result.err;
    }
}

TEST(SktsCommandGuide, UnknownOptionsAndStrayArgumentsAreStillRefused)
{
    const auto option = Skts("--bogus");
    EXPECT_EQ(option.exitCode, 2);
    EXPECT_EQ(option.err, "skts: unknown option --bogus. See 'skts --help'.\n");
    // A command keeps rejecting words it has no place for.
    const auto stray = Skts("filters extra");
    EXPECT_EQ(stray.exitCode, 2);
    EXPECT_NE(stray.err.find("extra"), std::string::npos) << stray.err;
}

TEST(SktsHelp, HelpCommandPrintsWhatCommandHelpPrints)
{
    for (const char* command : {"analyze", "demux", "play", "register", "filters"}) {
        const auto viaHelp = Skts(std::string("help ") + command);
        const auto viaFlag = Skts(std::string(command) + " --help");
        EXPECT_EQ(viaHelp.exitCode, 0);
        EXPECT_EQ(viaHelp.out, viaFlag.out) << command;
        EXPECT_NE(viaHelp.out.find(std::string("Usage: skts ") + command + " [OPTIONS]"), std::string::npos) << viaHelp.out;
    }
    const auto tool = Skts("help");
    EXPECT_EQ(tool.exitCode, 0);
    EXPECT_EQ(tool.out, Skts("--help").out);
    EXPECT_NE(tool.out.find("Exit status: 0 success"), std::string::npos);
    EXPECT_NE(tool.out.find("--version"), std::string::npos);
}

TEST(SktsHelp, HelpForAnUnknownCommandListsTheCommands)
{
    const auto result = Skts("help nosuchcommand");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("skts: 'nosuchcommand' is not a skts command.", 0), 0u) << result.err;
    ExpectCommandList(result.err);
}

TEST(SktsHelp, CommandHelpHasNoToolFooter)
{
    const auto result = Skts("analyze --help");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out.find("Exit status"), std::string::npos) << result.out;
}

} // namespace
