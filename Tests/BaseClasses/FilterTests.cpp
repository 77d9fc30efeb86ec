#include "Probes.h"

namespace BaseClassesTest {
namespace {

using BaseFilterStates = LiveObjects;

const CMediaType kTs = MakeType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT);
const CLSID kProbeClsid = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

// A filter with pins In0 (fed by an upstream peer), In1 (unconnected) and Out0 (feeding a
// downstream peer), so state changes can be watched on connected and unconnected pins.
struct ConnectedProbe {
    CallLog log;
    CallLog peerLog;
    ComPtr<ProbeFilter> filter{new ProbeFilter(log, kProbeClsid)};
    ComPtr<ProbeFilter> upstream{new ProbeFilter(peerLog)};
    ComPtr<ProbeFilter> downstream{new ProbeFilter(peerLog)};
    ProbeInputPin* in0;
    ProbeInputPin* in1;
    ProbeOutputPin* out0;

    explicit ConnectedProbe(PinBehaviour in0Behaviour = {}, PinBehaviour out0Behaviour = {})
    {
        PinBehaviour offersTs;
        offersTs.offered = {kTs};
        in0 = filter->AddInput(L"In0", std::move(in0Behaviour));
        in1 = filter->AddInput(L"In1");
        out0Behaviour.offered = {kTs};
        out0 = filter->AddOutput(L"Out0", std::move(out0Behaviour));
        EXPECT_EQ(upstream->AddOutput(L"PeerOut", offersTs)->Connect(in0, nullptr), S_OK);
        EXPECT_EQ(out0->Connect(downstream->AddInput(L"PeerIn"), nullptr), S_OK);
        log.Take();
    }
    ~ConnectedProbe()
    {
        for (ProbeFilter* each : {filter.Get(), upstream.Get(), downstream.Get()}) {
            each->Stop();
            for (int i = 0; i < each->GetPinCount(); ++i)
                each->GetPin(i)->Disconnect();
        }
    }
};

TEST_F(BaseFilterStates, StateChangesReachConnectedPinsInPinOrder)
{
    ConnectedProbe probe;
    FILTER_STATE state = State_Running;
    ASSERT_EQ(probe.filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);

    EXPECT_EQ(probe.filter->Pause(), S_OK);
    EXPECT_EQ(probe.log.Take(), (std::vector<std::string>{"In0.Active", "Out0.Active"}));
    EXPECT_EQ(probe.filter->Pause(), S_OK); // already paused: nothing again
    EXPECT_TRUE(probe.log.Take().empty());

    EXPECT_EQ(probe.filter->Run(5000), S_OK);
    EXPECT_EQ(probe.log.Take(), (std::vector<std::string>{"In0.Run(5000)", "Out0.Run(5000)"}));
    probe.filter->GetState(0, &state);
    EXPECT_EQ(state, State_Running);
    EXPECT_EQ(probe.filter->Run(6000), S_OK); // running: only the start time changes
    EXPECT_TRUE(probe.log.Take().empty());
    EXPECT_EQ(probe.filter->StartTime(), 6000);

    EXPECT_EQ(probe.filter->Stop(), S_OK);
    EXPECT_EQ(probe.log.Take(), (std::vector<std::string>{"In0.Inactive", "Out0.Inactive"}));
    EXPECT_EQ(probe.filter->Stop(), S_OK);
    EXPECT_TRUE(probe.log.Take().empty());

    EXPECT_EQ(probe.filter->Run(7), S_OK); // from Stopped: Pause first
    EXPECT_EQ(probe.log.Take(), (std::vector<std::string>{"In0.Active", "Out0.Active", "In0.Run(7)", "Out0.Run(7)"}));
}

TEST_F(BaseFilterStates, AFailingPinStopsPauseButNotStop)
{
    PinBehaviour failingActive;
    failingActive.activeResult = E_OUTOFMEMORY;
    ConnectedProbe probe({}, failingActive);
    EXPECT_EQ(probe.filter->Pause(), E_OUTOFMEMORY);
    FILTER_STATE state = State_Running;
    probe.filter->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_EQ(probe.log.Take(), (std::vector<std::string>{"In0.Active", "Out0.Active"}));
    EXPECT_EQ(probe.filter->Run(0), E_OUTOFMEMORY);
    probe.filter->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);

    PinBehaviour failingInactive;
    failingInactive.inactiveResult = E_UNEXPECTED;
    ConnectedProbe stopping(failingInactive);
    ASSERT_EQ(stopping.filter->Pause(), S_OK);
    stopping.log.Take();
    EXPECT_EQ(stopping.filter->Stop(), E_UNEXPECTED);
    EXPECT_EQ(stopping.log.Take(), (std::vector<std::string>{"In0.Inactive", "Out0.Inactive"}));
    stopping.filter->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
}

TEST_F(BaseFilterStates, StreamTimeNeedsAClockAndCountsFromTheRunStart)
{
    CallLog log;
    ComPtr<ProbeFilter> filter(new ProbeFilter(log));
    CRefTime now;
    EXPECT_EQ(filter->StreamTime(now), VFW_E_NO_CLOCK);

    auto* clock = new ManualClock();
    ComPtr<IReferenceClock> clockRef(clock);
    ASSERT_EQ(filter->SetSyncSource(clock), S_OK);
    clock->Set(1'000'000);
    ASSERT_EQ(filter->Run(400'000), S_OK);
    ASSERT_EQ(filter->StreamTime(now), S_OK);
    EXPECT_EQ(now.m_time, 600'000);
    clock->Set(1'000'010);
    filter->StreamTime(now);
    EXPECT_EQ(now.m_time, 600'010);

    ComPtr<IReferenceClock> given;
    ASSERT_EQ(filter->GetSyncSource(given.Put()), S_OK);
    EXPECT_EQ(given.Get(), clock);
    given.Reset();
    ASSERT_EQ(filter->SetSyncSource(nullptr), S_OK);
    EXPECT_EQ(filter->StreamTime(now), VFW_E_NO_CLOCK);
    filter->Stop();
}

// Records the events a filter sends, standing in for a graph.
class RecordingGraph final : public CUnknown, public IFilterGraph, public IMediaEventSink {
public:
    RecordingGraph() : CUnknown(NAME("Recording graph"), nullptr) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IFilterGraph)
            return GetInterface(static_cast<IFilterGraph*>(this), ppv);
        if (riid == IID_IMediaEventSink)
            return GetInterface(static_cast<IMediaEventSink*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    HRESULT EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    HRESULT FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    HRESULT ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Reconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT Disconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT SetDefaultSyncSource() override { return E_NOTIMPL; }
    HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override
    {
        events.push_back({code, param1, param2});
        return S_OK;
    }
    LONG Refs() const { return m_cRef.load(); }
    std::vector<std::tuple<LONG, LONG_PTR, LONG_PTR>> events;
};

TEST_F(BaseFilterStates, FilterJoinsItsGraphWithoutOwningIt)
{
    CallLog log;
    auto* filter = new ProbeFilter(log, kProbeClsid);
    ComPtr<IBaseFilter> owner(filter);
    CLSID clsid{};
    ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(clsid == kProbeClsid);
    EXPECT_EQ(filter->QueryVendorInfo(nullptr), E_NOTIMPL);
    EXPECT_EQ(filter->Register(), S_FALSE);
    EXPECT_EQ(filter->NotifyEvent(EC_COMPLETE, S_OK, 0), E_NOTIMPL); // no graph yet

    auto* graph = new RecordingGraph();
    ComPtr<IFilterGraph> graphRef(graph);
    ASSERT_EQ(filter->JoinFilterGraph(graph, L"Probe"), S_OK);
    EXPECT_EQ(graph->Refs(), 1);
    FILTER_INFO info{};
    ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Probe");
    EXPECT_EQ(info.pGraph, static_cast<IFilterGraph*>(graph));
    info.pGraph->Release();

    EXPECT_EQ(filter->NotifyEvent(EC_COMPLETE, S_OK, 0), S_OK);
    ASSERT_EQ(graph->events.size(), 1u);
    EXPECT_EQ(std::get<0>(graph->events[0]), EC_COMPLETE);
    EXPECT_EQ(std::get<2>(graph->events[0]), reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(filter)));

    for (REFIID iid : {IID_IBaseFilter, IID_IMediaFilter, IID_IPersist, IID_IAMovieSetup, IID_IUnknown}) {
        IUnknown* part = nullptr;
        EXPECT_EQ(filter->QueryInterface(iid, reinterpret_cast<void**>(&part)), S_OK);
        part->Release();
    }

    ASSERT_EQ(filter->JoinFilterGraph(nullptr, nullptr), S_OK);
    ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, nullptr);
    EXPECT_STREQ(info.achName, L"");
}

} // namespace
} // namespace BaseClassesTest
