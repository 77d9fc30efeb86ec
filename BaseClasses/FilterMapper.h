#pragma once
// The filter mapper (CLSID_FilterMapper2) for platforms without DirectShow. It keeps filters in
// the registry as Windows does: under "CLSID\{category}\Instance\{instance}" the values
// "FriendlyName" and "CLSID" (strings) and "FilterData" (the merit and pins, FilterData.h).
// The category defaults to the "DirectShow Filters" category, the instance to the filter's CLSID.
#include "ComBase.h"

class CFilterMapper2 final : public CUnknown, public IFilterMapper2 {
public:
    // The creation function of the runtime's class table.
    static CUnknown* CreateInstance(LPUNKNOWN pUnkOuter, HRESULT* phr);

    explicit CFilterMapper2(LPUNKNOWN pUnkOuter);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // Categories come with the system here; none can be added.
    HRESULT CreateCategory(REFCLSID clsidCategory, DWORD dwCategoryMerit, LPCWSTR Description) override;
    // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when the filter is not registered.
    HRESULT UnregisterFilter(const CLSID* pclsidCategory, LPCOLESTR szInstance, REFCLSID Filter) override;
    HRESULT RegisterFilter(REFCLSID clsidFilter, LPCWSTR Name, IMoniker** ppMoniker, const CLSID* pclsidCategory,
                           LPCOLESTR szInstance, const REGFILTER2* prf2) override;
    // The filters of the "DirectShow Filters" category whose merit is at least dwMerit and whose
    // pins match, highest merit first. GUID_NULL in the request matches any type; without
    // bExactMatch, GUID_NULL in a registered type matches any type too.
    HRESULT EnumMatchingFilters(IEnumMoniker** ppEnum, DWORD dwFlags, BOOL bExactMatch, DWORD dwMerit,
                                BOOL bInputNeeded, DWORD cInputTypes, const GUID* pInputTypes,
                                const REGPINMEDIUM* pMedIn, const CLSID* pPinCategoryIn, BOOL bRender,
                                BOOL bOutputNeeded, DWORD cOutputTypes, const GUID* pOutputTypes,
                                const REGPINMEDIUM* pMedOut, const CLSID* pPinCategoryOut) override;
};
