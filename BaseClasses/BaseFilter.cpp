#include "BaseFilter.h"

#include "BasePin.h"
#include "EnumPins.h"

#include <cwchar>

CBaseFilter::CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid, HRESULT* phr)
    : CUnknown(pName, pUnk, phr), m_clsid(clsid), m_pLock(pLock)
{
}

CBaseFilter::~CBaseFilter()
{
    if (m_pClock != nullptr)
        m_pClock->Release();
}

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist)
        return GetInterface(static_cast<IBaseFilter*>(this), ppv);
    if (riid == IID_IAMovieSetup)
        return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::GetClassID(CLSID* pClsID)
{
    CheckPointer(pClsID, E_POINTER);
    *pClsID = m_clsid;
    return NOERROR;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* State)
{
    CheckPointer(State, E_POINTER);
    *State = m_State;
    return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* pClock)
{
    CAutoLock lock(m_pLock);
    if (pClock != nullptr)
        pClock->AddRef();
    IReferenceClock* previous = nullptr;
    {
        std::lock_guard clockLock(m_clockLock);
        previous = m_pClock;
        m_pClock = pClock;
    }
    if (previous != nullptr)
        previous->Release();
    return NOERROR;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** pClock)
{
    CheckPointer(pClock, E_POINTER);
    CAutoLock lock(m_pLock);
    *pClock = m_pClock;
    if (m_pClock != nullptr)
        m_pClock->AddRef();
    return NOERROR;
}

HRESULT CBaseFilter::Stop()
{
    CAutoLock lock(m_pLock);
    HRESULT hr = NOERROR;
    if (m_State != State_Stopped) {
        const int count = GetPinCount();
        for (int c = 0; c < count; ++c) {
            CBasePin* pin = GetPin(c);
            if (pin == nullptr)
                break;
            if (pin->IsConnected()) {
                const HRESULT hrTmp = pin->Inactive();
                if (FAILED(hrTmp) && SUCCEEDED(hr))
                    hr = hrTmp;
            }
        }
    }
    m_State = State_Stopped;
    return hr;
}

HRESULT CBaseFilter::Pause()
{
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        const int count = GetPinCount();
        for (int c = 0; c < count; ++c) {
            CBasePin* pin = GetPin(c);
            if (pin == nullptr)
                break;
            if (pin->IsConnected()) {
                const HRESULT hr = pin->Active();
                if (FAILED(hr))
                    return hr;
            }
        }
    }
    m_State = State_Paused;
    return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME tStart)
{
    CAutoLock lock(m_pLock);
    {
        std::lock_guard clockLock(m_clockLock);
        m_tStart = tStart;
    }
    if (m_State == State_Stopped) {
        // Through the interface, so a derived Pause runs too.
        const HRESULT hr = static_cast<IBaseFilter*>(this)->Pause();
        if (FAILED(hr))
            return hr;
    }
    if (m_State != State_Running) {
        const int count = GetPinCount();
        for (int c = 0; c < count; ++c) {
            CBasePin* pin = GetPin(c);
            if (pin == nullptr)
                break;
            if (pin->IsConnected()) {
                const HRESULT hr = pin->Run(tStart);
                if (FAILED(hr))
                    return hr;
            }
        }
    }
    m_State = State_Running;
    return S_OK;
}

HRESULT CBaseFilter::StreamTime(CRefTime& rtStream)
{
    std::lock_guard clockLock(m_clockLock);
    if (m_pClock == nullptr)
        return VFW_E_NO_CLOCK;
    REFERENCE_TIME now = 0;
    const HRESULT hr = m_pClock->GetTime(&now);
    if (FAILED(hr))
        return hr;
    rtStream = now - m_tStart;
    return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** ppEnum)
{
    CheckPointer(ppEnum, E_POINTER);
    auto* pins = new CEnumPins(this, nullptr);
    return GetInterface(static_cast<IEnumPins*>(pins), reinterpret_cast<void**>(ppEnum));
}

HRESULT CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin)
{
    CheckPointer(ppPin, E_POINTER);
    *ppPin = nullptr;
    CheckPointer(Id, E_POINTER);
    CAutoLock lock(m_pLock);
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
        CBasePin* pin = GetPin(i);
        if (pin != nullptr && std::wcscmp(pin->Name(), Id) == 0)
            return GetInterface(static_cast<IPin*>(pin), reinterpret_cast<void**>(ppPin));
    }
    return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo)
{
    CheckPointer(pInfo, E_POINTER);
    CAutoLock lock(m_pLock);
    const size_t length = m_name.size() < size_t(MAX_FILTER_NAME - 1) ? m_name.size() : size_t(MAX_FILTER_NAME - 1);
    std::wmemcpy(pInfo->achName, m_name.c_str(), length);
    pInfo->achName[length] = L'\0';
    pInfo->pGraph = m_pGraph;
    if (m_pGraph != nullptr)
        m_pGraph->AddRef();
    return NOERROR;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName)
{
    CAutoLock lock(m_pLock);
    m_pGraph = pGraph;
    m_pSink = nullptr;
    if (pGraph != nullptr) {
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
            m_pSink = sink;
            sink->Release(); // weak, as the graph pointer itself
        }
    }
    m_name = pName != nullptr ? pName : L"";
    return NOERROR;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

HRESULT CBaseFilter::NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2)
{
    IMediaEventSink* sink = m_pSink;
    if (sink == nullptr)
        return E_NOTIMPL;
    if (EventCode == EC_COMPLETE)
        EventParam2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    return sink->Notify(EventCode, EventParam1, EventParam2);
}

LONG CBaseFilter::GetPinVersion() { return m_PinVersion.load(); }

HRESULT CBaseFilter::Register() { return GetSetupData() == nullptr ? S_FALSE : E_NOTIMPL; }

HRESULT CBaseFilter::Unregister() { return GetSetupData() == nullptr ? S_FALSE : E_NOTIMPL; }
