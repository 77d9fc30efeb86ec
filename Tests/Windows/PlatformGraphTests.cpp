// The demultiplexer in the platform's own filter graph, as an application uses it: created by
// class identifier through the system registry (after regsvr32), output pins created and mapped
// through the standard interfaces, its clock set as the graph clock, run, and the payloads checked
// against the reference digests. Windows only; Tests/Windows/run runs it under Wine.
#include <gtest/gtest.h>

#include <control.h> // IMediaControl: the application side of the graph

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "ComPtr.h"
#include "Host/PushSource.h"
#include "Host/SampleSink.h"
#include "Sha256.h"
#include "SkDsDemuxIds.h"
#include "TestData.h"

namespace {

using nlohmann::json;

class ComApartment {
public:
    ComApartment() { EXPECT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    ~ComApartment() { CoUninitialize(); }
};

CMediaType TypeFor(int streamType)
{
    const bool video = streamType == 0x01 || streamType == 0x02 || streamType == 0x1B || streamType == 0x24;
    CMediaType type(video ? &MEDIATYPE_Video : &MEDIATYPE_Audio);
    type.SetSubtype(&GUID_NULL);
    type.SetFormatType(&FORMAT_None);
    return type;
}

// Bytes one sink received.
struct Collected {
    std::mutex mutex;
    std::vector<BYTE> bytes;
    size_t Size()
    {
        std::lock_guard lock(mutex);
        return bytes.size();
    }
};

struct PlayedStream {
    std::map<int, std::shared_ptr<Collected>> payloads; // by PID
    HRESULT runResult = E_FAIL;
};

// source -> demultiplexer (by CLSID) -> one sink per PID of the facts, in the system's graph.
PlayedStream PlayThroughPlatformGraph(const std::filesystem::path& stream, const json& facts)
{
    PlayedStream played;
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid()),
              S_OK);
    if (!graph)
        return played;

    DsHost::PushSource::Options options;
    options.bufferSize = 188 * 7;
    ComPtr<DsHost::PushSource> source(
        new DsHost::PushSource(std::make_unique<DsHost::FileByteReader>(stream.string()), options));
    ComPtr<IBaseFilter> demux;
    EXPECT_EQ(CoCreateInstance(CLSID_SkDsDemux, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, demux.PutVoid()),
              S_OK)
        << "is the module registered (regsvr32)?";
    if (!demux)
        return played;
    EXPECT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
    EXPECT_EQ(graph->AddFilter(demux.Get(), L"Demultiplexer"), S_OK);
    ComPtr<IPin> input;
    EXPECT_EQ(demux->FindPin(L"Ts", input.Put()), S_OK);
    EXPECT_EQ(graph->ConnectDirect(source->OutputPin(), input.Get(), nullptr), S_OK);

    ComPtr<IMpeg2Demultiplexer> pins;
    EXPECT_EQ(demux->QueryInterface(IID_IMpeg2Demultiplexer, pins.PutVoid()), S_OK);
    std::vector<ComPtr<DsHost::SampleSink>> sinks;
    for (const auto& [pmtNumber, pmt] : facts["pmts"].items()) {
        for (const auto& entry : pmt["streams"]) {
            const int pid = entry["pid"].get<int>();
            auto collected = std::make_shared<Collected>();
            played.payloads[pid] = collected;
            CMediaType type = TypeFor(entry["stream_type"].get<int>());
            std::wstring name = L"PID " + std::to_wstring(pid);
            ComPtr<IPin> pin;
            EXPECT_EQ(pins->CreateOutputPin(&type, name.data(), pin.Put()), S_OK);
            ComPtr<IMPEG2PIDMap> map;
            EXPECT_EQ(pin->QueryInterface(IID_IMPEG2PIDMap, map.PutVoid()), S_OK);
            ULONG mapped = static_cast<ULONG>(pid);
            EXPECT_EQ(map->MapPID(1, &mapped, MEDIA_ELEMENTARY_STREAM), S_OK);
            DsHost::SinkCallbacks callbacks;
            callbacks.onSample = [collected](const DsHost::ReceivedSample& sample) {
                std::lock_guard lock(collected->mutex);
                collected->bytes.insert(collected->bytes.end(), sample.data, sample.data + sample.length);
                return S_OK;
            };
            ComPtr<DsHost::SampleSink> sink(new DsHost::SampleSink(std::move(callbacks)));
            EXPECT_EQ(graph->AddFilter(sink.Get(), (L"Sink " + name).c_str()), S_OK);
            EXPECT_EQ(graph->ConnectDirect(pin.Get(), sink->InputPin(), nullptr), S_OK);
            sinks.push_back(std::move(sink));
        }
    }

    // The demultiplexer's own clock as the graph clock.
    ComPtr<IReferenceClock> clock;
    EXPECT_EQ(demux->QueryInterface(IID_IReferenceClock, clock.PutVoid()), S_OK);
    ComPtr<IMediaFilter> graphTiming;
    EXPECT_EQ(graph->QueryInterface(IID_IMediaFilter, graphTiming.PutVoid()), S_OK);
    EXPECT_EQ(graphTiming->SetSyncSource(clock.Get()), S_OK);

    ComPtr<IMediaControl> control;
    EXPECT_EQ(graph->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
    played.runResult = control->Run();
    EXPECT_TRUE(SUCCEEDED(played.runResult));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (const auto& [pid, collected] : played.payloads) {
        const size_t expected = facts["pes"][std::to_string(pid)]["payload_bytes"].get<size_t>();
        while (collected->Size() < expected && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(control->Stop(), S_OK);
    graphTiming->SetSyncSource(nullptr);
    return played;
}

TEST(PlatformGraphTest, PlaysTheSamplesByteExactThroughTheSystemsGraph)
{
    ComApartment com;
    for (const char* name : {"h264_aac", "twoprog"}) {
        SCOPED_TRACE(name);
        const auto stream = SktsTest::FindSample(std::string(name) + ".ts");
        const auto factsPath = SktsTest::FindSample(std::string(name) + ".facts.json");
        ASSERT_TRUE(stream && factsPath) << "sample " << name << " not found";
        std::ifstream in(*factsPath);
        const json facts = json::parse(in);
        const PlayedStream played = PlayThroughPlatformGraph(*stream, facts);
        EXPECT_EQ(played.payloads.size(), facts["pes"].size());
        for (const auto& [pid, collected] : played.payloads) {
            const json& expected = facts["pes"][std::to_string(pid)];
            std::lock_guard lock(collected->mutex);
            EXPECT_EQ(collected->bytes.size(), expected["payload_bytes"].get<size_t>()) << pid;
            EXPECT_EQ(SktsTest::Sha256Hex(collected->bytes), expected["sha256"].get<std::string>()) << pid;
        }
    }
}

// A failure the filter logs reaches the debugger channel (OutputDebugStringA); ./run reads it
// from Wine's debug output: a flush with an output pin that is not connected.
TEST(PlatformGraphTest, FailuresAreWrittenToTheDebuggerChannel)
{
    ComApartment com;
    ComPtr<IBaseFilter> demux;
    ASSERT_EQ(CoCreateInstance(CLSID_SkDsDemux, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, demux.PutVoid()),
              S_OK);
    ComPtr<IMpeg2Demultiplexer> pins;
    ASSERT_EQ(demux->QueryInterface(IID_IMpeg2Demultiplexer, pins.PutVoid()), S_OK);
    CMediaType type = TypeFor(0x1B);
    std::wstring name = L"Unconnected";
    ComPtr<IPin> output;
    ASSERT_EQ(pins->CreateOutputPin(&type, name.data(), output.Put()), S_OK);
    ComPtr<IPin> input;
    ASSERT_EQ(demux->FindPin(L"Ts", input.Put()), S_OK);
    EXPECT_EQ(input->BeginFlush(), S_OK); // logs DeliverBeginFlush failed (hr0x80040209)
    EXPECT_EQ(input->EndFlush(), S_OK);
}

// Once every object is released the module says it may go, and COM unloads it.
TEST(PlatformGraphTest, TheModuleUnloadsWhenNothingLives)
{
    ComApartment com;
    {
        ComPtr<IBaseFilter> demux;
        ASSERT_EQ(CoCreateInstance(CLSID_SkDsDemux, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, demux.PutVoid()),
                  S_OK);
        EXPECT_NE(GetModuleHandleW(L"SkDsDemux.ax"), nullptr);
    }
    CoFreeUnusedLibraries();
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_EQ(GetModuleHandleW(L"SkDsDemux.ax"), nullptr);
}

} // namespace
