#include "TsPin.h"

#include <new>

#include "SkDsDemux.h"
#include "SkDsLogger.h"

TsPin::TsPin(SkDsDemux* filter, CCritSec* filterLock, CCritSec* receiveLock, HRESULT* phr)
    : CBaseInputPin(NAME("Transport stream input"), filter, filterLock, phr, L"Ts"), receiveLock_(receiveLock)
{
}

SkDsDemux& TsPin::Filter() const { return *static_cast<SkDsDemux*>(m_pFilter); }

HRESULT TsPin::CheckMediaType(const CMediaType* pmt)
{
    CheckPointer(pmt, E_POINTER);
    if (pmt->majortype == MEDIATYPE_Stream && pmt->subtype == MEDIASUBTYPE_MPEG2_TRANSPORT)
        return S_OK;
    return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TsPin::GetMediaType(int iPosition, CMediaType* pmt)
{
    CheckPointer(pmt, E_POINTER);
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > 0)
        return VFW_S_NO_MORE_ITEMS;
    pmt->SetType(&MEDIATYPE_Stream);
    pmt->SetSubtype(&MEDIASUBTYPE_MPEG2_TRANSPORT);
    return S_OK;
}

HRESULT TsPin::Receive(IMediaSample* pSample)
{
    CheckPointer(pSample, E_POINTER);
    CAutoLock lock(receiveLock_);
    const LONG length = pSample->GetActualDataLength();
    if (length <= 0)
        return S_OK;
    BYTE* data = nullptr;
    const HRESULT hr = pSample->GetPointer(&data);
    if (FAILED(hr)) {
        SkDsLogger::Log(1, "TsPin", 87, "Failed to get input data pointer (hr=0x%08X)", static_cast<uint32_t>(hr));
        return S_OK;
    }
    try {
        // The record lives at least as long as the sample is processed.
        const auto record = Filter().Time().StampInputSample();
        return Filter().Engine().ProcessSample(data, length);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT TsPin::BeginFlush()
{
    CAutoLock lock(m_pLock);
    {
        CAutoLock receiving(receiveLock_);
        const HRESULT hr = Filter().DeliverBeginFlush();
        if (FAILED(hr))
            SkDsLogger::Log(1, "TsPin", 39, "Deliver begin flush to downstream pins failed (hr=0x%08X)",
                            static_cast<uint32_t>(hr));
    }
    CBaseInputPin::BeginFlush();
    return S_OK;
}

HRESULT TsPin::EndFlush()
{
    CAutoLock lock(m_pLock);
    CBaseInputPin::EndFlush();
    {
        CAutoLock receiving(receiveLock_);
        Filter().DeliverEndFlush();
    }
    return S_OK;
}
