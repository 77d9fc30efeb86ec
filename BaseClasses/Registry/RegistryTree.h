#pragma once
// The registry in memory: keys with named values and subkeys under HKEY_CLASSES_ROOT. Names
// compare without regard to case and keep the case they were created with, as on Windows.
#include "ComPlatform.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

struct CaseInsensitiveLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    bool operator==(const RegistryValue& other) const = default;
};

using RegistryPath = std::vector<std::wstring>;

class RegistryKey {
public:
    // Values by name; the empty name is the key's default value.
    using Values = std::map<std::wstring, RegistryValue, CaseInsensitiveLess>;
    using SubKeys = std::map<std::wstring, std::unique_ptr<RegistryKey>, CaseInsensitiveLess>;

    explicit RegistryKey(std::wstring name) : name_(std::move(name)) {}

    const std::wstring& Name() const { return name_; }
    Values& GetValues() { return values_; }
    const Values& GetValues() const { return values_; }
    const SubKeys& GetSubKeys() const { return subKeys_; }

    RegistryKey* Find(const std::wstring& name) const;
    RegistryKey* Find(const RegistryPath& path);
    const RegistryKey* Find(const RegistryPath& path) const;
    // The subkey, created when missing; created tells which.
    RegistryKey& Open(const std::wstring& name, bool& created);
    bool Remove(const std::wstring& name) { return subKeys_.erase(name) != 0; }

private:
    std::wstring name_;
    Values values_;
    SubKeys subKeys_;
};

// Splits "A\B\C" into its names; false for an empty name (a leading, trailing or doubled
// backslash), a name longer than 255 characters or one that cannot be stored. An empty text is
// the empty path.
bool ParseRegistryPath(const std::wstring& text, RegistryPath& path);

// The file keeps one name per line: key and value names hold no control characters.
bool IsStorableName(const std::wstring& name);

// Keys every Windows system has and no registration removes: HKEY_CLASSES_ROOT\CLSID and the
// DirectShow filter category with its "Instance" key. They always exist and are not stored
// while they are empty.
bool IsSystemKey(const RegistryPath& path);
void AddSystemKeys(RegistryKey& root);
