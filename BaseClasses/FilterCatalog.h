#pragma once
// Reading what the filter mapper registered: the "Instance" keys of a filter category with
// each filter's friendly name, class identifier, filter data and, when the class is a
// registered COM server, its module.
#include "FilterData.h"

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

// An open registry key, closed when it goes.
struct RegistryKeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueRegistryKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegistryKeyCloser>;

struct RegisteredFilter {
    std::wstring instance; // the name of the filter's key under "Instance"
    std::wstring friendlyName;
    CLSID clsid = GUID_NULL;
    bool hasClsid = false;
    bool hasFilterData = false; // present and readable
    FilterDescription description;
    std::wstring module; // "InprocServer32" of the class; empty when there is none
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
std::wstring GuidString(REFGUID guid);
// "CLSID\{category}\Instance"
std::wstring FilterInstancesKey(REFCLSID category);

// A REG_SZ value without its terminator. ERROR_FILE_NOT_FOUND when missing, ERROR_BADKEY when
// the value is not a string.
LSTATUS ReadRegistryString(HKEY key, LPCWSTR name, std::wstring& value);
LSTATUS ReadRegistryBytes(HKEY key, LPCWSTR name, std::vector<BYTE>& value);

// The filters of the category in the order of their keys. S_OK (no filters when the category
// has none), or HRESULT_FROM_WIN32 of the registry's failure.
HRESULT ReadRegisteredFilters(REFCLSID category, std::vector<RegisteredFilter>& filters);
