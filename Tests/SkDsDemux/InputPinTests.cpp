// The input pin "Ts": the media type it takes, what Receive does with odd samples, and how
// flushes, end of stream and segments reach (or do not reach) the output pins.
#include <gtest/gtest.h>

#include <condition_variable>

#include "ConformanceSupport.h"
#include "TestData.h"

using namespace FilterTest;

namespace {

using InputPinTest = LiveObjects;

const std::string kBeginFlushFailed = "SkDsDemux(65): DeliverBeginFlush failed (hr0x80040209)\n";
const std::string kEndFlushFailed = "SkDsDemux(80): DeliverEndFlush failed (hr0x80040209)\n";
const std::string kPinBeginFlushFailed = "TsPin(39): Deliver begin flush to downstream pins failed (hr=0x80040209)\n";

CMediaType TransportStream(const GUID& formatType = FORMAT_None)
{
    CMediaType type = TypeOf(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT);
    type.SetFormatType(&formatType);
    return type;
}

CMediaType WithFormatBlock(CMediaType type, ULONG length)
{
    type.SetFormatType(&FORMAT_VideoInfo);
    std::vector<BYTE> block(length);
    for (ULONG i = 0; i < length; ++i)
        block[i] = static_cast<BYTE>(i * 7 + 1);
    type.SetFormat(block.data(), length);
    return type;
}

// Holds the sink's first Receive until the test opens it (or a generous deadline passes).
class Gate {
public:
    void Pass()
    {
        std::unique_lock lock(mutex_);
        if (passedOnce_)
            return;
        entered_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::seconds(30), [this] { return open_; });
        passedOnce_ = true;
    }
    bool WaitEntered()
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [this] { return entered_; });
    }
    void Open()
    {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool open_ = false;
    bool passedOnce_ = false;
};

struct OpenOnExit {
    Gate& gate;
    ~OpenOnExit() { gate.Open(); }
};

// Calls the sink saw, in order, each with whether the demultiplexer's input pin was flushing.
class DownstreamCalls {
public:
    std::function<void()> Recorder(const std::string& call, std::function<bool()> inputFlushing)
    {
        return [this, call, inputFlushing] {
            std::lock_guard lock(mutex_);
            calls_.push_back(call + (inputFlushing() ? " while input flushing" : " while input not flushing"));
        };
    }
    std::vector<std::string> Calls() const
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

} // namespace

TEST_F(InputPinTest, TakesTransportStreamWhateverItsFormatAndNothingElse)
{
    DemuxUnderTest demux;
    TsPin& ts = demux.Ts();
    ComPtr<IPin> pin = demux.InputPin();
    for (const CMediaType& accepted : {TransportStream(), TransportStream(GUID_NULL), WithFormatBlock(TransportStream(), 88)}) {
        EXPECT_EQ(ts.CheckMediaType(&accepted), S_OK);
        EXPECT_EQ(pin->QueryAccept(&accepted), S_OK);
    }
    const CMediaType refused[] = {
        TypeOf(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_VIDEO),
        TypeOf(MEDIATYPE_Stream, GUID_NULL),
        TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_TRANSPORT),
        TypeOf(GUID_NULL, MEDIASUBTYPE_MPEG2_TRANSPORT),
        TypeOf(MEDIATYPE_MPEG2_PES, MEDIASUBTYPE_MPEG2_TRANSPORT),
    };
    for (const CMediaType& type : refused) {
        EXPECT_EQ(ts.CheckMediaType(&type), VFW_E_TYPE_NOT_ACCEPTED);
        EXPECT_EQ(pin->QueryAccept(&type), S_FALSE); // QueryAccept answers S_FALSE for any refusal
    }
    EXPECT_EQ(ts.CheckMediaType(nullptr), E_POINTER);
}

TEST_F(InputPinTest, ConnectionKeepsTheOfferedFormatBlockAndRefusesOtherSubtypes)
{
    auto graph = DsHost::FilterGraph::Create();
    DemuxUnderTest demux;
    ASSERT_EQ(graph->AddFilter(demux.filter.Get(), L"Demux"), S_OK);
    ComPtr<IPin> ts = demux.InputPin();

    const CMediaType offered = WithFormatBlock(TransportStream(), 40);
    DsHost::PushSource::Options options;
    options.mediaType = offered;
    ComPtr<DsHost::PushSource> source(
        new DsHost::PushSource(std::make_unique<DsHost::MemoryByteReader>(std::vector<BYTE>{}, 1), options));
    ASSERT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
    ASSERT_EQ(graph->Connect(source->OutputPin(), ts.Get(), &offered), S_OK);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(ts->ConnectionMediaType(&connected), S_OK);
    EXPECT_TRUE(CMediaType(connected) == offered);
    FreeMediaType(connected);
    ASSERT_EQ(graph->Disconnect(source->OutputPin()), S_OK);
    ASSERT_EQ(graph->Disconnect(ts.Get()), S_OK);

    const CMediaType video = TypeOf(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_VIDEO);
    options.mediaType = video;
    ComPtr<DsHost::PushSource> other(
        new DsHost::PushSource(std::make_unique<DsHost::MemoryByteReader>(std::vector<BYTE>{}, 1), options));
    ASSERT_EQ(graph->AddFilter(other.Get(), L"Other"), S_OK);
    EXPECT_EQ(graph->Connect(other->OutputPin(), ts.Get(), &video), VFW_E_TYPE_NOT_ACCEPTED);
    ComPtr<IPin> peer;
    EXPECT_EQ(ts->ConnectedTo(peer.Put()), VFW_E_NOT_CONNECTED);
}

TEST_F(InputPinTest, OffersTheTransportStreamTypeOnlyAtPositionZero)
{
    DemuxUnderTest demux;
    TsPin& ts = demux.Ts();
    CMediaType type;
    type.SetFormatType(&FORMAT_VideoInfo);
    type.SetSampleSize(77);
    EXPECT_EQ(ts.GetMediaType(0, &type), S_OK);
    EXPECT_EQ(type.majortype, MEDIATYPE_Stream);
    EXPECT_EQ(type.subtype, MEDIASUBTYPE_MPEG2_TRANSPORT);
    // Nothing else is touched.
    EXPECT_EQ(type.formattype, FORMAT_VideoInfo);
    EXPECT_EQ(type.lSampleSize, 77u);
    EXPECT_EQ(ts.GetMediaType(1, &type), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(ts.GetMediaType(-1, &type), E_INVALIDARG);
    EXPECT_EQ(ts.GetMediaType(0, nullptr), E_POINTER);

    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(demux.InputPin()->EnumMediaTypes(types.Put()), S_OK);
    AM_MEDIA_TYPE* listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(types->Next(2, listed, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(listed[0]->majortype, MEDIATYPE_Stream);
    EXPECT_EQ(listed[0]->subtype, MEDIASUBTYPE_MPEG2_TRANSPORT);
    DeleteMediaType(listed[0]);
}

// An empty sample and one whose bytes cannot be reached are dropped with S_OK; neither
// touches the engine or the time base; the second is logged with the pointer's failure.
TEST_F(InputPinTest, EmptySamplesAndUnreachableBytesAreDroppedWithSuccess)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    const auto stream = SktsTest::ReadFile(path);
    LogCapture log;
    DemuxUnderTest demux;
    ComPtr<IMemInputPin> input = demux.MemInput();
    demux.Feed(stream, 0, 188 * 14);
    const DsDemux::TimeBase& time = demux.raw->Time();
    const std::shared_ptr<AvTimeStamp> record = time.CurrentRecord();
    ASSERT_TRUE(record);
    const int64_t clockTime = time.SampleClockTime();
    const int64_t streamTime = time.SampleStreamTime();
    const int64_t packets = demux.raw->Engine().PacketCount();
    ASSERT_GT(packets, 0);

    const BYTE* next = stream.data() + 188 * 14;
    for (const LONG length : {0, -1}) {
        BytesSample empty(next, length);
        EXPECT_EQ(input->Receive(&empty), S_OK);
        EXPECT_EQ(empty.PointerCalls(), 0);
    }
    EXPECT_TRUE(log.Lines().empty());

    BytesSample unreachable(next, 188 * 7, E_FAIL);
    EXPECT_EQ(input->Receive(&unreachable), S_OK);
    BytesSample unexpected(next, 188 * 7, E_UNEXPECTED);
    EXPECT_EQ(input->Receive(&unexpected), S_OK);
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{"TsPin(87): Failed to get input data pointer (hr=0x80004005)\n",
                                                         "TsPin(87): Failed to get input data pointer (hr=0x8000FFFF)\n"}));

    EXPECT_EQ(time.CurrentRecord(), record);
    EXPECT_EQ(time.SampleClockTime(), clockTime);
    EXPECT_EQ(time.SampleStreamTime(), streamTime);
    EXPECT_EQ(demux.raw->Engine().PacketCount(), packets);
    EXPECT_EQ(unreachable.References(), 0);
}

// Every non-empty sample is taken, whatever the state: here the filter is stopped and the pin
// unconnected.
TEST_F(InputPinTest, ReceiveTakesSamplesInAnyState)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    const auto stream = SktsTest::ReadFile(path);
    LogCapture log;
    DemuxUnderTest demux;
    demux.Feed(stream, 0, 188 * 7);
    EXPECT_GT(demux.raw->Engine().PacketCount(), 0);
    ASSERT_TRUE(demux.raw->Time().CurrentRecord());
    EXPECT_NE(demux.raw->Time().SampleClockTime(), 0);
    EXPECT_TRUE(log.Lines().empty());
}

// Intake may block unless a connected downstream pin says it never does; unconnected output
// pins say nothing either way.
TEST_F(InputPinTest, ReceiveCanBlockWithoutConnectedOutputs)
{
    DemuxUnderTest demux;
    EXPECT_EQ(demux.MemInput()->ReceiveCanBlock(), S_OK);
    ComPtr<IPin> video = demux.CreatePin(L"Video");
    EXPECT_EQ(demux.MemInput()->ReceiveCanBlock(), S_OK);
}

TEST_F(InputPinTest, FlushWithoutOutputPinsLogsNothing)
{
    LogCapture log;
    DemuxUnderTest demux;
    ComPtr<IPin> ts = demux.InputPin();
    EXPECT_EQ(ts->BeginFlush(), S_OK);
    EXPECT_TRUE(demux.Ts().IsFlushing());
    EXPECT_EQ(ts->EndFlush(), S_OK);
    EXPECT_FALSE(demux.Ts().IsFlushing());
    EXPECT_TRUE(log.Lines().empty());
}

// Each unconnected pin is logged by the filter; the pin logs once more when the last output
// pin failed. Flushes still succeed.
TEST_F(InputPinTest, FlushLogsEveryUnconnectedOutputPin)
{
    LogCapture log;
    DemuxUnderTest demux;
    ComPtr<IPin> ts = demux.InputPin();
    ComPtr<IPin> video = demux.CreatePin(L"Video");
    EXPECT_EQ(ts->BeginFlush(), S_OK);
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{kBeginFlushFailed, kPinBeginFlushFailed}));
    EXPECT_EQ(ts->EndFlush(), S_OK);
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{kBeginFlushFailed, kPinBeginFlushFailed, kEndFlushFailed}));

    LogCapture two;
    ComPtr<IPin> audio = demux.CreatePin(L"Audio", TypeOf(MEDIATYPE_Audio));
    EXPECT_EQ(ts->BeginFlush(), S_OK);
    EXPECT_EQ(ts->EndFlush(), S_OK);
    EXPECT_EQ(two.Messages(), (std::vector<std::string>{kBeginFlushFailed, kBeginFlushFailed, kPinBeginFlushFailed,
                                                         kEndFlushFailed, kEndFlushFailed}));
}

// The filter's answer is the last pin's: a connected last pin hides an unconnected one before.
TEST_F(InputPinTest, FlushResultIsTheLastOutputPins)
{
    DemuxBesideSink rig;
    auto& [record, graph, demux, sink] = rig;
    ComPtr<IPin> loose = demux.CreatePin(L"Loose");
    ComPtr<IPin> video = demux.CreatePin(L"Video");
    ASSERT_EQ(graph->Connect(video.Get(), sink->InputPin()), S_OK);
    ComPtr<IPin> ts = demux.InputPin();
    {
        LogCapture log;
        EXPECT_EQ(ts->BeginFlush(), S_OK);
        EXPECT_EQ(ts->EndFlush(), S_OK);
        EXPECT_EQ(log.Messages(), (std::vector<std::string>{kBeginFlushFailed, kEndFlushFailed}));
    }
    ComPtr<IPin> late = demux.CreatePin(L"Late");
    {
        LogCapture log;
        EXPECT_EQ(ts->BeginFlush(), S_OK);
        EXPECT_EQ(ts->EndFlush(), S_OK);
        EXPECT_EQ(log.Messages(), (std::vector<std::string>{kBeginFlushFailed, kBeginFlushFailed, kPinBeginFlushFailed,
                                                             kEndFlushFailed, kEndFlushFailed}));
    }
}

// Downstream pins see BeginFlush before the input pin marks itself flushing and EndFlush after
// it cleared the mark. A flush neither empties the delivery queues nor stops intake.
TEST_F(InputPinTest, FlushReachesDownstreamAroundTheMarkAndKeepsQueuedPes)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    const auto stream = SktsTest::ReadFile(path);
    LogCapture log;
    Gate gate;
    DownstreamCalls calls;
    SinkRecord record;
    record.onReceive = [&gate] {
        gate.Pass();
        return S_OK;
    };
    auto graph = DsHost::FilterGraph::Create();
    DemuxUnderTest demux;
    OpenOnExit opener{gate};
    DsHost::SinkCallbacks callbacks = record.Callbacks();
    auto inputFlushing = [&demux] { return demux.Ts().IsFlushing() != FALSE; };
    callbacks.onBeginFlush = calls.Recorder("BeginFlush", inputFlushing);
    callbacks.onEndFlush = calls.Recorder("EndFlush", inputFlushing);
    ComPtr<DsHost::SampleSink> sink(new DsHost::SampleSink(callbacks));
    ASSERT_EQ(graph->AddFilter(demux.filter.Get(), L"Demux"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink.Get(), L"Sink"), S_OK);
    ComPtr<IPin> video = demux.CreatePin(L"Video");
    ASSERT_EQ(graph->Connect(video.Get(), sink->InputPin()), S_OK);
    ASSERT_EQ(DemuxUnderTest::Map(video.Get(), {0x100}), S_OK);
    ASSERT_EQ(graph->Pause(), S_OK);

    // The worker holds the first PES in the sink; the others wait in its queue.
    constexpr size_t kPart = 188 * 2000;
    demux.Feed(stream, 0, kPart);
    ASSERT_TRUE(gate.WaitEntered());
    EsDeliverThread& worker = demux.Output(0).DeliverThread();
    const size_t queued = worker.QueueLength();
    ASSERT_GT(queued, 5u);

    ComPtr<IPin> ts = demux.InputPin();
    EXPECT_EQ(ts->BeginFlush(), S_OK);
    EXPECT_TRUE(demux.Ts().IsFlushing());
    EXPECT_EQ(worker.QueueLength(), queued);
    demux.Feed(stream, kPart, 2 * kPart);
    const size_t during = worker.QueueLength();
    EXPECT_GT(during, queued);
    EXPECT_EQ(ts->EndFlush(), S_OK);
    EXPECT_FALSE(demux.Ts().IsFlushing());
    EXPECT_EQ(worker.QueueLength(), during);
    EXPECT_EQ(calls.Calls(), (std::vector<std::string>{"BeginFlush while input not flushing",
                                                       "EndFlush while input not flushing"}));

    gate.Open();
    EXPECT_TRUE(PollUntil([&worker] { return worker.IsIdle(); }));
    EXPECT_GE(record.SampleCount(), 1 + during);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(InputPinTest, EndOfStreamAndNewSegmentStayAtTheInputPin)
{
    int endOfStreams = 0;
    int segments = 0;
    SinkRecord record;
    DsHost::SinkCallbacks callbacks = record.Callbacks();
    callbacks.onEndOfStream = [&endOfStreams] { ++endOfStreams; };
    callbacks.onNewSegment = [&segments](REFERENCE_TIME, REFERENCE_TIME, double) { ++segments; };
    auto graph = DsHost::FilterGraph::Create();
    DemuxUnderTest demux;
    ComPtr<DsHost::SampleSink> sink(new DsHost::SampleSink(callbacks));
    ASSERT_EQ(graph->AddFilter(demux.filter.Get(), L"Demux"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink.Get(), L"Sink"), S_OK);
    ComPtr<IPin> video = demux.CreatePin(L"Video");
    ASSERT_EQ(graph->Connect(video.Get(), sink->InputPin()), S_OK);
    ASSERT_EQ(graph->Pause(), S_OK);

    ComPtr<IPin> ts = demux.InputPin();
    EXPECT_EQ(ts->EndOfStream(), S_OK);
    EXPECT_EQ(ts->NewSegment(10, 20, 1.5), S_OK);
    EXPECT_EQ(demux.Ts().CurrentStartTime(), 10);
    EXPECT_EQ(demux.Ts().CurrentStopTime(), 20);
    EXPECT_EQ(demux.Ts().CurrentRate(), 1.5);
    EXPECT_EQ(endOfStreams, 0);
    EXPECT_EQ(segments, 0);
    EXPECT_EQ(graph->Stop(), S_OK);
}
