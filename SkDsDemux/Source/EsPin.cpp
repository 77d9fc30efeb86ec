#include "EsPin.h"

#include <new>
#include <vector>

#include "AvTimeStamp.h"
#include "SkDsDemux.h"

EsPin::EsPin(SkDsDemux* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name)
    : CBaseOutputPin(NAME("Elementary stream output"), filter, lock, phr, name), deliverThread_(*this)
{
}

EsPin::~EsPin() { deliverThread_.Stop(); }

SkDsDemux& EsPin::Filter() const { return *static_cast<SkDsDemux*>(m_pFilter); }

HRESULT EsPin::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IMPEG2PIDMap)
        return GetInterface(static_cast<IMPEG2PIDMap*>(this), ppv);
    if (riid == IID_IEnumPIDMap) {
        if (m_pFilter == nullptr) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        IEnumPIDMap* enumerator = Filter().EnumPidMap(this);
        if (enumerator == nullptr) {
            *ppv = nullptr;
            return E_OUTOFMEMORY;
        }
        return GetInterface(enumerator, ppv);
    }
    if (riid == IID_IPin)
        return GetInterface(static_cast<IPin*>(this), ppv);
    if (riid == IID_IQualityControl)
        return GetInterface(static_cast<IQualityControl*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG EsPin::NonDelegatingAddRef()
{
    heldReferences_.fetch_add(1);
    return CBaseOutputPin::NonDelegatingAddRef();
}

ULONG EsPin::NonDelegatingRelease()
{
    heldReferences_.fetch_sub(1);
    return CBaseOutputPin::NonDelegatingRelease();
}

uint32_t EsPin::RecordKind() const
{
    if (configuredType_.majortype == MEDIATYPE_Video)
        return AvTimeStamp::kVideo;
    if (configuredType_.majortype == MEDIATYPE_Audio)
        return AvTimeStamp::kAudio;
    return AvTimeStamp::kOther;
}

HRESULT EsPin::CheckMediaType(const CMediaType* pmt)
{
    CheckPointer(pmt, E_POINTER);
    return configuredType_.MatchesPartial(pmt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT EsPin::GetMediaType(int iPosition, CMediaType* pmt)
{
    CheckPointer(pmt, E_POINTER);
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > 0)
        return VFW_S_NO_MORE_ITEMS;
    return pmt->Set(configuredType_);
}

HRESULT EsPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest)
{
    CheckPointer(pAlloc, E_POINTER);
    CheckPointer(pRequest, E_POINTER);
    pRequest->cBuffers = kBufferCount;
    pRequest->cbBuffer = kBufferSize;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(pRequest, &actual);
    if (FAILED(hr))
        return hr;
    if (actual.cBuffers < kBufferCount || actual.cbBuffer < kBufferSize || actual.cbAlign < 0)
        return E_FAIL;
    return S_OK;
}

HRESULT EsPin::Active()
{
    CAutoLock lock(m_pLock);
    if (m_pAllocator == nullptr)
        return VFW_E_NO_ALLOCATOR;
    const HRESULT hr = m_pAllocator->Commit();
    if (FAILED(hr))
        return hr;
    return deliverThread_.Start();
}

HRESULT EsPin::Inactive()
{
    CAutoLock lock(m_pLock);
    deliverThread_.Stop();
    m_bRunTimeError = false;
    if (m_pAllocator == nullptr)
        return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Decommit();
}

namespace {

std::vector<int32_t> PidList(ULONG count, const ULONG* pids)
{
    std::vector<int32_t> list;
    list.reserve(count);
    for (ULONG i = 0; i < count; ++i)
        list.push_back(static_cast<int32_t>(pids[i]));
    return list;
}

} // namespace

HRESULT EsPin::MapPID(ULONG culPID, ULONG* pulPID, MEDIA_SAMPLE_CONTENT MediaSampleContent)
{
    if (culPID == 0 || pulPID == nullptr)
        return E_INVALIDARG;
    try {
        return Filter().MapPids(PidList(culPID, pulPID), static_cast<int32_t>(MediaSampleContent), this);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT EsPin::UnmapPID(ULONG culPID, ULONG* pulPID)
{
    if (culPID == 0 || pulPID == nullptr)
        return E_INVALIDARG;
    try {
        return Filter().UnmapPids(PidList(culPID, pulPID), this);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT EsPin::EnumPIDMap(IEnumPIDMap** pIEnumPIDMap)
{
    CheckPointer(pIEnumPIDMap, E_POINTER);
    return NonDelegatingQueryInterface(IID_IEnumPIDMap, reinterpret_cast<void**>(pIEnumPIDMap));
}
