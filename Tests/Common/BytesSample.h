#pragma once
// An input sample over bytes its user owns, for driving an input pin's Receive by hand.
#include "ComPlatform.h"
#include "Streams.h"

namespace FilterTest {

// An input sample over bytes the test owns; GetPointer fails with pointerResult when that is a
// failure. It lives on the test's stack: Release never deletes it.
class BytesSample final : public IMediaSample {
public:
    explicit BytesSample(const BYTE* data, LONG length, HRESULT pointerResult = S_OK)
        : data_(const_cast<BYTE*>(data)), length_(length), pointerResult_(pointerResult)
    {
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        CheckPointer(ppv, E_POINTER);
        if (riid == IID_IMediaSample || riid == IID_IUnknown)
            return GetInterface(static_cast<IMediaSample*>(this), ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ULONG(++refs_); }
    ULONG Release() override { return ULONG(--refs_); }

    HRESULT GetPointer(BYTE** ppBuffer) override
    {
        CheckPointer(ppBuffer, E_POINTER);
        ++pointerCalls_;
        if (FAILED(pointerResult_)) {
            *ppBuffer = nullptr;
            return pointerResult_;
        }
        *ppBuffer = data_;
        return S_OK;
    }
    LONG GetSize() override { return length_; }
    HRESULT GetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return VFW_E_SAMPLE_TIME_NOT_SET; }
    HRESULT SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return S_OK; }
    HRESULT IsSyncPoint() override { return S_FALSE; }
    HRESULT SetSyncPoint(BOOL) override { return S_OK; }
    HRESULT IsPreroll() override { return S_FALSE; }
    HRESULT SetPreroll(BOOL) override { return S_OK; }
    LONG GetActualDataLength() override { return length_; }
    HRESULT SetActualDataLength(LONG length) override
    {
        length_ = length;
        return S_OK;
    }
    HRESULT GetMediaType(AM_MEDIA_TYPE** ppMediaType) override
    {
        CheckPointer(ppMediaType, E_POINTER);
        *ppMediaType = nullptr;
        return S_FALSE;
    }
    HRESULT SetMediaType(AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT IsDiscontinuity() override { return S_FALSE; }
    HRESULT SetDiscontinuity(BOOL) override { return S_OK; }
    HRESULT GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_MEDIA_TIME_NOT_SET; }
    HRESULT SetMediaTime(LONGLONG*, LONGLONG*) override { return S_OK; }

    int PointerCalls() const { return pointerCalls_; }
    LONG References() const { return refs_; }

private:
    BYTE* data_;
    LONG length_;
    const HRESULT pointerResult_;
    LONG refs_ = 0;
    int pointerCalls_ = 0;
};

} // namespace FilterTest
