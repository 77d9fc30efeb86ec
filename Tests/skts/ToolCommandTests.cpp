// The writers behind skts's command list, manual page and bash completion, on a tool of their
// own: what they write follows whatever commands and options the tool defines.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>

#include <fstream>
#include <map>
#include <sstream>

#include "BashCompletion.h"
#include "CommandGuide.h"
#include "ManualPage.h"
#include "RunTool.h"
#include "TempDir.h"

namespace {

// A tool with a command skts does not have, an option with choices and a hidden command.
class SampleTool : public ::testing::Test {
protected:
    SampleTool()
    {
        app_.name("tool");
        app_.footer("Exit status: 0 fine, 2 not.\nSee the source.");
        CLI::App* report = app_.add_subcommand("report", "Write a report: every fact, in HTML. More words follow");
        report->add_option("input", input_, "The stream")->required();
        report->add_option("-f,--format", format_, "How to write it")->check(CLI::IsMember({"html", "text"}));
        report->add_option("--level", level_, "The level")
            ->transform(CLI::CheckedTransformer(std::map<std::string, int>{{"low", 1}, {"high", 2}}));
        report->add_flag("--quiet", quiet_, ".starts with a dot \\ and a backslash");
        app_.add_subcommand("list", "List what there is.");
        app_.add_subcommand("secret", "Not for users")->group("");
        app_.add_subcommand("help", "Show the help of a command")->add_option("command", input_, "The command");
    }

    std::string Manual() const
    {
        std::ostringstream page;
        Skts::ManualPage(app_, "tool 9.8").Write(page);
        return page.str();
    }
    std::string Completion() const
    {
        std::ostringstream script;
        Skts::BashCompletion(app_, "help").Write(script);
        return script.str();
    }

    CLI::App app_{"tool - do things to streams."};
    std::string input_;
    std::string format_;
    int level_ = 0;
    bool quiet_ = false;
};

TEST_F(SampleTool, GuideListsVisibleCommandsWithTheirFirstClause)
{
    const Skts::CommandGuide guide(app_);
    EXPECT_EQ(guide.CommandList(), "   report   Write a report\n"
                                   "   list     List what there is\n"
                                   "   help     Show the help of a command\n");
    EXPECT_EQ(guide.Find("secret"), nullptr);
    ASSERT_NE(guide.Find("list"), nullptr);
    EXPECT_EQ(guide.UnknownCommand("lsit"),
              "'lsit' is not a tool command. See 'tool help'.\n\nThe most similar command is\n   list\n\n"
              "The commands are:\n" +
                  guide.CommandList().substr(0, guide.CommandList().size() - 1));
}

TEST_F(SampleTool, ClosestCommandIsWithinTwoEditsAndUnambiguous)
{
    const Skts::CommandGuide guide(app_);
    EXPECT_EQ(guide.Closest("reprot"), "report"); // a swap is one edit
    EXPECT_EQ(guide.Closest("REPORT"), "report");
    EXPECT_EQ(guide.Closest("lst"), "list");
    EXPECT_EQ(guide.Closest("xyzzy"), std::nullopt);
    EXPECT_EQ(guide.Closest("secret"), std::nullopt); // hidden
    CLI::App twins{"twins"};
    twins.add_subcommand("cat", "");
    twins.add_subcommand("cut", "");
    EXPECT_EQ(Skts::CommandGuide(twins).Closest("cot"), std::nullopt);
}

TEST(CommandSummary, EndsAtTheFirstClauseNotInsideAFileName)
{
    EXPECT_EQ(Skts::Summary("Demultiplex PES payloads to DIR/0xNNNN.es. Packet times follow"),
              "Demultiplex PES payloads to DIR/0xNNNN.es");
    EXPECT_EQ(Skts::Summary("Analyse a stream: sync, programs"), "Analyse a stream");
    EXPECT_EQ(Skts::Summary("Plain."), "Plain");
}

TEST_F(SampleTool, ManualPageDescribesEveryCommandAndOption)
{
    const std::string page = Manual();
    EXPECT_NE(page.find(".TH TOOL 1 \"\" \"tool 9.8\""), std::string::npos);
    EXPECT_NE(page.find(".SH NAME\ntool \\- do things to streams\n"), std::string::npos) << page;
    EXPECT_NE(page.find(".SS report\n.B tool report\n[\\fIOPTIONS\\fR] \\fIinput\\fR\n"), std::string::npos) << page;
    EXPECT_NE(page.find(".SS list\n"), std::string::npos);
    EXPECT_EQ(page.find("secret"), std::string::npos);
    EXPECT_NE(page.find(".TP\n\\fIinput\\fR\nThe stream (required)\n"), std::string::npos) << page;
    EXPECT_NE(page.find(".TP\n\\fB\\-f\\fR, \\fB\\-\\-format\\fR \\fITEXT:{html,text}\\fR\nHow to write it\n"),
              std::string::npos)
        << page;
    // Footer lines: a "Heading: text" line is a section, any other line goes to the description.
    EXPECT_NE(page.find(".SH EXIT STATUS\n0 fine, 2 not.\n"), std::string::npos) << page;
    EXPECT_NE(page.find(".PP\nSee the source.\n"), std::string::npos) << page;
}

TEST_F(SampleTool, ManualPageEscapesWhatRoffWouldTakeAsRequests)
{
    const std::string page = Manual();
    EXPECT_NE(page.find("\n\\&.starts with a dot \\e and a backslash\n"), std::string::npos) << page;
    EXPECT_EQ(Skts::ManualPage::Escape("'quoted\n.dot"), "\\&'quoted\n\\&.dot");
}

TEST_F(SampleTool, CompletionOffersCommandsOptionsChoicesAndCommandNamesAfterHelp)
{
    SktsTest::TempDir dir("skts_completion");
    const auto script = dir / "tool.bash";
    std::ofstream(script) << Completion();
    const auto complete = [&](const std::string& words) {
        const std::string program = "source '" + script.string() + "'; COMP_WORDS=(" + words +
                                    "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _tool; echo \"${COMPREPLY[*]}\"";
        const auto result = SktsTest::RunCommand("bash -c \"$(cat <<'EOF'\n" + program + "\nEOF\n)\"");
        EXPECT_EQ(result.err, "");
        return result.out;
    };
    EXPECT_EQ(complete("tool ''"), "-h --help report list help\n");
    EXPECT_EQ(complete("tool re"), "report\n");
    EXPECT_EQ(complete("tool report -"), "-h --help -f --format --level --quiet\n");
    EXPECT_EQ(complete("tool report --format ''"), "html text\n");
    EXPECT_EQ(complete("tool report -f h"), "html\n");
    EXPECT_EQ(complete("tool report --level ''"), "high low\n");
    EXPECT_EQ(complete("tool help ''"), "report list help\n");
    EXPECT_EQ(complete("tool secret ''"), "\n");
}

TEST(BashCompletionChoices, TakesTheKeysOfTheFirstBraces)
{
    EXPECT_EQ(Skts::BashCompletion::Choices("TEXT:{demux,system,none}"), "demux system none");
    EXPECT_EQ(Skts::BashCompletion::Choices("INT:value in {3->3,atsc->1} OR {3,1}"), "3 atsc");
    EXPECT_EQ(Skts::BashCompletion::Choices("UINT:UINT in [1 - 67108864]"), "");
}

} // namespace
