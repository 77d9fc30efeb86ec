#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <vector>

#include "FilterTestSupport.h"
#include "TimeBase.h"

using DsDemux::PesData;
using DsDemux::TimeBase;

namespace {

constexpr int64_t kNoTime = std::numeric_limits<int64_t>::min();
constexpr int64_t kMs = 10'000; // 100-ns units per millisecond

// A time base whose stream time and steady clock the test sets.
struct TimeBaseRig {
    int64_t streamNow = 0;
    bool hasClock = true;
    int64_t steadyNow = 1'000'000'000;
    TimeBase time{[this](int64_t& now) {
                      if (hasClock)
                          now = streamNow;
                      return hasClock;
                  },
                  [this] { return steadyNow; }};

    // A PES as the engine completes it.
    static std::shared_ptr<PesData> Pes(int64_t pts, int64_t dts = kNoTime)
    {
        auto pes = std::make_shared<PesData>();
        pes->pts = pts;
        pes->dts = dts == kNoTime ? pts : dts;
        pes->timeBaseLocked = true;
        return pes;
    }
    std::shared_ptr<PesData> Stamp(int64_t pts, uint32_t kind = AvTimeStamp::kVideo, bool paused = false,
                                   uint32_t pid = 0x100, int64_t dts = kNoTime)
    {
        auto pes = Pes(pts, dts);
        time.BeginPes(*pes, pid);
        time.FinishPes(*pes, kind, paused);
        return pes;
    }
    // The offset the PCR measurement gives when a sample arrives at streamTime.
    void Measure(int64_t streamTime, int64_t sampleTime)
    {
        time.SetSampleTimes(streamTime, steadyNow);
        bool flag = false;
        time.OnSampleTime(sampleTime, flag, false);
    }
};

} // namespace

// The hysteresis: jitter within 250 ms keeps the offset in force, a middling step is taken in
// part, a large one whole; only adoptions advance the generation. Nothing is written at level 4.
TEST(TimeBaseTest, PcrOffsetFollowsTheHysteresis)
{
    FilterTest::LogCapture log;
    TimeBaseRig rig;
    rig.Measure(1'000 * kMs + 240 * kMs, 1'000 * kMs); // 240 ms from the offset in force (0)
    EXPECT_TRUE(rig.time.PcrOffsetValid());
    EXPECT_EQ(rig.time.PcrOffset(), 0);
    EXPECT_EQ(rig.time.RawPcrOffset(), 240 * kMs);
    EXPECT_EQ(rig.time.Generation(), 1);

    rig.Measure(2'000 * kMs + 300 * kMs, 2'000 * kMs); // 300 ms: adopted as 75 ms
    EXPECT_EQ(rig.time.PcrOffset(), 75 * kMs);
    EXPECT_EQ(rig.time.Generation(), 2);
    EXPECT_EQ(rig.time.SteadyBaseNs(), rig.steadyNow - 2'000 * kMs * 100);

    rig.Measure(3'000 * kMs + 75 * kMs - 300 * kMs, 3'000 * kMs); // 300 ms below: 75 - 300 + 225
    EXPECT_EQ(rig.time.PcrOffset(), 0);

    rig.Measure(4'000 * kMs + 600 * kMs, 4'000 * kMs); // 600 ms: whole
    EXPECT_EQ(rig.time.PcrOffset(), 600 * kMs);
    EXPECT_EQ(rig.time.Generation(), 4);
    EXPECT_TRUE(log.Lines().empty());
}

// The PCR base wraps at 2^33: the sample time falls back by 2^33 * 1000 / 9 and the new offset
// is adopted whole.
TEST(TimeBaseTest, PcrWrapIsAdoptedAsANewOffset)
{
    TimeBaseRig rig;
    const int64_t beforeWrap = ((int64_t(1) << 33) - 90'000) * 1000 / 9;
    rig.Measure(5'000 * kMs, beforeWrap);
    const int64_t offset = rig.time.PcrOffset();
    EXPECT_EQ(offset, 5'000 * kMs - beforeWrap);
    const int64_t afterWrap = 90'000 * 1000 / 9; // 2 s of stream later, past the wrap
    rig.Measure(5'000 * kMs + 2'000 * kMs, afterWrap);
    EXPECT_EQ(rig.time.PcrOffset(), 7'000 * kMs - afterWrap);
    EXPECT_EQ(rig.time.Generation(), 3);
}

TEST(TimeBaseTest, PausedSampleTimesInvalidateTheOffset)
{
    TimeBaseRig rig;
    rig.Measure(1'000 * kMs, 0);
    ASSERT_TRUE(rig.time.PcrOffsetValid());
    bool flag = false;
    rig.time.OnSampleTime(0, flag, true);
    EXPECT_FALSE(rig.time.PcrOffsetValid());
    EXPECT_EQ(rig.time.PcrOffset(), 1'000 * kMs);
}

// With a PCR offset of 0 in force, PTS 90,000 (1 s) starts at 1.4 s; due times follow the
// steady base; the first video and audio PES after an adoption are marked.
TEST(TimeBaseTest, StampsAPesFromItsPtsAndTheOffsetInForce)
{
    TimeBaseRig rig;
    rig.Measure(0, 0);
    auto video = rig.Stamp(90'000, AvTimeStamp::kVideo, false, 0x100, 81'000);
    const AvTimeStamp& record = *video->timeStamp;
    EXPECT_EQ(record.start, 14'000'000);
    EXPECT_EQ(record.dueNs, (10'000'000 + 4'000'000) * 100 + rig.time.SteadyBaseNs());
    EXPECT_EQ(video->dueTimeNs, 9'000'000LL * 100 + rig.time.SteadyBaseNs());
    EXPECT_EQ(record.state, AvTimeStamp::kStamped);
    EXPECT_TRUE(record.stamped);
    EXPECT_EQ(record.kind, AvTimeStamp::kVideo);
    EXPECT_EQ(record.pts, 90'000);
    EXPECT_EQ(record.dts, 81'000);
    EXPECT_EQ(record.flags & AvTimeStamp::kFlagFirstAfterNewOffset, 0u) << "0 was never adopted";

    rig.Measure(2'000 * kMs, 0); // a new offset of 2 s
    auto first = rig.Stamp(180'000, AvTimeStamp::kVideo);
    auto second = rig.Stamp(183'600, AvTimeStamp::kVideo);
    auto audio = rig.Stamp(180'000, AvTimeStamp::kAudio);
    auto other = rig.Stamp(180'000, AvTimeStamp::kOther);
    EXPECT_NE(first->timeStamp->flags & AvTimeStamp::kFlagFirstAfterNewOffset, 0u);
    EXPECT_EQ(second->timeStamp->flags & AvTimeStamp::kFlagFirstAfterNewOffset, 0u);
    EXPECT_NE(audio->timeStamp->flags & AvTimeStamp::kFlagFirstAfterNewOffset, 0u);
    EXPECT_EQ(other->timeStamp->flags & AvTimeStamp::kFlagFirstAfterNewOffset, 0u);
    EXPECT_EQ(first->timeStamp->start, 2'000 * kMs + 4'000'000 + 20'000'000);
    EXPECT_EQ(first->timeStamp->generation, 2);
}

TEST(TimeBaseTest, LossAndUnlockedTimeBaseAreMarked)
{
    TimeBaseRig rig;
    auto pes = TimeBaseRig::Pes(90'000);
    pes->dataLost = true;
    pes->timeBaseLocked = false;
    rig.time.BeginPes(*pes, 0x100);
    EXPECT_EQ(pes->timeStamp->flags & (AvTimeStamp::kFlagDataLost | AvTimeStamp::kFlagTimeBaseNotLocked),
              AvTimeStamp::kFlagDataLost | AvTimeStamp::kFlagTimeBaseNotLocked);
}

// Paused: marked, and no start time; a start more than 12.4 s ahead of the stream time is not
// used, nor is its due time; without a clock the comparison is with 0.
TEST(TimeBaseTest, PausedAndFarAheadPesCarryNoStartTime)
{
    TimeBaseRig rig;
    rig.Measure(0, 0);
    auto paused = rig.Stamp(90'000, AvTimeStamp::kVideo, true);
    EXPECT_EQ(paused->timeStamp->start, 0);
    EXPECT_NE(paused->timeStamp->flags & AvTimeStamp::kFlagStampedWhilePaused, 0u);

    rig.streamNow = 0;
    auto near = rig.Stamp(90'000 * 12); // starts at 12.4 s: exactly at the limit, still used
    EXPECT_EQ(near->timeStamp->start, 124'000'000);
    auto far = rig.Stamp(90'000 * 12 + 9); // 100 us beyond
    EXPECT_EQ(far->timeStamp->start, 0);
    EXPECT_EQ(far->timeStamp->dueNs, 0);
    EXPECT_NE(far->dueTimeNs, 0) << "pacing still follows the DTS";

    rig.streamNow = 100 * kMs * 10; // 1 s later the same PES is in range
    EXPECT_NE(rig.Stamp(90'000 * 12 + 9)->timeStamp->start, 0);
    rig.hasClock = false;
    EXPECT_EQ(rig.Stamp(90'000 * 13)->timeStamp->start, 0);
}

TEST(TimeBaseTest, PesWithoutPtsGoesOutWithoutTimes)
{
    TimeBaseRig rig;
    rig.Measure(0, 0);
    auto pes = rig.Stamp(kNoTime);
    EXPECT_EQ(pes->timeStamp->start, 0);
    EXPECT_EQ(pes->timeStamp->dueNs, 0);
    EXPECT_EQ(pes->dueTimeNs, 0);
    EXPECT_TRUE(rig.time.OffsetStats().empty());
}

// Without a PCR lock, five DTS-stamped PES on every live PID give the smallest mean offset;
// four give nothing.
TEST(TimeBaseTest, FallbackOffsetNeedsFiveDtsSamplesOnEveryLivePid)
{
    TimeBaseRig rig;
    rig.time.SetClockToStreamOffset(-5 * kMs);
    rig.time.SetSampleTimes(10'000 * kMs, 0);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(rig.Stamp(90'000 + i * 3'600, AvTimeStamp::kVideo, false, 0x100)->timeStamp->start, 0);
    EXPECT_EQ(rig.time.FallbackOffset(), 0);

    // The fifth sample: the offsets were sampleStreamTime - dts100 for each PES.
    auto fifth = rig.Stamp(90'000 + 4 * 3'600, AvTimeStamp::kVideo, false, 0x100);
    int64_t sum = 0;
    for (int i = 0; i < 5; ++i)
        sum += 10'000 * kMs - (90'000 + i * 3'600) * 1000 / 9;
    const int64_t mean = sum / 5;
    EXPECT_EQ(rig.time.FallbackOffset(), mean);
    const int64_t pts100 = (90'000 + 4 * 3'600) * 1000 / 9;
    EXPECT_EQ(fifth->timeStamp->start, mean + pts100 + 4'000'000);
    EXPECT_EQ(fifth->dueTimeNs, (mean + pts100) * 100);
    EXPECT_EQ(fifth->timeStamp->dueNs, (mean + pts100 + 5 * kMs + 4'000'000) * 100);

    // A second live PID with fewer than five samples: no times at all.
    rig.Stamp(90'000, AvTimeStamp::kAudio, false, 0x101);
    EXPECT_EQ(rig.time.FallbackOffset(), 0);

    // 2.1 s of arrival time later both PIDs' statistics have expired.
    rig.time.SetSampleTimes(10'000 * kMs + 2'101 * kMs, 0);
    EXPECT_EQ(rig.time.FallbackOffset(), 0);
    EXPECT_TRUE(rig.time.OffsetStats().empty());
}

// The tightest of ten readings sets the steady-clock to stream-time offset; input samples are
// then stamped from the steady clock alone.
TEST(TimeBaseTest, RunCalibrationTiesTheSteadyClockToStreamTime)
{
    TimeBaseRig rig;
    rig.streamNow = 77 * kMs;
    rig.steadyNow = 123'456'789'000;
    rig.time.Calibrate();
    EXPECT_EQ(rig.time.ClockToStreamOffset(), 77 * kMs - 123'456'789'000 / 100);
    EXPECT_EQ(rig.time.Generation(), 2);

    rig.steadyNow += 1'000'000'000; // one second later
    rig.streamNow = 0;              // the graph clock is not asked any more
    const auto record = rig.time.StampInputSample();
    EXPECT_EQ(record->state, AvTimeStamp::kReceived);
    EXPECT_EQ(rig.time.SampleClockTime(), rig.steadyNow);
    EXPECT_EQ(rig.time.SampleStreamTime(), 77 * kMs + 1'000 * kMs);

    // Without an offset, the stream time is the filter's; a failing clock leaves it as it was.
    TimeBaseRig plain;
    plain.streamNow = 42;
    plain.time.StampInputSample();
    EXPECT_EQ(plain.time.SampleStreamTime(), 42);
    plain.hasClock = false;
    plain.time.StampInputSample();
    EXPECT_EQ(plain.time.SampleStreamTime(), 42);
}

// The first PES of an input sample shares the sample's record; later ones get records of their
// own, numbered with the sample.
TEST(TimeBaseTest, PesRecordsDeriveFromTheirInputSample)
{
    TimeBaseRig rig;
    const auto input = rig.time.StampInputSample();
    auto first = rig.Stamp(90'000);
    auto second = rig.Stamp(93'600);
    EXPECT_EQ(first->timeStamp, input);
    EXPECT_NE(second->timeStamp, input);
    EXPECT_EQ(input->sampleNumber, 1);
    EXPECT_EQ(second->timeStamp->sampleNumber, 1);
    EXPECT_EQ(second->timeStamp->sampleNumberCopy, 1u);
    EXPECT_EQ(second->timeStamp->kind, AvTimeStamp::kVideo);
    EXPECT_EQ(second->timeStamp->createdNs, rig.steadyNow);
}
