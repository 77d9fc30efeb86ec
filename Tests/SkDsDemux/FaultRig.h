#pragma once
// The filter in a host graph for fault-injection tests: the test hands the input pin its samples
// itself (so intake is deterministic), output pins go to sinks that may misbehave, and what the
// sinks received is compared with the PES payloads of the clean stream.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BytesSample.h"
#include "FaultyDownstream.h"
#include "FilterTestSupport.h"

namespace FaultTest {

using Bytes = std::vector<uint8_t>;

// The video and audio PIDs of the sample streams the fault tests use.
constexpr ULONG kVideoPid = 0x100;
constexpr ULONG kAudioPid = 0x101;

// The PES payloads of one PID of a stream, in order, as the engine assembles them.
std::vector<Bytes> ReferencePayloads(const Bytes& stream, uint32_t pid);

inline Bytes Concat(const std::vector<Bytes>& payloads)
{
    Bytes all;
    for (const Bytes& p : payloads)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// True when delivered is the reference payloads in order with some whole PES left out (none
// altered, none invented); skipped counts those left out.
bool IsPesSubsequence(const Bytes& delivered, const std::vector<Bytes>& reference, size_t& skipped);

// A downstream filter of the rig: a plain sink, or one with allocator faults.
struct Downstream {
    FilterTest::SinkRecord record;
    AllocatorFaults faults;
    std::atomic<int> beginFlushes{0};
    std::atomic<int> endFlushes{0};
    ComPtr<IBaseFilter> filter;
    IPin* input = nullptr;
};

class FaultRig {
public:
    // steadyClock: the filter's steady clock (the real one unless a test speeds it up).
    explicit FaultRig(DsDemux::SteadyClock steadyClock = DsDemux::SteadyNowNs);
    ~FaultRig();
    FaultRig(const FaultRig&) = delete;
    FaultRig& operator=(const FaultRig&) = delete;

    // An output pin of the given major type carrying pids, connected to a new downstream filter
    // whose allocator faults are set before the connection (faulty) or to a plain sink.
    Downstream& AddPin(const std::wstring& name, const GUID& major, const std::vector<ULONG>& pids,
                       bool faultyAllocator = false, int failBufferEvery = 0, int failPointerEvery = 0);

    // Hands bytes to the input pin in samples of chunk bytes; each Receive must give S_OK.
    void Feed(const Bytes& bytes, size_t chunk = 188 * 7) { Feed(bytes, 0, bytes.size(), chunk); }
    void Feed(const Bytes& bytes, size_t begin, size_t end, size_t chunk);
    HRESULT ReceiveOne(const uint8_t* data, LONG length, HRESULT pointerResult = S_OK);

    // Waits (bounded) until every output pin has delivered all it was given.
    bool Drain();

    // The graph clock: the filter's own reference clock.
    void UseFilterClock();

    DsHost::FilterGraph& Graph() { return *graph_.Get(); }
    SkDsDemux& Filter() { return *filter_; }
    IPin* InputPin() { return inputPin_.Get(); }

private:
    ComPtr<DsHost::FilterGraph> graph_;
    SkDsDemux* filter_ = nullptr;
    ComPtr<IBaseFilter> held_;
    ComPtr<IPin> inputPin_;
    ComPtr<IMemInputPin> input_;
    std::vector<std::unique_ptr<Downstream>> downstream_;
};

// Expected downstream bytes and failure count for a pin whose allocator fails every Nth
// GetBuffer (failBufferEvery) or hands out every Nth buffer without a data pointer
// (failPointerEvery): a failure abandons the rest of its PES.
struct AbandonedPieces {
    Bytes delivered;
    int bufferFailures = 0;
    int pointerFailures = 0;
};
AbandonedPieces ExpectedWithAllocatorFaults(const std::vector<Bytes>& payloads, size_t bufferSize, int failBufferEvery,
                                            int failPointerEvery);

// Holds delivery threads inside a sink until the test opens it; tells when one arrived.
class Gate {
public:
    void Close();
    void Open();
    // Called by a sink: blocks while the gate is closed.
    void Pass();
    // Waits (bounded) until a thread waits at the gate; false on time-out.
    bool WaitForArrival();
    bool HasWaiter();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    int waiting_ = 0;
};

// A sample stream read whole; the test is skipped when it is missing.
Bytes SampleStream(const char* name);

} // namespace FaultTest
