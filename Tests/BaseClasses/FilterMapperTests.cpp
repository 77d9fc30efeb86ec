// Filter data, the filter mapper and registration from a template table, through the COM
// runtime as a server's registration uses them.
#include "DllSetup.h"
#include "FilterCatalog.h"
#include "Probes.h"
#include "RunTool.h"
#include "TestRegistry.h"

#include <fstream>

namespace BaseClassesTest {
namespace {

const CLSID kProbeClsid = {0xA1B2C3D4, 0x1111, 0x2222, {3, 3, 4, 4, 5, 5, 6, 8}};
const CLSID kRivalClsid = {0xA1B2C3D4, 0x1111, 0x2222, {3, 3, 4, 4, 5, 5, 6, 9}};
const CLSID kPinCategory = {0x11112222, 0x3333, 0x4444, {5, 5, 6, 6, 7, 7, 8, 8}};

const REGPINTYPES kTransportStream[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG2_TRANSPORT}};
const REGFILTERPINS kOutputPin[] = {{nullptr, FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kTransportStream}};

REGFILTER2 VersionOne(DWORD merit, const REGFILTERPINS* pins, ULONG count)
{
    REGFILTER2 filter{};
    filter.dwVersion = 1;
    filter.dwMerit = merit;
    filter.cPins = count;
    filter.rgPins = pins;
    return filter;
}

TEST(FilterData, OnePinRecordIsLaidOutAsTheFilterMapperStoresIt)
{
    const REGFILTER2 filter = VersionOne(MERIT_DO_NOT_USE, kOutputPin, 1);
    FilterDescription description;
    ASSERT_TRUE(DescribeFilter(filter, description));
    const std::vector<BYTE> data = EncodeFilterData(description);
    // Header, one pin, one type, then the two GUIDs.
    ASSERT_EQ(data.size(), 16u + 24u + 16u + 2 * 16u);
    const auto dword = [&](size_t at) { return DWORD(data[at] | data[at + 1] << 8 | data[at + 2] << 16 | data[at + 3] << 24); };
    EXPECT_EQ(dword(0), 2u);                // version
    EXPECT_EQ(dword(4), MERIT_DO_NOT_USE);  // merit
    EXPECT_EQ(dword(8), 1u);                // pins
    EXPECT_EQ(std::string(data.begin() + 16, data.begin() + 20), "0pi3");
    EXPECT_EQ(dword(20), REG_PINFLAG_B_OUTPUT);
    EXPECT_EQ(dword(24), 1u); // instances
    EXPECT_EQ(dword(28), 1u); // media types
    EXPECT_EQ(std::string(data.begin() + 40, data.begin() + 44), "0ty3");
    EXPECT_EQ(dword(48), 56u); // major type's offset
    EXPECT_EQ(dword(52), 72u);
    EXPECT_EQ(dword(56), MEDIATYPE_Stream.Data1);
    EXPECT_EQ(dword(72), MEDIASUBTYPE_MPEG2_TRANSPORT.Data1);

    FilterDescription decoded;
    ASSERT_TRUE(DecodeFilterData(data.data(), data.size(), decoded));
    EXPECT_EQ(decoded.merit, MERIT_DO_NOT_USE);
    ASSERT_EQ(decoded.pins.size(), 1u);
    EXPECT_TRUE(decoded.pins[0].IsOutput());
    ASSERT_EQ(decoded.pins[0].mediaTypes.size(), 1u);
    EXPECT_EQ(decoded.pins[0].mediaTypes[0].major, MEDIATYPE_Stream);
    EXPECT_EQ(decoded.pins[0].mediaTypes[0].minor, MEDIASUBTYPE_MPEG2_TRANSPORT);
}

TEST(FilterData, VersionTwoPinsKeepMediumsAndCategoriesAndShareGuids)
{
    const REGPINTYPES types[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_H264}, {&MEDIATYPE_Video, nullptr}};
    const REGPINMEDIUM mediums[] = {{kPinCategory, 7, 9}};
    const REGFILTERPINS2 pins[] = {
        {REG_PINFLAG_B_RENDERER | REG_PINFLAG_B_MANY, 3, 2, types, 1, mediums, &kPinCategory},
        {REG_PINFLAG_B_OUTPUT, 1, 1, types, 0, nullptr, nullptr},
    };
    REGFILTER2 filter{};
    filter.dwVersion = 2;
    filter.dwMerit = MERIT_NORMAL;
    filter.cPins2 = 2;
    filter.rgPins2 = pins;
    FilterDescription description;
    ASSERT_TRUE(DescribeFilter(filter, description));
    const std::vector<BYTE> data = EncodeFilterData(description);
    // Video, H264, GUID_NULL and the category are stored once each, the medium once.
    EXPECT_EQ(data.size(), 16u + (24 + 4 + 2 * 16 + 4) + (24 + 16) + 4 * 16u + 24u);
    FilterDescription decoded;
    ASSERT_TRUE(DecodeFilterData(data.data(), data.size(), decoded));
    ASSERT_EQ(decoded.pins.size(), 2u);
    const RegisteredPin& first = decoded.pins[0];
    EXPECT_EQ(first.flags, REG_PINFLAG_B_RENDERER | REG_PINFLAG_B_MANY);
    EXPECT_EQ(first.instances, 3u);
    ASSERT_EQ(first.mediaTypes.size(), 2u);
    EXPECT_EQ(first.mediaTypes[1].minor, GUID_NULL);
    ASSERT_EQ(first.mediums.size(), 1u);
    EXPECT_EQ(first.mediums[0].dw2, 9u);
    EXPECT_TRUE(first.hasCategory);
    EXPECT_EQ(first.category, kPinCategory);
    EXPECT_FALSE(decoded.pins[1].hasCategory);

    filter.dwVersion = 3;
    EXPECT_FALSE(DescribeFilter(filter, description));
}

// Filter data comes from a file anyone can edit: whatever the bytes, decoding stays inside them.
TEST(FilterData, DamagedDataIsRejectedWithoutReadingPastIt)
{
    const REGFILTER2 filter = VersionOne(MERIT_DO_NOT_USE, kOutputPin, 1);
    FilterDescription description;
    ASSERT_TRUE(DescribeFilter(filter, description));
    const std::vector<BYTE> data = EncodeFilterData(description);
    for (size_t size = 0; size < data.size(); ++size) {
        const std::vector<BYTE> cut(data.begin(), data.begin() + static_cast<ptrdiff_t>(size));
        FilterDescription decoded;
        EXPECT_FALSE(DecodeFilterData(cut.data(), cut.size(), decoded)) << size;
    }
    const auto corrupted = [&](size_t at, BYTE value) {
        std::vector<BYTE> bad = data;
        bad[at] = value;
        FilterDescription decoded;
        return DecodeFilterData(bad.data(), bad.size(), decoded);
    };
    EXPECT_FALSE(corrupted(0, 1));    // version
    EXPECT_FALSE(corrupted(8, 0xFF)); // pin count beyond the data
    EXPECT_FALSE(corrupted(17, 'x')); // pin signature
    EXPECT_FALSE(corrupted(31, 0x7F)); // type count
    EXPECT_FALSE(corrupted(42, 'x')); // type signature
    EXPECT_FALSE(corrupted(48, 80));  // a GUID's offset past the end
    EXPECT_FALSE(corrupted(51, 0x80));
    EXPECT_TRUE(corrupted(16, '7')) << "the pin's digit is a counter, not checked";
    FilterDescription decoded;
    EXPECT_FALSE(DecodeFilterData(nullptr, 0, decoded));
}

TEST(ComRuntime, ClassIdentifiersReadBackFromTheirText)
{
    CLSID parsed{};
    ASSERT_EQ(CLSIDFromString(GuidString(MEDIASUBTYPE_MPEG2_TRANSPORT).c_str(), &parsed), S_OK);
    EXPECT_EQ(parsed, MEDIASUBTYPE_MPEG2_TRANSPORT);
    ASSERT_EQ(CLSIDFromString(L"{e06d8023-db46-11cf-b4d1-00805f6cbbea}", &parsed), S_OK);
    EXPECT_EQ(parsed, MEDIASUBTYPE_MPEG2_TRANSPORT);
    for (LPCWSTR bad : {L"", L"{E06D8023-DB46-11CF-B4D1-00805F6CBBEA", L"E06D8023-DB46-11CF-B4D1-00805F6CBBEA}",
                        L"{E06D8023-DB46-11CF-B4D100805F6CBBEA}", L"{E06D8023-DB46-11CF-B4D1-00805F6CBBEA}x",
                        L"{G06D8023-DB46-11CF-B4D1-00805F6CBBEA}"}) {
        EXPECT_EQ(CLSIDFromString(bad, &parsed), CO_E_CLASSSTRING) << bad;
        EXPECT_EQ(parsed, GUID_NULL);
    }
}

class FilterMapper : public LiveObjects {
protected:
    void SetUp() override
    {
        LiveObjects::SetUp();
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                   mapper_.PutVoid()),
                  S_OK);
    }
    void TearDown() override
    {
        mapper_.Reset();
        CoUninitialize();
        LiveObjects::TearDown();
    }

    // The CLSIDs of the filters EnumMatchingFilters gives for an output type and a merit.
    std::vector<CLSID> Matching(DWORD merit, const GUID& major, const GUID& minor, BOOL exact = TRUE, BOOL input = FALSE)
    {
        const GUID types[] = {major, minor};
        ComPtr<IEnumMoniker> monikers;
        EXPECT_EQ(mapper_->EnumMatchingFilters(monikers.Put(), 0, exact, merit, input, input ? 1 : 0, input ? types : nullptr,
                                               nullptr, nullptr, FALSE, !input, input ? 0 : 1, input ? nullptr : types,
                                               nullptr, nullptr),
                  S_OK);
        std::vector<CLSID> found;
        IMoniker* moniker = nullptr;
        while (monikers && monikers->Next(1, &moniker, nullptr) == S_OK) {
            LPOLESTR name = nullptr;
            EXPECT_EQ(moniker->GetDisplayName(nullptr, nullptr, &name), S_OK);
            const std::wstring display(name);
            CoTaskMemFree(name);
            CLSID clsid{};
            EXPECT_EQ(CLSIDFromString(display.substr(display.rfind(L'\\') + 1).c_str(), &clsid), S_OK) << Narrow(display.c_str());
            EXPECT_EQ(display.rfind(L"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\", 0), 0u);
            found.push_back(clsid);
            moniker->Release();
        }
        return found;
    }

    SktsTest::TestRegistry registry_{"mapper"};
    ComPtr<IFilterMapper2> mapper_;
};

TEST_F(FilterMapper, RegisteredFiltersLieUnderTheCategorysInstanceKeys)
{
    const REGFILTER2 filter = VersionOne(MERIT_DO_NOT_USE, kOutputPin, 1);
    ComPtr<IMoniker> moniker;
    ASSERT_EQ(mapper_->RegisterFilter(kProbeClsid, L"Probe filter", moniker.Put(), nullptr, nullptr, &filter), S_OK);
    ASSERT_TRUE(moniker);
    ComPtr<IBaseFilter> bound;
    EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, bound.PutVoid()), REGDB_E_CLASSNOTREG)
        << "the mapper's entry alone does not make a COM server";
    moniker.Reset();

    HKEY key = nullptr;
    const std::wstring path = FilterInstancesKey(CLSID_LegacyAmFilterCategory) + L"\\" + GuidString(kProbeClsid);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    const UniqueRegistryKey instance(key);
    std::wstring text;
    EXPECT_EQ(ReadRegistryString(instance.get(), L"FriendlyName", text), ERROR_SUCCESS);
    EXPECT_EQ(text, L"Probe filter");
    EXPECT_EQ(ReadRegistryString(instance.get(), L"CLSID", text), ERROR_SUCCESS);
    EXPECT_EQ(text, GuidString(kProbeClsid));
    std::vector<BYTE> data;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExW(instance.get(), L"FilterData", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(ReadRegistryBytes(instance.get(), L"FilterData", data), ERROR_SUCCESS);
    FilterDescription description;
    ASSERT_TRUE(DecodeFilterData(data.data(), data.size(), description));
    EXPECT_EQ(description.merit, MERIT_DO_NOT_USE);

    std::vector<RegisteredFilter> filters;
    ASSERT_EQ(ReadRegisteredFilters(CLSID_LegacyAmFilterCategory, filters), S_OK);
    ASSERT_EQ(filters.size(), 1u);
    EXPECT_EQ(filters[0].friendlyName, L"Probe filter");
    EXPECT_EQ(filters[0].clsid, kProbeClsid);
    EXPECT_TRUE(filters[0].module.empty());

    EXPECT_EQ(mapper_->UnregisterFilter(nullptr, nullptr, kProbeClsid), S_OK);
    EXPECT_EQ(mapper_->UnregisterFilter(nullptr, nullptr, kProbeClsid), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(std::filesystem::exists(registry_.File()));
}

TEST_F(FilterMapper, MatchingFiltersComeByPinTypeAndMeritHighestFirst)
{
    const REGPINTYPES anyType[] = {{&GUID_NULL, &GUID_NULL}};
    const REGFILTERPINS wildcardPin[] = {{nullptr, FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, anyType}};
    const REGFILTER2 probe = VersionOne(MERIT_DO_NOT_USE, kOutputPin, 1);
    const REGFILTER2 rival = VersionOne(MERIT_NORMAL, wildcardPin, 1);
    ASSERT_EQ(mapper_->RegisterFilter(kProbeClsid, L"Probe", nullptr, nullptr, nullptr, &probe), S_OK);
    ASSERT_EQ(mapper_->RegisterFilter(kRivalClsid, L"Rival", nullptr, nullptr, nullptr, &rival), S_OK);

    EXPECT_EQ(Matching(0, MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT, FALSE),
              (std::vector<CLSID>{kRivalClsid, kProbeClsid}));
    EXPECT_EQ(Matching(0, MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT, TRUE), (std::vector<CLSID>{kProbeClsid}))
        << "an exact match takes registered wildcards literally";
    EXPECT_EQ(Matching(MERIT_DO_NOT_USE + 1, MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT, FALSE),
              (std::vector<CLSID>{kRivalClsid}));
    EXPECT_EQ(Matching(0, MEDIATYPE_Stream, GUID_NULL), (std::vector<CLSID>{kProbeClsid}));
    EXPECT_TRUE(Matching(0, MEDIATYPE_Video, GUID_NULL).empty());
    EXPECT_TRUE(Matching(0, MEDIATYPE_Stream, GUID_NULL, TRUE, TRUE).empty()) << "no input pin is registered";

    EXPECT_EQ(mapper_->CreateCategory(kPinCategory, 0, L"x"), E_NOTIMPL);
    EXPECT_EQ(mapper_->RegisterFilter(kProbeClsid, L"Probe", nullptr, nullptr, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(mapper_->UnregisterFilter(nullptr, nullptr, kRivalClsid), S_OK);
    EXPECT_EQ(mapper_->UnregisterFilter(nullptr, nullptr, kProbeClsid), S_OK);
}

TEST(ComRuntime, CreationNeedsCOMAndARegisteredClass)
{
    SktsTest::TestRegistry registry("runtime");
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();
    EXPECT_EQ(CoCreateInstance(kProbeClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IPin, &object), E_NOINTERFACE);

    // A class whose module is missing or no COM server.
    HKEY key = nullptr;
    const std::wstring server = L"CLSID\\" + GuidString(kProbeClsid) + L"\\InprocServer32";
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const auto setModule = [key](const std::wstring& path) {
        return RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                              static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR)));
    };
    ASSERT_EQ(setModule(registry.Folder().wstring() + L"/missing.so"), ERROR_SUCCESS);
    EXPECT_EQ(CoCreateInstance(kProbeClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    const auto notAModule = registry.Folder() / "text.so";
    std::ofstream(notAModule) << "not a module";
    ASSERT_EQ(setModule(notAModule.wstring()), ERROR_SUCCESS);
    EXPECT_EQ(CoCreateInstance(kProbeClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT));
    ASSERT_EQ(setModule(L"libm.so.6"), ERROR_SUCCESS); // loads, but has no DllGetClassObject
    EXPECT_EQ(CoCreateInstance(kProbeClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), CO_E_ERRORINDLL);
    RegCloseKey(key);
    CoUninitialize();
}

// Registration of a table whose module is this test program: the algorithm a server's
// DllRegisterServer runs, checked entry by entry.
CUnknown* CreateNothing(LPUNKNOWN, HRESULT* phr)
{
    *phr = E_NOTIMPL;
    return nullptr;
}

const AMOVIESETUP_FILTER kProbeSetup = {&kProbeClsid, L"Probe filter", MERIT_UNLIKELY, 1, kOutputPin};
const CFactoryTemplate kTemplates[] = {{L"Probe filter", &kProbeClsid, &CreateNothing, nullptr, &kProbeSetup}};

TEST(ServerRegistration, WritesTheServerAndTheMapperEntryAndRemovesBothWithoutTrace)
{
    SktsTest::TestRegistry registry("setup");
    {
        HKEY other = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{00000000-1111-2222-3333-444444444444}", 0, nullptr, 0,
                                  KEY_WRITE, nullptr, &other, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(other);
    }
    const std::string before = SktsTest::Slurp(registry.File());

    ASSERT_EQ(RegisterServerTemplates(nullptr, kTemplates, 1, TRUE), S_OK);
    char self[4096];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
    std::vector<RegisteredFilter> filters;
    ASSERT_EQ(ReadRegisteredFilters(CLSID_LegacyAmFilterCategory, filters), S_OK);
    ASSERT_EQ(filters.size(), 1u);
    EXPECT_EQ(filters[0].friendlyName, L"Probe filter");
    EXPECT_EQ(filters[0].module, std::filesystem::path(self).wstring());
    EXPECT_EQ(filters[0].description.merit, MERIT_UNLIKELY);
    HKEY server = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidString(kProbeClsid)).c_str(), 0, KEY_READ, &server),
              ERROR_SUCCESS);
    std::wstring text;
    EXPECT_EQ(ReadRegistryString(server, nullptr, text), ERROR_SUCCESS);
    EXPECT_EQ(text, L"Probe filter");
    RegCloseKey(server);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidString(kProbeClsid) + L"\\InprocServer32").c_str(), 0,
                            KEY_READ, &server),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadRegistryString(server, L"ThreadingModel", text), ERROR_SUCCESS);
    EXPECT_EQ(text, L"Both");
    RegCloseKey(server);
    EXPECT_EQ(RegisterServerTemplates(nullptr, kTemplates, 1, TRUE), S_OK) << "registering again";

    EXPECT_EQ(RegisterServerTemplates(nullptr, kTemplates, 1, FALSE), S_OK);
    EXPECT_EQ(SktsTest::Slurp(registry.File()), before);
    EXPECT_EQ(RegisterServerTemplates(nullptr, kTemplates, 1, FALSE), S_OK) << "unregistering twice";
    EXPECT_EQ(SktsTest::Slurp(registry.File()), before);
}

} // namespace
} // namespace BaseClassesTest
