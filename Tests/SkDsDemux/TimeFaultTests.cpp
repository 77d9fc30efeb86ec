// Streams whose clocks misbehave, through the running filter: PCR jumps forward and back, the
// PCR wrap, a PCR PID that falls silent while another takes over, no PCR at all, PTS that stand
// still. The time base follows what it can, and every PES still comes out whole on every pin.
// The filter's steady clock is the test's: each sample moves it on by the time the sample lasts at
// the stream's mux rate, as if the stream arrived in real time (so what the time base measures
// depends on the stream alone, however fast or slow the machine), and at the end it moves an hour
// on, so every PES held for its due time goes out at once: no test waits for the stream's pace.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <utility>
#include <cstdlib>
#include <vector>

#include "FaultRig.h"
#include "StreamEdits.h"

using namespace FaultTest;
using FilterTest::LogCapture;

namespace {

using TimeFaultTest = FilterTest::LiveObjects;

constexpr int64_t kSecond = 10'000'000;          // 100 ns units
constexpr int64_t kSecondNs = 1'000'000'000;
constexpr int64_t kPcrSecond = 27'000'000;       // 27 MHz units
constexpr int64_t kPtsWrap = 954'437'176'888;    // 2^33 ticks of 90 kHz in 100 ns units, truncated

Bytes Received(const FilterTest::SinkRecord& record)
{
    std::lock_guard lock(record.mutex);
    return record.bytes;
}

// Bytes per second of a stream, from the first and the last PCR of its first PCR PID.
double MuxRate(const Bytes& stream)
{
    int64_t firstPcr = -1, lastPcr = -1;
    size_t firstAt = 0, lastAt = 0;
    uint32_t pid = 0xFFFFFFFF;
    for (size_t at = 0; at + 188 <= stream.size(); at += 188) {
        const uint8_t* p = &stream[at];
        if (!SktsTest::CarriesPcr(p) || (pid != 0xFFFFFFFF && SktsTest::PacketPid(p) != pid))
            continue;
        pid = SktsTest::PacketPid(p);
        if (firstPcr < 0) {
            firstPcr = SktsTest::ReadPcrField(p);
            firstAt = at;
        }
        lastPcr = SktsTest::ReadPcrField(p);
        lastAt = at;
    }
    EXPECT_GT(lastPcr, firstPcr);
    return static_cast<double>(lastAt - firstAt) * kPcrSecond / static_cast<double>(lastPcr - firstPcr);
}

// The filter running on its own clock with a video and an audio pin.
class RunningRig {
public:
    explicit RunningRig(const Bytes& original)
        : bytesPerSecond(MuxRate(original)), rig([this] { return steadyNs.load(); })
    {
        video = &rig.AddPin(L"Video", MEDIATYPE_Video, {kVideoPid});
        audio = &rig.AddPin(L"Audio", MEDIATYPE_Audio, {kAudioPid});
        rig.UseFilterClock();
        EXPECT_EQ(rig.Graph().Run(), S_OK);
    }

    // Every PES of the original (unedited) stream, whole and in order, on both pins.
    void ExpectEverything(const Bytes& original)
    {
        steadyNs += 3600 * kSecondNs;
        ASSERT_TRUE(rig.Drain());
        EXPECT_TRUE(Received(video->record) == Concat(ReferencePayloads(original, kVideoPid)));
        EXPECT_TRUE(Received(audio->record) == Concat(ReferencePayloads(original, kAudioPid)));
    }
    std::vector<REFERENCE_TIME> VideoStarts() const
    {
        std::lock_guard lock(video->record.mutex);
        std::vector<REFERENCE_TIME> starts;
        for (const auto& s : video->record.samples)
            starts.push_back(s.start);
        return starts;
    }

    // Samples of 64 KiB, the steady clock moving on by each one's time.
    void Feed(const Bytes& stream, size_t begin, size_t end)
    {
        for (size_t at = begin; at < end; at += 65536) {
            const size_t size = std::min<size_t>(65536, end - at);
            ASSERT_EQ(rig.ReceiveOne(stream.data() + at, static_cast<LONG>(size)), S_OK);
            steadyNs += static_cast<int64_t>(static_cast<double>(size) / bytesPerSecond * kSecondNs);
        }
    }
    void Feed(const Bytes& stream) { Feed(stream, 0, stream.size()); }

    const double bytesPerSecond;
    std::atomic<int64_t> steadyNs{1000 * kSecondNs};
    FaultRig rig;
    Downstream* video = nullptr;
    Downstream* audio = nullptr;
};

// The offset in force before byte `at` and one sample later; the whole stream is fed.
std::pair<int64_t, int64_t> OffsetsAround(RunningRig& r, const Bytes& stream, size_t at)
{
    r.Feed(stream, 0, at);
    const int64_t before = r.rig.Filter().Time().PcrOffset();
    r.Feed(stream, at, at + 65536);
    const int64_t after = r.rig.Filter().Time().PcrOffset();
    r.Feed(stream, at + 65536, stream.size());
    return {before, after};
}

} // namespace

TEST_F(TimeFaultTest, PcrJumpingForwardOrBackIsTakenAsANewOffset)
{
    const Bytes original = SampleStream("h264_aac.ts");
    for (const int64_t jump : {10 * kPcrSecond, -10 * kPcrSecond}) {
        SCOPED_TRACE(jump);
        LogCapture log;
        Bytes stream = original;
        // The whole stream 100 s later first, so that going back 10 s does not wrap.
        SktsTest::ShiftPcrs(stream, 0, 100 * kPcrSecond);
        SktsTest::EditPesTimes(stream, 0, [](int64_t t) { return t + 100 * 90'000; });
        const size_t half = stream.size() / 2 / 188 * 188;
        SktsTest::ShiftPcrs(stream, half / 188, jump);
        RunningRig r(original);
        const int32_t generation = r.rig.Filter().Time().Generation();
        const auto [before, after] = OffsetsAround(r, stream, half);
        // Stream time = PCR time + offset: a PCR ahead by 10 s takes 10 s off the offset.
        EXPECT_NEAR(static_cast<double>(after - before), static_cast<double>(-jump * 10 / 27), 0.3 * kSecond);
        EXPECT_GT(r.rig.Filter().Time().Generation(), generation);
        EXPECT_TRUE(r.rig.Filter().Time().PcrOffsetValid());
        r.ExpectEverything(original);
        EXPECT_TRUE(log.Lines().empty());
    }
}

// The 33-bit PCR base and the PTS wrap in the middle of the stream: the offset steps by the whole
// range and delivery goes on.
TEST_F(TimeFaultTest, PcrWrapIsAdoptedWhole)
{
    const Bytes original = SampleStream("h264_aac.ts");
    Bytes stream = original;
    const size_t half = stream.size() / 2 / 188 * 188;
    int64_t pcrAtHalf = -1;
    size_t lastBeforeWrap = half;
    for (size_t at = half; at + 188 <= stream.size() && pcrAtHalf < 0; at += 188) {
        if (SktsTest::CarriesPcr(&stream[at])) {
            pcrAtHalf = SktsTest::ReadPcrField(&stream[at]);
            lastBeforeWrap = at;
        }
    }
    ASSERT_GE(pcrAtHalf, 0);
    // The first PCR after the middle becomes the last before the wrap; the sample after it
    // starts with a wrapped one.
    const int64_t shift = SktsTest::kPcrModulus - 1 - pcrAtHalf;
    SktsTest::ShiftPcrs(stream, 0, shift);
    SktsTest::EditPesTimes(stream, 0, [shift](int64_t t) { return t + shift / 300; });

    LogCapture log;
    RunningRig r(original);
    const auto [before, after] = OffsetsAround(r, stream, lastBeforeWrap + 188);
    EXPECT_NEAR(static_cast<double>(after - before), static_cast<double>(kPtsWrap), 0.3 * kSecond);
    r.ExpectEverything(original);
    EXPECT_TRUE(log.Lines().empty());
}

// The PCR PID stops carrying PCRs halfway and another PID, listed in no table, carries them
// from then on: the silent track is aged out, the new one times the stream, and nothing is lost.
TEST_F(TimeFaultTest, PcrPidFallingSilentIsReplacedByTheNewOne)
{
    const Bytes original = SampleStream("h264_aac.ts");
    const Bytes stream = SktsTest::MovePcrs(original, original.size() / 2 / 188, kVideoPid, 0x1FF0);
    LogCapture log;
    RunningRig r(original);
    r.Feed(stream, 0, stream.size() / 2);
    EXPECT_EQ(r.rig.Filter().Engine().TimingPcrPid(), kVideoPid);
    r.Feed(stream, stream.size() / 2, stream.size());
    EXPECT_EQ(r.rig.Filter().Engine().PcrTracks().count(kVideoPid), 0u);
    EXPECT_EQ(r.rig.Filter().Engine().TimingPcrPid(), 0x1FF0u);
    EXPECT_FALSE(r.rig.Filter().Engine().TimeBaseLocked()); // the new PID is no program's PCR PID
    r.ExpectEverything(original);
    EXPECT_TRUE(log.Lines().empty());
}

// No PCR anywhere: no offset is ever in force, and once every PID has given five DTS the start
// times come from the fallback offset.
TEST_F(TimeFaultTest, StreamWithoutPcrUsesTheFallbackOffset)
{
    const Bytes original = SampleStream("h264_aac.ts");
    Bytes stream = original;
    SktsTest::StripPcrs(stream, 0);
    LogCapture log;
    RunningRig r(original);
    r.Feed(stream);
    EXPECT_FALSE(r.rig.Filter().Time().PcrOffsetValid());
    EXPECT_EQ(r.rig.Filter().Engine().TimingPcrPid(), DsDemux::Demuxer::kNoPid);
    EXPECT_TRUE(r.rig.Filter().Engine().PcrTracks().empty());
    EXPECT_NE(r.rig.Filter().Time().FallbackOffset(), 0);
    r.ExpectEverything(original);
    const std::vector<REFERENCE_TIME> starts = r.VideoStarts();
    const auto timed = std::count_if(starts.begin(), starts.end(), [](REFERENCE_TIME s) { return s != 0; });
    EXPECT_GT(timed, static_cast<std::ptrdiff_t>(starts.size() / 2));
    EXPECT_TRUE(log.Lines().empty());
}

// Every PTS and DTS the same: all PES still come out, whatever times they get.
TEST_F(TimeFaultTest, PtsStandingStillStillDeliversEverything)
{
    const Bytes original = SampleStream("h264_aac.ts");
    Bytes stream = original;
    SktsTest::EditPesTimes(stream, 0, [](int64_t) { return int64_t{900'000}; });
    LogCapture log;
    RunningRig r(original);
    r.Feed(stream);
    r.ExpectEverything(original);
    EXPECT_TRUE(log.Lines().empty());
}
