#include "PidMapEnumerator.h"

#include <algorithm>
#include <new>

PidMapEnumerator::PidMapEnumerator(std::vector<int32_t> pids)
    : CUnknown(NAME("PID map enumerator"), nullptr), pids_(std::move(pids))
{
}

HRESULT PidMapEnumerator::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IEnumPIDMap)
        return GetInterface(static_cast<IEnumPIDMap*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT PidMapEnumerator::Next(ULONG cRequest, PID_MAP* pPIDMap, ULONG* pcReceived)
{
    if (pPIDMap == nullptr || pcReceived == nullptr)
        return E_INVALIDARG;
    *pcReceived = 0;
    const auto count = static_cast<int32_t>(pids_.size());
    if (position_ >= count)
        return S_FALSE;
    const auto requested = static_cast<int32_t>(cRequest);
    ULONG copied = 0;
    while (static_cast<int32_t>(copied) < requested && position_ < count) {
        pPIDMap[copied].ulPID = static_cast<ULONG>(pids_[static_cast<size_t>(position_++)]);
        pPIDMap[copied].MediaSampleContent = MEDIA_ELEMENTARY_STREAM;
        ++copied;
    }
    *pcReceived = copied;
    return S_OK;
}

HRESULT PidMapEnumerator::Skip(ULONG cRecords)
{
    const auto count = static_cast<uint64_t>(pids_.size());
    if (static_cast<uint64_t>(position_) >= count)
        return S_FALSE;
    position_ = static_cast<int32_t>(std::min<uint64_t>(static_cast<uint64_t>(position_) + cRecords, count));
    return S_OK;
}

HRESULT PidMapEnumerator::Reset()
{
    position_ = 0;
    return S_OK;
}

HRESULT PidMapEnumerator::Clone(IEnumPIDMap** ppIEnumPIDMap)
{
    if (ppIEnumPIDMap == nullptr)
        return E_INVALIDARG;
    PidMapEnumerator* clone = nullptr;
    try {
        clone = new PidMapEnumerator(pids_);
    } catch (const std::bad_alloc&) {
        *ppIEnumPIDMap = nullptr;
        return E_OUTOFMEMORY;
    }
    return GetInterface(static_cast<IEnumPIDMap*>(clone), reinterpret_cast<void**>(ppIEnumPIDMap));
}
