// The registry calls over the registry file: each call reads the file, and each call that
// changes something is one locked update of it, as every call on Windows is one transaction.
// Windows has its own; this replacement is built only elsewhere.
#if !defined(_WIN32)
#include "ComPlatform.h"
#include "Registry/RegistryFile.h"

#include <cwchar>
#include <new>

struct RegistryKeyHandle {
    RegistryPath path;
};

namespace {

bool IsRoot(HKEY key) { return key == HKEY_CLASSES_ROOT; }

// The path of hKey followed by lpSubKey.
LSTATUS Resolve(HKEY hKey, LPCWSTR lpSubKey, RegistryPath& path)
{
    if (hKey == nullptr)
        return ERROR_INVALID_HANDLE;
    path = IsRoot(hKey) ? RegistryPath{} : hKey->path;
    RegistryPath relative;
    if (!ParseRegistryPath(lpSubKey != nullptr ? lpSubKey : L"", relative))
        return ERROR_BADKEY;
    path.insert(path.end(), relative.begin(), relative.end());
    return ERROR_SUCCESS;
}

std::wstring ValueName(LPCWSTR name) { return name != nullptr ? name : L""; }

// Registry calls are C functions: nothing may escape them, allocation failure included.
template <typename Call>
LSTATUS Guarded(Call call)
{
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    } catch (...) {
        return ERROR_REGISTRY_IO_FAILED;
    }
}

LSTATUS HandOut(RegistryPath path, PHKEY result)
{
    if (result == nullptr)
        return ERROR_SUCCESS;
    *result = new RegistryKeyHandle{std::move(path)};
    return ERROR_SUCCESS;
}

RegistryFile CurrentFile() { return RegistryFile(RegistryFile::DefaultPath()); }

} // namespace

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                        PHKEY phkResult, LPDWORD lpdwDisposition)
{
    return Guarded([&]() -> LSTATUS {
        if (phkResult != nullptr)
            *phkResult = nullptr;
        RegistryPath path;
        if (const LSTATUS status = Resolve(hKey, lpSubKey, path); status != ERROR_SUCCESS)
            return status;
        const size_t baseLength = IsRoot(hKey) ? 0 : hKey->path.size();
        bool createdLast = false;
        const LSTATUS status = CurrentFile().Update([&](RegistryKey& root, bool& changed) -> LSTATUS {
            RegistryKey* key = root.Find(RegistryPath(path.begin(), path.begin() + static_cast<ptrdiff_t>(baseLength)));
            if (key == nullptr)
                return ERROR_KEY_DELETED;
            for (size_t i = baseLength; i < path.size(); ++i) {
                key = &key->Open(path[i], createdLast);
                changed = changed || createdLast;
            }
            return ERROR_SUCCESS;
        });
        if (status != ERROR_SUCCESS)
            return status;
        if (lpdwDisposition != nullptr)
            *lpdwDisposition = createdLast ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        return HandOut(std::move(path), phkResult);
    });
}

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult)
{
    return Guarded([&]() -> LSTATUS {
        if (phkResult == nullptr)
            return ERROR_INVALID_PARAMETER;
        *phkResult = nullptr;
        RegistryPath path;
        if (const LSTATUS status = Resolve(hKey, lpSubKey, path); status != ERROR_SUCCESS)
            return status;
        const LSTATUS status = CurrentFile().Read([&](const RegistryKey& root) -> LSTATUS {
            return root.Find(path) != nullptr ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        });
        return status != ERROR_SUCCESS ? status : HandOut(std::move(path), phkResult);
    });
}

LSTATUS RegCloseKey(HKEY hKey)
{
    if (hKey == nullptr)
        return ERROR_INVALID_HANDLE;
    if (!IsRoot(hKey))
        delete hKey;
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData)
{
    return Guarded([&]() -> LSTATUS {
        RegistryPath path;
        if (const LSTATUS status = Resolve(hKey, nullptr, path); status != ERROR_SUCCESS)
            return status;
        if ((lpData == nullptr && cbData != 0) || !IsStorableName(ValueName(lpValueName)))
            return ERROR_INVALID_PARAMETER;
        RegistryValue value{dwType, std::vector<BYTE>(lpData, lpData + (lpData != nullptr ? cbData : 0))};
        return CurrentFile().Update([&](RegistryKey& root, bool& changed) -> LSTATUS {
            RegistryKey* key = root.Find(path);
            if (key == nullptr)
                return ERROR_KEY_DELETED;
            RegistryValue& slot = key->GetValues()[ValueName(lpValueName)];
            changed = !(slot == value);
            slot = std::move(value);
            return ERROR_SUCCESS;
        });
    });
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    return Guarded([&]() -> LSTATUS {
        RegistryPath path;
        if (const LSTATUS status = Resolve(hKey, nullptr, path); status != ERROR_SUCCESS)
            return status;
        if (lpData != nullptr && lpcbData == nullptr)
            return ERROR_INVALID_PARAMETER;
        return CurrentFile().Read([&](const RegistryKey& root) -> LSTATUS {
            const RegistryKey* key = root.Find(path);
            if (key == nullptr)
                return ERROR_KEY_DELETED;
            const auto found = key->GetValues().find(ValueName(lpValueName));
            if (found == key->GetValues().end())
                return ERROR_FILE_NOT_FOUND;
            const RegistryValue& value = found->second;
            if (lpType != nullptr)
                *lpType = value.type;
            if (lpcbData == nullptr)
                return ERROR_SUCCESS;
            const DWORD available = *lpcbData;
            *lpcbData = static_cast<DWORD>(value.data.size());
            if (lpData == nullptr)
                return ERROR_SUCCESS;
            if (available < value.data.size())
                return ERROR_MORE_DATA;
            std::copy(value.data.begin(), value.data.end(), lpData);
            return ERROR_SUCCESS;
        });
    });
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName)
{
    return Guarded([&]() -> LSTATUS {
        RegistryPath path;
        if (const LSTATUS status = Resolve(hKey, nullptr, path); status != ERROR_SUCCESS)
            return status;
        return CurrentFile().Update([&](RegistryKey& root, bool& changed) -> LSTATUS {
            RegistryKey* key = root.Find(path);
            if (key == nullptr)
                return ERROR_KEY_DELETED;
            changed = key->GetValues().erase(ValueName(lpValueName)) != 0;
            return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        });
    });
}

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR, LPDWORD, void*)
{
    return Guarded([&]() -> LSTATUS {
        RegistryPath path;
        if (const LSTATUS status = Resolve(hKey, nullptr, path); status != ERROR_SUCCESS)
            return status;
        if (lpName == nullptr || lpcchName == nullptr)
            return ERROR_INVALID_PARAMETER;
        return CurrentFile().Read([&](const RegistryKey& root) -> LSTATUS {
            const RegistryKey* key = root.Find(path);
            if (key == nullptr)
                return ERROR_KEY_DELETED;
            if (dwIndex >= key->GetSubKeys().size())
                return ERROR_NO_MORE_ITEMS;
            const std::wstring& name = std::next(key->GetSubKeys().begin(), dwIndex)->second->Name();
            if (*lpcchName < name.size() + 1)
                return ERROR_MORE_DATA;
            std::wmemcpy(lpName, name.c_str(), name.size() + 1);
            *lpcchName = static_cast<DWORD>(name.size());
            return ERROR_SUCCESS;
        });
    });
}

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey)
{
    return Guarded([&]() -> LSTATUS {
        RegistryPath path;
        if (const LSTATUS status = Resolve(hKey, lpSubKey, path); status != ERROR_SUCCESS)
            return status;
        if (path.empty() || IsSystemKey(path))
            return ERROR_ACCESS_DENIED;
        return CurrentFile().Update([&](RegistryKey& root, bool& changed) -> LSTATUS {
            RegistryKey* parent = root.Find(RegistryPath(path.begin(), path.end() - 1));
            RegistryKey* key = parent != nullptr ? parent->Find(path.back()) : nullptr;
            if (key == nullptr)
                return ERROR_FILE_NOT_FOUND;
            if (!key->GetSubKeys().empty())
                return ERROR_ACCESS_DENIED;
            changed = parent->Remove(path.back());
            return ERROR_SUCCESS;
        });
    });
}

#endif
