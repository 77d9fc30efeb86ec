#pragma once
// The standard memory allocator: one aligned block cut into equal samples. The memory is
// kept across Decommit/Commit and remade only when the properties change.
#include "BaseAllocator.h"

#include <memory>
#include <vector>

class CMemAllocator : public CBaseAllocator {
public:
    CMemAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
    ~CMemAllocator() override;

    static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    // Alignment must be a power of two; the buffer grows so each sample stays aligned.
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;

protected:
    HRESULT Alloc() override;
    void Free() override;

private:
    void ReallyFree();

    std::unique_ptr<BYTE[]> m_pBuffer;
    std::vector<std::unique_ptr<CMediaSample>> m_samples;
};

// A new standard memory allocator, AddRef'ed.
HRESULT CreateMemoryAllocator(IMemAllocator** ppAllocator);
