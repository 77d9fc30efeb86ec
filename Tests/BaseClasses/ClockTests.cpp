#include "Probes.h"

#include "Host/FilterGraph.h"

namespace BaseClassesTest {
namespace {

using BaseClock = LiveObjects;

// A clock whose private time the test sets.
class SteppedClock final : public CBaseReferenceClock {
public:
    SteppedClock() : CBaseReferenceClock(NAME("Stepped clock"), nullptr, nullptr) {}
    ~SteppedClock() override { StopAdviseThread(); }
    REFERENCE_TIME GetPrivateTime() override { return time.load(); }
    REFERENCE_TIME Advance(DWORD previousMs, DWORD nowMs)
    {
        CAutoLock lock(this);
        m_dwPrevSystemTime = previousMs;
        return AdvancePrivateTime(nowMs);
    }
    std::atomic<REFERENCE_TIME> time{0};
};

template <typename T>
ComPtr<IReferenceClock> AsClock(T* clock)
{
    ComPtr<IReferenceClock> result;
    clock->NonDelegatingQueryInterface(IID_IReferenceClock, result.PutVoid());
    return result;
}

TEST_F(BaseClock, TimeNeverRunsBackwardsAndSurvivesTheMillisecondWrap)
{
    auto* clock = new SteppedClock();
    ComPtr<IReferenceClock> ref = AsClock(clock);
    REFERENCE_TIME now = 0;
    clock->time = 100;
    EXPECT_EQ(ref->GetTime(&now), S_OK);
    EXPECT_EQ(now, 100);
    EXPECT_EQ(ref->GetTime(&now), S_FALSE); // no advance
    EXPECT_EQ(now, 100);
    clock->time = 50;
    EXPECT_EQ(ref->GetTime(&now), S_FALSE);
    EXPECT_EQ(now, 100);
    clock->time = 200;
    EXPECT_EQ(ref->GetTime(&now), S_OK);
    EXPECT_EQ(now, 200);
    EXPECT_EQ(ref->GetTime(nullptr), E_POINTER);

    const REFERENCE_TIME before = clock->Advance(0, 0);
    EXPECT_EQ(clock->Advance(0xFFFFFFF0u, 0x10u) - before, 32 * 10000); // across the wrap: +32 ms
    EXPECT_EQ(clock->Advance(100, 90) - before, 22 * 10000);           // a step back is taken as signed
}

TEST_F(BaseClock, AdvisesFireWhenTheirTimeComesAndCanBeCancelled)
{
    auto* clock = new SteppedClock();
    ComPtr<IReferenceClock> ref = AsClock(clock);
    CAMEvent event;
    const HANDLE semaphore = CreateSemaphore(nullptr, 0, 10, nullptr);
    DWORD_PTR once = 0;
    DWORD_PTR periodic = 0;
    DWORD_PTR cancelled = 0;

    EXPECT_EQ(ref->AdviseTime(0, 0, HEVENT(HANDLE(event)), &once), E_INVALIDARG);
    EXPECT_EQ(ref->AdviseTime(100, 0, 0, &once), E_INVALIDARG);
    EXPECT_EQ(ref->AdviseTime(100, 0, HEVENT(HANDLE(event)), nullptr), E_POINTER);
    EXPECT_EQ(ref->AdvisePeriodic(100, 0, HSEMAPHORE(semaphore), &periodic), E_INVALIDARG);

    ASSERT_EQ(ref->AdviseTime(150'000, 50'000, HEVENT(HANDLE(event)), &once), S_OK); // at 20 ms
    ASSERT_EQ(ref->AdvisePeriodic(100'000, 100'000, HSEMAPHORE(semaphore), &periodic), S_OK);
    ASSERT_EQ(ref->AdviseTime(10'000'000, 0, HEVENT(HANDLE(event)), &cancelled), S_OK);
    EXPECT_NE(once, 0u);
    EXPECT_NE(once, periodic);
    EXPECT_EQ(clock->GetSchedule()->GetAdviseCount(), 3u);
    EXPECT_EQ(ref->Unadvise(cancelled), S_OK);
    EXPECT_EQ(ref->Unadvise(cancelled), S_FALSE);

    clock->time = 350'000;
    clock->SetTimeDelta(0); // wakes the advise thread
    EXPECT_TRUE(event.Wait(10000));
    for (int i = 0; i < 3; ++i) // due at 10, 20 and 30 ms
        EXPECT_EQ(WaitForSingleObject(semaphore, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 50), WAIT_TIMEOUT); // 40 ms is not yet
    EXPECT_EQ(clock->GetSchedule()->GetAdviseCount(), 1u);       // the periodic one stays
    EXPECT_EQ(clock->GetSchedule()->GetNextAdviseTime(), 400'000);
    EXPECT_EQ(ref->Unadvise(periodic), S_OK);
    ref.Reset();
    CloseHandle(semaphore);
}

TEST_F(BaseClock, TheSystemClockFollowsTheMillisecondTimerAndCanBeAggregated)
{
    CallLog log;
    auto* outerFilter = new ProbeFilter(log);
    ComPtr<IBaseFilter> outer(outerFilter);
    auto* clock = new CBaseReferenceClock(NAME("Inner clock"), outerFilter->GetOwner(), nullptr);
    IUnknown* inner = nullptr;
    ASSERT_EQ(clock->NonDelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);

    IReferenceClock* ref = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IReferenceClock, reinterpret_cast<void**>(&ref)), S_OK);
    EXPECT_EQ(outerFilter->RefCount(), 2); // the clock's interfaces count on the outer object
    REFERENCE_TIME first = 0;
    REFERENCE_TIME second = 0;
    ref->GetTime(&first);
    Sleep(5);
    EXPECT_EQ(ref->GetTime(&second), S_OK);
    EXPECT_GE(second - first, 5 * 10000);

    // Which of the clock's interfaces the outer object exposes is its own choice.
    IReferenceClockTimerControl* control = nullptr;
    EXPECT_EQ(ref->QueryInterface(IID_IReferenceClockTimerControl, reinterpret_cast<void**>(&control)), E_NOINTERFACE);
    ASSERT_EQ(inner->QueryInterface(IID_IReferenceClockTimerControl, reinterpret_cast<void**>(&control)), S_OK);
    EXPECT_EQ(control->SetDefaultTimerResolution(20'000), S_OK);
    REFERENCE_TIME resolution = 0;
    EXPECT_EQ(control->GetDefaultTimerResolution(&resolution), S_OK);
    EXPECT_EQ(resolution, 20'000);
    IBaseFilter* back = nullptr; // the outer object answers for the clock
    EXPECT_EQ(control->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&back)), S_OK);
    back->Release();
    control->Release();
    ref->Release();
    EXPECT_EQ(outerFilter->RefCount(), 1);
    inner->Release();
}

TEST_F(BaseClock, AGraphCanMakeItsOwnClock)
{
    CallLog log;
    auto graph = DsHost::FilterGraph::Create();
    ComPtr<ProbeFilter> filter(new ProbeFilter(log));
    ASSERT_EQ(graph->AddFilter(filter.Get(), L"Probe"), S_OK);
    ASSERT_EQ(graph->SetDefaultSyncSource(), S_OK);
    ASSERT_EQ(graph->Run(), S_OK);
    CRefTime streamTime;
    EXPECT_EQ(filter->StreamTime(streamTime), S_OK);
    EXPECT_GE(streamTime.m_time, 0);
    EXPECT_LT(streamTime.m_time, 600'000'000); // less than a minute since Run
    EXPECT_EQ(graph->Stop(), S_OK);
}

} // namespace
} // namespace BaseClassesTest
