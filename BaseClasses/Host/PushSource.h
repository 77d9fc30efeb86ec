#pragma once
// A source filter that pushes bytes from a ByteReader downstream as media samples, from its
// own allocator, on its own streaming thread, from Pause until Stop or the end of input.
#include "BaseFilter.h"
#include "BaseOutputPin.h"
#include "AMThread.h"
#include "Host/ByteReader.h"

#include <atomic>
#include <functional>
#include <memory>

namespace DsHost {

class PushSource;

// MEDIATYPE_Stream / MEDIASUBTYPE_MPEG2_TRANSPORT without a format block.
CMediaType TransportStreamMediaType();

// Lets the host stamp each sample (times, flags) before it leaves; index counts from 0.
using SampleDecorator = std::function<void(IMediaSample* sample, uint64_t index)>;

class PushSourcePin final : public CBaseOutputPin, private CAMThread {
public:
    PushSourcePin(PushSource* filter, CCritSec* lock, HRESULT* phr);
    ~PushSourcePin() override;

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    // Asks for the source's buffer count and size and refuses an allocator that grants less.
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

private:
    DWORD ThreadProc() override;

    PushSource& source_;
    std::atomic<bool> stopRequested_{false};
};

class PushSource final : public CBaseFilter {
public:
    struct Options {
        CMediaType mediaType = TransportStreamMediaType();
        LONG bufferSize = 64 * 1024;
        LONG bufferCount = 8;
        SampleDecorator decorate;
    };

    PushSource(std::unique_ptr<ByteReader> reader, Options options);
    ~PushSource() override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    IPin* OutputPin() { return &pin_; }

    // A live source: paused, it cannot cue data ahead, so a graph must not wait for renderers
    // to preroll before it runs (VFW_S_CANT_CUE while paused).
    HRESULT GetState(DWORD dwMSecs, FILTER_STATE* State) override;

    uint64_t SamplesDelivered() const { return samples_.load(); }
    uint64_t BytesDelivered() const { return bytes_.load(); }

private:
    friend class PushSourcePin;

    CCritSec lock_;
    const std::unique_ptr<ByteReader> reader_;
    const Options options_;
    std::atomic<uint64_t> samples_{0};
    std::atomic<uint64_t> bytes_{0};
    HRESULT constructResult_ = S_OK;
    PushSourcePin pin_; // last: it uses the members above
};

} // namespace DsHost
