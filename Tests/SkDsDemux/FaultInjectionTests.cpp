// Misbehaving neighbours of the filter in a graph: downstream allocators and sinks that fail,
// stall or dawdle, upstream samples without data, of odd sizes, and flushes in the middle of a
// PES. Whatever happens, the failures are logged with their exact lines, the rest of the stream
// and the other pins are delivered, Stop comes back, and no COM object is left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "FaultRig.h"

using namespace FaultTest;
using FilterTest::LogCapture;

namespace {

using FaultInjectionTest = FilterTest::LiveObjects;

constexpr size_t kBufferSize = 8192; // what the output pins ask of the downstream allocator

size_t CountOf(const std::vector<std::string>& lines, const std::string& line)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

Bytes Received(const FilterTest::SinkRecord& record)
{
    std::lock_guard lock(record.mutex);
    return record.bytes;
}

// The usual graph: the sample's video and audio each on a pin of its own, the log captured from
// before the filter exists.
struct AvGraph {
    LogCapture log;
    FaultRig rig;
    Downstream& video = rig.AddPin(L"Video", MEDIATYPE_Video, {kVideoPid});
    Downstream& audio = rig.AddPin(L"Audio", MEDIATYPE_Audio, {kAudioPid});
};

template <typename Condition>
bool Within60s(Condition done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace

// An allocator failing every 5th GetBuffer, and one whose every 7th buffer has no data pointer:
// each failure is logged and abandons the rest of its PES only; the next PES and the other pin
// come out whole.
TEST_F(FaultInjectionTest, AllocatorFailuresAbandonOnlyTheirPes)
{
    const Bytes stream = SampleStream("h264_aac.ts");
    const std::vector<Bytes> video = ReferencePayloads(stream, kVideoPid);
    const std::vector<Bytes> audio = ReferencePayloads(stream, kAudioPid);
    LogCapture log;
    {
        FaultRig rig;
        Downstream& failingBuffers = rig.AddPin(L"Video", MEDIATYPE_Video, {kVideoPid}, true, 5, 0);
        Downstream& noPointers = rig.AddPin(L"Audio", MEDIATYPE_Audio, {kAudioPid}, true, 0, 7);
        Downstream& healthy = rig.AddPin(L"Copy", MEDIATYPE_Video, {kVideoPid});
        ASSERT_EQ(rig.Graph().Pause(), S_OK);
        rig.Feed(stream);
        ASSERT_TRUE(rig.Drain());

        const AbandonedPieces videoExpected = ExpectedWithAllocatorFaults(video, kBufferSize, 5, 0);
        const AbandonedPieces audioExpected = ExpectedWithAllocatorFaults(audio, kBufferSize, 0, 7);
        ASSERT_GT(videoExpected.bufferFailures, 10);
        ASSERT_GT(audioExpected.pointerFailures, 2);
        EXPECT_TRUE(Received(failingBuffers.record) == videoExpected.delivered);
        EXPECT_TRUE(Received(noPointers.record) == audioExpected.delivered);
        EXPECT_TRUE(Received(healthy.record) == Concat(video));

        const std::vector<std::string> lines = log.Messages();
        EXPECT_EQ(CountOf(lines, "EsPin(226): Failed to get delivery buffer (ERROR=0x8007000E)\n"),
                  static_cast<size_t>(videoExpected.bufferFailures));
        EXPECT_EQ(CountOf(lines, "EsPin(235): Failed to get output data pointer (hr=0x8000FFFF)\n"),
                  static_cast<size_t>(audioExpected.pointerFailures));
        EXPECT_EQ(lines.size(), static_cast<size_t>(videoExpected.bufferFailures + audioExpected.pointerFailures));
        EXPECT_EQ(rig.Graph().Stop(), S_OK);
    }
}

// A sink refusing every second sample: each refusal is logged, and the pieces after it are
// still offered, so the sink has seen every byte.
TEST_F(FaultInjectionTest, ReceiveFailuresAreLoggedAndEveryPieceIsStillOffered)
{
    const Bytes stream = SampleStream("h264_aac.ts");
    LogCapture log;
    FaultRig rig;
    Downstream& refusing = rig.AddPin(L"Video", MEDIATYPE_Video, {kVideoPid});
    std::atomic<int> calls{0};
    refusing.record.onReceive = [&calls] { return ++calls % 2 == 0 ? E_FAIL : S_OK; };
    Downstream& audio = rig.AddPin(L"Audio", MEDIATYPE_Audio, {kAudioPid});
    ASSERT_EQ(rig.Graph().Pause(), S_OK);
    rig.Feed(stream);
    ASSERT_TRUE(rig.Drain());

    EXPECT_TRUE(Received(refusing.record) == Concat(ReferencePayloads(stream, kVideoPid)));
    EXPECT_TRUE(Received(audio.record) == Concat(ReferencePayloads(stream, kAudioPid)));
    const std::vector<std::string> lines = log.Messages();
    ASSERT_GT(calls.load(), 100);
    EXPECT_EQ(lines.size(), static_cast<size_t>(calls.load() / 2));
    EXPECT_EQ(CountOf(lines, "EsPin(277): Failed to deliver output sample (hr=0x80004005)\n"), lines.size());
}

// A sink that stops taking samples holds up its own pin only: the input pin takes the whole
// stream and the other pin delivers all of it meanwhile; once the sink moves again, its pin
// catches up with nothing lost.
TEST_F(FaultInjectionTest, StalledDownstreamHoldsUpOnlyItsOwnPin)
{
    const Bytes stream = SampleStream("h264_aac.ts");
    const Bytes audioExpected = Concat(ReferencePayloads(stream, kAudioPid));
    LogCapture log;
    Gate gate;
    FaultRig rig;
    Downstream& stalled = rig.AddPin(L"Video", MEDIATYPE_Video, {kVideoPid});
    stalled.record.onReceive = [&gate] {
        gate.Pass();
        return S_OK;
    };
    Downstream& audio = rig.AddPin(L"Audio", MEDIATYPE_Audio, {kAudioPid});
    gate.Close();
    ASSERT_EQ(rig.Graph().Pause(), S_OK);

    rig.Feed(stream); // returns although the video sink takes nothing
    ASSERT_TRUE(gate.WaitForArrival());
    ASSERT_TRUE(Within60s([&] { return Received(audio.record).size() == audioExpected.size(); }));
    EXPECT_TRUE(gate.HasWaiter());
    EXPECT_EQ(stalled.record.SampleCount(), 1u);

    gate.Open();
    ASSERT_TRUE(rig.Drain());
    EXPECT_TRUE(Received(stalled.record) == Concat(ReferencePayloads(stream, kVideoPid)));
    EXPECT_TRUE(Received(audio.record) == audioExpected);
    EXPECT_TRUE(log.Lines().empty());
}

// Stop while a sink blocks for a second inside Receive: Stop waits for the sample in hand and
// comes back; the delivery thread ends and the queued PES are dropped. The sinks stop before the
// filter, so the only lines that may be logged are a buffer refused by a stopped sink's
// decommitted allocator and a sample in flight refused by a stopped sink (how many depends on
// where each pin's thread is when its sink stops).
TEST_F(FaultInjectionTest, StopWhileADownstreamBlocksForASecondComesBack)
{
    const Bytes stream = SampleStream("h264_aac.ts");
    LogCapture log;
    std::atomic<bool> entered{false};
    {
        FaultRig rig;
        Downstream& slow = rig.AddPin(L"Video", MEDIATYPE_Video, {kVideoPid});
        slow.record.onReceive = [&entered] {
            if (!entered.exchange(true))
                std::this_thread::sleep_for(std::chrono::seconds(1));
            return S_OK;
        };
        rig.AddPin(L"Audio", MEDIATYPE_Audio, {kAudioPid});
        ASSERT_EQ(rig.Graph().Pause(), S_OK);
        rig.Feed(stream);
        ASSERT_TRUE(Within60s([&] { return entered.load(); }));
        EXPECT_EQ(rig.Graph().Stop(), S_OK);
        EXPECT_EQ(rig.Filter().GetPinCount(), 3);
        for (int pin = 1; pin < 3; ++pin) {
            auto& es = *static_cast<EsPin*>(rig.Filter().GetPin(pin));
            EXPECT_FALSE(es.DeliverThread().IsRunning());
            EXPECT_EQ(es.DeliverThread().QueueLength(), 0u);
        }
    }
    for (const std::string& line : log.Messages())
        EXPECT_TRUE(line == "EsPin(226): Failed to get delivery buffer (ERROR=0x80040211)\n" ||
                    line == "EsPin(277): Failed to deliver output sample (hr=0x80040227)\n")
            << line;
}

// A sink that takes its time with every sample: the queue grows while the input runs ahead, and
// everything arrives in order.
TEST_F(FaultInjectionTest, VerySlowDownstreamGetsEverythingInOrder)
{
    const Bytes stream = SampleStream("hevc_eac3.ts");
    LogCapture log;
    FaultRig rig;
    Downstream& video = rig.AddPin(L"Video", MEDIATYPE_Video, {kVideoPid});
    video.record.onReceive = [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        return S_OK;
    };
    Downstream& audio = rig.AddPin(L"Audio", MEDIATYPE_Audio, {kAudioPid});
    audio.record.onReceive = video.record.onReceive;
    ASSERT_EQ(rig.Graph().Pause(), S_OK);
    rig.Feed(stream, 65536);
    ASSERT_TRUE(rig.Drain());
    EXPECT_TRUE(Received(video.record) == Concat(ReferencePayloads(stream, kVideoPid)));
    EXPECT_TRUE(Received(audio.record) == Concat(ReferencePayloads(stream, kAudioPid)));
    EXPECT_TRUE(log.Lines().empty());
}

// Input samples whose data pointer cannot be had are logged and dropped with success; what the
// others carried comes out as whole PES, the ones that lost bytes left out.
TEST_F(FaultInjectionTest, InputSamplesWithoutDataAreLoggedAndDropped)
{
    const Bytes stream = SampleStream("h264_aac.ts");
    AvGraph graph;
    auto& [log, rig, video, audio] = graph;
    ASSERT_EQ(rig.Graph().Pause(), S_OK);
    const size_t chunk = 188 * 7;
    size_t refused = 0;
    for (size_t at = 0, n = 0; at < stream.size(); at += chunk, ++n) {
        const bool fail = n % 97 == 50;
        refused += fail;
        ASSERT_EQ(rig.ReceiveOne(stream.data() + at, static_cast<LONG>(std::min(chunk, stream.size() - at)),
                                 fail ? E_FAIL : S_OK),
                  S_OK);
    }
    ASSERT_TRUE(rig.Drain());

    const std::vector<std::string> lines = log.Messages();
    EXPECT_EQ(lines.size(), refused);
    EXPECT_EQ(CountOf(lines, "TsPin(87): Failed to get input data pointer (hr=0x80004005)\n"), refused);
    size_t videoSkipped = 0;
    size_t audioSkipped = 0;
    EXPECT_TRUE(IsPesSubsequence(Received(video.record), ReferencePayloads(stream, kVideoPid), videoSkipped));
    EXPECT_TRUE(IsPesSubsequence(Received(audio.record), ReferencePayloads(stream, kAudioPid), audioSkipped));
    EXPECT_GT(videoSkipped + audioSkipped, 0u);
    EXPECT_LE(videoSkipped + audioSkipped, 2 * refused);
}

// Samples of 0 bytes, of 1 byte and one of 8 MiB (the stream three and a half times over): the
// PES come out whole; only those cut at the seams of the repeated stream are left out.
TEST_F(FaultInjectionTest, EmptyOneByteAndEightMegabyteSamples)
{
    const Bytes stream = SampleStream("h264_aac.ts");
    AvGraph graph;
    auto& [log, rig, video, audio] = graph;
    ASSERT_EQ(rig.Graph().Pause(), S_OK);

    const size_t oneByteAtATime = 64 * 1024;
    for (size_t at = 0; at < oneByteAtATime; ++at) {
        if (at % 1000 == 0) {
            ASSERT_EQ(rig.ReceiveOne(stream.data() + at, 0), S_OK);
        }
        ASSERT_EQ(rig.ReceiveOne(stream.data() + at, 1), S_OK);
    }
    Bytes big(stream.begin() + oneByteAtATime, stream.end());
    while (big.size() < 8u * 1024 * 1024)
        big.insert(big.end(), stream.begin(), stream.end());
    big.resize(8u * 1024 * 1024);
    ASSERT_EQ(rig.ReceiveOne(big.data(), static_cast<LONG>(big.size())), S_OK);
    ASSERT_TRUE(rig.Drain());

    // The stream repeated: its PES in order, four times over, some left out at the seams.
    std::vector<Bytes> videoRepeated;
    std::vector<Bytes> audioRepeated;
    for (int i = 0; i < 4; ++i) {
        const std::vector<Bytes> v = ReferencePayloads(stream, kVideoPid);
        const std::vector<Bytes> a = ReferencePayloads(stream, kAudioPid);
        videoRepeated.insert(videoRepeated.end(), v.begin(), v.end());
        audioRepeated.insert(audioRepeated.end(), a.begin(), a.end());
    }
    size_t videoSkipped = 0;
    size_t audioSkipped = 0;
    EXPECT_TRUE(IsPesSubsequence(Received(video.record), videoRepeated, videoSkipped));
    EXPECT_TRUE(IsPesSubsequence(Received(audio.record), audioRepeated, audioSkipped));
    EXPECT_GT(Received(video.record).size(), 3 * Concat(ReferencePayloads(stream, kVideoPid)).size());
    // At each of the three seams a PES or two are cut; the rest of the fourth pass was never sent.
    EXPECT_LE(videoSkipped, videoRepeated.size() / 4 + 3 * 2);
    EXPECT_LE(audioSkipped, audioRepeated.size() / 4 + 3 * 2);
    EXPECT_TRUE(log.Lines().empty());
}

// A flush between two samples that cut a PES in half: both halves stay in the engine, every pin
// sees the flush once, and every PES comes out whole.
TEST_F(FaultInjectionTest, FlushInTheMiddleOfAPesKeepsItWhole)
{
    const Bytes stream = SampleStream("h264_aac.ts");
    AvGraph graph;
    auto& [log, rig, video, audio] = graph;
    ASSERT_EQ(rig.Graph().Pause(), S_OK);

    const size_t cut = stream.size() / 2 + 101; // inside a packet, inside a video PES
    rig.Feed(stream, 0, cut, 188 * 7);
    ASSERT_TRUE(rig.Drain());
    const size_t before = Received(video.record).size();
    ASSERT_EQ(rig.InputPin()->BeginFlush(), S_OK);
    ASSERT_EQ(rig.InputPin()->EndFlush(), S_OK);
    rig.Feed(stream, cut, stream.size(), 188 * 7);
    ASSERT_TRUE(rig.Drain());

    EXPECT_GT(before, 0u);
    EXPECT_TRUE(Received(video.record) == Concat(ReferencePayloads(stream, kVideoPid)));
    EXPECT_TRUE(Received(audio.record) == Concat(ReferencePayloads(stream, kAudioPid)));
    for (const Downstream* d : {&video, &audio}) {
        EXPECT_EQ(d->beginFlushes.load(), 1);
        EXPECT_EQ(d->endFlushes.load(), 1);
    }
    EXPECT_TRUE(log.Lines().empty());
}
