// Stop, Pause and Run of the filter: what each does to the pins, the engine and the time base,
// and what a pin that fails to start or stop does to the state.
#include <gtest/gtest.h>

#include "../BaseClasses/Probes.h"
#include "ConformanceSupport.h"
#include "TestData.h"

using namespace FilterTest;

namespace {

using FilterStateTest = LiveObjects;

constexpr int64_t kSteadyNs = 5'000'000'000;

// The demultiplexer in a graph, with one output pin "Video" connected to a peer whose
// allocator follows the script; the graph's clock is one the test sets.
class ConnectedDemux {
public:
    explicit ConnectedDemux(AllocatorScript& script)
        : graph_(DsHost::FilterGraph::Create()), demux([] { return kSteadyNs; }),
          peer_(new AllocatorPeer(script)), clock_(new BaseClassesTest::ManualClock())
    {
        EXPECT_EQ(graph_->AddFilter(demux.filter.Get(), L"Demux"), S_OK);
        EXPECT_EQ(graph_->AddFilter(peer_.Get(), L"Peer"), S_OK);
        video = demux.CreatePin(L"Video");
        EXPECT_EQ(graph_->Connect(video.Get(), &peer_->Input()), S_OK);
        EXPECT_EQ(demux.filter->SetSyncSource(clock_.Get()), S_OK);
    }

    FILTER_STATE State()
    {
        FILTER_STATE state = State_Running;
        EXPECT_EQ(demux.filter->GetState(0, &state), S_OK);
        return state;
    }
    void SetClock(REFERENCE_TIME time) { clock_->Set(time); }
    // Makes the time base hold a valid PCR offset, as a PCR seen while not paused does.
    void ValidatePcrOffset()
    {
        bool flag = false;
        demux.raw->OnSampleTime(1'000'000, flag);
        ASSERT_TRUE(demux.raw->Time().PcrOffsetValid());
    }

private:
    ComPtr<DsHost::FilterGraph> graph_;

public:
    DemuxUnderTest demux;
    ComPtr<IPin> video;

private:
    ComPtr<AllocatorPeer> peer_;
    ComPtr<BaseClassesTest::ManualClock> clock_;
};

} // namespace

// Stop resets the engine even when the filter is already stopped; the PID mapping stays.
TEST_F(FilterStateTest, StopOnAStoppedFilterStillResetsTheEngine)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    const auto stream = SktsTest::ReadFile(path);
    DemuxUnderTest demux;
    ComPtr<IPin> video = demux.CreatePin(L"Video");
    ASSERT_EQ(DemuxUnderTest::Map(video.Get(), {0x100}), S_OK);
    demux.Feed(stream, 0, 188 * 200);
    ASSERT_GT(demux.raw->Engine().PacketCount(), 0);
    ASSERT_NE(demux.raw->Engine().Entry(0x100), nullptr);
    ASSERT_TRUE(demux.raw->Engine().Entry(0x100)->pes);

    EXPECT_EQ(demux.filter->Stop(), S_OK);
    EXPECT_EQ(demux.raw->Engine().PacketCount(), 0);
    ASSERT_NE(demux.raw->Engine().Entry(0x100), nullptr);
    EXPECT_FALSE(demux.raw->Engine().Entry(0x100)->pes);
    FILTER_STATE state = State_Running;
    EXPECT_EQ(demux.filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
}

TEST_F(FilterStateTest, StatesWithoutConnectedPins)
{
    DemuxUnderTest demux([] { return kSteadyNs; });
    ComPtr<IPin> video = demux.CreatePin(L"Video");
    FILTER_STATE state = State_Stopped;
    EXPECT_EQ(demux.filter->Pause(), S_OK);
    EXPECT_EQ(demux.filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Paused);
    // An unconnected pin is never started.
    EXPECT_FALSE(demux.Output(0).DeliverThread().IsRunning());
    EXPECT_EQ(demux.filter->Run(0), S_OK);
    EXPECT_EQ(demux.filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    EXPECT_EQ(demux.filter->Stop(), S_OK);
    EXPECT_EQ(demux.filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    // Without a graph clock there is no stream time; Run calibrated against 0.
    int64_t now = 0;
    EXPECT_FALSE(demux.raw->StreamTimeNow(now));
    EXPECT_EQ(demux.raw->Time().ClockToStreamOffset(), -kSteadyNs / 100);
}

TEST_F(FilterStateTest, RunOnAStoppedFilterPausesFirstThenRuns)
{
    AllocatorScript script;
    LogCapture log;
    {
        ConnectedDemux graph(script);
        SkDsDemux& filter = *graph.demux.raw;
        graph.SetClock(1'000'000);
        graph.ValidatePcrOffset();
        const int32_t generation = filter.Time().Generation();

        EXPECT_EQ(graph.demux.filter->Run(400'000), S_OK);
        EXPECT_EQ(graph.State(), State_Running);
        // Paused on the way: the pin was started and the PCR offset dropped.
        EXPECT_TRUE(graph.demux.Output(0).DeliverThread().IsRunning());
        EXPECT_FALSE(filter.Time().PcrOffsetValid());
        // Calibrated once against stream time 600,000 at steady time 5 s.
        EXPECT_EQ(filter.Time().Generation(), generation + 1);
        EXPECT_EQ(filter.Time().ClockToStreamOffset(), 600'000 - kSteadyNs / 100);
        int64_t now = 0;
        ASSERT_TRUE(filter.StreamTimeNow(now));
        EXPECT_EQ(now, 600'000);

        EXPECT_EQ(graph.demux.filter->Stop(), S_OK);
        EXPECT_EQ(graph.State(), State_Stopped);
        EXPECT_FALSE(graph.demux.Output(0).DeliverThread().IsRunning());
    }
    // The Run line is of level 2 and is not written.
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(FilterStateTest, SecondRunOnlyMovesTheStartRecalibratesAndAdvancesTheTimeBase)
{
    AllocatorScript script;
    LogCapture log;
    {
        ConnectedDemux graph(script);
        SkDsDemux& filter = *graph.demux.raw;
        graph.SetClock(1'000'000);
        ASSERT_EQ(graph.demux.filter->Run(400'000), S_OK);
        graph.ValidatePcrOffset();
        const int32_t generation = filter.Time().Generation();

        EXPECT_EQ(graph.demux.filter->Run(700'000), S_OK);
        EXPECT_EQ(graph.State(), State_Running);
        // Not paused again: the offset is kept and the pin keeps its thread.
        EXPECT_TRUE(filter.Time().PcrOffsetValid());
        EXPECT_TRUE(graph.demux.Output(0).DeliverThread().IsRunning());
        EXPECT_EQ(filter.Time().Generation(), generation + 1);
        EXPECT_EQ(filter.Time().ClockToStreamOffset(), 300'000 - kSteadyNs / 100);
        int64_t now = 0;
        ASSERT_TRUE(filter.StreamTimeNow(now));
        EXPECT_EQ(now, 300'000);
    }
    EXPECT_TRUE(log.Lines().empty());
}

// A pin that cannot start fails Pause with its own result and leaves the filter stopped; Run
// fails the same way but still calibrates.
TEST_F(FilterStateTest, PinThatCannotCommitItsAllocatorFailsPauseAndRun)
{
    AllocatorScript script;
    script.commitResult = E_OUTOFMEMORY;
    ConnectedDemux graph(script);
    SkDsDemux& filter = *graph.demux.raw;
    graph.ValidatePcrOffset();

    EXPECT_EQ(graph.demux.filter->Pause(), E_OUTOFMEMORY);
    EXPECT_EQ(graph.State(), State_Stopped);
    EXPECT_FALSE(graph.demux.Output(0).DeliverThread().IsRunning());
    EXPECT_FALSE(filter.Time().PcrOffsetValid());

    const int32_t generation = filter.Time().Generation();
    EXPECT_EQ(graph.demux.filter->Run(0), E_OUTOFMEMORY);
    EXPECT_EQ(graph.State(), State_Stopped);
    EXPECT_EQ(filter.Time().Generation(), generation + 1);
}

// A pin that fails to stop is reported, yet the filter stops and the pin's worker ends.
TEST_F(FilterStateTest, PinThatFailsToStopIsReportedAndTheFilterStillStops)
{
    AllocatorScript script;
    ConnectedDemux graph(script);
    ASSERT_EQ(graph.demux.filter->Pause(), S_OK);
    ASSERT_TRUE(graph.demux.Output(0).DeliverThread().IsRunning());
    script.decommitOnce = VFW_E_TIMEOUT;
    EXPECT_EQ(graph.demux.filter->Stop(), VFW_E_TIMEOUT);
    EXPECT_EQ(graph.State(), State_Stopped);
    EXPECT_FALSE(graph.demux.Output(0).DeliverThread().IsRunning());
}
