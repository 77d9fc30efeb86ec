// Packet input -> analyser throughput over a sample stream held in memory.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "SkTsInfo.h"
#include "SkTsPacketInput.h"

namespace {

const std::vector<uint8_t>& SampleStream()
{
    static const std::vector<uint8_t> bytes = [] {
        std::ifstream in(std::filesystem::path(SKTS_SOURCE_DIR) / "Tests" / "data" / "h264_aac.ts", std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    return bytes;
}

void NoteBytes(benchmark::State& state, size_t bytesPerIteration)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytesPerIteration));
    state.counters["packets/s"] = benchmark::Counter(static_cast<double>(state.iterations() * (bytesPerIteration / 188)),
                                                     benchmark::Counter::kIsRate);
}

// Writes the whole sample in chunks of state.range(0) bytes per iteration; the analyser keeps
// its state across iterations, as over a long stream.
void BM_WriteProcessPacket(benchmark::State& state)
{
    const auto& stream = SampleStream();
    if (stream.empty()) {
        state.SkipWithError("sample stream not found");
        return;
    }
    const std::unique_ptr<SklibTs::SkTsInfo> analyser(SklibTs::CreateTsInfo());
    const std::unique_ptr<SklibTs::SkTsPacketInput> input(SklibTs::CreateTsPacketInput(analyser.get(), 3'000'000));
    const size_t chunk = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        for (size_t offset = 0; offset < stream.size(); offset += chunk)
            input->Write(stream.data() + offset, static_cast<uint32_t>(std::min(chunk, stream.size() - offset)));
    }
    NoteBytes(state, stream.size());
}
BENCHMARK(BM_WriteProcessPacket)->Arg(188)->Arg(65536);

} // namespace

// The same with the DVB rule set, so every SI check and repetition rule runs as well.
void BM_WriteProcessPacketDvb(benchmark::State& state)
{
    const auto& stream = SampleStream();
    if (stream.empty()) {
        state.SkipWithError("sample stream not found");
        return;
    }
    const std::unique_ptr<SklibTs::SkTsInfo> analyser(SklibTs::CreateTsInfo());
    analyser->SetSiStandard(SklibTs::kSiDvb);
    const std::unique_ptr<SklibTs::SkTsPacketInput> input(SklibTs::CreateTsPacketInput(analyser.get(), 3'000'000));
    const size_t chunk = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        for (size_t offset = 0; offset < stream.size(); offset += chunk)
            input->Write(stream.data() + offset, static_cast<uint32_t>(std::min(chunk, stream.size() - offset)));
    }
    NoteBytes(state, stream.size());
}
BENCHMARK(BM_WriteProcessPacketDvb)->Arg(65536);
