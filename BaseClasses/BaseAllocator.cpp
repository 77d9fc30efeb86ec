#include "BaseAllocator.h"

CBaseAllocator::CBaseAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr) : CUnknown(pName, pUnk, phr) {}

CBaseAllocator::~CBaseAllocator() = default;

HRESULT CBaseAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IMemAllocator)
        return GetInterface(static_cast<IMemAllocator*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual)
{
    CheckPointer(pRequest, E_POINTER);
    CheckPointer(pActual, E_POINTER);
    std::lock_guard lock(m_lock);
    if (m_bCommitted)
        return VFW_E_ALREADY_COMMITTED;
    if (m_lAllocated != m_lFree.GetCount())
        return VFW_E_BUFFERS_OUTSTANDING;
    *pActual = *pRequest;
    m_lCount = pRequest->cBuffers;
    m_lSize = pRequest->cbBuffer;
    m_lAlignment = pRequest->cbAlign;
    m_lPrefix = pRequest->cbPrefix;
    m_bChanged = true;
    return NOERROR;
}

HRESULT CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps)
{
    CheckPointer(pProps, E_POINTER);
    std::lock_guard lock(m_lock);
    pProps->cBuffers = m_lCount;
    pProps->cbBuffer = m_lSize;
    pProps->cbAlign = m_lAlignment;
    pProps->cbPrefix = m_lPrefix;
    return NOERROR;
}

HRESULT CBaseAllocator::Commit()
{
    {
        std::lock_guard lock(m_lock);
        if (m_bCommitted)
            return NOERROR;
        if (m_bDecommitInProgress) {
            // The buffers and the self-reference still exist.
            m_bDecommitInProgress = false;
            m_bCommitted = true;
            return NOERROR;
        }
        if (m_lSize == 0)
            return VFW_E_SIZENOTSET;
        const HRESULT hr = Alloc();
        if (FAILED(hr))
            return hr;
        m_bCommitted = true;
    }
    AddRef();
    return NOERROR;
}

HRESULT CBaseAllocator::Decommit()
{
    bool release = false;
    {
        std::lock_guard lock(m_lock);
        if (!m_bCommitted && !m_bDecommitInProgress)
            return NOERROR;
        m_bCommitted = false;
        if (m_lFree.GetCount() < m_lAllocated) {
            m_bDecommitInProgress = true;
        } else {
            m_bDecommitInProgress = false;
            Free();
            release = true;
        }
        m_sampleFreed.notify_all();
    }
    if (release)
        Release();
    return NOERROR;
}

HRESULT CBaseAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME*, REFERENCE_TIME*, DWORD dwFlags)
{
    CheckPointer(ppBuffer, E_POINTER);
    *ppBuffer = nullptr;
    std::unique_lock lock(m_lock);
    for (;;) {
        if (!m_bCommitted)
            return VFW_E_NOT_COMMITTED;
        CMediaSample* sample = m_lFree.RemoveHead();
        if (sample != nullptr) {
            sample->m_cRef.store(1);
            *ppBuffer = sample;
            return NOERROR;
        }
        if (dwFlags & AM_GBF_NOWAIT)
            return VFW_E_TIMEOUT;
        ++m_lWaiting;
        m_sampleFreed.wait(lock);
        --m_lWaiting;
    }
}

HRESULT CBaseAllocator::ReleaseBuffer(IMediaSample* pSample)
{
    CheckPointer(pSample, E_POINTER);
    bool release = false;
    {
        std::lock_guard lock(m_lock);
        m_lFree.Add(static_cast<CMediaSample*>(pSample));
        if (m_lWaiting != 0)
            m_sampleFreed.notify_one();
        if (m_bDecommitInProgress && m_lFree.GetCount() == m_lAllocated) {
            Free();
            m_bDecommitInProgress = false;
            release = true;
        }
    }
    // May delete the allocator: nothing of it is touched afterwards.
    if (release)
        Release();
    return NOERROR;
}

HRESULT CBaseAllocator::Alloc()
{
    if (m_lCount <= 0 || m_lSize <= 0 || m_lAlignment <= 0)
        return VFW_E_SIZENOTSET;
    return m_bChanged ? NOERROR : S_FALSE;
}
