#pragma once
// Enumerates a filter's pins through GetPinCount/GetPin. It remembers the filter's pin
// version and answers VFW_E_ENUM_OUT_OF_SYNC once the pins have changed, until Reset.
#include "ComBase.h"

#include <atomic>

class CBaseFilter;

class CEnumPins : public IEnumPins, public CBaseObject {
public:
    // pEnumPins, when given, is the enumerator to clone (position included).
    CEnumPins(CBaseFilter* pFilter, const CEnumPins* pEnumPins);
    ~CEnumPins() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
    HRESULT Skip(ULONG cPins) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumPins** ppEnum) override;

private:
    bool AreWeOutOfSync() const;

    int m_Position = 0;
    int m_PinCount = 0;
    CBaseFilter* m_pFilter; // AddRef'ed
    LONG m_Version = 0;
    std::atomic<LONG> m_cRef{0};
};
