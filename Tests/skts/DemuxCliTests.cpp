#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "RunTool.h"
#include "Sha256.h"
#include "TempDir.h"
#include "SampleFacts.h"

using nlohmann::json;

namespace {

const std::map<std::string, int> kMuxRates = {
    {"h264_aac", 3'000'000}, {"h264_aac_204", 3'000'000}, {"hevc_eac3", 2'000'000},
    {"mpeg2_mp2_ac3", 6'000'000}, {"twoprog", 4'000'000},
};

} // namespace

// Every elementary PID's payloads equal the reference digest and PES count, whatever the chunking,
// from a file or through a pipe (chunk 0 below: the default chunks, from standard input).
TEST(SktsDemuxTest, OutputsMatchTheFactsForEveryChunkSize)
{
    const SktsTest::TempDir out("skts_demux_test");
    const auto outDir = out.Path();
    SktsTest::ForEachSampleWithFacts([&](const std::string& name, const std::filesystem::path& stream, const json& facts) {
        for (int chunk : {1, 188, 1000, 65536, 0}) {
            SCOPED_TRACE(name + " chunk " + std::to_string(chunk));
            std::filesystem::remove_all(outDir);
            const std::string demux = std::string(SKTS_TOOL) + " demux --json -o " + outDir.string();
            const auto result = SktsTest::RunCommand(
                chunk == 0 ? "(cat " + stream.string() + " | " + demux + " -)"
                           : demux + " --chunk " + std::to_string(chunk) + " " + stream.string());
            ASSERT_EQ(result.exitCode, 0) << result.err;
            const json report = json::parse(result.out);
            EXPECT_NEAR(report["bitrate"].get<double>(), kMuxRates.at(name), kMuxRates.at(name) * 0.005);
            EXPECT_TRUE(report["time_base_locked"].get<bool>());
            for (const auto& [pid, expected] : facts["pes"].items()) {
                char file[16];
                std::snprintf(file, sizeof file, "0x%04x.es", std::stoi(pid));
                const auto bytes = SktsTest::ReadFile(outDir / file);
                EXPECT_EQ(bytes.size(), expected["payload_bytes"].get<size_t>()) << pid;
                EXPECT_EQ(SktsTest::Sha256Hex(bytes), expected["sha256"].get<std::string>()) << pid;
                const auto entry = std::find_if(report["pids"].begin(), report["pids"].end(),
                                                [&](const json& p) { return p["pid"] == std::stoi(pid); });
                ASSERT_NE(entry, report["pids"].end());
                EXPECT_EQ((*entry)["pes"], expected["count"]);
                EXPECT_EQ((*entry)["first_pts"], expected["first_pts"]);
                EXPECT_EQ((*entry)["last_pts"], expected["last_pts"]);
                EXPECT_EQ((*entry)["data_lost"], 0);
            }
        }
    });
    std::filesystem::remove_all(outDir);
}

TEST(SktsDemuxTest, MapsOnlyTheGivenPidsAndRejectsBadOnes)
{
    SKTS_REQUIRE_SAMPLE(stream, "h264_aac.ts");
    const SktsTest::TempDir out("skts_demux_pid");
    const auto outDir = out.Path();
    std::filesystem::remove_all(outDir);
    const auto result = SktsTest::RunCommand(std::string(SKTS_TOOL) + " demux --json --pid 0x101 -o " +
                                             outDir.string() + " " + stream.string());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json report = json::parse(result.out);
    ASSERT_EQ(report["pids"].size(), 1u);
    EXPECT_EQ(report["pids"][0]["pid"], 257);
    EXPECT_TRUE(std::filesystem::exists(outDir / "0x0101.es"));
    EXPECT_FALSE(std::filesystem::exists(outDir / "0x0100.es"));
    // 0x101's program is known from its PMT, so the time base still locks on its PCR PID.
    EXPECT_TRUE(report["time_base_locked"].get<bool>());

    EXPECT_EQ(SktsTest::RunCommand(std::string(SKTS_TOOL) + " demux --pid 9000 " + stream.string()).exitCode, 2);
    EXPECT_EQ(SktsTest::RunCommand(std::string(SKTS_TOOL) + " demux --pid 0xZZ " + stream.string()).exitCode, 2);
    EXPECT_EQ(SktsTest::RunCommand(std::string(SKTS_TOOL) + " demux /nonexistent.ts").exitCode, 2);
    std::filesystem::remove_all(outDir);
}
