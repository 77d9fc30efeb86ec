// The filter's reference clock: its time from the millisecond timer (wrap included), its start
// at -50 ms, its never-backwards reading and its advises.
#include "FilterTestSupport.h"
#include "ReferenceClock.h"

#include <atomic>

namespace FilterTest {
namespace {

// A millisecond counter the test moves by hand.
class ManualTimer {
public:
    explicit ManualTimer(DWORD start) : now_(std::make_shared<std::atomic<DWORD>>(start)) {}
    MillisecondTimer Source() const
    {
        return [now = now_] { return now->load(); };
    }
    void Set(DWORD ms) { now_->store(ms); }
    void Advance(DWORD ms) { now_->fetch_add(ms); }

private:
    std::shared_ptr<std::atomic<DWORD>> now_;
};

// An object that aggregates a clock as the filter does.
class ClockOwner final : public CUnknown {
public:
    explicit ClockOwner(MillisecondTimer timer) : CUnknown(NAME("Clock owner"), nullptr), clock(GetOwner(), std::move(timer)) {}
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IReferenceClock)
            return clock.NonDelegatingQueryInterface(riid, ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    ReferenceClock clock;
};

struct OwnedClock {
    explicit OwnedClock(const ManualTimer& timer) : owner(new ClockOwner(timer.Source()))
    {
        owner->NonDelegatingAddRef();
        EXPECT_EQ(owner->NonDelegatingQueryInterface(IID_IReferenceClock, clock.PutVoid()), S_OK);
    }
    ~OwnedClock()
    {
        clock.Reset();
        owner->NonDelegatingRelease();
    }
    REFERENCE_TIME Read(HRESULT expected)
    {
        REFERENCE_TIME now = 0;
        EXPECT_EQ(clock->GetTime(&now), expected);
        return now;
    }

    ClockOwner* owner;
    ComPtr<IReferenceClock> clock;
};

constexpr REFERENCE_TIME kMs = 10'000;

using ReferenceClockTest = LiveObjects;

TEST_F(ReferenceClockTest, ReadsMinus50MsAtConstructionAndMovesInWholeMilliseconds)
{
    ManualTimer timer(123'456);
    OwnedClock clock(timer);
    EXPECT_EQ(clock.Read(S_OK), -ReferenceClock::kStartOffset) << "the first reading is handed out";
    EXPECT_EQ(clock.Read(S_FALSE), -ReferenceClock::kStartOffset) << "within the same millisecond";
    timer.Advance(1);
    EXPECT_EQ(clock.Read(S_OK), -ReferenceClock::kStartOffset + kMs);
    timer.Advance(49);
    EXPECT_EQ(clock.Read(S_OK), 0);
    EXPECT_EQ(clock.Read(S_FALSE), 0);
    EXPECT_EQ(clock.clock->GetTime(nullptr), E_POINTER);
}

TEST_F(ReferenceClockTest, TheMillisecondCountersWrapDoesNotMakeItJump)
{
    ManualTimer timer(0xFFFFFFF0u);
    OwnedClock clock(timer);
    EXPECT_EQ(clock.Read(S_OK), -ReferenceClock::kStartOffset);
    timer.Set(0x00000010u); // 32 ms later, across the wrap
    EXPECT_EQ(clock.Read(S_OK), -ReferenceClock::kStartOffset + 32 * kMs);
    timer.Advance(1000);
    EXPECT_EQ(clock.Read(S_OK), -ReferenceClock::kStartOffset + 1032 * kMs);
}

TEST_F(ReferenceClockTest, ATimerThatStepsBackIsNeverHandedOut)
{
    ManualTimer timer(5000);
    OwnedClock clock(timer);
    timer.Set(5010);
    EXPECT_EQ(clock.Read(S_OK), -ReferenceClock::kStartOffset + 10 * kMs);
    timer.Set(5004); // the private time goes back 6 ms; what was handed out stays
    EXPECT_EQ(clock.Read(S_FALSE), -ReferenceClock::kStartOffset + 10 * kMs);
    timer.Set(5011);
    EXPECT_EQ(clock.Read(S_OK), -ReferenceClock::kStartOffset + 11 * kMs);
}

TEST_F(ReferenceClockTest, TheFiltersClockReadsCloseToMinus50MsWhenTheFilterIsNew)
{
    const ComPtr<IBaseFilter> filter = MakeFilter();
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(filter->QueryInterface(IID_IReferenceClock, clock.PutVoid()), S_OK);
    REFERENCE_TIME now = 0;
    EXPECT_EQ(clock->GetTime(&now), S_OK);
    EXPECT_GE(now, -ReferenceClock::kStartOffset);
    EXPECT_LT(now, -ReferenceClock::kStartOffset + 5'000 * kMs) << "generous: creation and the first reading";
}

// Events and semaphores are signalled by the advise thread when the clock reaches their time.
TEST_F(ReferenceClockTest, AdvisesFireAndCanBeCancelled)
{
    const ComPtr<IBaseFilter> filter = MakeFilter();
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(filter->QueryInterface(IID_IReferenceClock, clock.PutVoid()), S_OK);
    const HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    const HANDLE semaphore = CreateSemaphore(nullptr, 0, 100, nullptr);
    const HANDLE never = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    DWORD_PTR once = 0;
    DWORD_PTR periodic = 0;
    DWORD_PTR cancelled = 0;
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    // Advise times must lie after 0; the new filter's clock is still below it.
    EXPECT_EQ(clock->AdviseTime(now, 0, HEVENT(event), &cancelled), E_INVALIDARG);
    now = std::max<REFERENCE_TIME>(now, 0);

    ASSERT_EQ(clock->AdviseTime(now, 20 * kMs, HEVENT(event), &once), S_OK);
    ASSERT_EQ(clock->AdvisePeriodic(now + 10 * kMs, 10 * kMs, HSEMAPHORE(semaphore), &periodic), S_OK);
    ASSERT_EQ(clock->AdviseTime(now, 3'600'000 * kMs, HEVENT(never), &cancelled), S_OK);
    EXPECT_EQ(clock->Unadvise(cancelled), S_OK);
    EXPECT_EQ(WaitForSingleObject(event, 10'000), WAIT_OBJECT_0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(WaitForSingleObject(semaphore, 10'000), WAIT_OBJECT_0) << "period " << i;
    EXPECT_EQ(clock->Unadvise(periodic), S_OK);
    EXPECT_EQ(clock->Unadvise(periodic), S_FALSE);
    EXPECT_EQ(WaitForSingleObject(never, 0), WAIT_TIMEOUT);
    REFERENCE_TIME later = 0;
    clock->GetTime(&later);
    EXPECT_GE(later, now + 30 * kMs) << "the third period was due 30 ms on";
    clock.Reset();
    for (HANDLE handle : {event, semaphore, never})
        CloseHandle(handle);
}

// The filter hands out IReferenceClock only; the clock itself also answers the timer control,
// whose IUnknown is again the owner's.
TEST_F(ReferenceClockTest, TheTimerControlIsTheClocksOwnAndNotHandedOutByItsOwner)
{
    ManualTimer timer(0);
    OwnedClock clock(timer);
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(clock.clock->QueryInterface(IID_IReferenceClockTimerControl, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    ComPtr<IReferenceClockTimerControl> control;
    ASSERT_EQ(clock.owner->clock.NonDelegatingQueryInterface(IID_IReferenceClockTimerControl, control.PutVoid()), S_OK);
    EXPECT_EQ(control->SetDefaultTimerResolution(20'000), S_OK);
    REFERENCE_TIME resolution = 0;
    EXPECT_EQ(control->GetDefaultTimerResolution(&resolution), S_OK);
    EXPECT_EQ(resolution, 20'000);
    ComPtr<IReferenceClock> back;
    EXPECT_EQ(control->QueryInterface(IID_IReferenceClock, back.PutVoid()), S_OK);
    EXPECT_EQ(back.Get(), clock.clock.Get());
}

} // namespace
} // namespace FilterTest
