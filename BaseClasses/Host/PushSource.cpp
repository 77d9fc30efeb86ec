#include "Host/PushSource.h"

namespace DsHost {

CMediaType TransportStreamMediaType()
{
    CMediaType type(&MEDIATYPE_Stream);
    type.SetSubtype(&MEDIASUBTYPE_MPEG2_TRANSPORT);
    type.SetFormatType(&FORMAT_None);
    return type;
}

PushSourcePin::PushSourcePin(PushSource* filter, CCritSec* lock, HRESULT* phr)
    : CBaseOutputPin(NAME("Push source output"), filter, lock, phr, L"Out"), source_(*filter)
{
}

PushSourcePin::~PushSourcePin() { Close(); }

HRESULT PushSourcePin::CheckMediaType(const CMediaType* pmt)
{
    CheckPointer(pmt, E_POINTER);
    return source_.options_.mediaType.MatchesPartial(pmt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT PushSourcePin::GetMediaType(int iPosition, CMediaType* pmt)
{
    CheckPointer(pmt, E_POINTER);
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > 0)
        return VFW_S_NO_MORE_ITEMS;
    return pmt->Set(source_.options_.mediaType);
}

HRESULT PushSourcePin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest)
{
    pRequest->cBuffers = source_.options_.bufferCount;
    pRequest->cbBuffer = source_.options_.bufferSize;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(pRequest, &actual);
    if (FAILED(hr))
        return hr;
    if (actual.cBuffers < pRequest->cBuffers || actual.cbBuffer < pRequest->cbBuffer)
        return E_FAIL;
    return S_OK;
}

HRESULT PushSourcePin::Active()
{
    CAutoLock lock(m_pLock);
    const HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr))
        return hr;
    // A thread that ended on its own (end of input) is joined before a new one starts.
    Close();
    stopRequested_ = false;
    return Create() ? S_OK : E_FAIL;
}

HRESULT PushSourcePin::Inactive()
{
    CAutoLock lock(m_pLock);
    stopRequested_ = true;
    // Decommitting first releases the thread if it waits for a buffer.
    const HRESULT hr = CBaseOutputPin::Inactive();
    Close();
    return hr;
}

DWORD PushSourcePin::ThreadProc()
{
    bool first = true;
    for (uint64_t index = 0; !stopRequested_; ++index) {
        IMediaSample* sample = nullptr;
        if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0)))
            break; // decommitted
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const int64_t count = source_.reader_->Read(data, static_cast<size_t>(sample->GetSize()));
        if (count <= 0) {
            sample->Release();
            if (count < 0)
                source_.NotifyEvent(EC_ERRORABORT, E_FAIL, 0);
            DeliverEndOfStream();
            break;
        }
        sample->SetActualDataLength(static_cast<LONG>(count));
        sample->SetDiscontinuity(first ? TRUE : FALSE);
        sample->SetSyncPoint(TRUE);
        if (source_.options_.decorate)
            source_.options_.decorate(sample, index);
        const HRESULT hr = Deliver(sample);
        sample->Release();
        if (hr != S_OK)
            break; // downstream refuses or stopped: end quietly, as the graph stops anyway
        source_.samples_.fetch_add(1, std::memory_order_relaxed);
        source_.bytes_.fetch_add(static_cast<uint64_t>(count), std::memory_order_relaxed);
        first = false;
    }
    return 0;
}

PushSource::PushSource(std::unique_ptr<ByteReader> reader, Options options)
    : CBaseFilter(NAME("Push source"), nullptr, &lock_, GUID_NULL), reader_(std::move(reader)),
      options_(std::move(options)),
      pin_(this, &lock_, &constructResult_)
{
}

PushSource::~PushSource() = default;

CBasePin* PushSource::GetPin(int n) { return n == 0 ? &pin_ : nullptr; }

HRESULT PushSource::GetState(DWORD dwMSecs, FILTER_STATE* State)
{
    const HRESULT hr = CBaseFilter::GetState(dwMSecs, State);
    return hr == S_OK && *State == State_Paused ? VFW_S_CANT_CUE : hr;
}

} // namespace DsHost
