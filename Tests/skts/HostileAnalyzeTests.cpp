// skts analyze against streams built to break it: its output stays valid, complete and bounded.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "HostileStreams.h"
#include "RunTool.h"
#include "TempDir.h"
#include "TestData.h"
#include "ToolRun.h"

using nlohmann::json;
using SktsTest::Bytes;
using SktsTest::RunCommand;

namespace {

std::string Tool() { return SKTS_TOOL; }

std::string WriteStream(const SktsTest::TempDir& dir, const std::string& name, const Bytes& bytes)
{
    const auto path = dir / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

const std::string kReplacement = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

} // namespace

// Language codes, service, provider and network names come from the stream as bytes: JSON gets
// valid UTF-8 (U+FFFD for what is not text), the terminal gets control characters escaped.
TEST(SktsHostileAnalyzeTest, StreamTextLeavesAsValidUtf8AndCannotSteerTheTerminal)
{
    const SktsTest::TempDir dir("skts_text");
    const std::string stream = WriteStream(dir, "text.ts", SktsTest::BadTextStream());

    for (const std::string options : {"--json", "--json --events"}) {
        SCOPED_TRACE(options);
        const auto result = RunCommand(Tool() + " analyze " + options + " " + stream);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const json report = json::parse(result.out); // throws on invalid UTF-8
        ASSERT_EQ(report["programs"].size(), 1u);
        const json& program = report["programs"][0];
        EXPECT_EQ(program["service_name"], kReplacement + "A");
        EXPECT_EQ(program["provider_name"], "TV\x1B[2J\x07!");
        EXPECT_EQ(program["streams"][0]["language"], "\xC3\xBF\xC3\xBE" + kReplacement);
        EXPECT_EQ(report["network_name"], "B" + kReplacement);
    }

    const auto text = RunCommand(Tool() + " analyze --events " + stream);
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out.find('\x1B'), std::string::npos) << "an escape sequence reached the terminal";
    EXPECT_EQ(text.out.find('\x07'), std::string::npos);
    EXPECT_NE(text.out.find("\"TV\\x1b[2J\\x07!\""), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("service \"" + kReplacement + "A\""), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("network           B" + kReplacement), std::string::npos) << text.out;
}

// A report that cannot be written is a failure with the reason, not a silent success.
TEST(SktsHostileAnalyzeTest, StandardOutputErrorsGiveOneLineAndExitCode2)
{
    SKTS_REQUIRE_SAMPLE(stream, "h264_aac.ts");
    for (const std::string command : {" analyze ", " analyze --json --events ", " demux -o "}) {
        SCOPED_TRACE(command);
        const SktsTest::TempDir out("skts_stdout");
        const std::string args = command + (command == " demux -o " ? out.Path().string() + " " : "") + stream.string();
        const auto full = RunCommand("(" + Tool() + args + " >/dev/full)");
        EXPECT_EQ(full.exitCode, 2);
        EXPECT_EQ(full.err, "skts: cannot write standard output: No space left on device\n");

        const auto pipe = SktsTest::RunWithClosedPipe(Tool() + args);
        EXPECT_EQ(pipe.exitCode, 2);
        EXPECT_EQ(pipe.err, "skts: cannot write standard output: Broken pipe\n");
    }
}
