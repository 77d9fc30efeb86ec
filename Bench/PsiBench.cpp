// Section assembly from packet payloads and PAT/PMT decoding.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "Crc32.h"
#include "DvbText.h"
#include "SectionBuilder.h"
#include "SkTable.h"
#include "SkTablePat.h"
#include "SkTablePmt.h"
#include "SkTableSection.h"

namespace {

using SktsTest::Bytes;

Bytes PmtWithStreams(int streamCount)
{
    std::vector<SktsTest::PmtStream> streams;
    for (int i = 0; i < streamCount; ++i) {
        const Bytes descriptors = [] {
            Bytes d = SktsTest::DescriptorBytes(0x0A, {'e', 'n', 'g', 0});
            const Bytes ac3 = SktsTest::DescriptorBytes(0x6A, {0x00});
            d.insert(d.end(), ac3.begin(), ac3.end());
            return d;
        }();
        streams.push_back({0x06, static_cast<uint16_t>(0x100 + i), descriptors});
    }
    return SktsTest::LongSection({0x02, 1, 0, true, 0, 0},
                                 SktsTest::PmtBody(0x100, SktsTest::DescriptorBytes(0x09, {0x0B, 0x00, 0xE1, 0x23}), streams));
}

// The 184-byte payloads of the packets that carry a section.
std::vector<Bytes> Payloads(const Bytes& section)
{
    uint8_t cc = 0;
    const Bytes packets = SktsTest::SectionPackets(section, 0x100, cc);
    std::vector<Bytes> payloads;
    for (size_t pos = 0; pos < packets.size(); pos += 188)
        payloads.push_back(SktsTest::PacketPayload(packets.data() + pos));
    return payloads;
}

void SectionAssembly(benchmark::State& state)
{
    const Bytes section = PmtWithStreams(static_cast<int>(state.range(0)));
    const std::vector<Bytes> payloads = Payloads(section);
    for (auto _ : state) {
        auto assembled = std::make_unique<SklibTs::RawTableSection>();
        for (const Bytes& payload : payloads) {
            assembled->Append(payload.data(), static_cast<int32_t>(payload.size()));
            if (assembled->IsComplete())
                break;
        }
        benchmark::DoNotOptimize(assembled->length);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * section.size()));
    state.counters["sections/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["packets"] = static_cast<double>(payloads.size());
}
BENCHMARK(SectionAssembly)->Arg(1)->Arg(10)->Arg(100)->Arg(250);

std::unique_ptr<SklibTs::SkTable> TableOf(const Bytes& section)
{
    auto table = std::make_unique<SklibTs::SkTable>();
    table->sections[0] = std::make_unique<SklibTs::SkTableSection>(section.data(), static_cast<int32_t>(section.size()), 0);
    table->last_section_number = 0;
    return table;
}

void ParsePat(benchmark::State& state)
{
    std::vector<SktsTest::PatEntry> programs;
    for (uint16_t i = 0; i < state.range(0); ++i)
        programs.push_back({static_cast<uint16_t>(i + 1), static_cast<uint16_t>(0x100 + i)});
    const auto table = TableOf(SktsTest::LongSection({0x00, 1, 0, true, 0, 0}, SktsTest::PatBody(programs)));
    SklibTs::SkTablePat pat;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pat.Parse(table.get()));
        benchmark::DoNotOptimize(pat.programs.data());
    }
    state.counters["tables/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(ParsePat)->Arg(1)->Arg(16)->Arg(200);

void ParsePmt(benchmark::State& state)
{
    const auto table = TableOf(PmtWithStreams(static_cast<int>(state.range(0))));
    SklibTs::SkTablePmt pmt;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pmt.Parse(table.get()));
        benchmark::DoNotOptimize(pmt.streams.data());
    }
    state.counters["tables/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(ParsePmt)->Arg(2)->Arg(8)->Arg(32);

void Crc32(benchmark::State& state)
{
    const Bytes data(static_cast<size_t>(state.range(0)), 0x5A);
    for (auto _ : state)
        benchmark::DoNotOptimize(SklibTs::ComputeCrc32(data.data(), static_cast<int32_t>(data.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(Crc32)->Arg(188)->Arg(4096);

void DvbText(benchmark::State& state)
{
    const Bytes text = {'C', 'a', 'f', 0xC2, 'e', ' ', 'M', 0xC8, 'u', 'n', 'c', 'h', 'e', 'n', ' ', 'N', 'e', 'w', 's',
                        ' ', 0xA4, ' ', 'T', 'V', ' ', 'S', 'p', 'o', 'r', 't', ' ', 'H', 'D'};
    for (auto _ : state)
        benchmark::DoNotOptimize(SklibTs::DvbTextToWide(text.data(), static_cast<int32_t>(text.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(DvbText);

} // namespace
