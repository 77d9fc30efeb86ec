#pragma once
// Reference clock base: a monotonic time in 100-ns units from GetPrivateTime (by default the
// millisecond timer, or the timer given at construction, accumulated wrap-safe), with advise notifications fired by an advise
// thread. The thread starts with the first advise, so a clock nobody asks to notify has none;
// a derived class overriding GetPrivateTime calls StopAdviseThread() in its destructor.
#include "CritSec.h"
#include "ComBase.h"
#include "Schedule.h"

#include <atomic>
#include <functional>
#include <limits>
#include <memory>
#include <thread>

// The millisecond source of a clock: monotonic, wrapping at 2^32 like timeGetTime.
using MillisecondTimer = std::function<DWORD()>;

class CBaseReferenceClock : public CUnknown, public IReferenceClock, public CCritSec, public IReferenceClockTimerControl {
public:
    // pSchedule, when given, is used instead of the clock's own (and not deleted).
    CBaseReferenceClock(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, CAMSchedule* pSchedule = nullptr);
    ~CBaseReferenceClock() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IReferenceClock. GetTime never goes backwards: S_FALSE when the time did not advance.
    HRESULT GetTime(REFERENCE_TIME* pTime) override;
    HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                       DWORD_PTR* pdwAdviseCookie) override;
    HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE hSemaphore,
                           DWORD_PTR* pdwAdviseCookie) override;
    HRESULT Unadvise(DWORD_PTR dwAdviseCookie) override;

    // IReferenceClockTimerControl; 0 asks for the finest resolution the timer offers.
    HRESULT SetDefaultTimerResolution(REFERENCE_TIME timerResolution) override;
    HRESULT GetDefaultTimerResolution(REFERENCE_TIME* pTimerResolution) override;

    virtual REFERENCE_TIME GetPrivateTime();
    // Shifts the private time (e.g. to follow another clock).
    HRESULT SetTimeDelta(const REFERENCE_TIME& TimeDelta);
    CAMSchedule* GetSchedule() const { return m_pSchedule; }

protected:
    // A clock that reads its milliseconds from timer instead of timeGetTime, from construction on
    // (tests drive the clock across the counter's wrap with it).
    CBaseReferenceClock(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, CAMSchedule* pSchedule, MillisecondTimer timer);

    DWORD ReadTimer() const { return m_timer(); }
    // Adds the milliseconds since the last reading, as a signed 32-bit difference, so the
    // wrap of the millisecond counter does not make the clock jump. Call under the clock lock.
    REFERENCE_TIME AdvancePrivateTime(DWORD systemTimeMs);
    void StopAdviseThread();

    REFERENCE_TIME m_rtPrivateTime = 0;
    DWORD m_dwPrevSystemTime = 0;
    // Nothing handed out yet: a clock that starts below zero reads below zero at first.
    REFERENCE_TIME m_rtLastGotTime = std::numeric_limits<REFERENCE_TIME>::min();
    std::atomic<UINT> m_TimerResolution{1}; // milliseconds

private:
    HRESULT StartAdviseThread();
    void AdviseThread();

    const MillisecondTimer m_timer;
    std::unique_ptr<CAMSchedule> m_ownSchedule;
    CAMSchedule* m_pSchedule;
    std::atomic<bool> m_bAbort{false};
    std::mutex m_threadLock;
    std::thread m_adviseThread;
};
