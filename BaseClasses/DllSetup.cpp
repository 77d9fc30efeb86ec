#include "DllSetup.h"

#include <cwchar>
#include <new>

namespace {

constexpr int kMaxPath = 260;
const HRESULT kNothingRegistered = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

HRESULT SetString(HKEY key, LPCWSTR name, LPCWSTR value)
{
    return HRESULT_FROM_WIN32(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                             static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(WCHAR))));
}

// "CLSID\{clsid}" = name, with "InprocServer32" = module path and ThreadingModel "Both".
HRESULT RegisterComServer(const CFactoryTemplate& entry, LPCWSTR modulePath)
{
    WCHAR clsid[kMaxPath];
    WCHAR keyName[kMaxPath];
    StringFromGUID2(*entry.m_ClsID, clsid, kMaxPath);
    std::swprintf(keyName, kMaxPath, L"CLSID\\%ls", clsid);

    HKEY classKey = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, keyName, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                     nullptr, &classKey, nullptr);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    HRESULT hr = SetString(classKey, nullptr, entry.m_Name);
    HKEY serverKey = nullptr;
    if (SUCCEEDED(hr)) {
        status = RegCreateKeyExW(classKey, L"InprocServer32", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                                 &serverKey, nullptr);
        hr = HRESULT_FROM_WIN32(status);
    }
    if (SUCCEEDED(hr))
        hr = SetString(serverKey, nullptr, modulePath);
    if (SUCCEEDED(hr))
        hr = SetString(serverKey, L"ThreadingModel", L"Both");
    if (serverKey != nullptr)
        RegCloseKey(serverKey);
    RegCloseKey(classKey);
    return hr;
}

// Deletes parent\name with everything below it: the first subkey, again and again, then the key.
LSTATUS DeleteKeyTree(HKEY parent, LPCWSTR name)
{
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(parent, name, 0, KEY_ALL_ACCESS, &key);
    if (status == ERROR_SUCCESS) {
        WCHAR subKey[kMaxPath];
        DWORD length = kMaxPath;
        while (RegEnumKeyExW(key, 0, subKey, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            if (DeleteKeyTree(key, subKey) != ERROR_SUCCESS)
                break;
            length = kMaxPath;
        }
        RegCloseKey(key);
    }
    return RegDeleteKeyW(parent, name);
}

HRESULT UnregisterComServer(const CFactoryTemplate& entry)
{
    WCHAR clsid[kMaxPath];
    WCHAR keyName[kMaxPath];
    StringFromGUID2(*entry.m_ClsID, clsid, kMaxPath);
    std::swprintf(keyName, kMaxPath, L"CLSID\\%ls", clsid);
    const LSTATUS status = DeleteKeyTree(HKEY_CLASSES_ROOT, keyName);
    return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT RegisterWithMapper2(IFilterMapper2& mapper, const AMOVIESETUP_FILTER& setup, BOOL bRegister)
{
    HRESULT hr = mapper.UnregisterFilter(nullptr, nullptr, *setup.clsID);
    if (bRegister) {
        REGFILTER2 filter{};
        filter.dwVersion = 1;
        filter.dwMerit = setup.dwMerit;
        filter.cPins = setup.nPins;
        filter.rgPins = setup.lpPin;
        hr = mapper.RegisterFilter(*setup.clsID, setup.strName, nullptr, nullptr, nullptr, &filter);
    }
    return hr;
}

HRESULT RegisterWithMapper(IFilterMapper& mapper, const AMOVIESETUP_FILTER& setup, BOOL bRegister)
{
    HRESULT hr = mapper.UnregisterFilter(*setup.clsID);
    if (!bRegister || (FAILED(hr) && hr != kNothingRegistered))
        return hr;
    hr = mapper.RegisterFilter(*setup.clsID, setup.strName, setup.dwMerit);
    for (UINT i = 0; SUCCEEDED(hr) && i < setup.nPins; ++i) {
        const AMOVIESETUP_PIN& pin = setup.lpPin[i];
        hr = mapper.RegisterPin(*setup.clsID, pin.strName, pin.bRendered, pin.bOutput, pin.bZero, pin.bMany,
                                pin.clsConnectsToFilter != nullptr ? *pin.clsConnectsToFilter : CLSID_NULL,
                                pin.strConnectsToPin);
        for (UINT j = 0; SUCCEEDED(hr) && j < pin.nMediaTypes; ++j)
            hr = mapper.RegisterPinType(*setup.clsID, pin.strName, *pin.lpMediaType[j].clsMajorType,
                                        *pin.lpMediaType[j].clsMinorType);
    }
    return hr;
}

// The filter mapper's entries of every template with setup data.
HRESULT RegisterFilters(const CFactoryTemplate* templates, int count, BOOL bRegister)
{
    IFilterMapper2* mapper2 = nullptr;
    IFilterMapper* mapper = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(&mapper2));
    if (FAILED(hr))
        hr = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                              reinterpret_cast<void**>(&mapper));
    if (FAILED(hr))
        return hr;
    for (int i = 0; i < count; ++i) {
        const AMOVIESETUP_FILTER* setup = templates[i].m_pAMovieSetup_Filter;
        if (setup == nullptr)
            continue;
        hr = mapper2 != nullptr ? RegisterWithMapper2(*mapper2, *setup, bRegister)
                                : RegisterWithMapper(*mapper, *setup, bRegister);
        if (hr == kNothingRegistered)
            hr = S_OK;
        if (FAILED(hr))
            break;
    }
    if (mapper2 != nullptr)
        mapper2->Release();
    if (mapper != nullptr)
        mapper->Release();
    return hr;
}

HRESULT Register(HMODULE module, const CFactoryTemplate* templates, int count, BOOL bRegister)
{
    char modulePath[kMaxPath];
    if (GetModuleFileNameA(module, modulePath, kMaxPath) == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    WCHAR wideModulePath[kMaxPath];
    MultiByteToWideChar(CP_ACP, 0, modulePath, -1, wideModulePath, kMaxPath);

    HRESULT hr = S_OK;
    for (int i = 0; bRegister && SUCCEEDED(hr) && i < count; ++i)
        hr = RegisterComServer(templates[i], wideModulePath);
    if (FAILED(hr))
        return hr;

    const HRESULT initialized = CoInitialize(nullptr);
    hr = RegisterFilters(templates, count, bRegister);
    CoFreeUnusedLibraries();
    if (SUCCEEDED(initialized))
        CoUninitialize();

    for (int i = 0; !bRegister && SUCCEEDED(hr) && i < count; ++i)
        hr = UnregisterComServer(templates[i]);
    return hr;
}

} // namespace

HRESULT RegisterServerTemplates(HMODULE module, const CFactoryTemplate* templates, int count, BOOL bRegister)
{
    try {
        return Register(module, templates, count, bRegister);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
