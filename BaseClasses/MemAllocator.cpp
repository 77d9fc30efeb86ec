#include "MemAllocator.h"

CMemAllocator::CMemAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr) : CBaseAllocator(pName, pUnk, phr) {}

CMemAllocator::~CMemAllocator()
{
    std::lock_guard lock(m_lock);
    ReallyFree();
}

CUnknown* CMemAllocator::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr)
{
    return new CMemAllocator(NAME("Memory Allocator"), pUnk, phr);
}

HRESULT CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual)
{
    CheckPointer(pRequest, E_POINTER);
    CheckPointer(pActual, E_POINTER);
    std::lock_guard lock(m_lock);
    if (m_bCommitted)
        return VFW_E_ALREADY_COMMITTED;
    if (m_lAllocated != m_lFree.GetCount())
        return VFW_E_BUFFERS_OUTSTANDING;
    const LONG align = pRequest->cbAlign;
    if (align <= 0 || (align & (align - 1)) != 0)
        return VFW_E_BADALIGN;
    if (pRequest->cBuffers < 0 || pRequest->cbBuffer < 0 || pRequest->cbPrefix < 0)
        return E_INVALIDARG;

    // Round prefix + buffer up to the alignment, so every sample starts aligned.
    int64_t size = int64_t(pRequest->cbBuffer) + pRequest->cbPrefix;
    const int64_t remainder = size % align;
    if (remainder != 0)
        size += align - remainder;
    if (size > 0x7FFFFFFF || int64_t(pRequest->cBuffers) * size > (int64_t(1) << 40))
        return E_OUTOFMEMORY;

    m_lCount = pRequest->cBuffers;
    m_lSize = static_cast<LONG>(size) - pRequest->cbPrefix;
    m_lAlignment = align;
    m_lPrefix = pRequest->cbPrefix;
    m_bChanged = true;

    pActual->cBuffers = m_lCount;
    pActual->cbBuffer = m_lSize;
    pActual->cbAlign = m_lAlignment;
    pActual->cbPrefix = m_lPrefix;
    return NOERROR;
}

HRESULT CMemAllocator::Alloc()
{
    HRESULT hr = CBaseAllocator::Alloc();
    if (FAILED(hr))
        return hr;
    if (hr == S_FALSE && !m_samples.empty())
        return NOERROR;
    ReallyFree();

    const size_t stride = size_t(m_lSize) + size_t(m_lPrefix);
    try {
        m_pBuffer = std::make_unique_for_overwrite<BYTE[]>(stride * size_t(m_lCount) + size_t(m_lAlignment));
        m_samples.reserve(size_t(m_lCount));
    } catch (const std::bad_alloc&) {
        ReallyFree();
        return E_OUTOFMEMORY;
    }
    const auto address = reinterpret_cast<uintptr_t>(m_pBuffer.get());
    const uintptr_t alignment = uintptr_t(m_lAlignment);
    BYTE* base = m_pBuffer.get() + ((alignment - address % alignment) % alignment);
    for (LONG i = 0; i < m_lCount; ++i) {
        hr = S_OK;
        auto sample = std::make_unique<CMediaSample>(NAME("Default memory media sample"), this, &hr,
                                                     base + stride * size_t(i) + size_t(m_lPrefix), m_lSize);
        m_lFree.Add(sample.get());
        m_samples.push_back(std::move(sample));
    }
    m_lAllocated = m_lCount;
    m_bChanged = false;
    return NOERROR;
}

void CMemAllocator::Free()
{
    // The memory stays for the next Commit; ReallyFree gives it up.
}

void CMemAllocator::ReallyFree()
{
    while (m_lFree.RemoveHead() != nullptr) {
    }
    m_samples.clear();
    m_pBuffer.reset();
    m_lAllocated = 0;
}

HRESULT CreateMemoryAllocator(IMemAllocator** ppAllocator)
{
    CheckPointer(ppAllocator, E_POINTER);
    *ppAllocator = nullptr;
    HRESULT hr = S_OK;
    auto* allocator = new CMemAllocator(NAME("Memory Allocator"), nullptr, &hr);
    if (FAILED(hr)) {
        delete allocator;
        return hr;
    }
    return allocator->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(ppAllocator));
}
