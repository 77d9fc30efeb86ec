// The filter's pins as a client sees them, and creating and deleting output pins through
// IMpeg2Demultiplexer, with the references that pins hand out.
#include <gtest/gtest.h>

#include "ConformanceSupport.h"

using namespace FilterTest;

namespace {

using FilterPinTest = LiveObjects;

std::vector<std::string> PinNames(IBaseFilter* filter)
{
    ComPtr<IEnumPins> pins;
    EXPECT_EQ(filter->EnumPins(pins.Put()), S_OK);
    std::vector<std::string> names;
    IPin* pin = nullptr;
    ULONG fetched = 0;
    while (pins->Next(1, &pin, &fetched) == S_OK && fetched == 1) {
        PIN_INFO info{};
        EXPECT_EQ(pin->QueryPinInfo(&info), S_OK);
        names.push_back(NarrowText(info.achName));
        if (info.pFilter != nullptr)
            info.pFilter->Release();
        pin->Release();
    }
    return names;
}

} // namespace

TEST_F(FilterPinTest, NewFilterHasOnlyTheInputPinTs)
{
    DemuxUnderTest demux;
    EXPECT_EQ(demux.raw->GetPinCount(), 1);
    EXPECT_EQ(demux.raw->GetPin(1), nullptr);
    EXPECT_EQ(demux.raw->GetPin(-1), nullptr);
    EXPECT_EQ(PinNames(demux.filter.Get()), std::vector<std::string>{"Ts"});

    ComPtr<IPin> ts = demux.InputPin();
    ASSERT_TRUE(ts);
    EXPECT_EQ(ts.Get(), static_cast<IPin*>(demux.raw->GetPin(0)));
    PIN_INFO info{};
    ASSERT_EQ(ts->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(NarrowText(info.achName), "Ts");
    EXPECT_EQ(info.dir, PINDIR_INPUT);
    EXPECT_EQ(info.pFilter, demux.filter.Get());
    info.pFilter->Release();
    PIN_DIRECTION direction = PINDIR_OUTPUT;
    EXPECT_EQ(ts->QueryDirection(&direction), S_OK);
    EXPECT_EQ(direction, PINDIR_INPUT);
    LPWSTR id = nullptr;
    ASSERT_EQ(ts->QueryId(&id), S_OK);
    EXPECT_EQ(NarrowText(id), "Ts");
    CoTaskMemFree(id);

    // The enumerator holds the filter while it lives and counts as a live object.
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(demux.filter->EnumPins(pins.Put()), S_OK);
    EXPECT_EQ(demux.raw->ReferenceCount(), 4); // filter, demux, ts and the enumerator
    IPin* fetched[3] = {};
    ULONG count = 0;
    EXPECT_EQ(pins->Next(3, fetched, &count), S_FALSE);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(fetched[0], ts.Get());
    fetched[0]->Release();
    pins.Reset();
    EXPECT_EQ(demux.raw->ReferenceCount(), 3); // filter, demux and ts
}

TEST_F(FilterPinTest, OutputPinsFollowTheInputPinInCreationOrder)
{
    DemuxUnderTest demux;
    ComPtr<IPin> video = demux.CreatePin(L"Video");
    EXPECT_EQ(demux.raw->GetPinCount(), 2);
    EXPECT_EQ(demux.raw->GetPin(1), static_cast<CBasePin*>(&demux.Output(0)));
    EXPECT_EQ(static_cast<IPin*>(demux.raw->GetPin(1)), video.Get());
    EXPECT_EQ(demux.raw->GetPin(2), nullptr);
    ComPtr<IPin> audio = demux.CreatePin(L"Audio", TypeOf(MEDIATYPE_Audio));
    ComPtr<IPin> data = demux.CreatePin(L"Data", TypeOf(MEDIATYPE_Stream));
    EXPECT_EQ(PinNames(demux.filter.Get()), (std::vector<std::string>{"Ts", "Video", "Audio", "Data"}));

    PIN_INFO info{};
    ASSERT_EQ(audio->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(NarrowText(info.achName), "Audio");
    EXPECT_EQ(info.dir, PINDIR_OUTPUT);
    EXPECT_EQ(info.pFilter, demux.filter.Get());
    info.pFilter->Release();
    PIN_DIRECTION direction = PINDIR_INPUT;
    EXPECT_EQ(audio->QueryDirection(&direction), S_OK);
    EXPECT_EQ(direction, PINDIR_OUTPUT);
    LPWSTR id = nullptr;
    ASSERT_EQ(data->QueryId(&id), S_OK);
    EXPECT_EQ(NarrowText(id), "Data");
    CoTaskMemFree(id);

    // Deleting the first of three moves the others down one place.
    video.Reset();
    EXPECT_EQ(demux.Delete(L"Video"), S_OK);
    EXPECT_EQ(demux.raw->GetPinCount(), 3);
    EXPECT_EQ(static_cast<IPin*>(demux.raw->GetPin(1)), audio.Get());
    EXPECT_EQ(static_cast<IPin*>(demux.raw->GetPin(2)), data.Get());
    EXPECT_EQ(demux.raw->GetPin(3), nullptr);
    EXPECT_EQ(PinNames(demux.filter.Get()), (std::vector<std::string>{"Ts", "Audio", "Data"}));
}

TEST_F(FilterPinTest, FindPinMatchesWholeNamesExactly)
{
    DemuxUnderTest demux;
    ComPtr<IPin> video = demux.CreatePin(L"Video");
    ComPtr<IPin> found;
    EXPECT_EQ(demux.filter->FindPin(L"Video", found.Put()), S_OK);
    EXPECT_EQ(found.Get(), video.Get());
    EXPECT_EQ(demux.filter->FindPin(L"Ts", found.Put()), S_OK);
    EXPECT_EQ(found.Get(), static_cast<IPin*>(demux.raw->GetPin(0)));
    for (LPCWSTR other : {L"video", L"Vid", L"Video ", L"VideoX", L"ts", L""}) {
        IPin* missing = reinterpret_cast<IPin*>(0x1);
        EXPECT_EQ(demux.filter->FindPin(other, &missing), VFW_E_NOT_FOUND) << NarrowText(other);
        EXPECT_EQ(missing, nullptr);
    }
    EXPECT_EQ(demux.filter->FindPin(L"Video", nullptr), E_POINTER);
}

TEST_F(FilterPinTest, CreateOutputPinRefusesNullArgumentsAndDuplicateNames)
{
    DemuxUnderTest demux;
    CMediaType type = TypeOf(MEDIATYPE_Video);
    wchar_t name[] = L"Video";
    IPin* pin = reinterpret_cast<IPin*>(0x1);
    EXPECT_EQ(demux.demux->CreateOutputPin(nullptr, name, &pin), E_INVALIDARG);
    EXPECT_EQ(demux.demux->CreateOutputPin(&type, nullptr, &pin), E_INVALIDARG);
    EXPECT_EQ(demux.demux->CreateOutputPin(&type, name, nullptr), E_INVALIDARG);
    EXPECT_EQ(demux.raw->GetPinCount(), 1);

    ComPtr<IPin> video = demux.CreatePin(L"Video");
    ComPtr<IPin> twice;
    EXPECT_EQ(demux.demux->CreateOutputPin(&type, name, twice.Put()), VFW_E_DUPLICATE_NAME);
    EXPECT_FALSE(twice);
    EXPECT_EQ(demux.raw->GetPinCount(), 2);
    EXPECT_EQ(demux.raw->ReferenceCount(), 3);

    // Only the case differs: another pin.
    ComPtr<IPin> lower = demux.CreatePin(L"video");
    ComPtr<IPin> upper = demux.CreatePin(L"VIDEO");
    EXPECT_NE(lower.Get(), video.Get());
    EXPECT_NE(upper.Get(), lower.Get());
    EXPECT_EQ(demux.raw->GetPinCount(), 4);
    EXPECT_EQ(PinNames(demux.filter.Get()), (std::vector<std::string>{"Ts", "Video", "video", "VIDEO"}));
}

TEST_F(FilterPinTest, MediaTypeOfAPinCannotBeChangedAndUnknownNamesFail)
{
    DemuxUnderTest demux;
    ComPtr<IPin> video = demux.CreatePin(L"Video");
    CMediaType audio = TypeOf(MEDIATYPE_Audio);
    wchar_t existing[] = L"Video";
    wchar_t other[] = L"video";
    EXPECT_EQ(demux.demux->SetOutputPinMediaType(existing, &audio), E_NOTIMPL);
    EXPECT_EQ(demux.demux->SetOutputPinMediaType(other, &audio), E_FAIL);
    EXPECT_EQ(demux.demux->SetOutputPinMediaType(nullptr, &audio), E_FAIL);
    EXPECT_EQ(demux.Output(0).ConfiguredType().majortype, MEDIATYPE_Video);

    EXPECT_EQ(demux.Delete(L"video"), E_FAIL);
    EXPECT_EQ(demux.Delete(L"Ts"), E_FAIL);
    EXPECT_EQ(demux.demux->DeleteOutputPin(nullptr), E_FAIL);
    EXPECT_EQ(demux.raw->GetPinCount(), 2);
    EXPECT_EQ(demux.raw->ReferenceCount(), 3);
}

// A caller may give its pin pointer back before deleting the pin or leave that to
// DeleteOutputPin: either way the filter keeps exactly the references the caller still has.
TEST_F(FilterPinTest, DeletingAPinLeavesTheCallersReferencesWhetherOrNotItReleasedThePin)
{
    for (const bool releaseFirst : {true, false}) {
        SCOPED_TRACE(releaseFirst ? "pin released first" : "pin left to DeleteOutputPin");
        {
            DemuxUnderTest demux;
            IPin* pin = demux.CreatePin(L"Video").Detach();
            ASSERT_NE(pin, nullptr);
            EXPECT_EQ(demux.raw->ReferenceCount(), 3);
            if (releaseFirst) {
                EXPECT_EQ(pin->Release(), 2u);
            }
            EXPECT_EQ(demux.Delete(L"Video"), S_OK);
            EXPECT_EQ(demux.raw->ReferenceCount(), 2);
            EXPECT_EQ(demux.raw->GetPinCount(), 1);
        }
        EXPECT_EQ(CBaseObject::ObjectsActive(), 0);
    }
}

TEST_F(FilterPinTest, DeletingAPinGivesBackEveryReferenceTakenThroughIt)
{
    {
        DemuxUnderTest demux;
        IPin* created = demux.CreatePin(L"Video").Detach();
        IPin* found = nullptr;
        ASSERT_EQ(demux.filter->FindPin(L"Video", &found), S_OK);
        IMPEG2PIDMap* map = nullptr;
        ASSERT_EQ(created->QueryInterface(IID_IMPEG2PIDMap, reinterpret_cast<void**>(&map)), S_OK);
        ComPtr<IPin> kept = demux.CreatePin(L"Audio", TypeOf(MEDIATYPE_Audio));
        EXPECT_EQ(demux.raw->ReferenceCount(), 6);

        EXPECT_EQ(demux.Delete(L"Video"), S_OK);
        // filter, demux and the Audio pin: the three the test still holds.
        EXPECT_EQ(demux.raw->ReferenceCount(), 3);
        EXPECT_EQ(demux.raw->GetPinCount(), 2);
        EXPECT_EQ(static_cast<IPin*>(demux.raw->GetPin(1)), kept.Get());
    }
    EXPECT_EQ(CBaseObject::ObjectsActive(), 0);
}

// The last reference may be the one DeleteOutputPin gives back: the filter survives the call
// and goes with the caller's final release.
TEST_F(FilterPinTest, DeleteOutputPinThroughTheOnlyOtherReference)
{
    DemuxUnderTest demux;
    IPin* pin = demux.CreatePin(L"Video").Detach();
    ASSERT_NE(pin, nullptr);
    IMpeg2Demultiplexer* control = demux.demux.Detach();
    demux.filter.Reset();
    EXPECT_EQ(demux.raw->ReferenceCount(), 2);
    EXPECT_EQ(control->DeleteOutputPin(const_cast<LPWSTR>(L"Video")), S_OK);
    EXPECT_EQ(demux.raw->ReferenceCount(), 1);
    EXPECT_EQ(control->Release(), 0u);
}

TEST_F(FilterPinTest, DeletingAConnectedPinDisconnectsItsPeer)
{
    DemuxBesideSink rig;
    auto& [record, graph, demux, sink] = rig;
    ComPtr<IPin> video = demux.CreatePin(L"Video");
    ASSERT_EQ(graph->Connect(video.Get(), sink->InputPin()), S_OK);
    ASSERT_EQ(DemuxUnderTest::Map(video.Get(), {0x100}), S_OK);

    // A running peer refuses to let go: nothing changes.
    ASSERT_EQ(graph->Pause(), S_OK);
    EXPECT_EQ(demux.Delete(L"Video"), VFW_E_NOT_STOPPED);
    EXPECT_EQ(demux.raw->GetPinCount(), 2);
    EXPECT_TRUE(demux.Output(0).IsConnected());
    EXPECT_NE(demux.raw->Engine().Entry(0x100), nullptr);
    ASSERT_EQ(graph->Stop(), S_OK);

    video.Reset();
    EXPECT_EQ(demux.Delete(L"Video"), S_OK);
    ComPtr<IPin> peer;
    EXPECT_EQ(sink->InputPin()->ConnectedTo(peer.Put()), VFW_E_NOT_CONNECTED);
    EXPECT_FALSE(peer);
    EXPECT_EQ(demux.raw->GetPinCount(), 1);
    EXPECT_EQ(demux.raw->Engine().Entry(0x100), nullptr);
    // filter, demux and the graph's reference.
    EXPECT_EQ(demux.raw->ReferenceCount(), 3);
    ASSERT_EQ(graph->RemoveFilter(demux.filter.Get()), S_OK);
    EXPECT_EQ(demux.raw->ReferenceCount(), 2);
}
