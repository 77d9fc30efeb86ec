// The demultiplexer engine over a sample stream in memory, with its two elementary PIDs mapped.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "Demuxer.h"

namespace {

const std::vector<uint8_t>& SampleStream()
{
    static const std::vector<uint8_t> bytes = [] {
        std::ifstream in(std::filesystem::path(SKTS_SOURCE_DIR) / "Tests" / "data" / "h264_aac.ts", std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    return bytes;
}

void CountPes(uint32_t, DsDemux::PidEntry& entry, uint32_t, void* context)
{
    uint32_t size = 0;
    entry.pes->pes.GetPayload(size);
    *static_cast<uint64_t*>(context) += size;
}

void BM_EngineTwoMappedPids(benchmark::State& state)
{
    const auto& stream = SampleStream();
    if (stream.empty()) {
        state.SkipWithError("sample stream not found");
        return;
    }
    DsDemux::Demuxer engine;
    engine.Init();
    uint64_t payload = 0;
    engine.AddPid(0x100, &CountPes, &payload);
    engine.AddPid(0x101, &CountPes, &payload);
    const size_t chunk = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        for (size_t offset = 0; offset < stream.size(); offset += chunk)
            engine.ProcessSample(stream.data() + offset, static_cast<int32_t>(std::min(chunk, stream.size() - offset)));
    }
    benchmark::DoNotOptimize(payload);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.counters["packets/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * (stream.size() / 188)), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EngineTwoMappedPids)->Arg(65536);

} // namespace
