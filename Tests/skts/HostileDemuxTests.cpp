// skts demux against streams and systems built to break it: every output it claims is there,
// and every failure is named.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "HostileStreams.h"
#include "RunTool.h"
#include "TempDir.h"
#include "TestData.h"

using nlohmann::json;
using SktsTest::Bytes;
using SktsTest::RunCommand;

namespace {

std::string Tool() { return SKTS_TOOL; }

size_t FilesIn(const std::filesystem::path& dir)
{
    if (!std::filesystem::exists(dir))
        return 0;
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()));
}

// Programs of up to 500 audio PIDs each, `pids` in all from 0x200, each PID with two PES
// packets of `payload` bytes (so the first completes).
Bytes ManyPidsStream(uint16_t pids, size_t payload)
{
    SktsTest::TsWriter ts;
    std::vector<SktsTest::PatEntry> programs;
    for (uint16_t first = 0; first < pids; first += 500)
        programs.push_back({static_cast<uint16_t>(1 + first / 500), static_cast<uint16_t>(0x20 + first / 500)});
    ts.Section(0x0000, SktsTest::PatSection(1, programs));
    for (uint16_t first = 0; first < pids; first += 500) {
        std::vector<SktsTest::PmtStream> streams;
        for (uint16_t pid = first; pid < pids && pid < first + 500; ++pid)
            streams.push_back({0x03, static_cast<uint16_t>(0x200 + pid), {}});
        ts.Section(static_cast<uint16_t>(0x20 + first / 500),
                   SktsTest::PmtSection(static_cast<uint16_t>(1 + first / 500), 0x1FFF, streams));
    }
    for (int pes = 0; pes < 2; ++pes) {
        for (uint16_t pid = 0; pid < pids; ++pid)
            ts.Pes(static_cast<uint16_t>(0x200 + pid), Bytes(payload, static_cast<uint8_t>(pid)), 90000 * (pes + 1));
    }
    return ts.bytes;
}

} // namespace

// A file system that refuses more bytes (here a file-size limit with SIGXFSZ ignored, as a full
// disk would) fails the run naming the file and the reason, and leaves no half-made outputs.
TEST(SktsHostileDemuxTest, AFailedWriteNamesTheFileAndLeavesNoOutputs)
{
    SKTS_REQUIRE_SAMPLE(stream, "h264_aac.ts");
    const SktsTest::TempDir out("skts_full");
    const auto result = RunCommand("(ulimit -f 64; trap '' XFSZ; " + Tool() + " demux -o " + out.Path().string() + " " +
                                   stream.string() + ")");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err, "skts: cannot write " + (out / "0x0100.es").string() + ": File too large\n");
    EXPECT_EQ(FilesIn(out.Path()), 0u);
}

// Thousands of mapped PIDs with few descriptors allowed: outputs are opened only while written,
// so every PID gets its whole payload.
TEST(SktsHostileDemuxTest, ThousandsOfPidsWithFewDescriptors)
{
    const SktsTest::TempDir dir("skts_pids");
    const std::string stream = dir.Write("pids.ts", ManyPidsStream(1200, 300));
    const auto out = dir / "out";
    const auto result = RunCommand("(ulimit -n 48; " + Tool() + " demux --json -o " + out.string() + " " + stream + ")");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json report = json::parse(result.out);
    ASSERT_EQ(report["pids"].size(), 1200u);
    for (const auto& pid : report["pids"]) {
        EXPECT_GE(pid["pes"].get<int>(), 1) << pid;
        EXPECT_EQ(pid["bytes"], 300 * pid["pes"].get<int>()) << pid;
    }
    EXPECT_EQ(FilesIn(out), 1200u);
    EXPECT_EQ(std::filesystem::file_size(out / "0x0200.es"), report["pids"][0]["bytes"].get<uint64_t>());
}

// A stream in sync that gives nothing to demultiplex says so, and why, instead of claiming
// there was no sync.
TEST(SktsHostileDemuxTest, InSyncButNothingDemultiplexedSaysWhy)
{
    const SktsTest::TempDir dir("skts_nothing");
    const auto run = [&](const std::string& name, const Bytes& bytes, const std::string& options = {}) {
        return RunCommand(Tool() + " demux " + options + " -o " + (dir / "out").string() + " " +
                          dir.Write(name, bytes));
    };
    SktsTest::TsWriter scrambled;
    SktsTest::TsWriter damaged;
    for (int i = 0; i < 50; ++i) {
        scrambled.Packet(0x100, i == 0, 0x90);
        damaged.Packet(0x100, i == 0, 0x10, true);
    }
    const auto allScrambled = run("scrambled.ts", scrambled.bytes);
    EXPECT_EQ(allScrambled.exitCode, 2);
    EXPECT_EQ(allScrambled.err, "skts: in sync, 50 packets, nothing demultiplexed: every packet is scrambled\n");

    const auto allDamaged = run("damaged.ts", damaged.bytes);
    EXPECT_EQ(allDamaged.exitCode, 2);
    EXPECT_EQ(allDamaged.err,
              "skts: in sync, 50 packets, nothing demultiplexed: every packet has the transport_error_indicator set\n");

    // 0x47 bytes only: packets of PID 0x747, scrambled (the header byte 0x47 says so).
    const auto all47 = run("all47.ts", Bytes(188 * 50, 0x47));
    EXPECT_EQ(all47.exitCode, 2);
    EXPECT_EQ(all47.err, "skts: in sync, 50 packets, nothing demultiplexed: every packet is scrambled\n");

    // Clear packets without a program map, and a mapped PID that is not there.
    SktsTest::TsWriter clear;
    for (int i = 0; i < 50; ++i)
        clear.Packet(0x100, i == 0);
    const auto noPrograms = run("clear.ts", clear.bytes);
    EXPECT_EQ(noPrograms.exitCode, 2);
    EXPECT_NE(noPrograms.err.find("50 packets, nothing demultiplexed: no program was found"), std::string::npos)
        << noPrograms.err;
    const auto absent = run("clear.ts", clear.bytes, "--pid 0x200");
    EXPECT_EQ(absent.exitCode, 2);
    EXPECT_NE(absent.err.find("the mapped PIDs carried no complete PES packet"), std::string::npos) << absent.err;
    EXPECT_EQ(FilesIn(dir / "out"), 0u) << "a failed run leaves no outputs";
}
