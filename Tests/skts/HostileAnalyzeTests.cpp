// skts analyze against streams built to break it: its output stays valid, complete and bounded.
#include <gtest/gtest.h>

#include <algorithm>
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

const std::string kReplacement = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

} // namespace

// Language codes, service, provider and network names come from the stream as bytes: JSON gets
// valid UTF-8 (U+FFFD for what is not text), the terminal gets control characters escaped.
TEST(SktsHostileAnalyzeTest, StreamTextLeavesAsValidUtf8AndCannotSteerTheTerminal)
{
    const SktsTest::TempDir dir("skts_text");
    const std::string stream = dir.Write("text.ts", SktsTest::BadTextStream());

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

namespace {

// `before` packets of transport stream 1 (PAT, PMT, audio on 0x101), then `after` of stream 2.
Bytes StreamChange(int before, int after)
{
    SktsTest::TsWriter ts;
    const auto part = [&ts](uint16_t id, uint16_t pid, int packets) {
        ts.Section(0x0000, SktsTest::PatSection(id, {{1, 0x100}}));
        ts.Section(0x0100, SktsTest::PmtSection(1, 0x1FFF, {{0x03, pid, {}}}));
        for (int i = 2; i < packets; ++i)
            ts.Packet(pid, false);
    };
    part(1, 0x101, before);
    part(2, 0x201, after);
    return ts.bytes;
}

} // namespace

// A change of transport_stream_id starts the analysis afresh, but the report covers the whole
// input: totals across the reset, and the reset itself as an event and in the summary.
TEST(SktsHostileAnalyzeTest, TransportStreamChangesKeepTheWholeInput)
{
    const SktsTest::TempDir dir("skts_change");
    // The last 5 packets belong to another stream.
    const auto tail = RunCommand(Tool() + " analyze --json " + dir.Write("tail.ts", StreamChange(100, 5)));
    ASSERT_EQ(tail.exitCode, 0) << tail.err;
    const json tailReport = json::parse(tail.out);
    EXPECT_EQ(tailReport["packets"], 105);
    EXPECT_EQ(tailReport["bytes_outside_packets"], 0);
    EXPECT_EQ(tailReport["transport_stream_id"], 2);
    EXPECT_EQ(tailReport["transport_stream_change_count"], 1);
    EXPECT_EQ(tailReport["transport_stream_changes"],
              json::parse(R"([{"packet": 100, "old_transport_stream_id": 1, "new_transport_stream_id": 2,
                               "time_ms": 15.04}])"));

    // A change in the middle: every packet counted, the change an event in its place.
    const std::string middle = dir.Write("middle.ts", StreamChange(200, 200));
    const auto events = RunCommand(Tool() + " analyze --json --events " + middle);
    ASSERT_EQ(events.exitCode, 0) << events.err;
    const json report = json::parse(events.out);
    EXPECT_EQ(report["packets"], 400);
    EXPECT_EQ(report["pids"].size(), 3u) << "PIDs and programs are those after the change";
    const auto change = std::find_if(report["events"].begin(), report["events"].end(),
                                     [](const json& e) { return e["name"] == "TransportStreamChange"; });
    ASSERT_NE(change, report["events"].end());
    EXPECT_EQ((*change)["index"], -1);
    EXPECT_EQ((*change)["packet"], 200);
    EXPECT_EQ((*change)["message"], "transport_stream_id changed from 1 to 2 at packet 200: the analysis starts again");

    const auto text = RunCommand(Tool() + " analyze " + middle);
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("packets           400\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("stream changes    1 (transport_stream_id 1 -> 2 at packet 200)"), std::string::npos)
        << text.out;
}

// At 1 bit/s every packet lasts 1504 s, and each raises a report for every unreferenced PID:
// a report that repeats for every packet is one event with a count, written as it ends, and
// the JSON document opens with the events array and keeps its summary keys after it.
TEST(SktsHostileAnalyzeTest, RepeatingEventsAreFoldedAndWrittenAsTheyHappen)
{
    const SktsTest::TempDir dir("skts_events");
    const std::string noise = dir.Write("noise.ts", SktsTest::NoiseStream(400));
    const auto result = RunCommand(Tool() + " analyze --json --events --bitrate 1 " + noise);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.rfind("{\n \"events\": [\n  {", 0), 0u) << result.out.substr(0, 100);
    const json report = json::parse(result.out);
    for (const char* key : {"packets", "pids", "programs", "indicators", "analysis_bitrate", "transport_errors"})
        EXPECT_TRUE(report.contains(key)) << key;
    EXPECT_EQ(report["packets"], 400);

    uint64_t reports = 0;
    uint64_t folded = 0;
    for (const auto& event : report["events"]) {
        for (const char* key : {"time_ms", "index", "name", "message", "value", "count"})
            EXPECT_TRUE(event.contains(key)) << key;
        reports += event["count"].get<uint64_t>();
        if (event["count"] > 1) {
            ++folded;
            EXPECT_GT(event["last_time_ms"].get<double>(), event["time_ms"].get<double>());
        }
    }
    EXPECT_GT(reports, 50'000u) << "hundreds of reports per packet";
    EXPECT_LT(report["events"].size(), reports / 50) << "folded into runs";
    EXPECT_GT(folded, 100u);

    const auto text = RunCommand(Tool() + " analyze --events --bitrate 1 " + noise);
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find(" times until "), std::string::npos);
    EXPECT_LT(std::count(text.out.begin(), text.out.end(), '\n'), static_cast<std::ptrdiff_t>(reports / 50));
}

// Tables dropped to stay within the analyser's table budget are reported.
TEST(SktsHostileAnalyzeTest, DroppedTablesAreReported)
{
    const SktsTest::TempDir dir("skts_flood");
    const std::string flood = dir.Write("flood.ts", SktsTest::TableFloodStream(3000));
    const auto result = RunCommand(Tool() + " analyze --json " + flood);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(json::parse(result.out)["tables_dropped"], 3000 - 2048);
    const auto text = RunCommand(Tool() + " analyze " + flood);
    EXPECT_NE(text.out.find("tables dropped    952 (the table store was full: the oldest went first)"),
              std::string::npos)
        << text.out;
}
