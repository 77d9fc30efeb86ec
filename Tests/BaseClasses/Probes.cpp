#include "Probes.h"

namespace BaseClassesTest {

namespace {

HRESULT CheckAgainst(const std::vector<CMediaType>& accepted, const CMediaType* pmt)
{
    CheckPointer(pmt, E_POINTER);
    if (accepted.empty())
        return S_OK;
    for (const auto& type : accepted) {
        if (pmt->MatchesPartial(&type))
            return S_OK;
    }
    return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT Offer(const std::vector<CMediaType>& offered, int iPosition, CMediaType* pmt)
{
    if (iPosition < 0)
        return E_INVALIDARG;
    if (size_t(iPosition) >= offered.size())
        return VFW_S_NO_MORE_ITEMS;
    return pmt->Set(offered[size_t(iPosition)]);
}

} // namespace

ProbeInputPin::ProbeInputPin(ProbeFilter* filter, CCritSec* lock, LPCWSTR name, PinBehaviour behaviour, CallLog& log)
    : CBaseInputPin(NAME("Probe input"), filter, lock, nullptr, name), behaviour_(std::move(behaviour)), log_(log)
{
}

HRESULT ProbeInputPin::CheckMediaType(const CMediaType* pmt) { return CheckAgainst(behaviour_.accepted, pmt); }

HRESULT ProbeInputPin::GetMediaType(int iPosition, CMediaType* pmt) { return Offer(behaviour_.offered, iPosition, pmt); }

HRESULT ProbeInputPin::GetAllocator(IMemAllocator** ppAllocator)
{
    if (behaviour_.allocatorLimit > 0 && m_pAllocator == nullptr) {
        const HRESULT hr = LimitedAllocator::Make(behaviour_.allocatorLimit, &m_pAllocator);
        if (FAILED(hr))
            return hr;
    }
    return CBaseInputPin::GetAllocator(ppAllocator);
}

HRESULT ProbeInputPin::Active()
{
    Record("Active");
    return FAILED(behaviour_.activeResult) ? behaviour_.activeResult : CBaseInputPin::Active();
}

HRESULT ProbeInputPin::Inactive()
{
    Record("Inactive");
    return FAILED(behaviour_.inactiveResult) ? behaviour_.inactiveResult : CBaseInputPin::Inactive();
}

HRESULT ProbeInputPin::Run(REFERENCE_TIME tStart)
{
    Record("Run(" + std::to_string(tStart) + ")");
    return CBaseInputPin::Run(tStart);
}

HRESULT ProbeInputPin::BeginFlush()
{
    Record("BeginFlush");
    return CBaseInputPin::BeginFlush();
}

HRESULT ProbeInputPin::EndFlush()
{
    Record("EndFlush");
    return CBaseInputPin::EndFlush();
}

HRESULT ProbeInputPin::EndOfStream()
{
    Record("EndOfStream");
    return CBaseInputPin::EndOfStream();
}

HRESULT ProbeInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    Record("NewSegment");
    return CBaseInputPin::NewSegment(tStart, tStop, dRate);
}

ProbeOutputPin::ProbeOutputPin(ProbeFilter* filter, CCritSec* lock, LPCWSTR name, PinBehaviour behaviour, CallLog& log)
    : CBaseOutputPin(NAME("Probe output"), filter, lock, nullptr, name), behaviour_(std::move(behaviour)), log_(log)
{
}

HRESULT ProbeOutputPin::CheckMediaType(const CMediaType* pmt) { return CheckAgainst(behaviour_.accepted, pmt); }

HRESULT ProbeOutputPin::GetMediaType(int iPosition, CMediaType* pmt) { return Offer(behaviour_.offered, iPosition, pmt); }

HRESULT ProbeOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest)
{
    pRequest->cBuffers = behaviour_.buffersWanted;
    pRequest->cbBuffer = behaviour_.bufferSize;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(pRequest, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cBuffers >= behaviour_.buffersWanted && actual.cbBuffer >= behaviour_.bufferSize ? S_OK : E_FAIL;
}

HRESULT ProbeOutputPin::InitAllocator(IMemAllocator** ppAlloc)
{
    if (behaviour_.allocatorLimit > 0)
        return LimitedAllocator::Make(behaviour_.allocatorLimit, ppAlloc);
    return CBaseOutputPin::InitAllocator(ppAlloc);
}

HRESULT ProbeOutputPin::Active()
{
    Record("Active");
    return FAILED(behaviour_.activeResult) ? behaviour_.activeResult : CBaseOutputPin::Active();
}

HRESULT ProbeOutputPin::Inactive()
{
    Record("Inactive");
    return FAILED(behaviour_.inactiveResult) ? behaviour_.inactiveResult : CBaseOutputPin::Inactive();
}

HRESULT ProbeOutputPin::Run(REFERENCE_TIME tStart)
{
    Record("Run(" + std::to_string(tStart) + ")");
    return CBaseOutputPin::Run(tStart);
}

} // namespace BaseClassesTest
