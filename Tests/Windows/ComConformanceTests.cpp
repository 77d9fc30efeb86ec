// COM rules on the filter as the platform creates it: QueryInterface identity, symmetry and
// transitivity on the filter, its pins, its clock and its enumerators, reference counts shared
// with the filter, the pin and enumeration methods, and the platform's own result codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ComPtr.h"
#include "HresultTable.h"
#include "SkDsDemuxIds.h"

namespace {

class ComApartment {
public:
    ComApartment() { EXPECT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    ~ComApartment() { CoUninitialize(); }
};

ComPtr<IUnknown> IdentityOf(IUnknown* object)
{
    ComPtr<IUnknown> identity;
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
    return identity;
}

// Every interface of the set reaches every other, and all give the same IUnknown.
void ExpectOneObject(IUnknown* start, const std::vector<IID>& interfaces)
{
    const ComPtr<IUnknown> identity = IdentityOf(start);
    for (const IID& from : interfaces) {
        ComPtr<IUnknown> a;
        ASSERT_EQ(start->QueryInterface(from, a.PutVoid()), S_OK);
        EXPECT_EQ(IdentityOf(a.Get()).Get(), identity.Get());
        for (const IID& to : interfaces) {
            ComPtr<IUnknown> b;
            EXPECT_EQ(a->QueryInterface(to, b.PutVoid()), S_OK);
        }
    }
}

ULONG CountOf(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

class Demux {
public:
    Demux()
    {
        EXPECT_EQ(CoCreateInstance(CLSID_SkDsDemux, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid()),
                  S_OK)
            << "is the module registered (regsvr32)?";
        if (filter) {
            EXPECT_EQ(filter->QueryInterface(IID_IMpeg2Demultiplexer, pins.PutVoid()), S_OK);
        }
    }
    ComPtr<IPin> CreatePin(const wchar_t* name)
    {
        AM_MEDIA_TYPE type{};
        type.majortype = MEDIATYPE_Video;
        type.formattype = FORMAT_None;
        type.bFixedSizeSamples = TRUE;
        type.lSampleSize = 1;
        std::wstring copy = name;
        ComPtr<IPin> pin;
        EXPECT_EQ(pins->CreateOutputPin(&type, copy.data(), pin.Put()), S_OK);
        return pin;
    }
    ComPtr<IBaseFilter> filter;
    ComPtr<IMpeg2Demultiplexer> pins;
};

TEST(ComConformanceTest, TheFilterAndItsClockAreOneObject)
{
    ComApartment com;
    Demux demux;
    ASSERT_TRUE(demux.filter);
    ExpectOneObject(demux.filter.Get(), {IID_IUnknown, IID_IBaseFilter, IID_IMediaFilter, IID_IPersist,
                                         IID_IAMovieSetup, IID_IMpeg2Demultiplexer, IID_IReferenceClock,
                                         IID_ISkDsDemux, IID_ISkDsAvTimeStamp});
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(demux.filter->QueryInterface(IID_IReferenceClock, clock.PutVoid()), S_OK);
    const ULONG before = CountOf(demux.filter.Get());
    clock->AddRef();
    EXPECT_EQ(CountOf(demux.filter.Get()), before + 1) << "the clock's references are the filter's";
    clock->Release();
    ComPtr<IUnknown> none;
    EXPECT_EQ(demux.filter->QueryInterface(IID_IMemInputPin, none.PutVoid()), E_NOINTERFACE);
    EXPECT_EQ(none.Get(), nullptr);

    int32_t version[4] = {};
    ComPtr<ISkDsDemux> info;
    ASSERT_EQ(demux.filter->QueryInterface(IID_ISkDsDemux, info.PutVoid()), S_OK);
    EXPECT_EQ(info->GetVersion(&version[0], &version[1], &version[2], &version[3]), S_OK);
    EXPECT_EQ(version[0] * 1000000 + version[1] * 10000 + version[2] * 100 + version[3], 1000718);
}

TEST(ComConformanceTest, PinsShareTheFiltersCountAndAnswerAsPinsDo)
{
    ComApartment com;
    Demux demux;
    ASSERT_TRUE(demux.filter);
    ComPtr<IPin> output = demux.CreatePin(L"Video");
    ComPtr<IPin> input;
    ASSERT_EQ(demux.filter->FindPin(L"Ts", input.Put()), S_OK);
    ExpectOneObject(input.Get(), {IID_IUnknown, IID_IPin, IID_IMemInputPin, IID_IQualityControl});
    ExpectOneObject(output.Get(), {IID_IUnknown, IID_IPin, IID_IMPEG2PIDMap, IID_IQualityControl});

    const ULONG before = CountOf(demux.filter.Get());
    output->AddRef();
    EXPECT_EQ(CountOf(demux.filter.Get()), before + 1);
    output->Release();

    PIN_INFO info{};
    ASSERT_EQ(output->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.pFilter, demux.filter.Get());
    EXPECT_EQ(info.dir, PINDIR_OUTPUT);
    EXPECT_EQ(std::wstring(info.achName), L"Video");
    info.pFilter->Release();
    PIN_DIRECTION direction = PINDIR_OUTPUT;
    EXPECT_EQ(input->QueryDirection(&direction), S_OK);
    EXPECT_EQ(direction, PINDIR_INPUT);
    LPWSTR id = nullptr;
    ASSERT_EQ(input->QueryId(&id), S_OK);
    EXPECT_EQ(std::wstring(id), L"Ts");
    CoTaskMemFree(id);
    AM_MEDIA_TYPE connection{};
    EXPECT_EQ(output->ConnectionMediaType(&connection), VFW_E_NOT_CONNECTED);

    ComPtr<IEnumPins> pins;
    ASSERT_EQ(demux.filter->EnumPins(pins.Put()), S_OK);
    IPin* fetched[3] = {};
    ULONG count = 0;
    EXPECT_EQ(pins->Next(3, fetched, &count), S_FALSE);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(IdentityOf(fetched[0]).Get(), IdentityOf(input.Get()).Get());
    EXPECT_EQ(IdentityOf(fetched[1]).Get(), IdentityOf(output.Get()).Get());
    fetched[0]->Release();
    fetched[1]->Release();
    output.Reset();
    std::wstring name = L"Video";
    EXPECT_EQ(demux.pins->DeleteOutputPin(name.data()), S_OK);
}

// The PID map's enumerator is an object of its own: a new one for every query through the pin.
TEST(ComConformanceTest, PidMapEnumeratorsAreObjectsOfTheirOwn)
{
    ComApartment com;
    Demux demux;
    ASSERT_TRUE(demux.filter);
    ComPtr<IPin> output = demux.CreatePin(L"Video");
    ComPtr<IMPEG2PIDMap> map;
    ASSERT_EQ(output->QueryInterface(IID_IMPEG2PIDMap, map.PutVoid()), S_OK);
    ULONG pids[] = {0x101, 0x100};
    ASSERT_EQ(map->MapPID(2, pids, MEDIA_ELEMENTARY_STREAM), S_OK);
    ComPtr<IEnumPIDMap> first;
    ComPtr<IEnumPIDMap> second;
    ASSERT_EQ(map->EnumPIDMap(first.Put()), S_OK);
    ASSERT_EQ(map->EnumPIDMap(second.Put()), S_OK);
    EXPECT_NE(IdentityOf(first.Get()).Get(), IdentityOf(second.Get()).Get());
    ExpectOneObject(first.Get(), {IID_IUnknown, IID_IEnumPIDMap});
    PID_MAP records[4] = {};
    ULONG received = 0;
    EXPECT_EQ(first->Next(4, records, &received), S_OK);
    ASSERT_EQ(received, 2u);
    EXPECT_EQ(records[0].ulPID, 0x100u);
    EXPECT_EQ(records[1].ulPID, 0x101u);
    EXPECT_EQ(records[0].MediaSampleContent, MEDIA_ELEMENTARY_STREAM);
    EXPECT_EQ(first->Next(1, records, &received), S_FALSE);
}

// The codes this system returns are the platform's own.
TEST(ComConformanceTest, ResultCodesAreThePlatforms)
{
    for (const SktsTest::NamedResult& code : SktsTest::kResultCodes)
        EXPECT_EQ(static_cast<uint32_t>(code.ours), code.platform) << code.name;
}

} // namespace
