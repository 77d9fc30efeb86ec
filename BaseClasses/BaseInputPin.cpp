#include "BaseInputPin.h"

#include "BaseFilter.h"
#include "MemAllocator.h"

CBaseInputPin::CBaseInputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                             LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_INPUT)
{
}

CBaseInputPin::~CBaseInputPin()
{
    if (m_pAllocator != nullptr)
        m_pAllocator->Release();
}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IMemInputPin)
        return GetInterface(static_cast<IMemInputPin*>(this), ppv);
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** ppAllocator)
{
    CheckPointer(ppAllocator, E_POINTER);
    CAutoLock lock(m_pLock);
    if (m_pAllocator == nullptr) {
        const HRESULT hr = CreateMemoryAllocator(&m_pAllocator);
        if (FAILED(hr))
            return hr;
    }
    *ppAllocator = m_pAllocator;
    m_pAllocator->AddRef();
    return NOERROR;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly)
{
    CheckPointer(pAllocator, E_POINTER);
    CAutoLock lock(m_pLock);
    IMemAllocator* previous = m_pAllocator;
    pAllocator->AddRef();
    m_pAllocator = pAllocator;
    if (previous != nullptr)
        previous->Release();
    m_bReadOnly = bReadOnly != FALSE;
    return NOERROR;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT CBaseInputPin::Receive(IMediaSample* pSample)
{
    CheckPointer(pSample, E_POINTER);
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;

    AM_MEDIA_TYPE* changed = nullptr;
    if (pSample->GetMediaType(&changed) == S_OK && changed != nullptr) {
        const CMediaType type(*changed);
        DeleteMediaType(changed);
        if (CheckMediaType(&type) != S_OK) {
            // The upstream pin switched to a type we cannot take: stop the stream.
            m_bRunTimeError = true;
            EndOfStream();
            m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
            return VFW_E_INVALIDMEDIATYPE;
        }
    }
    return S_OK;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** pSamples, LONG nSamples, LONG* nSamplesProcessed)
{
    CheckPointer(pSamples, E_POINTER);
    CheckPointer(nSamplesProcessed, E_POINTER);
    HRESULT hr = S_OK;
    *nSamplesProcessed = 0;
    while (nSamples-- > 0) {
        hr = Receive(pSamples[*nSamplesProcessed]);
        if (hr != S_OK)
            break;
        ++*nSamplesProcessed;
    }
    return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock()
{
    // Receive can block when any downstream pin of the filter can; with no connected output
    // pin it may block too.
    int outputPins = 0;
    const int count = m_pFilter->GetPinCount();
    for (int i = 0; i < count; ++i) {
        CBasePin* pin = m_pFilter->GetPin(i);
        if (pin == nullptr || pin->Direction() != PINDIR_OUTPUT)
            continue;
        IPin* connected = nullptr;
        if (FAILED(pin->ConnectedTo(&connected)))
            continue;
        ++outputPins;
        IMemInputPin* input = nullptr;
        const HRESULT hr = connected->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
        connected->Release();
        if (FAILED(hr))
            return S_OK;
        const HRESULT canBlock = input->ReceiveCanBlock();
        input->Release();
        if (canBlock != S_FALSE)
            return S_OK;
    }
    return outputPins == 0 ? S_OK : S_FALSE;
}

HRESULT CBaseInputPin::BeginFlush()
{
    CAutoLock lock(m_pLock);
    m_bFlushing = true;
    return S_OK;
}

HRESULT CBaseInputPin::EndFlush()
{
    CAutoLock lock(m_pLock);
    m_bFlushing = false;
    m_bRunTimeError = false;
    return S_OK;
}

HRESULT CBaseInputPin::Notify(IBaseFilter* pSender, Quality)
{
    CheckPointer(pSender, E_POINTER);
    return S_OK;
}

HRESULT CBaseInputPin::Inactive()
{
    m_bRunTimeError = false;
    if (m_pAllocator == nullptr)
        return VFW_E_NO_ALLOCATOR;
    m_bFlushing = false;
    return m_pAllocator->Decommit();
}

HRESULT CBaseInputPin::BreakConnect()
{
    if (m_pAllocator != nullptr) {
        const HRESULT hr = m_pAllocator->Decommit();
        if (FAILED(hr))
            return hr;
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    return S_OK;
}

HRESULT CBaseInputPin::CheckStreaming()
{
    if (!m_pFilter->IsActive())
        return VFW_E_WRONG_STATE;
    if (m_bFlushing)
        return S_FALSE;
    if (m_bRunTimeError)
        return VFW_E_RUNTIME_ERROR;
    return S_OK;
}
