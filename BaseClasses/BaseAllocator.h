#pragma once
// Allocator base: a free list of samples with blocking GetBuffer, and Commit/Decommit. While
// committed the allocator holds a reference on itself, given back once decommitted and all
// samples are home, so outstanding samples never outlive it.
#include "ComBase.h"
#include "MediaSample.h"

#include <condition_variable>
#include <mutex>

class CBaseAllocator : public CUnknown, public IMemAllocator {
public:
    CBaseAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
    ~CBaseAllocator() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // Stores the request as granted; refused while committed or with samples outstanding.
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT Commit() override;
    // Wakes every caller blocked in GetBuffer; they get VFW_E_NOT_COMMITTED.
    HRESULT Decommit() override;
    // Blocks while no sample is free (unless AM_GBF_NOWAIT); VFW_E_NOT_COMMITTED when not committed.
    HRESULT GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                      DWORD dwFlags) override;
    HRESULT ReleaseBuffer(IMediaSample* pBuffer) override;

protected:
    // Both run with m_lock held. Alloc makes m_lCount samples of m_lSize bytes available
    // (S_FALSE: nothing changed since the last time); Free gives up what Alloc made.
    virtual HRESULT Alloc();
    virtual void Free() = 0;

    class CSampleList {
    public:
        void Add(CMediaSample* pSample)
        {
            pSample->m_pNext = m_List;
            m_List = pSample;
            ++m_nOnList;
        }
        CMediaSample* RemoveHead()
        {
            CMediaSample* head = m_List;
            if (head != nullptr) {
                m_List = head->m_pNext;
                head->m_pNext = nullptr;
                --m_nOnList;
            }
            return head;
        }
        int GetCount() const { return m_nOnList; }

    private:
        CMediaSample* m_List = nullptr;
        int m_nOnList = 0;
    };

    std::mutex m_lock;
    CSampleList m_lFree;
    LONG m_lAllocated = 0; // samples that exist
    LONG m_lCount = 0;
    LONG m_lSize = 0;
    LONG m_lAlignment = 0;
    LONG m_lPrefix = 0;
    bool m_bChanged = false;
    bool m_bCommitted = false;
    bool m_bDecommitInProgress = false;

private:
    std::condition_variable m_sampleFreed;
    int m_lWaiting = 0;
};
