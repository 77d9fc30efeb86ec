#pragma once
// Input pin base: the allocator handshake, sample intake checks and flushing.
#include "BasePin.h"

#include <atomic>

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName);
    ~CBaseInputPin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMemInputPin
    // Creates a standard memory allocator when the pin has none yet.
    HRESULT GetAllocator(IMemAllocator** ppAllocator) override;
    HRESULT NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    // Checks that the pin may stream and that a changed sample type is acceptable.
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT ReceiveMultiple(IMediaSample** pSamples, LONG nSamples, LONG* nSamplesProcessed) override;
    HRESULT ReceiveCanBlock() override;

    // IPin
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    // IQualityControl
    HRESULT Notify(IBaseFilter* pSender, Quality q) override;

    HRESULT Inactive() override;
    HRESULT BreakConnect() override;

    // S_OK when samples may be processed, S_FALSE while flushing, an error otherwise.
    virtual HRESULT CheckStreaming();

    BOOL IsReadOnly() const { return m_bReadOnly; }
    BOOL IsFlushing() const { return m_bFlushing; }

protected:
    IMemAllocator* m_pAllocator = nullptr; // AddRef'ed; the one the upstream pin chose
    std::atomic<bool> m_bReadOnly{false};
    std::atomic<bool> m_bFlushing{false};
};
