// Windows has its own; this replacement is built only elsewhere.
#if !defined(_WIN32)
#include "FilterMoniker.h"

#include "FilterCatalog.h"

#include <cwchar>
#include <new>

CFilterMoniker::CFilterMoniker(REFCLSID category, const std::wstring& instance, REFCLSID filter)
    : CUnknown(NAME("Filter moniker"), nullptr), displayName_(L"@device:sw:" + GuidString(category) + L"\\" + instance),
      filter_(filter)
{
}

HRESULT CFilterMoniker::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IMoniker || riid == IID_IPersistStream || riid == IID_IPersist)
        return GetInterface(static_cast<IMoniker*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CFilterMoniker::GetClassID(CLSID* pClassID)
{
    CheckPointer(pClassID, E_POINTER);
    *pClassID = CLSID_CDeviceMoniker;
    return S_OK;
}

HRESULT CFilterMoniker::BindToObject(IBindCtx*, IMoniker* pmkToLeft, REFIID riidResult, void** ppvResult)
{
    CheckPointer(ppvResult, E_POINTER);
    *ppvResult = nullptr;
    if (pmkToLeft != nullptr)
        return E_INVALIDARG;
    return CoCreateInstance(filter_, nullptr, CLSCTX_INPROC_SERVER, riidResult, ppvResult);
}

HRESULT CFilterMoniker::BindToStorage(IBindCtx*, IMoniker*, REFIID, void** ppvObj)
{
    CheckPointer(ppvObj, E_POINTER);
    *ppvObj = nullptr;
    return E_NOTIMPL;
}

HRESULT CFilterMoniker::Reduce(IBindCtx*, DWORD, IMoniker** ppmkToLeft, IMoniker** ppmkReduced)
{
    CheckPointer(ppmkReduced, E_POINTER);
    if (ppmkToLeft != nullptr)
        *ppmkToLeft = nullptr;
    GetInterface(static_cast<IMoniker*>(this), reinterpret_cast<void**>(ppmkReduced));
    return MK_S_REDUCED_TO_SELF;
}

HRESULT CFilterMoniker::Enum(BOOL, IEnumMoniker** ppenumMoniker)
{
    CheckPointer(ppenumMoniker, E_POINTER);
    *ppenumMoniker = nullptr; // a simple moniker has no parts
    return S_OK;
}

HRESULT CFilterMoniker::IsEqual(IMoniker* pmkOtherMoniker)
{
    CheckPointer(pmkOtherMoniker, E_INVALIDARG);
    LPOLESTR other = nullptr;
    if (FAILED(pmkOtherMoniker->GetDisplayName(nullptr, nullptr, &other)))
        return S_FALSE;
    const bool equal = displayName_ == other;
    CoTaskMemFree(other);
    return equal ? S_OK : S_FALSE;
}

HRESULT CFilterMoniker::Hash(DWORD* pdwHash)
{
    CheckPointer(pdwHash, E_POINTER);
    DWORD hash = 2166136261u; // FNV-1a over the display name
    for (wchar_t c : displayName_)
        hash = (hash ^ static_cast<DWORD>(c)) * 16777619u;
    *pdwHash = hash;
    return S_OK;
}

HRESULT CFilterMoniker::Inverse(IMoniker** ppmk)
{
    CheckPointer(ppmk, E_POINTER);
    *ppmk = nullptr;
    return MK_E_NOINVERSE;
}

HRESULT CFilterMoniker::GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* ppszDisplayName)
{
    CheckPointer(ppszDisplayName, E_POINTER);
    const size_t bytes = (displayName_.size() + 1) * sizeof(WCHAR);
    *ppszDisplayName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (*ppszDisplayName == nullptr)
        return E_OUTOFMEMORY;
    std::wmemcpy(*ppszDisplayName, displayName_.c_str(), displayName_.size() + 1);
    return S_OK;
}

HRESULT CFilterMoniker::IsSystemMoniker(DWORD* pdwMksys)
{
    CheckPointer(pdwMksys, E_POINTER);
    *pdwMksys = 0; // MKSYS_NONE
    return S_FALSE;
}

CEnumFilterMonikers::CEnumFilterMonikers(std::shared_ptr<const std::vector<ComPtr<IMoniker>>> monikers,
                                         size_t position)
    : CUnknown(NAME("Filter moniker enumerator"), nullptr), monikers_(std::move(monikers)), position_(position)
{
}

HRESULT CEnumFilterMonikers::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IEnumMoniker)
        return GetInterface(static_cast<IEnumMoniker*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CEnumFilterMonikers::Next(ULONG celt, IMoniker** rgelt, ULONG* pceltFetched)
{
    CheckPointer(rgelt, E_POINTER);
    if (celt != 1 && pceltFetched == nullptr)
        return E_INVALIDARG;
    ULONG fetched = 0;
    while (fetched < celt && position_ < monikers_->size()) {
        IMoniker* moniker = (*monikers_)[position_++].Get();
        moniker->AddRef();
        rgelt[fetched++] = moniker;
    }
    if (pceltFetched != nullptr)
        *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
}

HRESULT CEnumFilterMonikers::Skip(ULONG celt)
{
    const size_t left = monikers_->size() - position_;
    position_ += std::min<size_t>(celt, left);
    return celt <= left ? S_OK : S_FALSE;
}

HRESULT CEnumFilterMonikers::Reset()
{
    position_ = 0;
    return S_OK;
}

HRESULT CEnumFilterMonikers::Clone(IEnumMoniker** ppenum)
{
    CheckPointer(ppenum, E_POINTER);
    auto* clone = new (std::nothrow) CEnumFilterMonikers(monikers_, position_);
    if (clone == nullptr) {
        *ppenum = nullptr;
        return E_OUTOFMEMORY;
    }
    return clone->NonDelegatingQueryInterface(IID_IEnumMoniker, reinterpret_cast<void**>(ppenum));
}

#endif
