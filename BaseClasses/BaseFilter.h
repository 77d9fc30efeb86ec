#pragma once
// The filter base: state machine over its pins, graph membership, clock and stream time.
#include "ComBase.h"
#include "CritSec.h"
#include "RefTime.h"
#include "Setup.h"

#include <atomic>
#include <mutex>
#include <string>

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
    friend class CBasePin;

public:
    // pLock is the filter lock; every pin of the filter usually shares it.
    CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid, HRESULT* phr = nullptr);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPersist
    HRESULT GetClassID(CLSID* pClsID) override;

    // IMediaFilter
    HRESULT GetState(DWORD dwMSecs, FILTER_STATE* State) override;
    HRESULT SetSyncSource(IReferenceClock* pClock) override;
    HRESULT GetSyncSource(IReferenceClock** pClock) override;
    // Stop deactivates the connected pins (first failure returned, state still Stopped);
    // Pause activates them from Stopped; Run pauses first when stopped, then runs them.
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;

    // Graph clock time minus the start time given to Run; VFW_E_NO_CLOCK without a clock.
    // Takes only the filter's clock lock, so it may be called under any other lock.
    virtual HRESULT StreamTime(CRefTime& rtStream);

    BOOL IsActive() const { return m_State != State_Stopped; }
    BOOL IsStopped() const { return m_State == State_Stopped; }

    // IBaseFilter
    HRESULT EnumPins(IEnumPins** ppEnum) override;
    HRESULT FindPin(LPCWSTR Id, IPin** ppPin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* pInfo) override;
    HRESULT JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    HRESULT QueryVendorInfo(LPWSTR* pVendorInfo) override;

    // Sends an event to the graph's event sink (E_NOTIMPL outside a graph).
    HRESULT NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2);
    IFilterGraph* GetFilterGraph() const { return m_pGraph; }

    // Enumerators compare this with the version they started from.
    virtual LONG GetPinVersion();
    void IncrementPinVersion() { m_PinVersion.fetch_add(1); }

    virtual int GetPinCount() = 0;
    virtual CBasePin* GetPin(int n) = 0;

    // IAMovieSetup: S_FALSE when the filter has no setup data.
    HRESULT Register() override;
    HRESULT Unregister() override;
    virtual LPAMOVIESETUP_FILTER GetSetupData() { return nullptr; }

protected:
    std::atomic<FILTER_STATE> m_State{State_Stopped};
    IReferenceClock* m_pClock = nullptr; // AddRef'ed; written under both locks
    CRefTime m_tStart;                   // written under both locks by Run
    CLSID m_clsid;
    CCritSec* m_pLock;
    std::wstring m_name;
    IFilterGraph* m_pGraph = nullptr;    // not AddRef'ed: the graph owns the filter
    IMediaEventSink* m_pSink = nullptr;  // not AddRef'ed, as the graph

private:
    std::atomic<LONG> m_PinVersion{1};
    std::mutex m_clockLock; // guards m_pClock and m_tStart for StreamTime
};
