#pragma once
// A downstream filter that misbehaves on request: its allocator fails every Nth GetBuffer, or
// hands out every Nth buffer as a sample whose GetPointer fails; its input pin hands each
// received sample to callbacks that may fail, block or dawdle. Used by the fault-injection
// tests and the filter's fuzz target.
#include <atomic>
#include <utility>

#include "Host/SampleSink.h"
#include "Streams.h"

namespace FaultTest {

struct AllocatorFaults {
    std::atomic<int> failBufferEvery{0};  // > 0: every Nth GetBuffer fails with bufferResult
    HRESULT bufferResult = E_OUTOFMEMORY;
    std::atomic<int> failPointerEvery{0}; // > 0: every Nth buffer handed out fails GetPointer
    HRESULT pointerResult = E_UNEXPECTED;
    std::atomic<int> calls{0};            // GetBuffer calls so far
};

// A buffer of the allocator whose data pointer cannot be had; everything else is the buffer's.
class PointerlessSample final : public IMediaSample {
public:
    PointerlessSample(IMediaSample* inner, HRESULT pointerResult) : inner_(inner), pointerResult_(pointerResult) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        CheckPointer(ppv, E_POINTER);
        if (riid == IID_IMediaSample || riid == IID_IUnknown)
            return GetInterface(static_cast<IMediaSample*>(this), ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG Release() override
    {
        const LONG left = --refs_;
        if (left == 0) {
            inner_->Release(); // back to the allocator
            delete this;
        }
        return static_cast<ULONG>(left);
    }
    HRESULT GetPointer(BYTE** ppBuffer) override
    {
        CheckPointer(ppBuffer, E_POINTER);
        *ppBuffer = nullptr;
        return pointerResult_;
    }
    LONG GetSize() override { return inner_->GetSize(); }
    HRESULT GetTime(REFERENCE_TIME* s, REFERENCE_TIME* e) override { return inner_->GetTime(s, e); }
    HRESULT SetTime(REFERENCE_TIME* s, REFERENCE_TIME* e) override { return inner_->SetTime(s, e); }
    HRESULT IsSyncPoint() override { return inner_->IsSyncPoint(); }
    HRESULT SetSyncPoint(BOOL b) override { return inner_->SetSyncPoint(b); }
    HRESULT IsPreroll() override { return inner_->IsPreroll(); }
    HRESULT SetPreroll(BOOL b) override { return inner_->SetPreroll(b); }
    LONG GetActualDataLength() override { return inner_->GetActualDataLength(); }
    HRESULT SetActualDataLength(LONG length) override { return inner_->SetActualDataLength(length); }
    HRESULT GetMediaType(AM_MEDIA_TYPE** type) override { return inner_->GetMediaType(type); }
    HRESULT SetMediaType(AM_MEDIA_TYPE* type) override { return inner_->SetMediaType(type); }
    HRESULT IsDiscontinuity() override { return inner_->IsDiscontinuity(); }
    HRESULT SetDiscontinuity(BOOL b) override { return inner_->SetDiscontinuity(b); }
    HRESULT GetMediaTime(LONGLONG* s, LONGLONG* e) override { return inner_->GetMediaTime(s, e); }
    HRESULT SetMediaTime(LONGLONG* s, LONGLONG* e) override { return inner_->SetMediaTime(s, e); }

private:
    ~PointerlessSample() = default;

    IMediaSample* const inner_;
    const HRESULT pointerResult_;
    std::atomic<LONG> refs_{1};
};

class FaultyAllocator final : public CMemAllocator {
public:
    explicit FaultyAllocator(AllocatorFaults& faults) : CMemAllocator(NAME("Faulty allocator"), nullptr, nullptr), faults_(faults) {}

    HRESULT GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                      DWORD dwFlags) override
    {
        CheckPointer(ppBuffer, E_POINTER);
        const int call = ++faults_.calls;
        const int bufferEvery = faults_.failBufferEvery.load();
        if (bufferEvery > 0 && call % bufferEvery == 0) {
            *ppBuffer = nullptr;
            return faults_.bufferResult;
        }
        const HRESULT hr = CMemAllocator::GetBuffer(ppBuffer, pStartTime, pEndTime, dwFlags);
        const int pointerEvery = faults_.failPointerEvery.load();
        if (SUCCEEDED(hr) && pointerEvery > 0 && call % pointerEvery == 0)
            *ppBuffer = new PointerlessSample(*ppBuffer, faults_.pointerResult);
        return hr;
    }

private:
    AllocatorFaults& faults_;
};

// Offers the faulty allocator and hands each sample to the sink's callbacks.
class FaultySinkPin final : public CBaseInputPin {
public:
    FaultySinkPin(CBaseFilter* filter, CCritSec* lock, AllocatorFaults& faults, const DsHost::SinkCallbacks& callbacks)
        : CBaseInputPin(NAME("Faulty sink input"), filter, lock, nullptr, L"In"),
          faults_(faults), callbacks_(callbacks)
    {
    }
    HRESULT CheckMediaType(const CMediaType* pmt) override { return pmt == nullptr ? E_POINTER : S_OK; }
    HRESULT GetMediaType(int iPosition, CMediaType*) override { return iPosition < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS; }
    HRESULT GetAllocator(IMemAllocator** ppAllocator) override
    {
        CheckPointer(ppAllocator, E_POINTER);
        CAutoLock lock(m_pLock);
        if (m_pAllocator == nullptr) {
            const HRESULT hr = (new FaultyAllocator(faults_))
                                   ->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(&m_pAllocator));
            if (FAILED(hr))
                return hr;
        }
        return CBaseInputPin::GetAllocator(ppAllocator);
    }
    HRESULT Receive(IMediaSample* pSample) override
    {
        const HRESULT hr = CBaseInputPin::Receive(pSample);
        if (hr != S_OK)
            return hr;
        const DsHost::ReceivedSample received = DsHost::DescribeSample(pSample);
        return callbacks_.onSample ? callbacks_.onSample(received) : S_OK;
    }

private:
    AllocatorFaults& faults_;
    const DsHost::SinkCallbacks& callbacks_;
};

class FaultySink final : public CBaseFilter {
public:
    FaultySink(AllocatorFaults& faults, DsHost::SinkCallbacks callbacks)
        : CBaseFilter(NAME("Faulty sink"), nullptr, &lock_, GUID_NULL), callbacks_(std::move(callbacks)),
          pin_(this, &lock_, faults, callbacks_)
    {
    }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    IPin* InputPin() { return &pin_; }

private:
    CCritSec lock_;
    const DsHost::SinkCallbacks callbacks_;
    FaultySinkPin pin_;
};

} // namespace FaultTest
