#include "FilterCatalog.h"

#include <cstring>
#include <cwchar>
#include <memory>

namespace {

UniqueRegistryKey OpenKey(HKEY parent, const std::wstring& name, LSTATUS& status)
{
    HKEY key = nullptr;
    status = RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ, &key);
    return UniqueRegistryKey(status == ERROR_SUCCESS ? key : nullptr);
}

LSTATUS ReadFilter(HKEY instances, const std::wstring& name, RegisteredFilter& filter)
{
    LSTATUS status = ERROR_SUCCESS;
    const UniqueRegistryKey key = OpenKey(instances, name, status);
    if (status != ERROR_SUCCESS)
        return status;
    filter.instance = name;
    status = ReadRegistryString(key.get(), L"FriendlyName", filter.friendlyName);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && status != ERROR_BADKEY)
        return status;
    std::wstring clsidText;
    status = ReadRegistryString(key.get(), L"CLSID", clsidText);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && status != ERROR_BADKEY)
        return status;
    filter.hasClsid = status == ERROR_SUCCESS && SUCCEEDED(CLSIDFromString(clsidText.c_str(), &filter.clsid));
    std::vector<BYTE> data;
    status = ReadRegistryBytes(key.get(), L"FilterData", data);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        return status;
    filter.hasFilterData = status == ERROR_SUCCESS && DecodeFilterData(data.data(), data.size(), filter.description);
    if (filter.hasClsid) {
        const UniqueRegistryKey server = OpenKey(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidString(filter.clsid) + L"\\InprocServer32", status);
        if (status == ERROR_SUCCESS)
            status = ReadRegistryString(server.get(), nullptr, filter.module);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && status != ERROR_BADKEY)
            return status;
    }
    return ERROR_SUCCESS;
}

} // namespace

std::wstring GuidString(REFGUID guid)
{
    WCHAR text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring FilterInstancesKey(REFCLSID category) { return L"CLSID\\" + GuidString(category) + L"\\Instance"; }

LSTATUS ReadRegistryString(HKEY key, LPCWSTR name, std::wstring& value)
{
    std::vector<BYTE> data;
    DWORD type = REG_NONE;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS)
        return status;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ERROR_BADKEY;
    data.resize(size);
    status = RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
    if (status != ERROR_SUCCESS)
        return status;
    value.assign(size / sizeof(WCHAR), L'\0');
    std::memcpy(value.data(), data.data(), value.size() * sizeof(WCHAR));
    value.resize(std::wcslen(value.c_str()));
    return ERROR_SUCCESS;
}

LSTATUS ReadRegistryBytes(HKEY key, LPCWSTR name, std::vector<BYTE>& value)
{
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size);
    if (status != ERROR_SUCCESS)
        return status;
    value.resize(size);
    status = RegQueryValueExW(key, name, nullptr, nullptr, value.data(), &size);
    value.resize(size);
    return status;
}

HRESULT ReadRegisteredFilters(REFCLSID category, std::vector<RegisteredFilter>& filters)
{
    filters.clear();
    LSTATUS status = ERROR_SUCCESS;
    const UniqueRegistryKey instances = OpenKey(HKEY_CLASSES_ROOT, FilterInstancesKey(category), status);
    if (status == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD length = 256;
        status = RegEnumKeyExW(instances.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return S_OK;
        if (status != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(status);
        RegisteredFilter filter;
        status = ReadFilter(instances.get(), name, filter);
        if (status == ERROR_FILE_NOT_FOUND)
            continue; // removed while we looked
        if (status != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(status);
        filters.push_back(std::move(filter));
    }
}
