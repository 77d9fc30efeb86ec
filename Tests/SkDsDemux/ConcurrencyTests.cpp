#include <gtest/gtest.h>

#include "FilterTestSupport.h"
#include "TestData.h"

using namespace FilterTest;

namespace {

using FilterConcurrencyTest = LiveObjects;

} // namespace

// The application thread creates and deletes pins, maps and unmaps PIDs and cycles the states
// while the source's thread streams into the filter and the pins' threads deliver. Run under
// ThreadSanitizer this finds races; anywhere it finds deadlocks and leaks.
TEST_F(FilterConcurrencyTest, PinsMapsAndStatesChangeWhileStreaming)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    DemuxGraph graph(SktsTest::ReadFile(path), 188 * 7, 0 /* for ever */);
    SinkRecord& video = graph.AddPin(L"Video", TypeOf(MEDIATYPE_Video), {0x100});
    SinkRecord& audio = graph.AddPin(L"Audio", TypeOf(MEDIATYPE_Audio), {0x101});
    ComPtr<IMpeg2Demultiplexer> demux;
    ASSERT_EQ(graph.FilterInterface()->QueryInterface(IID_IMpeg2Demultiplexer, demux.PutVoid()), S_OK);
    ComPtr<IPin> videoPin;
    ASSERT_EQ(graph.FilterInterface()->FindPin(L"Video", videoPin.Put()), S_OK);
    ComPtr<IMPEG2PIDMap> videoMap;
    ASSERT_EQ(videoPin->QueryInterface(IID_IMPEG2PIDMap, videoMap.PutVoid()), S_OK);

    CMediaType type = TypeOf(MEDIATYPE_Video);
    wchar_t extraName[] = L"Extra";
    for (int cycle = 0; cycle < 1000; ++cycle) {
        ASSERT_EQ(graph.Graph().Pause(), S_OK);
        ComPtr<IPin> extra;
        ASSERT_EQ(demux->CreateOutputPin(&type, extraName, extra.Put()), S_OK);
        ComPtr<IMPEG2PIDMap> extraMap;
        ASSERT_EQ(extra->QueryInterface(IID_IMPEG2PIDMap, extraMap.PutVoid()), S_OK);
        ULONG pids[] = {0x100, 0x101, 0x1FF};
        ASSERT_EQ(extraMap->MapPID(3, pids, MEDIA_ELEMENTARY_STREAM), S_OK);
        ASSERT_EQ(graph.Graph().Run(), S_OK);
        ULONG audioPid = 0x101;
        ASSERT_EQ(videoMap->MapPID(1, &audioPid, MEDIA_ELEMENTARY_STREAM), S_OK);
        ComPtr<IEnumPIDMap> enumerator;
        ASSERT_EQ(videoMap->EnumPIDMap(enumerator.Put()), S_OK);
        ASSERT_EQ(videoMap->UnmapPID(1, &audioPid), S_OK);
        if (cycle % 2 == 0) {
            extraMap.Reset();
            extra.Reset(); // released before deleting: the filter keeps no extra reference
        }
        ASSERT_EQ(demux->DeleteOutputPin(extraName), S_OK);
        extraMap.Detach(); // deleted with its pin: the references went back to the filter
        extra.Detach();
        ASSERT_EQ(graph.Graph().Stop(), S_OK);
    }
    ASSERT_EQ(graph.Graph().Pause(), S_OK);
    const size_t videoBefore = video.SampleCount();
    const size_t audioBefore = audio.SampleCount();
    EXPECT_TRUE([&] {
        for (int wait = 0; wait < 30'000; ++wait) {
            if (video.SampleCount() > videoBefore && audio.SampleCount() > audioBefore)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }()) << "the filter still demultiplexes after the churn";
}
