#pragma once
// IEnumPIDMap over a snapshot of one output pin's PIDs, ascending; later changes of the PID
// map do not affect it.
#include <cstdint>
#include <vector>

#include "ComBase.h"

class PidMapEnumerator final : public CUnknown, public IEnumPIDMap {
public:
    explicit PidMapEnumerator(std::vector<int32_t> pids);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // Up to cRequest records with content MEDIA_ELEMENTARY_STREAM; S_FALSE once at the end.
    HRESULT Next(ULONG cRequest, PID_MAP* pPIDMap, ULONG* pcReceived) override;
    HRESULT Skip(ULONG cRecords) override;
    HRESULT Reset() override;
    // An independent enumerator over the same PIDs, at the beginning.
    HRESULT Clone(IEnumPIDMap** ppIEnumPIDMap) override;

private:
    const std::vector<int32_t> pids_;
    int32_t position_ = 0;
};
