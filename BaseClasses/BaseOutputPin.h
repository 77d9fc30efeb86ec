#pragma once
// Output pin base: allocator negotiation with the connected input pin and delivery.
#include "BasePin.h"

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName);
    ~CBaseOutputPin() override;

    // Commits the negotiated allocator; VFW_E_NO_ALLOCATOR when unconnected.
    HRESULT Active() override;
    // Decommits it, which also releases callers blocked in GetDeliveryBuffer.
    HRESULT Inactive() override;
    // Refuses pins of the same direction and pins without IMemInputPin.
    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;

    // The input pin's allocator first, else our own from InitAllocator; each is sized by
    // DecideBufferSize and handed to the input pin with NotifyAllocator.
    virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** pAlloc);
    virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* ppropInputRequest) = 0;
    // An empty sample from the committed allocator, blocking while none is free.
    virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime, DWORD dwFlags);
    virtual HRESULT Deliver(IMediaSample* pSample);
    virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    // Stream control flows downstream only.
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

protected:
    IMemAllocator* m_pAllocator = nullptr; // AddRef'ed
    IMemInputPin* m_pInputPin = nullptr;   // AddRef'ed, of the connected pin
};
