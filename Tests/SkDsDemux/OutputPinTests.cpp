// Output pins: the one media type each offers and what it accepts, the buffers it asks of the
// downstream allocator, starting without an allocator, and the calls an output pin refuses.
#include <gtest/gtest.h>

#include "ConformanceSupport.h"

using namespace FilterTest;

namespace {

using OutputPinTest = LiveObjects;

std::vector<BYTE> Block(ULONG length, BYTE seed)
{
    std::vector<BYTE> block(length);
    for (ULONG i = 0; i < length; ++i)
        block[i] = static_cast<BYTE>(seed + i * 3);
    return block;
}

CMediaType VideoWithFormat(std::vector<BYTE> block, const GUID& formatType = FORMAT_VideoInfo)
{
    CMediaType type = TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_H264);
    type.SetFormatType(&formatType);
    type.SetFormat(block.data(), static_cast<ULONG>(block.size()));
    type.SetTemporalCompression(TRUE);
    type.SetVariableSize();
    return type;
}

bool SameTypeAndBlock(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b)
{
    return a.majortype == b.majortype && a.subtype == b.subtype && a.formattype == b.formattype &&
           a.bFixedSizeSamples == b.bFixedSizeSamples && a.bTemporalCompression == b.bTemporalCompression &&
           a.lSampleSize == b.lSampleSize && a.cbFormat == b.cbFormat &&
           (a.cbFormat == 0 || std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0);
}

} // namespace

TEST_F(OutputPinTest, OffersACopyOfItsConfiguredTypeAtPositionZeroOnly)
{
    DemuxUnderTest demux;
    CMediaType configured = VideoWithFormat(Block(88, 5));
    ComPtr<IPin> video = demux.CreatePin(L"Video", configured);
    EsPin& pin = demux.Output(0);
    // The pin keeps its own copy: changing the caller's type later does not reach it.
    const CMediaType requested = configured;
    configured.pbFormat[0] ^= 0xFF;

    CMediaType offered;
    ASSERT_EQ(pin.GetMediaType(0, &offered), S_OK);
    EXPECT_TRUE(SameTypeAndBlock(offered, requested));
    EXPECT_NE(offered.pbFormat, pin.ConfiguredType().pbFormat);
    EXPECT_EQ(pin.GetMediaType(1, &offered), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(pin.GetMediaType(-1, &offered), E_INVALIDARG);
    EXPECT_EQ(pin.GetMediaType(0, nullptr), E_POINTER);

    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(video->EnumMediaTypes(types.Put()), S_OK);
    AM_MEDIA_TYPE* listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(types->Next(2, listed, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_TRUE(SameTypeAndBlock(*listed[0], requested));
    DeleteMediaType(listed[0]);
}

// A proposal is a partial type: GUID_NULL fields match anything, a given format type must come
// with the same block; sizes and flags are not compared.
TEST_F(OutputPinTest, AcceptsPartialProposalsOfItsTypeOnly)
{
    DemuxUnderTest demux;
    const std::vector<BYTE> block = Block(88, 5);
    ComPtr<IPin> video = demux.CreatePin(L"Video", VideoWithFormat(block));
    EsPin& pin = demux.Output(0);

    CMediaType fixedSize = VideoWithFormat(block);
    fixedSize.SetSampleSize(4096);
    fixedSize.SetTemporalCompression(FALSE);
    const CMediaType accepted[] = {
        VideoWithFormat(block),
        fixedSize,
        VideoWithFormat({}, GUID_NULL),
        [] {
            CMediaType open(&MEDIATYPE_Video);
            return open;
        }(),
        CMediaType(),
    };
    for (const CMediaType& type : accepted) {
        EXPECT_EQ(pin.CheckMediaType(&type), S_OK);
        EXPECT_EQ(video->QueryAccept(&type), S_OK);
    }

    std::vector<BYTE> changed = block;
    changed[40] ^= 1;
    const CMediaType refused[] = {
        VideoWithFormat(changed),
        VideoWithFormat(Block(87, 5)),
        VideoWithFormat({}),
        TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_H264), // FORMAT_None is a format type of its own
        VideoWithFormat(block, FORMAT_None),
        TypeOf(MEDIATYPE_Audio),
        TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO),
    };
    for (size_t i = 0; i < std::size(refused); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pin.CheckMediaType(&refused[i]), VFW_E_TYPE_NOT_ACCEPTED);
        EXPECT_EQ(video->QueryAccept(&refused[i]), S_FALSE);
    }
    EXPECT_EQ(pin.CheckMediaType(nullptr), E_POINTER);
}

TEST_F(OutputPinTest, ConnectionWithAnotherFormatBlockIsRefused)
{
    DemuxBesideSink rig;
    auto& [record, graph, demux, sink] = rig;
    const std::vector<BYTE> block = Block(88, 5);
    ComPtr<IPin> video = demux.CreatePin(L"Video", VideoWithFormat(block));

    const CMediaType other = VideoWithFormat(Block(88, 6));
    EXPECT_EQ(graph->Connect(video.Get(), sink->InputPin(), &other), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_FALSE(demux.Output(0).IsConnected());

    const CMediaType partial(&MEDIATYPE_Video);
    ASSERT_EQ(graph->Connect(video.Get(), sink->InputPin(), &partial), S_OK);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(video->ConnectionMediaType(&connected), S_OK);
    EXPECT_TRUE(SameTypeAndBlock(connected, VideoWithFormat(block)));
    FreeMediaType(connected);

    // Another output pin is no partner.
    ComPtr<IPin> audio = demux.CreatePin(L"Audio", TypeOf(MEDIATYPE_Audio));
    EXPECT_EQ(audio->Connect(video.Get(), nullptr), VFW_E_INVALID_DIRECTION);
}

// 32 buffers of 8192 bytes are asked with the downstream pin's alignment and prefix; fewer
// buffers or smaller ones are refused.
TEST_F(OutputPinTest, AsksThirtyTwoBuffersOf8192BytesAndRefusesLess)
{
    DemuxUnderTest demux;
    ComPtr<IPin> video = demux.CreatePin(L"Video");
    EsPin& pin = demux.Output(0);
    for (const LONG granted : {0, 16, 31}) {
        SCOPED_TRACE(granted);
        AllocatorScript script;
        script.maxBuffers = granted;
        ComPtr<IMemAllocator> allocator;
        ASSERT_EQ((new ScriptedAllocator(script))->NonDelegatingQueryInterface(IID_IMemAllocator, allocator.PutVoid()),
                  S_OK);
        ALLOCATOR_PROPERTIES request{1, 10, 16, 8};
        EXPECT_EQ(pin.DecideBufferSize(allocator.Get(), &request), granted == 0 ? S_OK : E_FAIL);
        ASSERT_EQ(script.requests.size(), 1u);
        EXPECT_EQ(script.requests[0].cBuffers, 32);
        EXPECT_EQ(script.requests[0].cbBuffer, 8192);
        EXPECT_EQ(script.requests[0].cbAlign, 16);
        EXPECT_EQ(script.requests[0].cbPrefix, 8);
    }
    AllocatorScript script;
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ((new ScriptedAllocator(script))->NonDelegatingQueryInterface(IID_IMemAllocator, allocator.PutVoid()), S_OK);
    ALLOCATOR_PROPERTIES misaligned{1, 10, 3, 0};
    EXPECT_EQ(pin.DecideBufferSize(allocator.Get(), &misaligned), VFW_E_BADALIGN);
}

// The downstream allocator that grants too few buffers is given up for the pin's own, which
// gives what the pin asks.
TEST_F(OutputPinTest, ConnectionFallsBackToItsOwnAllocatorWhenTheDownstreamOneGrantsTooFew)
{
    AllocatorScript script;
    script.maxBuffers = 16;
    auto graph = DsHost::FilterGraph::Create();
    DemuxUnderTest demux;
    ComPtr<AllocatorPeer> peer(new AllocatorPeer(script));
    ASSERT_EQ(graph->AddFilter(demux.filter.Get(), L"Demux"), S_OK);
    ASSERT_EQ(graph->AddFilter(peer.Get(), L"Peer"), S_OK);
    ComPtr<IPin> video = demux.CreatePin(L"Video");
    ASSERT_EQ(graph->Connect(video.Get(), &peer->Input()), S_OK);
    ASSERT_EQ(script.requests.size(), 1u);
    ALLOCATOR_PROPERTIES used{};
    ASSERT_NE(peer->Input().Allocator(), nullptr);
    ASSERT_EQ(peer->Input().Allocator()->GetProperties(&used), S_OK);
    EXPECT_EQ(used.cBuffers, 32);
    EXPECT_EQ(used.cbBuffer, 8192);
    EXPECT_EQ(graph->Pause(), S_OK);
    EXPECT_TRUE(demux.Output(0).DeliverThread().IsRunning());
}

TEST_F(OutputPinTest, UnconnectedPinHasNoAllocatorToStartOrStop)
{
    DemuxUnderTest demux;
    ComPtr<IPin> video = demux.CreatePin(L"Video");
    EsPin& pin = demux.Output(0);
    EXPECT_EQ(pin.Active(), VFW_E_NO_ALLOCATOR);
    EXPECT_FALSE(pin.DeliverThread().IsRunning());
    EXPECT_EQ(pin.Inactive(), VFW_E_NO_ALLOCATOR);
}

TEST_F(OutputPinTest, StreamControlFlowsDownstreamOnly)
{
    LogCapture log;
    DemuxUnderTest demux;
    ComPtr<IPin> video = demux.CreatePin(L"Video");
    EXPECT_EQ(video->EndOfStream(), E_UNEXPECTED);
    EXPECT_EQ(video->BeginFlush(), E_UNEXPECTED);
    EXPECT_EQ(video->EndFlush(), E_UNEXPECTED);
    IPin* internal[2] = {};
    ULONG count = 2;
    EXPECT_EQ(video->QueryInternalConnections(internal, &count), E_NOTIMPL);
    EXPECT_EQ(demux.InputPin()->QueryInternalConnections(internal, &count), E_NOTIMPL);
    EXPECT_EQ(demux.Output(0).DeliverEndOfStream(), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(demux.Output(0).DeliverNewSegment(0, 1, 1.0), VFW_E_NOT_CONNECTED);
    IPin* peer = reinterpret_cast<IPin*>(0x1);
    EXPECT_EQ(video->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(peer, nullptr);
    EXPECT_TRUE(log.Lines().empty());
}
