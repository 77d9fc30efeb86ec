// Windows has its own; this replacement is built only elsewhere.
#if !defined(_WIN32)
#include "Registry/RegistryTree.h"

#include <algorithm>
#include <cwctype>

namespace {

wchar_t Fold(wchar_t c) { return static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c))); }

const RegistryPath& FilterCategoryInstancePath()
{
    static const RegistryPath path = {L"CLSID", L"{083863F1-70DE-11D0-BD40-00A0C911CE86}", L"Instance"};
    return path;
}

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return !CaseInsensitiveLess()(a, b) && !CaseInsensitiveLess()(b, a);
}

} // namespace

bool CaseInsensitiveLess::operator()(const std::wstring& a, const std::wstring& b) const
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](wchar_t x, wchar_t y) { return Fold(x) < Fold(y); });
}

RegistryKey* RegistryKey::Find(const std::wstring& name) const
{
    const auto found = subKeys_.find(name);
    return found == subKeys_.end() ? nullptr : found->second.get();
}

RegistryKey* RegistryKey::Find(const RegistryPath& path)
{
    RegistryKey* key = this;
    for (const std::wstring& name : path) {
        key = key->Find(name);
        if (key == nullptr)
            return nullptr;
    }
    return key;
}

const RegistryKey* RegistryKey::Find(const RegistryPath& path) const
{
    return const_cast<RegistryKey*>(this)->Find(path);
}

RegistryKey& RegistryKey::Open(const std::wstring& name, bool& created)
{
    auto& slot = subKeys_[name];
    created = slot == nullptr;
    if (created)
        slot = std::make_unique<RegistryKey>(name);
    return *slot;
}

bool ParseRegistryPath(const std::wstring& text, RegistryPath& path)
{
    constexpr size_t kMaxKeyName = 255;
    path.clear();
    if (text.empty())
        return true;
    size_t start = 0;
    while (true) {
        const size_t end = std::min(text.find(L'\\', start), text.size());
        const size_t length = end - start;
        if (length == 0 || length > kMaxKeyName || !IsStorableName(text.substr(start, length)))
            return false;
        path.push_back(text.substr(start, length));
        if (end == text.size())
            return true;
        start = end + 1;
    }
}

bool IsStorableName(const std::wstring& name)
{
    return std::none_of(name.begin(), name.end(), [](wchar_t c) { return c < 0x20 || c == 0x7F; });
}

bool IsSystemKey(const RegistryPath& path)
{
    const RegistryPath& system = FilterCategoryInstancePath();
    return !path.empty() && path.size() <= system.size() &&
           std::equal(path.begin(), path.end(), system.begin(), SameName);
}

void AddSystemKeys(RegistryKey& root)
{
    bool created = false;
    RegistryKey* key = &root;
    for (const std::wstring& name : FilterCategoryInstancePath())
        key = &key->Open(name, created);
}

#endif
