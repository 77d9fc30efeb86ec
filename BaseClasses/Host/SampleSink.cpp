#include "Host/SampleSink.h"

namespace DsHost {

ReceivedSample DescribeSample(IMediaSample* sample)
{
    ReceivedSample received;
    received.sample = sample;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    received.data = data;
    received.length = sample->GetActualDataLength();
    received.size = sample->GetSize();
    received.timeResult = sample->GetTime(&received.start, &received.stop);
    received.mediaTimeResult = sample->GetMediaTime(&received.mediaStart, &received.mediaStop);
    received.syncPoint = sample->IsSyncPoint() == S_OK;
    received.discontinuity = sample->IsDiscontinuity() == S_OK;
    received.preroll = sample->IsPreroll() == S_OK;
    return received;
}

SampleSinkPin::SampleSinkPin(SampleSink* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(NAME("Sample sink input"), filter, lock, phr, L"In"), sink_(*filter)
{
}

HRESULT SampleSinkPin::CheckMediaType(const CMediaType* pmt)
{
    CheckPointer(pmt, E_POINTER);
    if (sink_.acceptsAnyType_)
        return S_OK;
    return pmt->MatchesPartial(&sink_.accepted_) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT SampleSinkPin::GetMediaType(int iPosition, CMediaType* pmt)
{
    CheckPointer(pmt, E_POINTER);
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > 0 || sink_.acceptsAnyType_)
        return VFW_S_NO_MORE_ITEMS;
    return pmt->Set(sink_.accepted_);
}

HRESULT SampleSinkPin::Receive(IMediaSample* pSample)
{
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK)
        return hr;
    const ReceivedSample received = DescribeSample(pSample);
    sink_.samples_.fetch_add(1, std::memory_order_relaxed);
    sink_.bytes_.fetch_add(static_cast<uint64_t>(received.length), std::memory_order_relaxed);
    return sink_.callbacks_.onSample ? sink_.callbacks_.onSample(received) : S_OK;
}

HRESULT SampleSinkPin::EndOfStream()
{
    if (sink_.callbacks_.onEndOfStream)
        sink_.callbacks_.onEndOfStream();
    if (!IsFlushing() && !IsStopped())
        sink_.NotifyEvent(EC_COMPLETE, S_OK, 0);
    return S_OK;
}

HRESULT SampleSinkPin::BeginFlush()
{
    const HRESULT hr = CBaseInputPin::BeginFlush();
    if (sink_.callbacks_.onBeginFlush)
        sink_.callbacks_.onBeginFlush();
    return hr;
}

HRESULT SampleSinkPin::EndFlush()
{
    if (sink_.callbacks_.onEndFlush)
        sink_.callbacks_.onEndFlush();
    return CBaseInputPin::EndFlush();
}

HRESULT SampleSinkPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    const HRESULT hr = CBaseInputPin::NewSegment(tStart, tStop, dRate);
    if (sink_.callbacks_.onNewSegment)
        sink_.callbacks_.onNewSegment(tStart, tStop, dRate);
    return hr;
}

SampleSink::SampleSink(SinkCallbacks callbacks, const CMediaType* accepted)
    : CBaseFilter(NAME("Sample sink"), nullptr, &lock_, GUID_NULL), callbacks_(std::move(callbacks)),
      acceptsAnyType_(accepted == nullptr), accepted_(accepted != nullptr ? *accepted : CMediaType()),
      pin_(this, &lock_, &constructResult_)
{
}

SampleSink::~SampleSink() = default;

CBasePin* SampleSink::GetPin(int n) { return n == 0 ? &pin_ : nullptr; }

} // namespace DsHost
