#pragma once
// The factory-template table of a COM server and the class factory made from one template.
// The server passes its table explicitly, so the base classes need no global table.
#include "ComBase.h"
#include "Setup.h"

#include <atomic>

using LPFNNewCOMObject = CUnknown* (*)(LPUNKNOWN pUnkOuter, HRESULT* phr);
using LPFNInitRoutine = void (*)(BOOL bLoading, const CLSID* rclsid);

struct CFactoryTemplate {
    const WCHAR* m_Name;
    const CLSID* m_ClsID;
    LPFNNewCOMObject m_lpfnNew;
    LPFNInitRoutine m_lpfnInit;
    const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;

    BOOL IsClassID(REFCLSID rclsid) const { return *m_ClsID == rclsid; }
    CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) const { return m_lpfnNew(pUnk, phr); }
};

class CClassFactory : public IClassFactory, public CBaseObject {
public:
    explicit CClassFactory(const CFactoryTemplate* pTemplate);

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // The object is queried for riid between a temporary AddRef and Release, so a failed
    // query destroys it; an outer unknown may only ask for IID_IUnknown.
    HRESULT CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** ppv) override;
    HRESULT LockServer(BOOL fLock) override;

    // Server lock count, for DllCanUnloadNow.
    static BOOL IsLocked() { return m_cLocked.load() > 0; }

private:
    const CFactoryTemplate* m_pTemplate;
    std::atomic<LONG> m_cRef{0};
    static inline std::atomic<LONG> m_cLocked{0};
};

// DllGetClassObject over a template table: a new class factory for rclsid.
HRESULT GetClassObjectFromTemplates(const CFactoryTemplate* templates, int count, REFCLSID rclsid, REFIID riid,
                                    void** ppv);
// DllCanUnloadNow: S_OK when no object lives and no server lock is held.
HRESULT CanUnloadNow();
// Calls every template's initialisation routine (DllMain attach/detach).
void InitTemplates(const CFactoryTemplate* templates, int count, BOOL bLoading);
