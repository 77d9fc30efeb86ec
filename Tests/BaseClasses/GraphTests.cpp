#include "Probes.h"

#include "Host/FilterGraph.h"
#include "Host/PushSource.h"
#include "Host/SampleSink.h"
#include "TestData.h"

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace BaseClassesTest {
namespace {

using DsHost::FilterGraph;
using DsHost::PushSource;
using DsHost::ReceivedSample;
using DsHost::SampleSink;
using DsHost::SinkCallbacks;

using HostGraph = LiveObjects;

std::vector<BYTE> Pattern(size_t size)
{
    std::vector<BYTE> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = BYTE(i * 7 + i / 251);
    return bytes;
}

struct Copied {
    std::vector<BYTE> bytes;
    HRESULT timeResult;
    REFERENCE_TIME start, stop;
    LONGLONG mediaStart;
    bool syncPoint, discontinuity, preroll;
};

// What a sink saw, filled on the streaming thread.
struct Received {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Copied> samples;
    int endOfStreams = 0;

    SinkCallbacks Callbacks()
    {
        SinkCallbacks callbacks;
        callbacks.onSample = [this](const ReceivedSample& s) {
            std::lock_guard lock(mutex);
            samples.push_back({std::vector<BYTE>(s.data, s.data + s.length), s.timeResult, s.start, s.stop,
                               s.mediaStart, s.syncPoint, s.discontinuity, s.preroll});
            arrived.notify_all();
            return S_OK;
        };
        callbacks.onEndOfStream = [this] {
            std::lock_guard lock(mutex);
            ++endOfStreams;
        };
        return callbacks;
    }
    std::vector<BYTE> AllBytes()
    {
        std::lock_guard lock(mutex);
        std::vector<BYTE> all;
        for (const auto& sample : samples)
            all.insert(all.end(), sample.bytes.begin(), sample.bytes.end());
        return all;
    }
};

// Source -> sink in a graph.
struct SourceToSink {
    Received received;
    ComPtr<FilterGraph> graph = FilterGraph::Create();
    ComPtr<PushSource> source;
    ComPtr<SampleSink> sink;

    SourceToSink(std::unique_ptr<DsHost::ByteReader> reader, PushSource::Options options,
                 const CMediaType* accepted = nullptr)
        : source(new PushSource(std::move(reader), std::move(options))),
          sink(new SampleSink(received.Callbacks(), accepted))
    {
        EXPECT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
        EXPECT_EQ(graph->AddFilter(sink.Get(), L"Sink"), S_OK);
    }
    HRESULT Connect() { return graph->Connect(source->OutputPin(), sink->InputPin()); }
};

TEST_F(HostGraph, SamplesFlowFromSourceToSinkWithBytesTimesAndFlags)
{
    const std::vector<BYTE> input = Pattern(10000);
    PushSource::Options options;
    options.bufferSize = 4096;
    options.bufferCount = 2;
    options.decorate = [](IMediaSample* sample, uint64_t index) {
        REFERENCE_TIME start = REFERENCE_TIME(index) * 1000 + 5;
        REFERENCE_TIME stop = start + 500;
        sample->SetTime(&start, &stop);
        LONGLONG mediaStart = LONGLONG(index) + 40;
        LONGLONG mediaStop = mediaStart + 1;
        sample->SetMediaTime(&mediaStart, &mediaStop);
        sample->SetSyncPoint(index != 1);
        sample->SetPreroll(index == 2);
    };
    SourceToSink path(std::make_unique<DsHost::MemoryByteReader>(input, 1), std::move(options));
    ASSERT_EQ(path.Connect(), S_OK);
    FILTER_STATE state = State_Running;
    EXPECT_EQ(path.source->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    ASSERT_EQ(path.graph->Run(), S_OK);
    EXPECT_EQ(path.source->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    ASSERT_TRUE(path.graph->WaitForCompletion(20000));
    ASSERT_EQ(path.graph->Stop(), S_OK);

    EXPECT_EQ(path.received.AllBytes(), input);
    std::lock_guard lock(path.received.mutex);
    ASSERT_EQ(path.received.samples.size(), 3u);
    EXPECT_EQ(path.received.samples[2].bytes.size(), 10000u - 2 * 4096);
    for (size_t i = 0; i < 3; ++i) {
        const Copied& sample = path.received.samples[i];
        EXPECT_EQ(sample.timeResult, S_OK);
        EXPECT_EQ(sample.start, REFERENCE_TIME(i) * 1000 + 5);
        EXPECT_EQ(sample.stop, sample.start + 500);
        EXPECT_EQ(sample.mediaStart, LONGLONG(i) + 40);
        EXPECT_EQ(sample.syncPoint, i != 1);
        EXPECT_EQ(sample.discontinuity, i == 0); // the first sample after starting
        EXPECT_EQ(sample.preroll, i == 2);
    }
    EXPECT_EQ(path.received.endOfStreams, 1);
    EXPECT_EQ(path.source->BytesDelivered(), 10000u);
    EXPECT_EQ(path.sink->SamplesReceived(), 3u);
}

TEST_F(HostGraph, TheSampleStreamArrivesWholeFromAFile)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    auto reader = std::make_unique<DsHost::FileByteReader>(path.string());
    ASSERT_TRUE(reader->IsOpen());
    SourceToSink graph(std::move(reader), {});
    ASSERT_EQ(graph.Connect(), S_OK);
    ASSERT_EQ(graph.graph->Pause(), S_OK); // a push source streams from Pause on
    FILTER_STATE state = State_Stopped;
    EXPECT_EQ(graph.source->GetState(0, &state), VFW_S_CANT_CUE) << "live: a graph must not wait for preroll";
    EXPECT_EQ(state, State_Paused);
    ASSERT_TRUE(graph.graph->WaitForCompletion(20000));
    EXPECT_EQ(graph.graph->AbortCode(), S_OK);
    graph.graph->Stop();
    EXPECT_EQ(graph.received.AllBytes(), SktsTest::ReadFile(path));

    DsHost::FileByteReader missing("/nonexistent/stream.ts");
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_NE(missing.Error().find("/nonexistent/stream.ts"), std::string::npos);
}

TEST_F(HostGraph, ConnectionRefusesMismatchedTypesAndDirections)
{
    const CMediaType videoOnly = MakeType(MEDIATYPE_Video, GUID_NULL);
    SourceToSink path(std::make_unique<DsHost::MemoryByteReader>(Pattern(10), 1), {}, &videoOnly);
    EXPECT_EQ(path.Connect(), VFW_E_NO_ACCEPTABLE_TYPES);
    EXPECT_EQ(path.graph->Connect(path.source->OutputPin(), path.source->OutputPin()), VFW_E_INVALID_DIRECTION);
    EXPECT_EQ(path.graph->Connect(path.sink->InputPin(), path.source->OutputPin()), VFW_E_INVALID_DIRECTION);
    EXPECT_EQ(path.graph->AddFilter(path.sink.Get(), L"Other"), E_INVALIDARG);

    ComPtr<IBaseFilter> found;
    EXPECT_EQ(path.graph->FindFilterByName(L"Sink", found.Put()), S_OK);
    EXPECT_EQ(found.Get(), static_cast<IBaseFilter*>(path.sink.Get()));
    EXPECT_EQ(path.graph->FindFilterByName(L"Nothing", found.Put()), VFW_E_NOT_FOUND);

    // A partial type naming the stream still negotiates with an accepting sink.
    SourceToSink ts(std::make_unique<DsHost::MemoryByteReader>(Pattern(10), 1), {});
    const CMediaType streamOnly(&MEDIATYPE_Stream);
    EXPECT_EQ(ts.graph->Connect(ts.source->OutputPin(), ts.sink->InputPin(), &streamOnly), S_OK);
    AM_MEDIA_TYPE agreed{};
    ASSERT_EQ(ts.sink->InputPin()->ConnectionMediaType(&agreed), S_OK);
    EXPECT_TRUE(agreed.subtype == MEDIASUBTYPE_MPEG2_TRANSPORT);
    FreeMediaType(agreed);
}

TEST_F(HostGraph, StateChangesGoDownstreamFirstAndTheClockReachesEveryFilter)
{
    CallLog log;
    auto graph = FilterGraph::Create();
    ComPtr<ProbeFilter> upstream(new ProbeFilter(log));
    ComPtr<ProbeFilter> downstream(new ProbeFilter(log));
    PinBehaviour offersTs;
    offersTs.offered = {MakeType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT)};
    ProbeOutputPin* out = upstream->AddOutput(L"Out", offersTs);
    ProbeInputPin* in = downstream->AddInput(L"In");
    ASSERT_EQ(graph->AddFilter(upstream.Get(), L"Up"), S_OK);
    ASSERT_EQ(graph->AddFilter(downstream.Get(), L"Down"), S_OK);
    ASSERT_EQ(graph->Connect(out, in), S_OK);

    auto* clock = new ManualClock();
    ComPtr<IReferenceClock> clockRef(clock);
    clock->Set(777);
    ASSERT_EQ(graph->SetSyncSource(clock), S_OK);
    ASSERT_EQ(graph->Run(), S_OK);
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"In.Active", "Out.Active", "In.Run(777)", "Out.Run(777)"}));
    clock->Set(1000);
    CRefTime streamTime;
    ASSERT_EQ(upstream->StreamTime(streamTime), S_OK);
    EXPECT_EQ(streamTime.m_time, 223);
    ASSERT_EQ(downstream->StreamTime(streamTime), S_OK);
    EXPECT_EQ(streamTime.m_time, 223);
    EXPECT_EQ(graph->SetSyncSource(nullptr), VFW_E_NOT_STOPPED);

    ASSERT_EQ(graph->Stop(), S_OK);
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"In.Inactive", "Out.Inactive"}));
    ASSERT_EQ(graph->SetSyncSource(nullptr), S_OK);
    EXPECT_EQ(upstream->StreamTime(streamTime), VFW_E_NO_CLOCK);

    ASSERT_EQ(graph->RemoveFilter(downstream.Get()), S_OK); // disconnects both ends
    EXPECT_FALSE(out->IsConnected());
    EXPECT_EQ(upstream->RefCount(), 2); // this test and the graph
    EXPECT_EQ(downstream->RefCount(), 1);
}

TEST_F(HostGraph, StartsRunsAndStopsAThousandTimesWithoutLeakOrHang)
{
    for (int round = 0; round < 1000; ++round) {
        PushSource::Options options;
        options.bufferSize = 1024;
        options.bufferCount = 2;
        SourceToSink path(std::make_unique<DsHost::MemoryByteReader>(Pattern(4096), 0), std::move(options));
        ASSERT_EQ(path.Connect(), S_OK);
        ASSERT_EQ(path.graph->Run(), S_OK);
        {
            std::unique_lock lock(path.received.mutex);
            ASSERT_TRUE(path.received.arrived.wait_for(lock, std::chrono::seconds(10),
                                                       [&] { return path.received.samples.size() >= 3; }))
                << "round " << round;
            path.received.samples.clear(); // keep the memory flat
        }
        ASSERT_EQ(path.graph->Stop(), S_OK);
        EXPECT_EQ(path.graph->AbortCode(), S_OK);
    }
}

} // namespace
} // namespace BaseClassesTest
