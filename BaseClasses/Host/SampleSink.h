#pragma once
// A renderer-like filter whose input pin hands every received sample, with its bytes, times
// and flags, to a callback, and reports end of stream to the graph.
#include "BaseFilter.h"
#include "BaseInputPin.h"

#include <atomic>
#include <functional>

namespace DsHost {

// What one received sample carried; valid only during the callback.
struct ReceivedSample {
    IMediaSample* sample = nullptr;
    const BYTE* data = nullptr;
    LONG length = 0; // actual data length
    LONG size = 0;   // buffer size
    HRESULT timeResult = VFW_E_SAMPLE_TIME_NOT_SET;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    HRESULT mediaTimeResult = VFW_E_MEDIA_TIME_NOT_SET;
    LONGLONG mediaStart = 0;
    LONGLONG mediaStop = 0;
    bool syncPoint = false;
    bool discontinuity = false;
    bool preroll = false;
};

// Reads what a sample carries (its data pointer, lengths, times and flags).
ReceivedSample DescribeSample(IMediaSample* sample);

struct SinkCallbacks {
    // Its result is what Receive returns.
    std::function<HRESULT(const ReceivedSample&)> onSample;
    std::function<void()> onEndOfStream;
    std::function<void()> onBeginFlush;
    std::function<void()> onEndFlush;
    std::function<void(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)> onNewSegment;
};

class SampleSink;

class SampleSinkPin final : public CBaseInputPin {
public:
    SampleSinkPin(SampleSink* filter, CCritSec* lock, HRESULT* phr);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;

    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

private:
    SampleSink& sink_;
};

class SampleSink final : public CBaseFilter {
public:
    // With an accepted type, the pin takes types matching it (GUID_NULL fields match
    // anything) and offers it; without one it takes every type.
    explicit SampleSink(SinkCallbacks callbacks, const CMediaType* accepted = nullptr);
    ~SampleSink() override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    IPin* InputPin() { return &pin_; }

    uint64_t SamplesReceived() const { return samples_.load(); }
    uint64_t BytesReceived() const { return bytes_.load(); }

private:
    friend class SampleSinkPin;

    CCritSec lock_;
    const SinkCallbacks callbacks_;
    const bool acceptsAnyType_;
    const CMediaType accepted_;
    std::atomic<uint64_t> samples_{0};
    std::atomic<uint64_t> bytes_{0};
    HRESULT constructResult_ = S_OK;
    SampleSinkPin pin_;
};

} // namespace DsHost
