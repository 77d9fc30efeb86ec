#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "RunTool.h"
#include "Sha256.h"
#include "SampleFacts.h"
#include "StreamEdits.h"
#include "TestData.h"
#include "TestRegistry.h"

using nlohmann::json;

namespace {

// Play creates the filter by its CLSID, as an application does: every test process registers
// the module into a registry of its own first.
class RegisteredFilter : public ::testing::Environment {
public:
    void SetUp() override
    {
        registry_ = std::make_unique<SktsTest::TestRegistry>("play");
        const auto result = SktsTest::RunCommand(std::string(SKTS_TOOL) + " register");
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }
    void TearDown() override { registry_.reset(); }

private:
    std::unique_ptr<SktsTest::TestRegistry> registry_;
};

[[maybe_unused]] const auto* const kRegisteredFilter = ::testing::AddGlobalTestEnvironment(new RegisteredFilter);

std::filesystem::path OutDir(const std::string& name)
{
    const auto dir = std::filesystem::temp_directory_path() / ("skts_play_" + name + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    return dir;
}

const json* FindPin(const json& report, const std::string& name)
{
    for (const auto& pin : report["pins"])
        if (pin["name"] == name)
            return &pin;
    return nullptr;
}

} // namespace

// Through the whole graph, fast: one pin per elementary PID writes exactly what the reference
// digests say, for every sample and every input sample size.
TEST(SktsPlayTest, FastPlayIsByteExactForEverySampleAndChunking)
{
    const auto outDir = OutDir("fast");
    SktsTest::ForEachSampleWithFacts([&](const std::string& name, const std::filesystem::path& stream, const json& facts) {
        std::string pins;
        for (const auto& [pid, expected] : facts["pes"].items())
            pins += " --pin p" + pid + "=" + pid;
        for (int chunk : {188, 1316, 7, 65536}) {
            SCOPED_TRACE(name + " chunk " + std::to_string(chunk));
            std::filesystem::remove_all(outDir);
            const auto result = SktsTest::RunCommand(std::string(SKTS_TOOL) + " play --fast --json --chunk " +
                                                     std::to_string(chunk) + pins + " -o " + outDir.string() + " " +
                                                     stream.string());
            ASSERT_EQ(result.exitCode, 0) << result.err;
            EXPECT_EQ(result.err, "");
            const json report = json::parse(result.out);
            for (const auto& [pid, expected] : facts["pes"].items()) {
                const auto bytes = SktsTest::ReadFile(outDir / ("p" + pid + ".es"));
                EXPECT_EQ(bytes.size(), expected["payload_bytes"].get<size_t>()) << pid;
                EXPECT_EQ(SktsTest::Sha256Hex(bytes), expected["sha256"].get<std::string>()) << pid;
                const json* pin = FindPin(report, "p" + pid);
                ASSERT_NE(pin, nullptr);
                EXPECT_EQ((*pin)["pes"], expected["count"]) << pid;
                EXPECT_EQ((*pin)["bytes"], expected["payload_bytes"]) << pid;
                EXPECT_EQ((*pin)["first_start"], 0) << "paused: no times";
                EXPECT_EQ((*pin)["sync_points"], 0);
            }
        }
    });
    std::filesystem::remove_all(outDir);
}

// In real time every PES of a pin starts a constant distance after its PTS, the same for video
// and audio, so the A/V offset is right; the stamps do not depend on the machine's load.
TEST(SktsPlayTest, RealTimePlayStampsEveryPinWithOneOffset)
{
    const auto outDir = OutDir("realtime");
    const std::pair<const char*, const char*> cases[] = {
        {"h264_aac", ""},
        {"twoprog", " --pin v1=0x100 --pin a1=0x101 --pin v2=0x102 --pin a2=0x103"},
    };
    for (const auto& [name, pins] : cases) {
        SCOPED_TRACE(name);
        const auto stream = SktsTest::FindSample(std::string(name) + ".ts");
        if (!stream) {
            SKTS_NOTE_MISSING_SAMPLE(name);
            continue;
        }
        const std::string command =
            std::string(SKTS_TOOL) + " play --json" + pins + " -o " + outDir.string() + " " + stream->string();
        auto result = SktsTest::RunCommand(command);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        json report = json::parse(result.out);
        // A source held off the CPU for more than 250 ms makes the filter take a new PCR offset,
        // as it must; on a machine that busy the play is repeated once.
        if (report["pcr_offset_changes"] != 0) {
            std::cout << "[ NOTE     ] " << name << ": the PCR offset changed (source stalled), played again\n";
            result = SktsTest::RunCommand(command);
            ASSERT_EQ(result.exitCode, 0) << result.err;
            report = json::parse(result.out);
        }
        for (const char* key : {"duration_s", "pcr_offset_changes", "av_offset_error_ms", "pins"})
            EXPECT_TRUE(report.contains(key)) << key;
        ASSERT_FALSE(report["av_offset_error_ms"].is_null());
        EXPECT_LT(report["av_offset_error_ms"].get<double>(), 1.0);
        EXPECT_EQ(report["pcr_offset_changes"], 0);
        EXPECT_EQ(report["pins"].size(), std::string(pins).empty() ? 2u : 4u);
        for (const auto& pin : report["pins"]) {
            SCOPED_TRACE(pin["name"].get<std::string>());
            for (const char* key : {"name", "pids", "major_type", "subtype", "samples", "bytes", "pes", "sync_points",
                                    "discontinuities", "first_start", "last_start", "lateness_ms",
                                    "start_minus_pts_spread_ms"})
                EXPECT_TRUE(pin.contains(key)) << key;
            ASSERT_FALSE(pin["start_minus_pts_spread_ms"].is_null());
            EXPECT_LT(pin["start_minus_pts_spread_ms"].get<double>(), 1.0);
            EXPECT_GT(pin["sync_points"].get<int>(), 0);
            EXPECT_EQ(pin["discontinuities"], 0);
            EXPECT_GT(pin["last_start"].get<int64_t>(), pin["first_start"].get<int64_t>());
        }
    }
    std::filesystem::remove_all(outDir);
}

// Without --pin, the first program's streams get typed pins named by PID.
TEST(SktsPlayTest, PinsFollowTheProgramMapByDefault)
{
    SKTS_REQUIRE_SAMPLE(stream, "twoprog.ts");
    const auto outDir = OutDir("program");
    const auto result = SktsTest::RunCommand(std::string(SKTS_TOOL) + " play --fast --json --program 2 -o " +
                                             outDir.string() + " " + stream.string());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json report = json::parse(result.out);
    ASSERT_EQ(report["pins"].size(), 2u);
    EXPECT_EQ(report["pins"][0]["name"], "0x0102");
    EXPECT_EQ(report["pins"][0]["major_type"], "video");
    EXPECT_EQ(report["pins"][0]["subtype"], "MPEG-2 video");
    EXPECT_EQ(report["pins"][1]["name"], "0x0103");
    EXPECT_EQ(report["pins"][1]["major_type"], "audio");
    EXPECT_EQ(report["pins"][1]["subtype"], "MPEG-1 audio");
    EXPECT_TRUE(std::filesystem::exists(outDir / "0x0102.es"));
    std::filesystem::remove_all(outDir);
}

namespace {

// The sample with packets of `pid` nulled up to `lateFrom` bytes and, after it, moved to `movedTo`.
std::filesystem::path WithLatePackets(const std::filesystem::path& sample, uint32_t pid, size_t lateFrom,
                                      uint32_t movedTo)
{
    std::vector<uint8_t> bytes = SktsTest::ReadFile(sample);
    for (size_t at = 0; at + 188 <= bytes.size(); at += 188) {
        if (SktsTest::PacketPid(&bytes[at]) != pid)
            continue;
        const uint32_t newPid = at < lateFrom ? 0x1FFF : movedTo;
        bytes[at + 1] = static_cast<uint8_t>((bytes[at + 1] & 0xE0) | (newPid >> 8));
        bytes[at + 2] = static_cast<uint8_t>(newPid & 0xFF);
    }
    const auto file = SktsTest::PrivateTempPath("late_" + sample.filename().string());
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file;
}

constexpr size_t kAfterFirstMegabyte = size_t{5} << 18; // 1.25 MiB

} // namespace

// Play surveys the head of the input a megabyte at a time and stops once the pins' plan is
// settled, and not before: a pinned PID first seen later (and in no PMT) is found, and a stream
// whose type its PMT descriptors give (AC-3 in private PES) keeps that type even though its
// packets only come later.
TEST(SktsPlayTest, PidsFirstSeenLateInTheHeadArePlannedAsFromTheWholeHead)
{
    SKTS_REQUIRE_SAMPLE(h264, "h264_aac.ts");
    const auto moved = WithLatePackets(h264, 0x101, kAfterFirstMegabyte, 0x777);
    auto result = SktsTest::RunCommand(std::string(SKTS_TOOL) + " play --fast --discard --json --pin late=0x777 " +
                                       moved.string());
    std::filesystem::remove(moved);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json lateReport = json::parse(result.out);
    const json* late = FindPin(lateReport, "late");
    ASSERT_NE(late, nullptr);
    EXPECT_GT((*late)["pes"].get<int>(), 0);

    SKTS_REQUIRE_SAMPLE(ac3, "mpeg2_mp2_ac3.ts");
    const auto delayed = WithLatePackets(ac3, 0x102, kAfterFirstMegabyte, 0x102);
    result = SktsTest::RunCommand(std::string(SKTS_TOOL) + " play --fast --discard --json " + delayed.string());
    std::filesystem::remove(delayed);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json report = json::parse(result.out);
    const json* pin = FindPin(report, "0x0102");
    ASSERT_NE(pin, nullptr);
    EXPECT_EQ((*pin)["major_type"], "audio");
    EXPECT_EQ((*pin)["subtype"], "AC-3");
    EXPECT_GT((*pin)["pes"].get<int>(), 0);
}

TEST(SktsPlayTest, BadArgumentsGiveOneLineAndExitCode2)
{
    SKTS_REQUIRE_SAMPLE(stream, "h264_aac.ts");
    const std::string tool = std::string(SKTS_TOOL) + " play --fast --discard ";
    const std::string cases[] = {
        tool + "--pin v=0x1234 " + stream.string(),              // not in the stream
        tool + "--pin v=9000 " + stream.string(),                // not a PID
        tool + "--pin v=0x100 --pin v=0x101 " + stream.string(), // duplicate name
        tool + "--pin =0x100 " + stream.string(),                // no name
        tool + "--pin v=0x100:teletext " + stream.string(),      // no such kind
        tool + "--program 7 " + stream.string(),                 // no such program
        tool + "/nonexistent.ts",
    };
    for (const std::string& command : cases) {
        SCOPED_TRACE(command);
        const auto result = SktsTest::RunCommand(command);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

// An application that finds no registered filter is told how to register it.
TEST(SktsPlayTest, AnUnregisteredFilterIsReportedWithTheWayToRegisterIt)
{
    SKTS_REQUIRE_SAMPLE(stream, "h264_aac.ts");
    const auto empty = std::filesystem::temp_directory_path() / ("skts_play_empty_" + std::to_string(::getpid()));
    const auto result = SktsTest::RunCommand("SKTS_REGISTRY=" + empty.string() + " " + std::string(SKTS_TOOL) +
                                             " play --fast --discard " + stream.string());
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_NE(result.err.find("not registered"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("skts register"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(std::filesystem::exists(empty)) << "looking a class up writes nothing";
}
