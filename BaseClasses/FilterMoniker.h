#pragma once
// The monikers the filter mapper hands out for registered filters, named like the system's
// device monikers ("@device:sw:{category}\{instance}"), and their enumerator. A moniker binds
// to its filter through CoCreateInstance; it has no property bag (no VARIANT support here):
// the registry holds what a bag would give.
#include "ComBase.h"
#include "ComPtr.h"

#include <memory>
#include <string>
#include <vector>

class CFilterMoniker final : public CUnknown, public IMoniker {
public:
    CFilterMoniker(REFCLSID category, const std::wstring& instance, REFCLSID filter);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPersist, IPersistStream
    HRESULT GetClassID(CLSID* pClassID) override;
    HRESULT IsDirty() override { return S_FALSE; }
    HRESULT Load(IStream*) override { return E_NOTIMPL; }
    HRESULT Save(IStream*, BOOL) override { return E_NOTIMPL; }
    HRESULT GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }

    // IMoniker
    HRESULT BindToObject(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riidResult, void** ppvResult) override;
    HRESULT BindToStorage(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riid, void** ppvObj) override;
    HRESULT Reduce(IBindCtx* pbc, DWORD dwReduceHowFar, IMoniker** ppmkToLeft, IMoniker** ppmkReduced) override;
    HRESULT ComposeWith(IMoniker*, BOOL, IMoniker**) override { return E_NOTIMPL; }
    HRESULT Enum(BOOL fForward, IEnumMoniker** ppenumMoniker) override;
    HRESULT IsEqual(IMoniker* pmkOtherMoniker) override;
    HRESULT Hash(DWORD* pdwHash) override;
    HRESULT IsRunning(IBindCtx*, IMoniker*, IMoniker*) override { return S_FALSE; }
    HRESULT GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override { return E_NOTIMPL; }
    HRESULT Inverse(IMoniker** ppmk) override;
    HRESULT CommonPrefixWith(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
    HRESULT RelativePathTo(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
    HRESULT GetDisplayName(IBindCtx* pbc, IMoniker* pmkToLeft, LPOLESTR* ppszDisplayName) override;
    HRESULT ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*, IMoniker**) override { return E_NOTIMPL; }
    HRESULT IsSystemMoniker(DWORD* pdwMksys) override;

    const CLSID& FilterClsid() const { return filter_; }

private:
    const std::wstring displayName_;
    const CLSID filter_;
};

// Enumerates a fixed list of monikers; clones share the list.
class CEnumFilterMonikers final : public CUnknown, public IEnumMoniker {
public:
    explicit CEnumFilterMonikers(std::shared_ptr<const std::vector<ComPtr<IMoniker>>> monikers, size_t position = 0);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT Next(ULONG celt, IMoniker** rgelt, ULONG* pceltFetched) override;
    HRESULT Skip(ULONG celt) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumMoniker** ppenum) override;

private:
    const std::shared_ptr<const std::vector<ComPtr<IMoniker>>> monikers_;
    size_t position_;
};
