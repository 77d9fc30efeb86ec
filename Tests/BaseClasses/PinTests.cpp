#include "Probes.h"

namespace BaseClassesTest {
namespace {

using BasePins = LiveObjects;

const CMediaType kTs = MakeType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT);
const CMediaType kVideo = MakeType(MEDIATYPE_Video, MEDIASUBTYPE_H264);

// Two probe filters, released in order, their pins disconnected first so nothing leaks.
struct TwoFilters {
    CallLog log;
    ComPtr<ProbeFilter> upstream{new ProbeFilter(log)};
    ComPtr<ProbeFilter> downstream{new ProbeFilter(log)};

    ~TwoFilters()
    {
        for (ProbeFilter* filter : {upstream.Get(), downstream.Get()}) {
            filter->Stop();
            for (int i = 0; i < filter->GetPinCount(); ++i)
                filter->GetPin(i)->Disconnect();
        }
    }
};

TEST_F(BasePins, PinsCountOnTheirFilterAndReportTheirInfo)
{
    CallLog log;
    auto* filter = new ProbeFilter(log);
    ComPtr<IBaseFilter> owner(filter);
    ProbeOutputPin* pin = filter->AddOutput(L"Video");
    EXPECT_EQ(filter->RefCount(), 1);

    IPin* ipin = nullptr;
    ASSERT_EQ(pin->NonDelegatingQueryInterface(IID_IPin, reinterpret_cast<void**>(&ipin)), S_OK);
    EXPECT_EQ(filter->RefCount(), 2);
    IQualityControl* quality = nullptr;
    ASSERT_EQ(ipin->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&quality)), S_OK);
    EXPECT_EQ(filter->RefCount(), 3);
    quality->Release();
    EXPECT_EQ(ipin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&quality)), E_NOINTERFACE);

    PIN_INFO info{};
    ASSERT_EQ(ipin->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.pFilter, static_cast<IBaseFilter*>(filter));
    EXPECT_EQ(info.dir, PINDIR_OUTPUT);
    EXPECT_STREQ(info.achName, L"Video");
    EXPECT_EQ(filter->RefCount(), 3);
    info.pFilter->Release();

    LPWSTR id = nullptr;
    ASSERT_EQ(ipin->QueryId(&id), S_OK);
    EXPECT_STREQ(id, L"Video");
    CoTaskMemFree(id);

    IPin* found = nullptr;
    EXPECT_EQ(filter->FindPin(L"Video", &found), S_OK);
    EXPECT_EQ(found, ipin);
    found->Release();
    EXPECT_EQ(filter->FindPin(L"video", &found), VFW_E_NOT_FOUND);
    EXPECT_EQ(found, nullptr);

    ipin->Release();
    EXPECT_EQ(filter->RefCount(), 1);
}

TEST_F(BasePins, PinEnumerationFollowsThePinVersion)
{
    CallLog log;
    auto* filter = new ProbeFilter(log);
    ComPtr<IBaseFilter> owner(filter);
    filter->AddInput(L"In");
    filter->AddOutput(L"Out");

    ComPtr<IEnumPins> pins;
    ASSERT_EQ(filter->EnumPins(pins.Put()), S_OK);
    EXPECT_EQ(CBaseObject::ObjectsActive(), 4); // filter, two pins, enumerator
    IPin* got[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(pins->Next(3, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(got[0], static_cast<IPin*>(filter->GetPin(0)));
    EXPECT_EQ(got[1], static_cast<IPin*>(filter->GetPin(1)));
    got[0]->Release();
    got[1]->Release();
    EXPECT_EQ(pins->Next(2, got, nullptr), E_INVALIDARG);

    EXPECT_EQ(pins->Reset(), S_OK);
    EXPECT_EQ(pins->Skip(1), S_OK);
    ComPtr<IEnumPins> clone;
    ASSERT_EQ(pins->Clone(clone.Put()), S_OK);
    EXPECT_EQ(clone->Next(1, got, nullptr), S_OK); // the clone keeps the position
    EXPECT_EQ(got[0], static_cast<IPin*>(filter->GetPin(1)));
    got[0]->Release();
    EXPECT_EQ(pins->Skip(2), S_FALSE);

    filter->AddOutput(L"Out2");
    EXPECT_EQ(pins->Next(1, got, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(pins->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
    ComPtr<IEnumPins> staleClone;
    EXPECT_EQ(pins->Clone(staleClone.Put()), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(pins->Reset(), S_OK);
    EXPECT_EQ(pins->Next(3, got, &fetched), S_OK);
    EXPECT_EQ(fetched, 3u);
    for (IPin* pin : got)
        pin->Release();
    filter->RemoveLastPin();
    EXPECT_EQ(clone->Next(1, got, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
}

TEST_F(BasePins, MediaTypeEnumerationListsTheOfferedTypes)
{
    CallLog log;
    auto* filter = new ProbeFilter(log);
    ComPtr<IBaseFilter> owner(filter);
    PinBehaviour behaviour;
    behaviour.offered = {kVideo, kTs};
    ProbeOutputPin* pin = filter->AddOutput(L"Out", behaviour);

    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(pin->EnumMediaTypes(types.Put()), S_OK);
    AM_MEDIA_TYPE* got[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(types->Next(3, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_TRUE(got[0]->majortype == MEDIATYPE_Video);
    EXPECT_TRUE(got[1]->subtype == MEDIASUBTYPE_MPEG2_TRANSPORT);
    DeleteMediaType(got[0]);
    DeleteMediaType(got[1]);
    EXPECT_EQ(types->Reset(), S_OK);
    EXPECT_EQ(types->Skip(2), S_OK);
    EXPECT_EQ(types->Skip(1), S_FALSE);
    pin->IncrementTypeVersion();
    EXPECT_EQ(types->Next(1, got, nullptr), VFW_E_ENUM_OUT_OF_SYNC);
}

TEST_F(BasePins, ConnectionAgreesOnAMatchingTypeAndAnAllocator)
{
    TwoFilters filters;
    PinBehaviour out;
    out.offered = {kVideo, kTs};
    out.buffersWanted = 3;
    out.bufferSize = 4000;
    ProbeOutputPin* output = filters.upstream->AddOutput(L"Out", out);
    PinBehaviour in;
    in.accepted = {kTs};
    ProbeInputPin* input = filters.downstream->AddInput(L"In", in);

    ASSERT_EQ(output->Connect(input, nullptr), S_OK);
    EXPECT_TRUE(output->IsConnected());
    EXPECT_EQ(input->GetConnected(), static_cast<IPin*>(output));
    EXPECT_TRUE(input->CurrentMediaType() == kTs);
    EXPECT_EQ(filters.upstream->RefCount(), 2);   // held by the input pin's connection
    EXPECT_EQ(filters.downstream->RefCount(), 3); // connection and IMemInputPin of the output pin

    ALLOCATOR_PROPERTIES granted{};
    ASSERT_NE(output->Allocator(), nullptr);
    output->Allocator()->GetProperties(&granted);
    EXPECT_EQ(granted.cBuffers, 3);
    EXPECT_EQ(granted.cbBuffer, 4000);

    AM_MEDIA_TYPE agreed{};
    ASSERT_EQ(output->ConnectionMediaType(&agreed), S_OK);
    EXPECT_TRUE(agreed.subtype == MEDIASUBTYPE_MPEG2_TRANSPORT);
    FreeMediaType(agreed);
    IPin* peer = nullptr;
    ASSERT_EQ(input->ConnectedTo(&peer), S_OK);
    EXPECT_EQ(peer, static_cast<IPin*>(output));
    peer->Release();

    EXPECT_EQ(output->Connect(input, nullptr), VFW_E_ALREADY_CONNECTED);
    EXPECT_EQ(input->ReceiveConnection(output, &kTs), VFW_E_ALREADY_CONNECTED);
    EXPECT_EQ(input->QueryAccept(&kVideo), S_FALSE);
    EXPECT_EQ(input->QueryAccept(&kTs), S_OK);

    ASSERT_EQ(filters.downstream->Pause(), S_OK);
    EXPECT_EQ(input->Disconnect(), VFW_E_NOT_STOPPED);
    ASSERT_EQ(filters.downstream->Stop(), S_OK);
    EXPECT_EQ(input->Disconnect(), S_OK);
    EXPECT_EQ(input->Disconnect(), S_FALSE);
    EXPECT_EQ(output->Disconnect(), S_OK);
    EXPECT_EQ(output->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(peer, nullptr);
    EXPECT_EQ(output->ConnectionMediaType(&agreed), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(filters.upstream->RefCount(), 1);
    EXPECT_EQ(filters.downstream->RefCount(), 1);
}

TEST_F(BasePins, ConnectionFailsWithTheExactReason)
{
    TwoFilters filters;
    PinBehaviour videoOnly;
    videoOnly.offered = {kVideo};
    videoOnly.accepted = {kVideo};
    ProbeOutputPin* output = filters.upstream->AddOutput(L"Out", videoOnly);
    ProbeOutputPin* otherOutput = filters.downstream->AddOutput(L"Out2", videoOnly);
    PinBehaviour tsOnly;
    tsOnly.accepted = {kTs};
    ProbeInputPin* input = filters.downstream->AddInput(L"In", tsOnly);

    // No common type, whether negotiated or proposed in full.
    EXPECT_EQ(output->Connect(input, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
    EXPECT_EQ(output->Connect(input, &kVideo), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(input->ReceiveConnection(output, &kVideo), VFW_E_TYPE_NOT_ACCEPTED);
    // Same direction on either side.
    EXPECT_EQ(output->Connect(otherOutput, nullptr), VFW_E_INVALID_DIRECTION);
    EXPECT_EQ(output->Connect(otherOutput, &kVideo), VFW_E_INVALID_DIRECTION);
    EXPECT_EQ(input->ReceiveConnection(input, &kTs), VFW_E_INVALID_DIRECTION);
    // Not while running.
    ASSERT_EQ(filters.upstream->Pause(), S_OK);
    EXPECT_EQ(output->Connect(input, &kVideo), VFW_E_NOT_STOPPED);
    ASSERT_EQ(filters.upstream->Stop(), S_OK);

    EXPECT_FALSE(output->IsConnected());
    EXPECT_FALSE(input->IsConnected());
    EXPECT_FALSE(otherOutput->IsConnected());
    EXPECT_EQ(filters.upstream->RefCount(), 1);
    EXPECT_EQ(filters.downstream->RefCount(), 1);
}

TEST_F(BasePins, AnAllocatorThatGrantsTooLittleFailsTheConnection)
{
    TwoFilters filters;
    PinBehaviour out;
    out.offered = {kTs};
    out.buffersWanted = 32;
    out.bufferSize = 8192;
    out.allocatorLimit = 16; // our own allocator as well
    ProbeOutputPin* output = filters.upstream->AddOutput(L"Out", out);
    PinBehaviour in;
    in.allocatorLimit = 16;
    ProbeInputPin* input = filters.downstream->AddInput(L"In", in);

    EXPECT_EQ(output->Connect(input, &kTs), E_FAIL);
    EXPECT_FALSE(output->IsConnected());
    EXPECT_FALSE(input->IsConnected());
    EXPECT_EQ(output->Connect(input, nullptr), VFW_E_NO_ACCEPTABLE_TYPES); // negotiated: E_FAIL means "next type"

    // With only the input pin's allocator short, the output pin falls back to its own.
    PinBehaviour generous = out;
    generous.allocatorLimit = 0;
    ProbeOutputPin* fallback = filters.upstream->AddOutput(L"Out2", generous);
    ASSERT_EQ(fallback->Connect(input, &kTs), S_OK);
    ALLOCATOR_PROPERTIES granted{};
    fallback->Allocator()->GetProperties(&granted);
    EXPECT_EQ(granted.cBuffers, 32);
}

TEST_F(BasePins, OutputPinsPassStreamControlToTheConnectedPinOnly)
{
    TwoFilters filters;
    PinBehaviour out;
    out.offered = {kTs};
    ProbeOutputPin* output = filters.upstream->AddOutput(L"Out", out);
    ProbeInputPin* input = filters.downstream->AddInput(L"In");

    EXPECT_EQ(output->DeliverBeginFlush(), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(output->DeliverEndFlush(), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(output->DeliverEndOfStream(), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(output->DeliverNewSegment(0, 10, 1.0), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(output->Deliver(nullptr), VFW_E_NOT_CONNECTED);
    IMediaSample* sample = nullptr;
    EXPECT_EQ(output->GetDeliveryBuffer(&sample, nullptr, nullptr, 0), E_NOINTERFACE);
    EXPECT_EQ(output->Active(), VFW_E_NO_ALLOCATOR);
    EXPECT_EQ(output->BeginFlush(), E_UNEXPECTED);
    EXPECT_EQ(output->EndFlush(), E_UNEXPECTED);
    EXPECT_EQ(output->EndOfStream(), E_UNEXPECTED);

    ASSERT_EQ(output->Connect(input, nullptr), S_OK);
    filters.log.Take();
    EXPECT_EQ(output->DeliverBeginFlush(), S_OK);
    EXPECT_TRUE(input->IsFlushing());
    EXPECT_EQ(output->DeliverEndFlush(), S_OK);
    EXPECT_FALSE(input->IsFlushing());
    EXPECT_EQ(output->DeliverNewSegment(100, 200, 2.0), S_OK);
    EXPECT_EQ(input->CurrentStartTime(), 100);
    EXPECT_EQ(input->CurrentStopTime(), 200);
    EXPECT_EQ(input->CurrentRate(), 2.0);
    EXPECT_EQ(output->DeliverEndOfStream(), S_OK);
    EXPECT_EQ(filters.log.Take(),
              (std::vector<std::string>{"In.BeginFlush", "In.EndFlush", "In.NewSegment", "In.EndOfStream"}));
}

} // namespace
} // namespace BaseClassesTest
