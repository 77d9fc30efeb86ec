// The COM runtime of ole32 for platforms without Windows: apartment bookkeeping, class lookup in
// the registry, in-process servers loaded on demand and unloaded when they say they can go.
// Its state is the process's, as ole32's is: one list of loaded servers, kept until they unload.
// Windows has its own; this replacement is built only elsewhere.
#if !defined(_WIN32)
#include "ComPlatform.h"

#include "ClassFactory.h"
#include "FilterCatalog.h"
#include "FilterMapper.h"
#include "ModuleFunction.h"

#include <cwctype>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

thread_local int threadInitializations = 0;

// Classes this runtime serves itself.
const CFactoryTemplate kBuiltInClasses[] = {
    {L"Filter Mapper2", &CLSID_FilterMapper2, &CFilterMapper2::CreateInstance, nullptr, nullptr},
};
constexpr int kBuiltInClassCount = static_cast<int>(sizeof kBuiltInClasses / sizeof kBuiltInClasses[0]);

bool IsBuiltIn(REFCLSID clsid)
{
    for (const CFactoryTemplate& entry : kBuiltInClasses) {
        if (entry.IsClassID(clsid))
            return true;
    }
    return false;
}

// The module registered as the class's in-process server.
HRESULT FindServer(REFCLSID clsid, std::wstring& path)
{
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidString(clsid) + L"\\InprocServer32").c_str(),
                                   0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) {
        const UniqueRegistryKey server(key);
        status = ReadRegistryString(server.get(), nullptr, path);
    }
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_BADKEY || (status == ERROR_SUCCESS && path.empty()))
        return REGDB_E_CLASSNOTREG;
    return HRESULT_FROM_WIN32(status);
}

class ComRuntime {
public:
    static ComRuntime& Instance()
    {
        static ComRuntime runtime;
        return runtime;
    }

    void AddInitialization()
    {
        std::lock_guard lock(lock_);
        ++initializations_;
    }

    // The process's last CoUninitialize lets go of every server that can go.
    void RemoveInitialization()
    {
        bool last = false;
        {
            std::lock_guard lock(lock_);
            last = initializations_ > 0 && --initializations_ == 0;
        }
        if (last)
            FreeUnused();
    }

    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
    {
        std::wstring path;
        const HRESULT hr = FindServer(clsid, path);
        if (FAILED(hr))
            return hr;
        // Held while the server runs, so that it cannot be unloaded under its caller; recursive
        // because a server may create objects of other servers.
        std::lock_guard lock(lock_);
        const Server* server = Find(path);
        if (server == nullptr) {
            const HRESULT loaded = Load(path, server);
            if (FAILED(loaded))
                return loaded;
        }
        return server->getClassObject(clsid, riid, ppv);
    }

    void FreeUnused()
    {
        std::lock_guard lock(lock_);
        for (auto server = servers_.begin(); server != servers_.end();) {
            if (server->canUnloadNow != nullptr && server->canUnloadNow() == S_OK) {
                FreeLibrary(server->module);
                server = servers_.erase(server);
            } else {
                ++server;
            }
        }
    }

private:
    struct Server {
        std::wstring path;
        HMODULE module;
        LPFNGETCLASSOBJECT getClassObject;
        LPFNCANUNLOADNOW canUnloadNow; // null: the server stays
    };

    const Server* Find(const std::wstring& path) const
    {
        for (const Server& server : servers_) {
            if (server.path == path)
                return &server;
        }
        return nullptr;
    }

    HRESULT Load(const std::wstring& path, const Server*& server)
    {
        const HMODULE module = LoadLibraryW(path.c_str());
        if (module == nullptr)
            return HRESULT_FROM_WIN32(GetLastError());
        const auto getClassObject = GetModuleFunction<LPFNGETCLASSOBJECT>(module, "DllGetClassObject");
        if (getClassObject == nullptr) {
            FreeLibrary(module);
            return CO_E_ERRORINDLL;
        }
        const auto canUnloadNow = GetModuleFunction<LPFNCANUNLOADNOW>(module, "DllCanUnloadNow");
        servers_.push_back({path, module, getClassObject, canUnloadNow});
        server = &servers_.back();
        return S_OK;
    }

    std::recursive_mutex lock_;
    std::vector<Server> servers_;
    int initializations_ = 0;
};

int HexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1;
}

bool ReadHex(LPCOLESTR& text, int digits, uint64_t& value)
{
    value = 0;
    for (int i = 0; i < digits; ++i, ++text) {
        const int digit = HexValue(*text);
        if (digit < 0)
            return false;
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    return true;
}

} // namespace

HRESULT CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(LPVOID, DWORD)
{
    try {
        ComRuntime::Instance().AddInitialization();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return threadInitializations++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize()
{
    if (threadInitializations == 0)
        return;
    --threadInitializations;
    ComRuntime::Instance().RemoveInitialization();
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID, REFIID riid, LPVOID* ppv)
{
    CheckPointer(ppv, E_POINTER);
    *ppv = nullptr;
    if (threadInitializations == 0)
        return CO_E_NOTINITIALIZED;
    if (IsBuiltIn(rclsid))
        return GetClassObjectFromTemplates(kBuiltInClasses, kBuiltInClassCount, rclsid, riid, ppv);
    if ((dwClsContext & CLSCTX_INPROC_SERVER) == 0)
        return REGDB_E_CLASSNOTREG;
    try {
        return ComRuntime::Instance().GetClassObject(rclsid, riid, ppv);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv)
{
    CheckPointer(ppv, E_POINTER);
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    return hr;
}

void CoFreeUnusedLibraries()
{
    try {
        ComRuntime::Instance().FreeUnused();
    } catch (...) {
        // Nothing was unloaded; a later call tries again.
    }
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid)
{
    CheckPointer(pclsid, E_INVALIDARG);
    *pclsid = GUID_NULL;
    if (lpsz == nullptr)
        return CO_E_CLASSSTRING;
    GUID guid{};
    uint64_t value = 0;
    LPCOLESTR text = lpsz;
    const auto expect = [&text](wchar_t c) { return *text++ == c; };
    if (!expect(L'{') || !ReadHex(text, 8, value))
        return CO_E_CLASSSTRING;
    guid.Data1 = static_cast<uint32_t>(value);
    if (!expect(L'-') || !ReadHex(text, 4, value))
        return CO_E_CLASSSTRING;
    guid.Data2 = static_cast<uint16_t>(value);
    if (!expect(L'-') || !ReadHex(text, 4, value))
        return CO_E_CLASSSTRING;
    guid.Data3 = static_cast<uint16_t>(value);
    if (!expect(L'-'))
        return CO_E_CLASSSTRING;
    for (int i = 0; i < 8; ++i) {
        if ((i == 2 && !expect(L'-')) || !ReadHex(text, 2, value))
            return CO_E_CLASSSTRING;
        guid.Data4[i] = static_cast<uint8_t>(value);
    }
    if (!expect(L'}') || *text != 0)
        return CO_E_CLASSSTRING;
    *pclsid = guid;
    return S_OK;
}

#endif
