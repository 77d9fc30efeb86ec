#include "RefClock.h"

#include "BasePin.h" // MAX_TIME
#include "RefTime.h"

#include <system_error>

CBaseReferenceClock::CBaseReferenceClock(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, CAMSchedule* pSchedule)
    : CBaseReferenceClock(pName, pUnk, phr, pSchedule, [] { return timeGetTime(); })
{
}

CBaseReferenceClock::CBaseReferenceClock(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT*, CAMSchedule* pSchedule,
                                         MillisecondTimer timer)
    : CUnknown(pName, pUnk), m_timer(std::move(timer)),
      m_ownSchedule(pSchedule == nullptr ? std::make_unique<CAMSchedule>() : nullptr),
      m_pSchedule(pSchedule != nullptr ? pSchedule : m_ownSchedule.get())
{
    TIMECAPS caps{};
    m_TimerResolution = timeGetDevCaps(&caps, sizeof caps) == TIMERR_NOERROR ? caps.wPeriodMin : 1;
    timeBeginPeriod(m_TimerResolution);
    m_dwPrevSystemTime = ReadTimer();
    m_rtPrivateTime = REFERENCE_TIME(UNITS / MILLISECONDS) * m_dwPrevSystemTime;
}

CBaseReferenceClock::~CBaseReferenceClock()
{
    StopAdviseThread();
    timeEndPeriod(m_TimerResolution);
}

HRESULT CBaseReferenceClock::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IReferenceClock)
        return GetInterface(static_cast<IReferenceClock*>(this), ppv);
    if (riid == IID_IReferenceClockTimerControl)
        return GetInterface(static_cast<IReferenceClockTimerControl*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseReferenceClock::GetTime(REFERENCE_TIME* pTime)
{
    CheckPointer(pTime, E_POINTER);
    CAutoLock lock(this);
    const REFERENCE_TIME now = GetPrivateTime();
    HRESULT hr = S_FALSE;
    if (now > m_rtLastGotTime) {
        m_rtLastGotTime = now;
        hr = S_OK;
    }
    *pTime = m_rtLastGotTime;
    return hr;
}

HRESULT CBaseReferenceClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                                        DWORD_PTR* pdwAdviseCookie)
{
    CheckPointer(pdwAdviseCookie, E_POINTER);
    *pdwAdviseCookie = 0;
    const REFERENCE_TIME when = baseTime + streamTime;
    if (hEvent == 0 || when <= 0 || when == MAX_TIME)
        return E_INVALIDARG;
    const HRESULT hr = StartAdviseThread();
    if (FAILED(hr))
        return hr;
    *pdwAdviseCookie = m_pSchedule->AddAdvisePacket(when, 0, reinterpret_cast<HANDLE>(hEvent), FALSE);
    return NOERROR;
}

HRESULT CBaseReferenceClock::AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                            HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie)
{
    CheckPointer(pdwAdviseCookie, E_POINTER);
    *pdwAdviseCookie = 0;
    if (hSemaphore == 0 || startTime <= 0 || periodTime <= 0 || startTime == MAX_TIME)
        return E_INVALIDARG;
    const HRESULT hr = StartAdviseThread();
    if (FAILED(hr))
        return hr;
    *pdwAdviseCookie = m_pSchedule->AddAdvisePacket(startTime, periodTime, reinterpret_cast<HANDLE>(hSemaphore), TRUE);
    return NOERROR;
}

HRESULT CBaseReferenceClock::Unadvise(DWORD_PTR dwAdviseCookie) { return m_pSchedule->Unadvise(dwAdviseCookie); }

HRESULT CBaseReferenceClock::SetDefaultTimerResolution(REFERENCE_TIME timerResolution)
{
    CAutoLock lock(this);
    UINT period = static_cast<UINT>(timerResolution / (UNITS / MILLISECONDS));
    if (period == 0) {
        TIMECAPS caps{};
        period = timeGetDevCaps(&caps, sizeof caps) == TIMERR_NOERROR ? caps.wPeriodMin : 1;
    }
    if (period == m_TimerResolution)
        return S_OK;
    if (timeBeginPeriod(period) != TIMERR_NOERROR)
        return E_INVALIDARG;
    timeEndPeriod(m_TimerResolution);
    m_TimerResolution = period;
    return S_OK;
}

HRESULT CBaseReferenceClock::GetDefaultTimerResolution(REFERENCE_TIME* pTimerResolution)
{
    CheckPointer(pTimerResolution, E_POINTER);
    CAutoLock lock(this);
    *pTimerResolution = REFERENCE_TIME(m_TimerResolution) * (UNITS / MILLISECONDS);
    return S_OK;
}

REFERENCE_TIME CBaseReferenceClock::GetPrivateTime()
{
    CAutoLock lock(this);
    return AdvancePrivateTime(ReadTimer());
}

REFERENCE_TIME CBaseReferenceClock::AdvancePrivateTime(DWORD systemTimeMs)
{
    const auto elapsedMs = static_cast<int32_t>(systemTimeMs - m_dwPrevSystemTime);
    m_rtPrivateTime += REFERENCE_TIME(elapsedMs) * (UNITS / MILLISECONDS);
    m_dwPrevSystemTime = systemTimeMs;
    return m_rtPrivateTime;
}

HRESULT CBaseReferenceClock::SetTimeDelta(const REFERENCE_TIME& TimeDelta)
{
    {
        CAutoLock lock(this);
        m_rtPrivateTime += TimeDelta;
    }
    SetEvent(m_pSchedule->GetEvent()); // due times may have moved
    return NOERROR;
}

HRESULT CBaseReferenceClock::StartAdviseThread()
{
    std::lock_guard lock(m_threadLock);
    if (m_adviseThread.joinable())
        return S_OK;
    m_bAbort = false;
    try {
        m_adviseThread = std::thread([this] { AdviseThread(); });
    } catch (const std::system_error&) {
        return E_FAIL;
    }
    return S_OK;
}

void CBaseReferenceClock::StopAdviseThread()
{
    std::thread thread;
    {
        std::lock_guard lock(m_threadLock);
        thread = std::move(m_adviseThread);
    }
    if (!thread.joinable())
        return;
    m_bAbort = true;
    SetEvent(m_pSchedule->GetEvent());
    thread.join();
}

void CBaseReferenceClock::AdviseThread()
{
    while (!m_bAbort) {
        REFERENCE_TIME now = 0;
        GetTime(&now);
        const REFERENCE_TIME next = m_pSchedule->Advise(now + REFERENCE_TIME(m_TimerResolution) * 5000);
        DWORD waitMs = INFINITE;
        if (next != MAX_TIME) {
            const REFERENCE_TIME ahead = (next - now) / (UNITS / MILLISECONDS);
            waitMs = ahead <= 0 ? 0 : ahead > 0x7FFFFFFF ? 0x7FFFFFFFu : DWORD(ahead);
        }
        WaitForSingleObject(m_pSchedule->GetEvent(), waitMs);
    }
}
