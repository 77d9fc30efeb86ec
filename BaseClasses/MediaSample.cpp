#include "MediaSample.h"

#include "BaseAllocator.h"
#include "MediaType.h"

CMediaSample::CMediaSample(LPCTSTR, CBaseAllocator* pAllocator, HRESULT* phr, LPBYTE pBuffer, LONG length)
    : m_pBuffer(pBuffer), m_lActual(length), m_cbBuffer(length), m_pAllocator(pAllocator)
{
    if (pAllocator == nullptr && phr != nullptr)
        *phr = VFW_E_NEED_OWNER;
}

CMediaSample::~CMediaSample()
{
    if (m_pMediaType != nullptr)
        DeleteMediaType(m_pMediaType);
}

HRESULT CMediaSample::QueryInterface(REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IMediaSample || riid == IID_IUnknown)
        return GetInterface(static_cast<IMediaSample*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() { return static_cast<ULONG>(m_cRef.fetch_add(1) + 1); }

ULONG CMediaSample::Release()
{
    const LONG remaining = m_cRef.fetch_sub(1) - 1;
    if (remaining == 0) {
        if (m_dwFlags & Sample_TypeChanged)
            SetMediaType(nullptr);
        m_dwFlags = 0;
        m_pAllocator->ReleaseBuffer(this);
    }
    return static_cast<ULONG>(remaining);
}

HRESULT CMediaSample::SetPointer(BYTE* ptr, LONG cBytes)
{
    if (cBytes < 0)
        return VFW_E_BUFFER_OVERFLOW;
    m_pBuffer = ptr;
    m_cbBuffer = cBytes;
    m_lActual = cBytes;
    return S_OK;
}

HRESULT CMediaSample::GetPointer(BYTE** ppBuffer)
{
    CheckPointer(ppBuffer, E_POINTER);
    *ppBuffer = m_pBuffer;
    return NOERROR;
}

LONG CMediaSample::GetSize() { return m_cbBuffer; }

HRESULT CMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd)
{
    if (!(m_dwFlags & Sample_StopValid)) {
        if (!(m_dwFlags & Sample_TimeValid))
            return VFW_E_SAMPLE_TIME_NOT_SET;
        CheckPointer(pTimeStart, E_POINTER);
        CheckPointer(pTimeEnd, E_POINTER);
        *pTimeStart = m_Start;
        *pTimeEnd = m_Start + 1;
        return VFW_S_NO_STOP_TIME;
    }
    CheckPointer(pTimeStart, E_POINTER);
    CheckPointer(pTimeEnd, E_POINTER);
    *pTimeStart = m_Start;
    *pTimeEnd = m_End;
    return NOERROR;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd)
{
    if (pTimeStart == nullptr) {
        m_dwFlags &= ~(Sample_TimeValid | Sample_StopValid);
    } else if (pTimeEnd == nullptr) {
        m_Start = *pTimeStart;
        m_dwFlags = (m_dwFlags | Sample_TimeValid) & ~Sample_StopValid;
    } else {
        m_Start = *pTimeStart;
        m_End = *pTimeEnd;
        m_dwFlags |= Sample_TimeValid | Sample_StopValid;
    }
    return NOERROR;
}

HRESULT CMediaSample::IsSyncPoint() { return (m_dwFlags & Sample_SyncPoint) ? S_OK : S_FALSE; }

HRESULT CMediaSample::SetSyncPoint(BOOL bIsSyncPoint)
{
    SetFlag(Sample_SyncPoint, bIsSyncPoint);
    return NOERROR;
}

HRESULT CMediaSample::IsPreroll() { return (m_dwFlags & Sample_Preroll) ? S_OK : S_FALSE; }

HRESULT CMediaSample::SetPreroll(BOOL bIsPreroll)
{
    SetFlag(Sample_Preroll, bIsPreroll);
    return NOERROR;
}

LONG CMediaSample::GetActualDataLength() { return m_lActual; }

HRESULT CMediaSample::SetActualDataLength(LONG length)
{
    if (length < 0 || length > m_cbBuffer)
        return VFW_E_BUFFER_OVERFLOW;
    m_lActual = length;
    return NOERROR;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType)
{
    CheckPointer(ppMediaType, E_POINTER);
    if (!(m_dwFlags & Sample_TypeChanged) || m_pMediaType == nullptr) {
        *ppMediaType = nullptr;
        return S_FALSE;
    }
    *ppMediaType = CreateMediaType(m_pMediaType);
    return *ppMediaType == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType)
{
    if (m_pMediaType != nullptr) {
        DeleteMediaType(m_pMediaType);
        m_pMediaType = nullptr;
    }
    if (pMediaType == nullptr) {
        m_dwFlags &= ~Sample_TypeChanged;
        return NOERROR;
    }
    m_pMediaType = CreateMediaType(pMediaType);
    if (m_pMediaType == nullptr) {
        m_dwFlags &= ~Sample_TypeChanged;
        return E_OUTOFMEMORY;
    }
    m_dwFlags |= Sample_TypeChanged;
    return NOERROR;
}

HRESULT CMediaSample::IsDiscontinuity() { return (m_dwFlags & Sample_Discontinuity) ? S_OK : S_FALSE; }

HRESULT CMediaSample::SetDiscontinuity(BOOL bDiscontinuity)
{
    SetFlag(Sample_Discontinuity, bDiscontinuity);
    return NOERROR;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd)
{
    if (!(m_dwFlags & Sample_MediaTimeValid))
        return VFW_E_MEDIA_TIME_NOT_SET;
    CheckPointer(pTimeStart, E_POINTER);
    CheckPointer(pTimeEnd, E_POINTER);
    *pTimeStart = m_MediaStart;
    *pTimeEnd = m_MediaEnd;
    return NOERROR;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd)
{
    if (pTimeStart == nullptr) {
        m_dwFlags &= ~Sample_MediaTimeValid;
        return NOERROR;
    }
    CheckPointer(pTimeEnd, E_POINTER);
    m_MediaStart = *pTimeStart;
    m_MediaEnd = *pTimeEnd;
    m_dwFlags |= Sample_MediaTimeValid;
    return NOERROR;
}
