#pragma once
// Enumerates a pin's preferred media types through GetMediaType. Out of sync (until Reset)
// once the pin's media-type version changes.
#include "ComBase.h"

#include <atomic>

class CBasePin;

class CEnumMediaTypes : public IEnumMediaTypes, public CBaseObject {
public:
    CEnumMediaTypes(CBasePin* pPin, const CEnumMediaTypes* pEnumMediaTypes);
    ~CEnumMediaTypes() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // Each type is CoTaskMemAlloc'ed; the caller frees it with DeleteMediaType.
    HRESULT Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
    HRESULT Skip(ULONG cMediaTypes) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumMediaTypes** ppEnum) override;

private:
    bool AreWeOutOfSync() const;

    int m_Position = 0;
    CBasePin* m_pPin; // AddRef'ed (which holds its filter)
    LONG m_Version = 0;
    std::atomic<LONG> m_cRef{0};
};
