#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "RunTool.h"
#include "TempDir.h"
#include "SampleFacts.h"

using nlohmann::json;
using SktsTest::RunCommand;

namespace {

std::string Tool() { return SKTS_TOOL; }

json AnalyzeJson(const std::string& args)
{
    const auto result = RunCommand(Tool() + " analyze --json " + args);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return json::parse(result.out);
}

// Files of this test process only: other checkouts may run the same tests at the same time.
std::filesystem::path TempFile(const std::string& name, const std::vector<uint8_t>& bytes)
{
    static const SktsTest::TempDir dir("skts_analyze");
    const auto path = dir / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
    return path;
}

} // namespace

// Per-PID packet counts equal the independent muxer's facts for every chunking.
TEST(SktsAnalyzeTest, PidPacketCountsMatchTheFactsForEveryChunkSize)
{
    for (std::string_view name : SktsTest::kSampleStreams) {
        const auto stream = SktsTest::FindSample(std::string(name) + ".ts");
        const auto factsPath = SktsTest::FindSample(std::string(name) + ".facts.json");
        if (!stream || !factsPath) {
            SKTS_NOTE_MISSING_SAMPLE(name);
            continue;
        }
        const json facts = SktsTest::ReadJson(*factsPath);
        for (int chunk : {1, 7, 188, 1000, 65536}) {
            SCOPED_TRACE(std::string(name) + " chunk " + std::to_string(chunk));
            const json report = AnalyzeJson("--chunk " + std::to_string(chunk) + " " + stream->string());
            EXPECT_EQ(report["packet_size"], facts["packet_size"]);
            EXPECT_EQ(report["packets"], facts["packets"]);
            EXPECT_TRUE(report["in_sync"].get<bool>());
            EXPECT_EQ(report["sync_byte_errors"], 0);
            json counts = json::object();
            for (const auto& pid : report["pids"])
                counts[std::to_string(pid["pid"].get<int>())] = pid["packets"];
            EXPECT_EQ(counts, facts["pid_packets"]);
        }
    }
}

TEST(SktsAnalyzeTest, BitrateOptionSetsThePacketClock)
{
    SKTS_REQUIRE_SAMPLE(stream, "h264_aac.ts");
    const json report = AnalyzeJson("--bitrate 3000000 " + stream.string());
    EXPECT_NEAR(report["bitrate"].get<double>(), 3'000'000.0, 30'000.0);
    const json byDefault = AnalyzeJson(stream.string());
    EXPECT_NEAR(byDefault["bitrate"].get<double>(), 10'000'000.0, 100'000.0);
    // Standard input gives the same result as the file.
    const auto piped = RunCommand(Tool() + " analyze --json --bitrate 3000000 -", stream.string());
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(json::parse(piped.out)["pids"], report["pids"]);
}

TEST(SktsAnalyzeTest, BadInputGetsOneLineAndExitCode2)
{
    const auto missing = RunCommand(Tool() + " analyze /nonexistent/stream.ts");
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
    EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1);

    const auto empty = TempFile("skts_empty.ts", {});
    const auto emptyResult = RunCommand(Tool() + " analyze " + empty.string());
    EXPECT_EQ(emptyResult.exitCode, 2);
    EXPECT_NE(emptyResult.err.find("empty"), std::string::npos) << emptyResult.err;

    const auto directory = RunCommand(Tool() + " analyze " + std::filesystem::temp_directory_path().string());
    EXPECT_EQ(directory.exitCode, 2);

    std::vector<uint8_t> noise(50'000);
    std::mt19937 random(3);
    for (auto& b : noise)
        b = static_cast<uint8_t>(random() % 255); // never 0x47 spaced right, almost surely
    for (auto& b : noise)
        if (b == 0x47)
            b = 0x48;
    const auto noSync = RunCommand(Tool() + " analyze " + TempFile("skts_noise.ts", noise).string());
    EXPECT_EQ(noSync.exitCode, 2);
    EXPECT_NE(noSync.err.find("no transport-stream sync"), std::string::npos) << noSync.err;

    const auto badOption = RunCommand(Tool() + " analyze --chunk 0 x.ts");
    EXPECT_EQ(badOption.exitCode, 2);
}

TEST(SktsAnalyzeTest, OddInputsGiveHonestOutput)
{
    // A file of 0x47 bytes only is in sync at 188 bytes, every packet on PID 0x747.
    const auto allSync = TempFile("skts_all47.ts", std::vector<uint8_t>(188 * 50, 0x47));
    const json report = AnalyzeJson(allSync.string());
    EXPECT_EQ(report["packets"], 50);
    ASSERT_EQ(report["pids"].size(), 1u);
    EXPECT_EQ(report["pids"][0]["pid"], 0x747);

    // A truncated file: the partial last packet is not counted.
    SKTS_REQUIRE_SAMPLE(stream, "h264_aac.ts");
    auto bytes = SktsTest::ReadFile(stream);
    bytes.resize(188 * 100 + 97);
    EXPECT_EQ(AnalyzeJson(TempFile("skts_cut.ts", bytes).string())["packets"], 100);

    // Random bytes with sync bytes sprinkled in: whatever it finds, it does not crash.
    std::vector<uint8_t> noise(100'000);
    std::mt19937 random(11);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = i % 188 == 0 && i < 188 * 10 ? 0x47 : static_cast<uint8_t>(random());
    const auto result = RunCommand(Tool() + " analyze --json " + TempFile("skts_rand.ts", noise).string());
    EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 2) << result.err;

    const auto help = RunCommand(Tool() + " analyze --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--bitrate"), std::string::npos);
    EXPECT_NE(help.out.find("--chunk"), std::string::npos);
    EXPECT_EQ(RunCommand(Tool() + " --help").exitCode, 0);
}

// Programs, PMT and PCR PIDs and streams equal the muxer's facts; service names equal ffprobe's.
TEST(SktsAnalyzeTest, ProgramsMatchTheFactsAndServiceNames)
{
    for (std::string_view name : SktsTest::kSampleStreams) {
        SCOPED_TRACE(std::string(name));
        const auto stream = SktsTest::FindSample(std::string(name) + ".ts");
        const auto factsPath = SktsTest::FindSample(std::string(name) + ".facts.json");
        const auto probePath = SktsTest::FindSample(std::string(name) + ".ffprobe.json");
        if (!stream || !factsPath || !probePath) {
            SKTS_NOTE_MISSING_SAMPLE(name);
            continue;
        }
        const json facts = SktsTest::ReadJson(*factsPath);
        const json probe = SktsTest::ReadJson(*probePath);
        const json report = AnalyzeJson("--si-standard dvb " + stream->string());

        json pat = json::object();
        json pmts = json::object();
        for (const auto& program : report["programs"]) {
            const std::string number = std::to_string(program["program_number"].get<int>());
            pat[number] = program["pmt_pid"];
            json streams = json::array();
            for (const auto& s : program["streams"])
                streams.push_back({{"stream_type", s["stream_type"]}, {"pid", s["pid"]}});
            pmts[number] = {{"pmt_pid", program["pmt_pid"]}, {"pcr_pid", program["pcr_pid"]}, {"streams", streams}};
        }
        EXPECT_EQ(pat, facts["pat"]);
        EXPECT_EQ(pmts, facts["pmts"]);

        for (const auto& probed : probe["programs"]) {
            const int number = probed["program_num"].get<int>();
            const auto found = std::find_if(report["programs"].begin(), report["programs"].end(),
                                            [&](const json& p) { return p["program_number"] == number; });
            ASSERT_NE(found, report["programs"].end());
            EXPECT_EQ((*found)["service_name"], probed["tags"]["service_name"]);
            EXPECT_EQ((*found)["provider_name"], probed["tags"]["service_provider"]);
        }
        // Private data with an AC-3 descriptor is recognised as AC-3.
        for (const auto& pid : report["pids"]) {
            if (pid["pid"] == 0x102 && name == "mpeg2_mp2_ac3") {
                EXPECT_EQ(pid["stream_kind"], 256);
            }
        }
    }
}

TEST(SktsAnalyzeTest, IndicatorsPcrStatisticsAndEvents)
{
    SKTS_REQUIRE_SAMPLE(stream, "h264_aac.ts");
    const json report = AnalyzeJson("--bitrate auto --events " + stream.string());
    EXPECT_EQ(report["analysis_bitrate"], 3'000'000);
    ASSERT_TRUE(report["indicators"].is_array());
    std::vector<std::string> raised;
    for (const auto& indicator : report["indicators"]) {
        for (const char* key : {"index", "name", "active", "latched", "count", "message", "value", "location"})
            EXPECT_TRUE(indicator.contains(key)) << key;
        EXPECT_EQ(indicator["location"].size(), 5u);
        raised.push_back(indicator["name"].get<std::string>());
    }
    EXPECT_EQ(raised, (std::vector<std::string>{"SiRepetitionError", "EitActualError"})) << "the sample carries no EIT";
    const auto& eit = report["indicators"][1];
    EXPECT_EQ(eit["name"], "EitActualError");
    EXPECT_EQ(eit["count"], 3);
    EXPECT_EQ(eit["location"], json::parse("[18, 78, 4294967295, 4294967295, 4294967295]"));
    EXPECT_EQ(eit["message"], "EIT Actual: Sections with table_id 0x4e on PID 18 do not occur at least every 2000ms");

    // Every report is an event, in time order.
    size_t eitEvents = 0;
    double previous = 0.0;
    for (const auto& event : report["events"]) {
        EXPECT_GE(event["time_ms"].get<double>(), previous);
        previous = event["time_ms"].get<double>();
        eitEvents += event["name"] == "EitActualError" ? 1 : 0;
    }
    EXPECT_EQ(eitEvents, 3u);

    bool sawPcr = false;
    for (const auto& pid : report["pids"]) {
        if (!pid.contains("pcr"))
            continue;
        sawPcr = true;
        EXPECT_EQ(pid["pid"], 256);
        const auto& pcr = pid["pcr"];
        EXPECT_EQ(pcr["pcr_count"], 151);
        EXPECT_LT(pcr["accuracy_max_ns"].get<double>(), 500.0);
        for (const char* key : {"accuracy_rms_ns", "jitter_max_ns", "jitter_rms_ns", "jitter_pp_ns"})
            EXPECT_GE(pcr[key].get<double>(), 0.0) << key;
        EXPECT_NEAR(pcr["pcr_bitrate"].get<double>(), 3'000'000.0, 2.0);
        EXPECT_NEAR(pcr["pcr_rate"].get<double>(), 25.0, 0.5);
    }
    EXPECT_TRUE(sawPcr);

    // The readable form prints the events first, then the PCR and indicator sections.
    const auto text = RunCommand(Tool() + " analyze --events --bitrate 3000000 " + stream.string());
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("20 EitActualError"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\nPCR\n"), std::string::npos);
    EXPECT_NE(text.out.find("\nIndicators\n"), std::string::npos);
    EXPECT_LT(text.out.find("EIT Actual:"), text.out.find("Transport stream"));
}

// Stream properties per PID: the JSON keys appear only for what the stream signals, and the
// readable report prints the same facts in words.
TEST(SktsAnalyzeTest, VideoAndAudioPropertiesPerPid)
{
    SKTS_REQUIRE_SAMPLE(h264, "h264_aac.ts");
    json report = AnalyzeJson(h264.string());
    std::map<int, json> pids;
    for (const auto& pid : report["pids"])
        pids[pid["pid"].get<int>()] = pid;
    ASSERT_TRUE(pids[256].contains("video"));
    const json& video = pids[256]["video"];
    EXPECT_EQ(video["width"], 1280);
    EXPECT_EQ(video["height"], 720);
    EXPECT_EQ(video["chroma_format"], 1);
    EXPECT_EQ(video["interlaced"], false);
    for (const char* absent : {"frame_rate", "display_width", "bit_depth_luma", "cea708"})
        EXPECT_FALSE(video.contains(absent)) << absent; // the sample's SPS does not signal these
    EXPECT_FALSE(pids[256].contains("audio"));
    EXPECT_EQ(pids[256]["description"], "H.264 1280x720 progressive 4:2:0 SAR 1:1");

    ASSERT_TRUE(pids[257].contains("audio"));
    const json& aac = pids[257]["audio"];
    EXPECT_EQ(aac["sample_rate"], 48000);
    EXPECT_EQ(aac["channel_mode"], 14);
    EXPECT_EQ(aac["aac_profile"], 1);
    EXPECT_FALSE(aac.contains("bitrate")) << "ADTS headers carry no bit rate";
    EXPECT_FALSE(aac.contains("dialogue_level"));
    EXPECT_FALSE(pids[257].contains("video"));
    // PSI PIDs have neither.
    EXPECT_FALSE(pids[0].contains("video") || pids[0].contains("audio"));

    const auto text = RunCommand(Tool() + " analyze " + h264.string());
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("H.264 1280x720 progressive 4:2:0 SAR 1:1\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("AAC LC 48 kHz stereo\n"), std::string::npos);

    SKTS_REQUIRE_SAMPLE(hevc, "hevc_eac3.ts");
    report = AnalyzeJson(hevc.string());
    pids.clear();
    for (const auto& pid : report["pids"])
        pids[pid["pid"].get<int>()] = pid;
    EXPECT_EQ(pids[256]["video"]["bit_depth_luma"], 10);
    EXPECT_EQ(pids[256]["video"]["bit_depth_chroma"], 10);
    const json& eac3 = pids[257]["audio"];
    EXPECT_EQ(eac3["bitrate"], 192000);
    EXPECT_EQ(eac3["sample_rate"], 48000);
    EXPECT_EQ(eac3["dialogue_level"], -31);
    EXPECT_EQ(pids[257]["description"], "E-AC-3 48 kHz 2/0 192 kbit/s dialnorm -31 dB");
}
