// The filter's module as a COM in-process server: its exports, its class factory, when it may
// be unloaded, its registration, and creation by CLSID through the COM runtime.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "ComPtr.h"
#include "FilterCatalog.h"
#include "ModuleFunction.h"
#include "RunTool.h"
#include "SkDsDemuxIds.h"
#include "TestRegistry.h"

namespace {

const CLSID kOtherClsid = {0x379040D2, 0x0044, 0x4192, {0x93, 0x3D, 0x87, 0xFE, 0x5C, 0x9B, 0xCB, 0xC4}};
const std::wstring kModulePath = std::filesystem::path(SKTS_MODULE).wstring();

using GetClassObjectFunction = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using PlainFunction = HRESULT (*)();

bool ModuleLoaded() { return GetModuleHandleW(kModulePath.c_str()) != nullptr; }

// The module loaded as regsvr32 loads it, with its entry points.
class LoadedModule {
public:
    LoadedModule() : module_(LoadLibraryW(kModulePath.c_str()))
    {
        EXPECT_NE(module_, nullptr);
        getClassObject = GetModuleFunction<GetClassObjectFunction>(module_, "DllGetClassObject");
        canUnloadNow = GetModuleFunction<PlainFunction>(module_, "DllCanUnloadNow");
        registerServer = GetModuleFunction<PlainFunction>(module_, "DllRegisterServer");
        unregisterServer = GetModuleFunction<PlainFunction>(module_, "DllUnregisterServer");
    }
    ~LoadedModule() { FreeLibrary(module_); }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    HMODULE Handle() const { return module_; }
    ComPtr<IClassFactory> Factory()
    {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(getClassObject(CLSID_SkDsDemux, IID_IClassFactory, factory.PutVoid()), S_OK);
        return factory;
    }

    GetClassObjectFunction getClassObject = nullptr;
    PlainFunction canUnloadNow = nullptr;
    PlainFunction registerServer = nullptr;
    PlainFunction unregisterServer = nullptr;

private:
    HMODULE module_;
};

TEST(FilterModule, ExportsTheFiveEntryPointsAndNothingElse)
{
    const auto result = SktsTest::RunCommand("nm -D --defined-only " + std::string(SKTS_MODULE));
    if (result.exitCode == 127)
        GTEST_SKIP() << "nm is not installed";
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::set<std::string> exported;
    std::istringstream lines(result.out);
    for (std::string address, kind, name; lines >> address >> kind >> name;)
        exported.insert(name);
    EXPECT_EQ(exported, (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllMain", "DllRegisterServer",
                                                "DllUnregisterServer"}));

    LoadedModule module;
    EXPECT_NE(module.getClassObject, nullptr);
    EXPECT_NE(GetProcAddress(module.Handle(), "DllMain"), nullptr);
    EXPECT_EQ(GetProcAddress(module.Handle(), "_ZN9SkDsDemux14CreateInstanceEP8IUnknownPi"), nullptr);
    EXPECT_EQ(GetProcAddress(module.Handle(), "CoCreateInstance"), nullptr) << "the module's COM runtime is its own";
}

TEST(FilterModule, HandsOutClassFactoriesForTheFilterOnly)
{
    LoadedModule module;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(module.getClassObject(kOtherClsid, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(module.getClassObject(CLSID_SkDsDemux, IID_IPin, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(module.getClassObject(CLSID_SkDsDemux, IID_IClassFactory, nullptr), E_POINTER);

    ComPtr<IUnknown> unknown;
    ASSERT_EQ(module.getClassObject(CLSID_SkDsDemux, IID_IUnknown, unknown.PutVoid()), S_OK);
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(unknown->QueryInterface(IID_IClassFactory, factory.PutVoid()), S_OK);
    EXPECT_EQ(unknown->QueryInterface(IID_IPin, &object), E_NOINTERFACE);
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, filter.PutVoid()), S_OK);
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_SkDsDemux);
}

// Anything alive that belongs to the module keeps it loaded: class factories, filters, and the
// pins, enumerators and clock that count on their filter; so do server locks.
TEST(FilterModule, MayBeUnloadedOnlyWhenNothingOfItLives)
{
    LoadedModule module;
    ASSERT_EQ(module.canUnloadNow(), S_OK);
    ComPtr<IClassFactory> factory = module.Factory();
    EXPECT_EQ(module.canUnloadNow(), S_FALSE) << "a factory";
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, filter.PutVoid()), S_OK);
    factory.Reset();
    EXPECT_EQ(module.canUnloadNow(), S_FALSE) << "a filter";

    ComPtr<IPin> pin;
    ASSERT_EQ(filter->FindPin(L"Ts", pin.Put()), S_OK);
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(filter->EnumPins(pins.Put()), S_OK);
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(filter->QueryInterface(IID_IReferenceClock, clock.PutVoid()), S_OK);
    filter.Reset();
    EXPECT_EQ(module.canUnloadNow(), S_FALSE) << "a pin, an enumerator and the clock";
    pin.Reset();
    EXPECT_EQ(module.canUnloadNow(), S_FALSE) << "an enumerator and the clock";
    pins.Reset();
    EXPECT_EQ(module.canUnloadNow(), S_FALSE) << "the clock";
    clock.Reset();
    EXPECT_EQ(module.canUnloadNow(), S_OK);

    factory = module.Factory();
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(module.canUnloadNow(), S_FALSE) << "a server lock";
    factory = module.Factory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.Reset();
    EXPECT_EQ(module.canUnloadNow(), S_OK);
}

// An outer object that aggregates the filter: the filter's interfaces count on it.
class CountingOuter final : public IUnknown {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner != nullptr ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++references); }
    ULONG Release() override { return static_cast<ULONG>(--references); }

    LONG references = 1;
    IUnknown* inner = nullptr;
};

TEST(FilterModule, CreatesAggregatedFiltersOnlyForTheirIUnknown)
{
    LoadedModule module;
    ComPtr<IClassFactory> factory = module.Factory();
    CountingOuter outer;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IBaseFilter, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPin, &object), E_NOINTERFACE) << "refused and destroyed";
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, nullptr), E_POINTER);

    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    EXPECT_EQ(outer.references, 1) << "the inner unknown counts on its own";
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
    EXPECT_EQ(outer.references, 2);
    IUnknown* identity = nullptr;
    ASSERT_EQ(filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, &outer);
    identity->Release();
    IReferenceClock* clock = nullptr;
    ASSERT_EQ(filter->QueryInterface(IID_IReferenceClock, reinterpret_cast<void**>(&clock)), S_OK);
    EXPECT_EQ(outer.references, 3);
    clock->Release();
    filter->Release();
    EXPECT_EQ(outer.references, 1);
    outer.inner->Release();
    factory.Reset();
    EXPECT_EQ(module.canUnloadNow(), S_OK);
}

std::wstring StringValue(const std::wstring& key, LPCWSTR name)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return L"<no key>";
    const UniqueRegistryKey held(handle);
    std::wstring value;
    return ReadRegistryString(held.get(), name, value) == ERROR_SUCCESS ? value : L"<no value>";
}

TEST(FilterModule, RegistersAsServerAndFilterAndUnregistersWithoutTrace)
{
    SktsTest::TestRegistry registry("module");
    HKEY other = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{00000000-1111-2222-3333-444444444444}\\InprocServer32", 0,
                              nullptr, 0, KEY_WRITE, nullptr, &other, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(other);
    const std::string before = SktsTest::Slurp(registry.File());

    LoadedModule module;
    ASSERT_EQ(module.registerServer(), S_OK);
    const std::wstring classKey = L"CLSID\\" + GuidString(CLSID_SkDsDemux);
    EXPECT_EQ(StringValue(classKey, nullptr), kSkDsDemuxFriendlyName);
    EXPECT_EQ(StringValue(classKey + L"\\InprocServer32", nullptr), kModulePath);
    EXPECT_EQ(StringValue(classKey + L"\\InprocServer32", L"ThreadingModel"), L"Both");

    std::vector<RegisteredFilter> filters;
    ASSERT_EQ(ReadRegisteredFilters(CLSID_LegacyAmFilterCategory, filters), S_OK);
    ASSERT_EQ(filters.size(), 1u);
    const RegisteredFilter& filter = filters[0];
    EXPECT_EQ(filter.friendlyName, kSkDsDemuxFriendlyName);
    EXPECT_EQ(filter.clsid, CLSID_SkDsDemux);
    EXPECT_EQ(filter.module, kModulePath);
    ASSERT_TRUE(filter.hasFilterData);
    EXPECT_EQ(filter.description.merit, static_cast<DWORD>(MERIT_DO_NOT_USE));
    ASSERT_EQ(filter.description.pins.size(), 1u);
    const RegisteredPin& pin = filter.description.pins[0];
    EXPECT_EQ(pin.flags, REG_PINFLAG_B_OUTPUT) << "not rendered, no zero or many instances";
    ASSERT_EQ(pin.mediaTypes.size(), 1u);
    EXPECT_EQ(pin.mediaTypes[0].major, MEDIATYPE_Stream);
    EXPECT_EQ(pin.mediaTypes[0].minor, MEDIASUBTYPE_MPEG2_TRANSPORT);
    EXPECT_FALSE(pin.hasCategory);
    EXPECT_EQ(module.registerServer(), S_OK) << "registering again";

    EXPECT_EQ(module.unregisterServer(), S_OK);
    EXPECT_EQ(SktsTest::Slurp(registry.File()), before);
    EXPECT_EQ(module.unregisterServer(), S_OK) << "unregistering twice";
    EXPECT_EQ(SktsTest::Slurp(registry.File()), before);
    EXPECT_EQ(module.canUnloadNow(), S_OK) << "registration leaves nothing alive";
}

// An application creates the filter by CLSID alone; the runtime loads the module for it and lets
// it go once nothing of it lives.
TEST(FilterModule, IsLoadedForCoCreateInstanceAndUnloadedWhenUnused)
{
    SktsTest::TestRegistry registry("create");
    {
        LoadedModule module;
        ASSERT_EQ(module.registerServer(), S_OK);
    }
    ASSERT_FALSE(ModuleLoaded()) << "FreeLibrary unloads the module";

    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CoCreateInstance(CLSID_SkDsDemux, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid()), S_OK);
    EXPECT_TRUE(ModuleLoaded());
    ComPtr<IMpeg2Demultiplexer> demultiplexer;
    EXPECT_EQ(filter->QueryInterface(IID_IMpeg2Demultiplexer, demultiplexer.PutVoid()), S_OK);
    ComPtr<ISkDsDemux> custom;
    ASSERT_EQ(filter->QueryInterface(IID_ISkDsDemux, custom.PutVoid()), S_OK);
    int32_t version[4] = {};
    EXPECT_EQ(custom->GetVersion(&version[0], &version[1], &version[2], &version[3]), S_OK);
    EXPECT_EQ(version[3], 18);
    ComPtr<ISkDsAvTimeStamp> stamps;
    EXPECT_EQ(filter->QueryInterface(IID_ISkDsAvTimeStamp, stamps.PutVoid()), S_OK);

    // The module's clock signals an event this program made: handles cross module boundaries.
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(filter->QueryInterface(IID_IReferenceClock, clock.PutVoid()), S_OK);
    const HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    DWORD_PTR cookie = 0;
    ASSERT_EQ(clock->AdviseTime(std::max<REFERENCE_TIME>(now, 0), 10'000, HEVENT(event), &cookie), S_OK);
    EXPECT_EQ(WaitForSingleObject(event, 10'000), WAIT_OBJECT_0);
    CloseHandle(event);

    CoFreeUnusedLibraries();
    EXPECT_TRUE(ModuleLoaded()) << "the filter still lives";
    filter.Reset();
    demultiplexer.Reset();
    custom.Reset();
    stamps.Reset();
    clock.Reset();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(ModuleLoaded());
    CoUninitialize();

    LoadedModule module;
    EXPECT_EQ(module.unregisterServer(), S_OK);
    EXPECT_FALSE(std::filesystem::exists(registry.File()));
}

} // namespace
