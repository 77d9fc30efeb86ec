#include "ComBase.h"

CBaseObject::CBaseObject(LPCTSTR pName) : m_pName(pName) { m_cObjects.fetch_add(1); }

CBaseObject::~CBaseObject() { m_cObjects.fetch_sub(1); }

CUnknown::CUnknown(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT*)
    : CBaseObject(pName), m_pUnknown(pUnk != nullptr ? pUnk : &m_nonDelegatingUnknown)
{
}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IUnknown)
        return GetInterface(&m_nonDelegatingUnknown, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() { return static_cast<ULONG>(m_cRef.fetch_add(1) + 1); }

ULONG CUnknown::NonDelegatingRelease()
{
    const LONG remaining = m_cRef.fetch_sub(1) - 1;
    if (remaining == 0) {
        // Guard against re-entrant releases from the destructor.
        m_cRef.store(1);
        delete this;
        return 0;
    }
    return static_cast<ULONG>(remaining);
}

HRESULT GetInterface(LPUNKNOWN pUnk, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    *ppv = pUnk;
    pUnk->AddRef();
    return NOERROR;
}
