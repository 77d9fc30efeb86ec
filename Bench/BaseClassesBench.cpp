// Throughput of the hosting path: a push source delivering 64 KiB samples from its own
// allocator on its streaming thread to a sample sink, through the base classes; and what the
// platform charges for the waits the delivery threads are built on.
#include "ComPlatform.h"
#include "ComPtr.h"
#include "Host/FilterGraph.h"
#include "Host/PushSource.h"
#include "Host/SampleSink.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

constexpr LONG kSampleSize = 64 * 1024;
constexpr size_t kPatternSize = 4 * 1024 * 1024;
constexpr uint64_t kPasses = 64; // 256 MiB per run

std::vector<BYTE> Pattern()
{
    std::vector<BYTE> bytes(kPatternSize);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = BYTE(i * 31 + (i >> 12));
    return bytes;
}

// Runs one graph until the source's input ends; returns the bytes the sink received.
uint64_t RunOnce(std::unique_ptr<DsHost::ByteReader> reader, LONG buffers)
{
    auto graph = DsHost::FilterGraph::Create();
    DsHost::PushSource::Options options;
    options.bufferSize = kSampleSize;
    options.bufferCount = buffers;
    ComPtr<DsHost::PushSource> source(new DsHost::PushSource(std::move(reader), std::move(options)));
    DsHost::SinkCallbacks callbacks;
    callbacks.onSample = [](const DsHost::ReceivedSample& sample) {
        benchmark::DoNotOptimize(sample.data[sample.length - 1]);
        return S_OK;
    };
    ComPtr<DsHost::SampleSink> sink(new DsHost::SampleSink(std::move(callbacks)));
    graph->AddFilter(source.Get(), L"Source");
    graph->AddFilter(sink.Get(), L"Sink");
    if (FAILED(graph->Connect(source->OutputPin(), sink->InputPin())) || FAILED(graph->Run()) ||
        !graph->WaitForCompletion(60000))
        return 0;
    graph->Stop();
    return sink->BytesReceived();
}

void BM_PushSourceToSinkFromMemory(benchmark::State& state)
{
    const std::vector<BYTE> pattern = Pattern();
    uint64_t bytes = 0;
    for (auto _ : state)
        bytes += RunOnce(std::make_unique<DsHost::MemoryByteReader>(pattern, kPasses), LONG(state.range(0)));
    state.SetBytesProcessed(int64_t(bytes));
    state.counters["samples"] = benchmark::Counter(double(bytes) / kSampleSize, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PushSourceToSinkFromMemory)->Arg(2)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PushSourceToSinkFromFile(benchmark::State& state)
{
    const auto path = std::filesystem::temp_directory_path() / "BaseClassesBench.ts";
    {
        const std::vector<BYTE> pattern = Pattern();
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < 16; ++i) // 64 MiB, read from the page cache
            out.write(reinterpret_cast<const char*>(pattern.data()), std::streamsize(pattern.size()));
    }
    uint64_t bytes = 0;
    for (auto _ : state)
        bytes += RunOnce(std::make_unique<DsHost::FileByteReader>(path.string()), 8);
    state.SetBytesProcessed(int64_t(bytes));
    std::filesystem::remove(path);
}
BENCHMARK(BM_PushSourceToSinkFromFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// A delivery thread holding a PES for its time sleeps a millisecond at a time: the CPU time per
// iteration is what one such wake-up costs, the floor under real-time play's CPU use.
void BM_SleepOneMillisecond(benchmark::State& state)
{
    for (auto _ : state)
        Sleep(1);
}
BENCHMARK(BM_SleepOneMillisecond)->Unit(benchmark::kMicrosecond)->Iterations(2000);
// Two pins' threads polling at once, as a real-time play of video and audio has them.
BENCHMARK(BM_SleepOneMillisecond)->Unit(benchmark::kMicrosecond)->Iterations(2000)->Threads(2);

// A delivery thread sleeps on its data event whenever its queue is empty, and every queued PES
// signals it: one iteration is a signal that wakes a sleeping thread and its answer back, the
// cost fast play pays for nearly every PES.
void BM_EventWakeRoundTrip(benchmark::State& state)
{
    HANDLE ping = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    HANDLE pong = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> done{false};
    std::thread echo([&] {
        while (WaitForSingleObject(ping, INFINITE) == WAIT_OBJECT_0 && !done.load())
            SetEvent(pong);
    });
    for (auto _ : state) {
        SetEvent(ping);
        WaitForSingleObject(pong, INFINITE);
    }
    done = true;
    SetEvent(ping);
    echo.join();
    CloseHandle(ping);
    CloseHandle(pong);
}
BENCHMARK(BM_EventWakeRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
