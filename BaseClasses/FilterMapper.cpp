// Windows has its own; this replacement is built only elsewhere.
#if !defined(_WIN32)
#include "FilterMapper.h"

#include "FilterCatalog.h"
#include "FilterMoniker.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <new>

namespace {

std::wstring InstanceKey(const CLSID* category, LPCOLESTR instance, REFCLSID filter)
{
    return FilterInstancesKey(category != nullptr ? *category : CLSID_LegacyAmFilterCategory) + L"\\" +
           (instance != nullptr ? std::wstring(instance) : GuidString(filter));
}

LSTATUS SetString(HKEY key, LPCWSTR name, const std::wstring& value)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

bool SameMedium(const REGPINMEDIUM& a, const REGPINMEDIUM& b)
{
    return a.clsMedium == b.clsMedium && a.dw1 == b.dw1 && a.dw2 == b.dw2;
}

// Whether one of the pin's types is among the requested (major, minor) pairs.
bool TypesMatch(bool exact, const RegisteredPin& pin, DWORD count, const GUID* pairs)
{
    if (count == 0)
        return !pin.mediaTypes.empty();
    for (const RegisteredMediaType& type : pin.mediaTypes) {
        for (DWORD i = 0; i < count; ++i) {
            const GUID& major = pairs[2 * i];
            const GUID& minor = pairs[2 * i + 1];
            const bool majorMatches = major == GUID_NULL || type.major == major || (!exact && type.major == GUID_NULL);
            const bool minorMatches = minor == GUID_NULL || type.minor == minor || (!exact && type.minor == GUID_NULL);
            if (majorMatches && minorMatches)
                return true;
        }
    }
    return false;
}

struct PinRequest {
    bool needed;
    bool exact;
    DWORD typeCount;
    const GUID* types;
    const REGPINMEDIUM* medium;
    const CLSID* category;
    bool render;
};

bool PinMatches(const RegisteredPin& pin, bool output, const PinRequest& request)
{
    if (pin.IsOutput() != output)
        return false;
    if (request.render && (pin.flags & REG_PINFLAG_B_RENDERER) == 0)
        return false;
    if (request.medium != nullptr &&
        std::none_of(pin.mediums.begin(), pin.mediums.end(),
                     [&](const REGPINMEDIUM& medium) { return SameMedium(medium, *request.medium); }))
        return false;
    if (request.category != nullptr && (!pin.hasCategory || pin.category != *request.category))
        return false;
    return TypesMatch(request.exact, pin, request.typeCount, request.types);
}

bool FilterMatches(const FilterDescription& filter, const PinRequest& input, const PinRequest& output)
{
    const auto any = [&](bool isOutput, const PinRequest& request) {
        return !request.needed || std::any_of(filter.pins.begin(), filter.pins.end(), [&](const RegisteredPin& pin) {
                   return PinMatches(pin, isOutput, request);
               });
    };
    return any(false, input) && any(true, output);
}

} // namespace

CUnknown* CFilterMapper2::CreateInstance(LPUNKNOWN pUnkOuter, HRESULT* phr)
{
    if (phr != nullptr)
        *phr = S_OK;
    return new CFilterMapper2(pUnkOuter);
}

CFilterMapper2::CFilterMapper2(LPUNKNOWN pUnkOuter) : CUnknown(NAME("Filter mapper"), pUnkOuter) {}

HRESULT CFilterMapper2::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IFilterMapper2)
        return GetInterface(static_cast<IFilterMapper2*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CFilterMapper2::CreateCategory(REFCLSID, DWORD, LPCWSTR) { return E_NOTIMPL; }

HRESULT CFilterMapper2::UnregisterFilter(const CLSID* pclsidCategory, LPCOLESTR szInstance, REFCLSID Filter)
{
    try {
        return HRESULT_FROM_WIN32(
            RegDeleteKeyW(HKEY_CLASSES_ROOT, InstanceKey(pclsidCategory, szInstance, Filter).c_str()));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CFilterMapper2::RegisterFilter(REFCLSID clsidFilter, LPCWSTR Name, IMoniker** ppMoniker,
                                       const CLSID* pclsidCategory, LPCOLESTR szInstance, const REGFILTER2* prf2)
{
    if (ppMoniker != nullptr)
        *ppMoniker = nullptr;
    CheckPointer(prf2, E_POINTER);
    CheckPointer(Name, E_POINTER);
    try {
        FilterDescription description;
        if (!DescribeFilter(*prf2, description))
            return E_INVALIDARG;
        const std::vector<BYTE> data = EncodeFilterData(description);

        const std::wstring path = InstanceKey(pclsidCategory, szInstance, clsidFilter);
        HKEY created = nullptr;
        LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_WRITE, nullptr, &created, nullptr);
        if (status != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(status);
        const UniqueRegistryKey key(created);
        status = SetString(key.get(), L"FriendlyName", Name);
        if (status == ERROR_SUCCESS)
            status = SetString(key.get(), L"CLSID", GuidString(clsidFilter));
        if (status == ERROR_SUCCESS)
            status = RegSetValueExW(key.get(), L"FilterData", 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
        if (status != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(status);

        if (ppMoniker != nullptr) {
            auto* moniker = new CFilterMoniker(pclsidCategory != nullptr ? *pclsidCategory : CLSID_LegacyAmFilterCategory,
                                               szInstance != nullptr ? szInstance : GuidString(clsidFilter), clsidFilter);
            moniker->NonDelegatingQueryInterface(IID_IMoniker, reinterpret_cast<void**>(ppMoniker));
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CFilterMapper2::EnumMatchingFilters(IEnumMoniker** ppEnum, DWORD, BOOL bExactMatch, DWORD dwMerit,
                                            BOOL bInputNeeded, DWORD cInputTypes, const GUID* pInputTypes,
                                            const REGPINMEDIUM* pMedIn, const CLSID* pPinCategoryIn, BOOL bRender,
                                            BOOL bOutputNeeded, DWORD cOutputTypes, const GUID* pOutputTypes,
                                            const REGPINMEDIUM* pMedOut, const CLSID* pPinCategoryOut)
{
    CheckPointer(ppEnum, E_POINTER);
    *ppEnum = nullptr;
    if ((cInputTypes != 0 && pInputTypes == nullptr) || (cOutputTypes != 0 && pOutputTypes == nullptr))
        return E_POINTER;
    try {
        std::vector<RegisteredFilter> filters;
        const HRESULT hr = ReadRegisteredFilters(CLSID_LegacyAmFilterCategory, filters);
        if (FAILED(hr))
            return hr;
        const PinRequest input{bInputNeeded != FALSE, bExactMatch != FALSE, cInputTypes, pInputTypes,
                               pMedIn, pPinCategoryIn, bRender != FALSE};
        const PinRequest output{bOutputNeeded != FALSE, bExactMatch != FALSE, cOutputTypes, pOutputTypes,
                                pMedOut, pPinCategoryOut, false};
        std::vector<const RegisteredFilter*> matching;
        for (const RegisteredFilter& filter : filters) {
            if (filter.hasClsid && filter.hasFilterData && filter.description.merit >= dwMerit &&
                FilterMatches(filter.description, input, output))
                matching.push_back(&filter);
        }
        std::stable_sort(matching.begin(), matching.end(), [](const RegisteredFilter* a, const RegisteredFilter* b) {
            return a->description.merit > b->description.merit;
        });
        auto monikers = std::make_shared<std::vector<ComPtr<IMoniker>>>();
        for (const RegisteredFilter* filter : matching)
            monikers->emplace_back(new CFilterMoniker(CLSID_LegacyAmFilterCategory, filter->instance, filter->clsid));
        auto* enumerator = new CEnumFilterMonikers(std::move(monikers));
        return enumerator->NonDelegatingQueryInterface(IID_IEnumMoniker, reinterpret_cast<void**>(ppEnum));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

#endif
