// Writes hostile transport streams of about the size asked for, for the memory benchmark:
//   HostileStreams DIR MEBIBYTES
// table-flood.ts   a new EIT table key in every section
// noise.ts         random packets behind good sync bytes (reports in every packet)
// bad-text.ts      names and language codes that are not text
// pcr-rate.ts      PCRs that advance a few ticks over many packets
// tsid-change.ts   the transport_stream_id changes with every PAT
// scrambled.ts     every packet scrambled
// many-pids.ts     4000 audio PIDs with short PES packets
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "HostileStreams.h"

namespace {

using SktsTest::Bytes;

class Output {
public:
    Output(const std::filesystem::path& path, size_t bytes) : out_(path, std::ios::binary), target_(bytes) {}
    bool Full() const { return written_ >= target_; }
    void Put(const Bytes& bytes)
    {
        out_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        written_ += bytes.size();
    }

private:
    std::ofstream out_;
    size_t target_;
    size_t written_ = 0;
};

void TableFlood(const std::filesystem::path& path, size_t bytes)
{
    Output out(path, bytes);
    for (uint32_t first = 0; !out.Full(); first += 10'000)
        out.Put(SktsTest::TableFloodStream(10'000, first));
}

void Noise(const std::filesystem::path& path, size_t bytes)
{
    Output out(path, bytes);
    for (uint32_t seed = 1; !out.Full(); ++seed)
        out.Put(SktsTest::NoiseStream(10'000, seed));
}

void BadText(const std::filesystem::path& path, size_t bytes)
{
    Output out(path, bytes);
    const Bytes block = SktsTest::BadTextStream(1000);
    while (!out.Full())
        out.Put(block);
}

void PcrRate(const std::filesystem::path& path, size_t bytes)
{
    Output out(path, bytes);
    int64_t pcr = 0;
    while (!out.Full()) {
        SktsTest::TsWriter ts;
        ts.Section(0x0000, SktsTest::PatSection(1, {{1, 0x100}}));
        ts.Section(0x0100, SktsTest::PmtSection(1, 0x101, {{0x03, 0x101, {}}}));
        for (int i = 0; i < 1000; ++i) {
            ts.Pcr(0x101, pcr++);
            for (int n = 0; n < 49; ++n)
                ts.Packet(0x1FFF, false);
        }
        out.Put(ts.bytes);
    }
}

void TsidChange(const std::filesystem::path& path, size_t bytes)
{
    Output out(path, bytes);
    uint16_t id = 0;
    while (!out.Full()) {
        SktsTest::TsWriter ts;
        for (int i = 0; i < 1000; ++i) {
            ts.Section(0x0000, SktsTest::PatSection(id++, {{1, 0x100}}));
            ts.Section(0x0100, SktsTest::PmtSection(1, 0x1FFF, {{0x03, 0x101, {}}}));
            ts.Pes(0x101, Bytes(300, 0x11), 90000);
        }
        out.Put(ts.bytes);
    }
}

void Scrambled(const std::filesystem::path& path, size_t bytes)
{
    Output out(path, bytes);
    SktsTest::TsWriter ts;
    for (int i = 0; i < 10'000; ++i)
        ts.Packet(static_cast<uint16_t>(0x100 + i % 64), i < 64, 0x90);
    while (!out.Full())
        out.Put(ts.bytes);
}

void ManyPids(const std::filesystem::path& path, size_t bytes)
{
    Output out(path, bytes);
    constexpr uint16_t kPids = 4000;
    SktsTest::TsWriter head;
    std::vector<SktsTest::PatEntry> programs;
    for (uint16_t first = 0; first < kPids; first += 500)
        programs.push_back({static_cast<uint16_t>(1 + first / 500), static_cast<uint16_t>(0x20 + first / 500)});
    head.Section(0x0000, SktsTest::PatSection(1, programs));
    for (uint16_t first = 0; first < kPids; first += 500) {
        std::vector<SktsTest::PmtStream> streams;
        for (uint16_t pid = first; pid < first + 500; ++pid)
            streams.push_back({0x03, static_cast<uint16_t>(0x200 + pid), {}});
        head.Section(static_cast<uint16_t>(0x20 + first / 500),
                     SktsTest::PmtSection(static_cast<uint16_t>(1 + first / 500), 0x1FFF, streams));
    }
    out.Put(head.bytes);
    for (int64_t pts = 90000; !out.Full(); pts += 3600) {
        SktsTest::TsWriter ts;
        for (uint16_t pid = 0; pid < kPids; ++pid)
            ts.Pes(static_cast<uint16_t>(0x200 + pid), Bytes(300, static_cast<uint8_t>(pid)), pts);
        out.Put(ts.bytes);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: HostileStreams DIR MEBIBYTES\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    const size_t bytes = std::strtoull(argv[2], nullptr, 10) << 20;
    std::filesystem::create_directories(dir);
    TableFlood(dir / "table-flood.ts", bytes);
    Noise(dir / "noise.ts", bytes);
    BadText(dir / "bad-text.ts", bytes);
    PcrRate(dir / "pcr-rate.ts", bytes);
    TsidChange(dir / "tsid-change.ts", bytes);
    Scrambled(dir / "scrambled.ts", bytes);
    ManyPids(dir / "many-pids.ts", bytes);
    return 0;
}
