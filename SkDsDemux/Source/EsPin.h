#pragma once
// An output pin of the demultiplexer: offers the one media type it was created with, carries
// the PIDs mapped to it through IMPEG2PIDMap, and delivers their PES payloads downstream on
// its own worker thread while the filter is active.
#include <atomic>
#include <cstdint>

#include "BaseOutputPin.h"
#include "EsDeliverThread.h"
#include "MediaType.h"

class SkDsDemux;

class EsPin final : public CBaseOutputPin, public IMPEG2PIDMap {
public:
    // The buffers asked of the downstream allocator, and the least the pin accepts.
    static constexpr LONG kBufferCount = 32;
    static constexpr LONG kBufferSize = 8192;

    EsPin(SkDsDemux* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name);
    ~EsPin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // References act on the filter; the pin also counts those handed out through it, so that
    // deleting the pin can give back what its holders still have (see SkDsDemux).
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

    // Exactly the configured type is offered; a proposal matches it as a partial type.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    // 32 buffers of 8192 bytes at least, or the connection fails with E_FAIL.
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
    // Commit the allocator and start the worker; stop the worker and decommit.
    HRESULT Active() override;
    HRESULT Inactive() override;

    // IMPEG2PIDMap: elementary-stream content only.
    HRESULT MapPID(ULONG culPID, ULONG* pulPID, MEDIA_SAMPLE_CONTENT MediaSampleContent) override;
    HRESULT UnmapPID(ULONG culPID, ULONG* pulPID) override;
    HRESULT EnumPIDMap(IEnumPIDMap** pIEnumPIDMap) override;

    HRESULT SetConfiguredType(const AM_MEDIA_TYPE& type) { return configuredType_.Set(type); }
    const CMediaType& ConfiguredType() const { return configuredType_; }
    // Kind of the time-stamp records of this pin's PES packets: video, audio or other.
    uint32_t RecordKind() const;

    EsDeliverThread& DeliverThread() { return deliverThread_; }
    SkDsDemux& Filter() const;
    // References taken through this pin and not yet given back.
    LONG HeldReferences() const { return heldReferences_.load(); }

private:
    CMediaType configuredType_;
    EsDeliverThread deliverThread_;
    std::atomic<LONG> heldReferences_{0};
};
