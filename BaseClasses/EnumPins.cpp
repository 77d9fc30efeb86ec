#include "EnumPins.h"

#include "BaseFilter.h"
#include "BasePin.h"

CEnumPins::CEnumPins(CBaseFilter* pFilter, const CEnumPins* pEnumPins) : CBaseObject(NAME("Pin Enumerator")), m_pFilter(pFilter)
{
    m_pFilter->AddRef();
    if (pEnumPins == nullptr) {
        m_Version = m_pFilter->GetPinVersion();
        m_PinCount = m_pFilter->GetPinCount();
    } else {
        m_Position = pEnumPins->m_Position;
        m_PinCount = pEnumPins->m_PinCount;
        m_Version = pEnumPins->m_Version;
    }
}

CEnumPins::~CEnumPins() { m_pFilter->Release(); }

HRESULT CEnumPins::QueryInterface(REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IEnumPins || riid == IID_IUnknown)
        return GetInterface(static_cast<IEnumPins*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CEnumPins::AddRef() { return static_cast<ULONG>(m_cRef.fetch_add(1) + 1); }

ULONG CEnumPins::Release()
{
    const LONG remaining = m_cRef.fetch_sub(1) - 1;
    if (remaining == 0)
        delete this;
    return static_cast<ULONG>(remaining);
}

bool CEnumPins::AreWeOutOfSync() const { return m_pFilter->GetPinVersion() != m_Version; }

HRESULT CEnumPins::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched)
{
    CheckPointer(ppPins, E_POINTER);
    if (pcFetched != nullptr)
        *pcFetched = 0;
    else if (cPins > 1)
        return E_INVALIDARG;
    if (AreWeOutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;

    ULONG fetched = 0;
    while (fetched < cPins && m_Position < m_PinCount) {
        CBasePin* pin = m_pFilter->GetPin(m_Position++);
        if (pin == nullptr)
            break; // the filter's pins shrank without a version change
        ppPins[fetched] = pin;
        pin->AddRef();
        ++fetched;
    }
    if (pcFetched != nullptr)
        *pcFetched = fetched;
    return fetched == cPins ? NOERROR : S_FALSE;
}

HRESULT CEnumPins::Skip(ULONG cPins)
{
    if (AreWeOutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    const ULONG left = static_cast<ULONG>(m_PinCount - m_Position);
    if (cPins > left)
        return S_FALSE;
    m_Position += static_cast<int>(cPins);
    return NOERROR;
}

HRESULT CEnumPins::Reset()
{
    m_Version = m_pFilter->GetPinVersion();
    m_PinCount = m_pFilter->GetPinCount();
    m_Position = 0;
    return S_OK;
}

HRESULT CEnumPins::Clone(IEnumPins** ppEnum)
{
    CheckPointer(ppEnum, E_POINTER);
    *ppEnum = nullptr;
    if (AreWeOutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    auto* clone = new CEnumPins(m_pFilter, this);
    return GetInterface(static_cast<IEnumPins*>(clone), reinterpret_cast<void**>(ppEnum));
}
