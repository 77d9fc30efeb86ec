#include "BasePin.h"

#include "BaseFilter.h"
#include "EnumMediaTypes.h"

#include <cwchar>

namespace {

// Failures that only mean "not this type": a connection attempt goes on with the next type.
bool IsTypeRefusal(HRESULT hr) { return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED; }

} // namespace

CBasePin::CBasePin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName,
                   PIN_DIRECTION dir)
    : CUnknown(pObjectName, nullptr, phr), m_name(pName != nullptr ? pName : L""), m_dir(dir), m_pLock(pLock),
      m_pFilter(pFilter)
{
}

CBasePin::~CBasePin()
{
    if (m_Connected != nullptr)
        m_Connected->Release();
}

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IPin)
        return GetInterface(static_cast<IPin*>(this), ppv);
    if (riid == IID_IQualityControl)
        return GetInterface(static_cast<IQualityControl*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG CBasePin::NonDelegatingAddRef() { return m_pFilter->AddRef(); }

ULONG CBasePin::NonDelegatingRelease() { return m_pFilter->Release(); }

LONG CBasePin::GetMediaTypeVersion() { return m_TypeVersion.load(); }

HRESULT CBasePin::Active() { return NOERROR; }

HRESULT CBasePin::Inactive()
{
    m_bRunTimeError = false;
    return NOERROR;
}

HRESULT CBasePin::Run(REFERENCE_TIME) { return NOERROR; }

HRESULT CBasePin::SetMediaType(const CMediaType* pmt) { return m_mt.Set(*pmt); }

HRESULT CBasePin::CheckConnect(IPin* pPin)
{
    PIN_DIRECTION direction = PINDIR_INPUT;
    const HRESULT hr = pPin->QueryDirection(&direction);
    if (FAILED(hr))
        return hr;
    return direction == m_dir ? VFW_E_INVALID_DIRECTION : NOERROR;
}

HRESULT CBasePin::BreakConnect() { return NOERROR; }

HRESULT CBasePin::CompleteConnect(IPin*) { return NOERROR; }

HRESULT CBasePin::GetMediaType(int, CMediaType*) { return E_UNEXPECTED; }

BOOL CBasePin::IsStopped() const { return m_pFilter->m_State == State_Stopped; }

HRESULT CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt)
{
    CheckPointer(pReceivePin, E_POINTER);
    CAutoLock lock(m_pLock);
    if (m_Connected != nullptr)
        return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive)
        return VFW_E_NOT_STOPPED;
    if (pmt == nullptr)
        return AgreeMediaType(pReceivePin, nullptr);
    const CMediaType requested(*pmt);
    return AgreeMediaType(pReceivePin, &requested);
}

HRESULT CBasePin::AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt)
{
    if (pmt != nullptr && !pmt->IsPartiallySpecified())
        return AttemptConnection(pReceivePin, pmt);

    HRESULT hrFailure = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int pass = 0; pass < 2; ++pass) {
        const bool receiverTypes = pass == (m_bTryMyTypesFirst ? 1 : 0);
        IEnumMediaTypes* types = nullptr;
        const HRESULT hrEnum = receiverTypes ? pReceivePin->EnumMediaTypes(&types) : EnumMediaTypes(&types);
        if (FAILED(hrEnum))
            continue;
        const HRESULT hr = TryMediaTypes(pReceivePin, pmt, types);
        types->Release();
        if (SUCCEEDED(hr))
            return NOERROR;
        if (!IsTypeRefusal(hr))
            hrFailure = hr;
    }
    return hrFailure;
}

HRESULT CBasePin::TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum)
{
    HRESULT hr = pEnum->Reset();
    if (FAILED(hr))
        return hr;
    HRESULT hrFailure = S_OK;
    for (;;) {
        AM_MEDIA_TYPE* next = nullptr;
        ULONG fetched = 0;
        hr = pEnum->Next(1, &next, &fetched);
        if (hr != S_OK || fetched != 1) {
            if (next != nullptr)
                DeleteMediaType(next);
            return hrFailure == S_OK ? VFW_E_NO_ACCEPTABLE_TYPES : hrFailure;
        }
        const CMediaType candidate(*next);
        DeleteMediaType(next);
        if (pmt == nullptr || candidate.MatchesPartial(pmt)) {
            hr = AttemptConnection(pReceivePin, &candidate);
            if (SUCCEEDED(hr))
                return hr;
        } else {
            hr = VFW_E_NO_ACCEPTABLE_TYPES;
        }
        if (FAILED(hr) && SUCCEEDED(hrFailure) && !IsTypeRefusal(hr))
            hrFailure = hr;
    }
}

HRESULT CBasePin::AttemptConnection(IPin* pReceivePin, const CMediaType* pmt)
{
    HRESULT hr = CheckConnect(pReceivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(pmt);
    if (hr == S_OK) {
        m_Connected = pReceivePin;
        m_Connected->AddRef();
        hr = SetMediaType(pmt);
        if (SUCCEEDED(hr)) {
            hr = pReceivePin->ReceiveConnection(static_cast<IPin*>(this), pmt);
            if (SUCCEEDED(hr)) {
                hr = CompleteConnect(pReceivePin);
                if (SUCCEEDED(hr))
                    return hr;
                pReceivePin->Disconnect();
            }
        }
    } else if (SUCCEEDED(hr) || IsTypeRefusal(hr)) {
        hr = VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (m_Connected != nullptr) {
        m_Connected->Release();
        m_Connected = nullptr;
    }
    BreakConnect();
    return hr;
}

HRESULT CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt)
{
    CheckPointer(pConnector, E_POINTER);
    CheckPointer(pmt, E_POINTER);
    CAutoLock lock(m_pLock);
    if (m_Connected != nullptr)
        return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive)
        return VFW_E_NOT_STOPPED;

    HRESULT hr = CheckConnect(pConnector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    const CMediaType offered(*pmt);
    hr = CheckMediaType(&offered);
    if (hr != S_OK) {
        BreakConnect();
        return SUCCEEDED(hr) || IsTypeRefusal(hr) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
    }
    m_Connected = pConnector;
    m_Connected->AddRef();
    hr = SetMediaType(&offered);
    if (SUCCEEDED(hr)) {
        hr = CompleteConnect(pConnector);
        if (SUCCEEDED(hr))
            return NOERROR;
    }
    m_Connected->Release();
    m_Connected = nullptr;
    BreakConnect();
    return hr;
}

HRESULT CBasePin::Disconnect()
{
    CAutoLock lock(m_pLock);
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal()
{
    if (m_Connected == nullptr)
        return S_FALSE;
    const HRESULT hr = BreakConnect();
    if (FAILED(hr))
        return hr;
    m_Connected->Release();
    m_Connected = nullptr;
    return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin** pPin)
{
    CheckPointer(pPin, E_POINTER);
    *pPin = m_Connected;
    if (m_Connected == nullptr)
        return VFW_E_NOT_CONNECTED;
    m_Connected->AddRef();
    return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt)
{
    CheckPointer(pmt, E_POINTER);
    CAutoLock lock(m_pLock);
    if (IsConnected())
        return CopyMediaType(pmt, &m_mt);
    *pmt = AM_MEDIA_TYPE{};
    pmt->lSampleSize = 1;
    pmt->bFixedSizeSamples = TRUE;
    return VFW_E_NOT_CONNECTED;
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* pInfo)
{
    CheckPointer(pInfo, E_POINTER);
    pInfo->pFilter = m_pFilter;
    if (m_pFilter != nullptr)
        m_pFilter->AddRef();
    const size_t length = m_name.size() < size_t(MAX_PIN_NAME - 1) ? m_name.size() : size_t(MAX_PIN_NAME - 1);
    std::wmemcpy(pInfo->achName, m_name.c_str(), length);
    pInfo->achName[length] = L'\0';
    pInfo->dir = m_dir;
    return NOERROR;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* pPinDir)
{
    CheckPointer(pPinDir, E_POINTER);
    *pPinDir = m_dir;
    return NOERROR;
}

HRESULT CBasePin::QueryId(LPWSTR* Id)
{
    CheckPointer(Id, E_POINTER);
    const size_t bytes = (m_name.size() + 1) * sizeof(WCHAR);
    *Id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (*Id == nullptr)
        return E_OUTOFMEMORY;
    std::wmemcpy(*Id, m_name.c_str(), m_name.size() + 1);
    return NOERROR;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt)
{
    CheckPointer(pmt, E_POINTER);
    const CMediaType offered(*pmt);
    const HRESULT hr = CheckMediaType(&offered);
    return FAILED(hr) ? S_FALSE : hr;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum)
{
    CheckPointer(ppEnum, E_POINTER);
    auto* types = new CEnumMediaTypes(this, nullptr);
    return GetInterface(static_cast<IEnumMediaTypes*>(types), reinterpret_cast<void**>(ppEnum));
}

HRESULT CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT CBasePin::EndOfStream() { return S_OK; }

HRESULT CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    m_tStart = tStart;
    m_tStop = tStop;
    m_dRate = dRate;
    return S_OK;
}

HRESULT CBasePin::Notify(IBaseFilter*, Quality) { return S_OK; }

HRESULT CBasePin::SetSink(IQualityControl* piqc)
{
    CAutoLock lock(m_pLock);
    m_pQSink = piqc;
    return NOERROR;
}
