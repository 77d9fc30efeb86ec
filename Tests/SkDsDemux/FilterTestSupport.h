#pragma once
// Building blocks for the filter's tests: a filter made the way the class factory makes it,
// output pins with typed media, sinks that keep what they received, and a graph around them.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ComPtr.h"
#include "Host/FilterGraph.h"
#include "Host/PushSource.h"
#include "Host/SampleSink.h"
#include "SkDsDemux.h"
#include "SkDsLogger.h"

namespace FilterTest {

// Every test starts and ends with no live COM object, so a leak fails the test.
class LiveObjects : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CBaseObject::ObjectsActive(), 0); }
    void TearDown() override { EXPECT_EQ(CBaseObject::ObjectsActive(), 0) << "COM objects leaked"; }
};

// Lines the logger writes while it lives.
class LogCapture {
public:
    LogCapture() { SkDsLogger::SetLineSink(&sink_); }
    ~LogCapture() { SkDsLogger::SetLineSink(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> Lines() const
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // The lines without their "[x.x ms] " part, which depends on the clock.
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> out;
        for (const std::string& line : Lines()) {
            const size_t open = line.find(" [");
            const size_t close = line.find("] ", open);
            out.push_back(open == std::string::npos || close == std::string::npos
                              ? line
                              : line.substr(0, open) + " " + line.substr(close + 2));
        }
        return out;
    }

private:
    static void Write(void* context, const char* line)
    {
        auto* self = static_cast<LogCapture*>(context);
        std::lock_guard lock(self->mutex_);
        self->lines_.emplace_back(line);
    }
    SkDsLogger::LineSink sink_{&LogCapture::Write, this};
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// A filter as the class factory makes it, held by one reference.
inline ComPtr<IBaseFilter> MakeFilter(SkDsDemux** raw = nullptr,
                                      DsDemux::SteadyClock steadyClock = DsDemux::SteadyNowNs)
{
    HRESULT hr = S_OK;
    auto* filter = new SkDsDemux(nullptr, &hr, std::move(steadyClock));
    EXPECT_EQ(filter->Init(), S_OK);
    ComPtr<IBaseFilter> held;
    filter->NonDelegatingQueryInterface(IID_IBaseFilter, held.PutVoid());
    if (raw != nullptr)
        *raw = filter;
    return held;
}

inline CMediaType TypeOf(const GUID& major, const GUID& sub = GUID_NULL)
{
    CMediaType type(&major);
    type.SetSubtype(&sub);
    type.SetFormatType(&FORMAT_None);
    return type;
}

// What one sink received, sample by sample.
struct SinkRecord {
    struct Sample {
        LONG length;
        LONG size;
        REFERENCE_TIME start;
        REFERENCE_TIME stop;
        HRESULT timeResult;
        HRESULT mediaTimeResult;
        LONGLONG mediaStart;
        LONGLONG mediaStop;
        bool syncPoint;
        bool discontinuity;
        bool preroll;
    };
    mutable std::mutex mutex;
    std::vector<BYTE> bytes;
    std::vector<Sample> samples;
    std::function<HRESULT()> onReceive; // optional: delays or fails on the delivery thread

    DsHost::SinkCallbacks Callbacks()
    {
        DsHost::SinkCallbacks callbacks;
        callbacks.onSample = [this](const DsHost::ReceivedSample& s) {
            {
                std::lock_guard lock(mutex);
                bytes.insert(bytes.end(), s.data, s.data + s.length);
                samples.push_back({s.length, s.size, s.start, s.stop, s.timeResult, s.mediaTimeResult, s.mediaStart,
                                   s.mediaStop, s.syncPoint, s.discontinuity, s.preroll});
            }
            return onReceive ? onReceive() : S_OK;
        };
        return callbacks;
    }
    size_t SampleCount() const
    {
        std::lock_guard lock(mutex);
        return samples.size();
    }
};

// A source, the demultiplexer and one sink per output pin in a host graph.
class DemuxGraph {
public:
    explicit DemuxGraph(std::vector<BYTE> stream, LONG chunk = 188 * 7, uint64_t passes = 1,
                        DsDemux::SteadyClock steadyClock = DsDemux::SteadyNowNs)
        : graph_(DsHost::FilterGraph::Create()), streamBytes_(stream.size() * passes)
    {
        DsHost::PushSource::Options options;
        options.bufferSize = chunk;
        source_ = ComPtr<DsHost::PushSource>(
            new DsHost::PushSource(std::make_unique<DsHost::MemoryByteReader>(std::move(stream), passes), options));
        filterHeld_ = MakeFilter(&filter_, std::move(steadyClock));
        EXPECT_EQ(graph_->AddFilter(source_.Get(), L"Source"), S_OK);
        EXPECT_EQ(graph_->AddFilter(filterHeld_.Get(), L"Demux"), S_OK);
        ComPtr<IPin> input;
        EXPECT_EQ(filterHeld_->FindPin(L"Ts", input.Put()), S_OK);
        EXPECT_EQ(graph_->Connect(source_->OutputPin(), input.Get()), S_OK);
    }
    ~DemuxGraph()
    {
        graph_->Stop();
        sinks_.clear();
        graph_.Reset();
    }

    // A connected output pin carrying the given PIDs; its sink's record is returned.
    SinkRecord& AddPin(const std::wstring& name, const CMediaType& type, const std::vector<ULONG>& pids)
    {
        ComPtr<IMpeg2Demultiplexer> demux;
        EXPECT_EQ(filterHeld_->QueryInterface(IID_IMpeg2Demultiplexer, demux.PutVoid()), S_OK);
        CMediaType requested(type);
        ComPtr<IPin> pin;
        EXPECT_EQ(demux->CreateOutputPin(&requested, const_cast<LPWSTR>(name.c_str()), pin.Put()), S_OK);
        ComPtr<IMPEG2PIDMap> map;
        EXPECT_EQ(pin->QueryInterface(IID_IMPEG2PIDMap, map.PutVoid()), S_OK);
        std::vector<ULONG> list = pids;
        EXPECT_EQ(map->MapPID(static_cast<ULONG>(list.size()), list.data(), MEDIA_ELEMENTARY_STREAM), S_OK);
        auto entry = std::make_unique<Sink>();
        entry->sink = ComPtr<DsHost::SampleSink>(new DsHost::SampleSink(entry->record.Callbacks()));
        EXPECT_EQ(graph_->AddFilter(entry->sink.Get(), (L"Sink " + name).c_str()), S_OK);
        EXPECT_EQ(graph_->Connect(pin.Get(), entry->sink->InputPin()), S_OK);
        sinks_.push_back(std::move(entry));
        return sinks_.back()->record;
    }

    // Pushes the whole stream with the graph paused, so every PES is due at once, and waits
    // until every pin has delivered what it was given.
    void RunPaused()
    {
        ASSERT_EQ(graph_->Pause(), S_OK);
        WaitUntilDrained();
    }
    void WaitUntilDrained()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (source_->BytesDelivered() < streamBytes_ && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (int pin = 1; pin < filter_->GetPinCount(); ++pin) {
            auto* es = static_cast<EsPin*>(filter_->GetPin(pin));
            while (!es->DeliverThread().IsIdle() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    DsHost::FilterGraph& Graph() { return *graph_.Get(); }
    SkDsDemux& Filter() { return *filter_; }
    IBaseFilter* FilterInterface() { return filterHeld_.Get(); }
    DsHost::PushSource& Source() { return *source_.Get(); }

private:
    struct Sink {
        SinkRecord record;
        ComPtr<DsHost::SampleSink> sink;
    };
    ComPtr<DsHost::FilterGraph> graph_;
    const uint64_t streamBytes_;
    ComPtr<DsHost::PushSource> source_;
    SkDsDemux* filter_ = nullptr;
    ComPtr<IBaseFilter> filterHeld_;
    std::vector<std::unique_ptr<Sink>> sinks_;
};

} // namespace FilterTest
