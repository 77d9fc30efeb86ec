#include "ClassFactory.h"

#include <new>

CClassFactory::CClassFactory(const CFactoryTemplate* pTemplate)
    : CBaseObject(NAME("Class factory")), m_pTemplate(pTemplate)
{
}

HRESULT CClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IUnknown || riid == IID_IClassFactory)
        return GetInterface(static_cast<IClassFactory*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CClassFactory::AddRef() { return static_cast<ULONG>(m_cRef.fetch_add(1) + 1); }

ULONG CClassFactory::Release()
{
    const LONG remaining = m_cRef.fetch_sub(1) - 1;
    if (remaining == 0)
        delete this;
    return static_cast<ULONG>(remaining);
}

HRESULT CClassFactory::CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    *ppv = nullptr;
    if (pUnkOuter != nullptr && riid != IID_IUnknown)
        return E_NOINTERFACE;

    // The creation function reports running out of memory by throwing; nothing may cross the
    // COM boundary.
    HRESULT hr = S_OK;
    CUnknown* object = nullptr;
    try {
        object = m_pTemplate->CreateInstance(pUnkOuter, &hr);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
    if (object == nullptr)
        return FAILED(hr) ? hr : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete object;
        return hr;
    }
    object->NonDelegatingAddRef();
    hr = object->NonDelegatingQueryInterface(riid, ppv);
    object->NonDelegatingRelease();
    return hr;
}

HRESULT CClassFactory::LockServer(BOOL fLock)
{
    if (fLock)
        m_cLocked.fetch_add(1);
    else
        m_cLocked.fetch_sub(1);
    return S_OK;
}

HRESULT GetClassObjectFromTemplates(const CFactoryTemplate* templates, int count, REFCLSID rclsid, REFIID riid,
                                    void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory)
        return E_NOINTERFACE;
    for (int i = 0; i < count; ++i) {
        if (templates[i].IsClassID(rclsid)) {
            auto* factory = new (std::nothrow) CClassFactory(&templates[i]);
            if (factory == nullptr)
                return E_OUTOFMEMORY;
            return GetInterface(static_cast<IClassFactory*>(factory), ppv);
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadNow() { return !CClassFactory::IsLocked() && CBaseObject::ObjectsActive() == 0 ? S_OK : S_FALSE; }

void InitTemplates(const CFactoryTemplate* templates, int count, BOOL bLoading)
{
    for (int i = 0; i < count; ++i) {
        if (templates[i].m_lpfnInit != nullptr)
            templates[i].m_lpfnInit(bLoading, templates[i].m_ClsID);
    }
}
