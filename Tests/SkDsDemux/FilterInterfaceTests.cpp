// QueryInterface, identity and reference counts of the filter, its output pins and the PID-map
// enumerator, and the filter's small fixed answers (version, vendor info, setup).
#include <gtest/gtest.h>

#include "ConformanceSupport.h"

using namespace FilterTest;

namespace {

using FilterInterfaceTest = LiveObjects;

// The object's identity: the IUnknown its QueryInterface gives (released again at once, the
// caller still holding the object).
IUnknown* IdentityOf(IUnknown* object)
{
    IUnknown* identity = nullptr;
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    if (identity != nullptr)
        identity->Release();
    return identity;
}

const GUID kUnknownIid = {0x6B1C2F61, 0x0C7E, 0x4D1A, {0x9B, 0x53, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};

} // namespace

TEST_F(FilterInterfaceTest, FilterAnswersEveryInterfaceOfItsTableAndAddsOneReferenceEach)
{
    DemuxUnderTest demux;
    SkDsDemux& filter = *demux.raw;
    const LONG held = filter.ReferenceCount();
    ASSERT_EQ(held, 2);
    const IUnknown* identity = IdentityOf(demux.filter.Get());

    const struct {
        const char* name;
        const IID& iid;
        void* part;
    } table[] = {
        {"IMpeg2Demultiplexer", IID_IMpeg2Demultiplexer, static_cast<IMpeg2Demultiplexer*>(&filter)},
        {"ISkDsDemux", IID_ISkDsDemux, static_cast<ISkDsDemux*>(&filter)},
        {"ISkDsAvTimeStamp", IID_ISkDsAvTimeStamp, static_cast<ISkDsAvTimeStamp*>(&filter)},
        {"IBaseFilter", IID_IBaseFilter, static_cast<IBaseFilter*>(&filter)},
        {"IMediaFilter", IID_IMediaFilter, static_cast<IBaseFilter*>(&filter)},
        {"IPersist", IID_IPersist, static_cast<IBaseFilter*>(&filter)},
        {"IAMovieSetup", IID_IAMovieSetup, static_cast<IAMovieSetup*>(&filter)},
        {"IUnknown", IID_IUnknown, const_cast<IUnknown*>(identity)},
    };
    for (const auto& entry : table) {
        SCOPED_TRACE(entry.name);
        void* got = nullptr;
        ASSERT_EQ(demux.filter->QueryInterface(entry.iid, &got), S_OK);
        EXPECT_EQ(got, entry.part);
        EXPECT_EQ(filter.ReferenceCount(), held + 1);
        // Every interface leads back to the same object.
        EXPECT_EQ(IdentityOf(static_cast<IUnknown*>(got)), identity);
        static_cast<IUnknown*>(got)->Release();
        EXPECT_EQ(filter.ReferenceCount(), held);
    }
}

TEST_F(FilterInterfaceTest, FilterRefusesOtherInterfacesAndANullOutPointer)
{
    DemuxUnderTest demux;
    for (const IID* iid : {&kUnknownIid, &IID_IPin, &IID_IMemInputPin, &IID_IMPEG2PIDMap, &IID_IEnumPIDMap,
                           &IID_IReferenceClockTimerControl, &IID_IQualityControl}) {
        void* got = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(demux.filter->QueryInterface(*iid, &got), E_NOINTERFACE);
        EXPECT_EQ(got, nullptr);
    }
    EXPECT_EQ(demux.filter->QueryInterface(IID_IBaseFilter, nullptr), E_POINTER);
    EXPECT_EQ(demux.filter->QueryInterface(kUnknownIid, nullptr), E_POINTER);
    EXPECT_EQ(demux.raw->ReferenceCount(), 2);
}

// The clock is aggregated: its references are the filter's, and its IUnknown is the filter's.
TEST_F(FilterInterfaceTest, ReferenceClockIsTheAggregatedClockCountingOnTheFilter)
{
    DemuxUnderTest demux;
    SkDsDemux& filter = *demux.raw;
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(demux.filter->QueryInterface(IID_IReferenceClock, clock.PutVoid()), S_OK);
    ASSERT_TRUE(clock);
    EXPECT_NE(static_cast<void*>(clock.Get()), static_cast<void*>(&filter));
    EXPECT_EQ(filter.ReferenceCount(), 3);
    EXPECT_EQ(clock->AddRef(), 4u);
    EXPECT_EQ(filter.ReferenceCount(), 4);
    EXPECT_EQ(clock->Release(), 3u);
    EXPECT_EQ(filter.ReferenceCount(), 3);

    EXPECT_EQ(IdentityOf(clock.Get()), IdentityOf(demux.filter.Get()));
    ComPtr<IBaseFilter> back;
    EXPECT_EQ(clock->QueryInterface(IID_IBaseFilter, back.PutVoid()), S_OK);
    EXPECT_EQ(back.Get(), demux.filter.Get());

    REFERENCE_TIME now = 0;
    EXPECT_TRUE(SUCCEEDED(clock->GetTime(&now)));
    EXPECT_EQ(clock->GetTime(nullptr), E_POINTER);
    back.Reset();
    clock.Reset();
    EXPECT_EQ(filter.ReferenceCount(), 2);
}

TEST_F(FilterInterfaceTest, VersionVendorInfoSetupAndState)
{
    DemuxUnderTest demux;
    ComPtr<ISkDsDemux> custom;
    ASSERT_EQ(demux.filter->QueryInterface(IID_ISkDsDemux, custom.PutVoid()), S_OK);
    int32_t version[4] = {-1, -1, -1, -1};
    EXPECT_EQ(custom->GetVersion(&version[0], &version[1], &version[2], &version[3]), S_OK);
    EXPECT_EQ(version[0], 1);
    EXPECT_EQ(version[1], 0);
    EXPECT_EQ(version[2], 7);
    EXPECT_EQ(version[3], 18);

    LPWSTR vendor = nullptr;
    EXPECT_EQ(demux.filter->QueryVendorInfo(&vendor), E_NOTIMPL);
    EXPECT_EQ(vendor, nullptr);

    ComPtr<IAMovieSetup> setup;
    ASSERT_EQ(demux.filter->QueryInterface(IID_IAMovieSetup, setup.PutVoid()), S_OK);
    EXPECT_EQ(setup->Register(), S_FALSE);
    EXPECT_EQ(setup->Unregister(), S_FALSE);

    CLSID clsid = GUID_NULL;
    EXPECT_EQ(demux.filter->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_SkDsDemux);

    FILTER_STATE state = State_Running;
    EXPECT_EQ(demux.filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_EQ(demux.filter->GetState(INFINITE, nullptr), E_POINTER);

    ComPtr<ISkDsAvTimeStamp> stamps;
    ASSERT_EQ(demux.filter->QueryInterface(IID_ISkDsAvTimeStamp, stamps.PutVoid()), S_OK);
    EXPECT_EQ(stamps->SetTimeStampProvider(nullptr), S_OK);
    EXPECT_EQ(demux.raw->Time().Provider(), nullptr);
}

TEST_F(FilterInterfaceTest, OutputPinAnswersItsInterfacesWithTheFilterCount)
{
    DemuxUnderTest demux;
    ComPtr<IPin> pin = demux.CreatePin(L"Video");
    ASSERT_TRUE(pin);
    SkDsDemux& filter = *demux.raw;
    EsPin& es = demux.Output(0);
    const LONG held = filter.ReferenceCount();
    ASSERT_EQ(held, 3);
    const IUnknown* identity = IdentityOf(pin.Get());
    EXPECT_NE(identity, IdentityOf(demux.filter.Get()));

    const struct {
        const char* name;
        const IID& iid;
        void* part;
    } table[] = {
        {"IMPEG2PIDMap", IID_IMPEG2PIDMap, static_cast<IMPEG2PIDMap*>(&es)},
        {"IPin", IID_IPin, static_cast<IPin*>(&es)},
        {"IQualityControl", IID_IQualityControl, static_cast<IQualityControl*>(&es)},
        {"IUnknown", IID_IUnknown, const_cast<IUnknown*>(identity)},
    };
    for (const auto& entry : table) {
        SCOPED_TRACE(entry.name);
        void* got = nullptr;
        ASSERT_EQ(pin->QueryInterface(entry.iid, &got), S_OK);
        EXPECT_EQ(got, entry.part);
        EXPECT_EQ(filter.ReferenceCount(), held + 1);
        EXPECT_EQ(IdentityOf(static_cast<IUnknown*>(got)), identity);
        static_cast<IUnknown*>(got)->Release();
        EXPECT_EQ(filter.ReferenceCount(), held);
    }

    for (const IID* iid : {&kUnknownIid, &IID_IBaseFilter, &IID_IMemInputPin, &IID_IMpeg2Demultiplexer}) {
        void* got = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(pin->QueryInterface(*iid, &got), E_NOINTERFACE);
        EXPECT_EQ(got, nullptr);
    }
    EXPECT_EQ(pin->QueryInterface(IID_IPin, nullptr), E_POINTER);
    EXPECT_EQ(pin->QueryInterface(IID_IEnumPIDMap, nullptr), E_POINTER);
    EXPECT_EQ(filter.ReferenceCount(), held);

    ComPtr<IQualityControl> quality;
    ASSERT_EQ(pin->QueryInterface(IID_IQualityControl, quality.PutVoid()), S_OK);
    EXPECT_EQ(quality->Notify(demux.filter.Get(), Quality{}), S_OK);
}

// Each query for IEnumPIDMap makes a new enumerator of its own, which does not hold the filter.
TEST_F(FilterInterfaceTest, OutputPinMakesANewEnumeratorForEachQuery)
{
    DemuxUnderTest demux;
    ComPtr<IPin> pin = demux.CreatePin(L"Video");
    ASSERT_TRUE(pin);
    const LONG held = demux.raw->ReferenceCount();
    const LONG objects = CBaseObject::ObjectsActive();

    ComPtr<IEnumPIDMap> first;
    ComPtr<IEnumPIDMap> second;
    ASSERT_EQ(pin->QueryInterface(IID_IEnumPIDMap, first.PutVoid()), S_OK);
    ASSERT_EQ(pin->QueryInterface(IID_IEnumPIDMap, second.PutVoid()), S_OK);
    EXPECT_NE(first.Get(), second.Get());
    EXPECT_NE(IdentityOf(first.Get()), IdentityOf(second.Get()));
    EXPECT_EQ(demux.raw->ReferenceCount(), held);
    EXPECT_EQ(CBaseObject::ObjectsActive(), objects + 2);

    // An enumerator's own IUnknown counts on the enumerator.
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(first->QueryInterface(IID_IUnknown, unknown.PutVoid()), S_OK);
    first.Reset();
    EXPECT_EQ(CBaseObject::ObjectsActive(), objects + 2);
    ComPtr<IEnumPIDMap> again;
    ASSERT_EQ(unknown->QueryInterface(IID_IEnumPIDMap, again.PutVoid()), S_OK);
    EXPECT_EQ(IdentityOf(again.Get()), unknown.Get());
    for (const IID* iid : {&kUnknownIid, &IID_IPin, &IID_IMPEG2PIDMap}) {
        void* got = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(again->QueryInterface(*iid, &got), E_NOINTERFACE);
        EXPECT_EQ(got, nullptr);
    }
    EXPECT_EQ(again->QueryInterface(IID_IEnumPIDMap, nullptr), E_POINTER);
    unknown.Reset();
    again.Reset();
    second.Reset();
    EXPECT_EQ(CBaseObject::ObjectsActive(), objects);
}
