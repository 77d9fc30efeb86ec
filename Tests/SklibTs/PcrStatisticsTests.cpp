// PCR checks and the PCR analysis on hand-made PCR streams with exact arrival times.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PcrField.h"
#include "TsInfoImpl.h"

using namespace SklibTs;

namespace {

constexpr int64_t kPacketTicks = 27'072;  // 188 bytes at 3 Mbit/s, 54 MHz ticks
constexpr int64_t kPcrPerPacket = 13'536; // the same in 27 MHz
constexpr int kPacketsPerPcr = 10;
constexpr uint16_t kPcrPid = 0x100;

struct Statistics {
    uint32_t pid;
    PcrStatistics statistics;
    std::vector<PcrSampleDeviation> samples;
    std::string client;
};

struct Client {
    std::string name;
    std::vector<Statistics>* log;
    static void On(void* context, uint32_t pid, const PcrStatistics& statistics, const PcrSampleDeviation* samples,
                   uint32_t count)
    {
        auto& self = *static_cast<Client*>(context);
        self.log->push_back({pid, statistics, std::vector<PcrSampleDeviation>(samples, samples + count), self.name});
    }
};

// One PCR PID among null packets at 3 Mbit/s; PCR k sits exactly on the packet clock unless
// a test bends it.
class PcrStream : public ::testing::Test {
protected:
    void SetUp() override { analyser.AddIndicatorReportCallback(0xFFFFFFFF, &OnReport, this); }

    static void OnReport(void* context, uint32_t index, const IndicatorRecord& record)
    {
        static_cast<PcrStream*>(context)->reports.push_back({index, record});
    }
    void Packet(uint16_t pid, bool withPcr, int64_t pcr, bool discontinuity, int64_t arrival)
    {
        uint8_t p[188];
        std::fill(std::begin(p), std::end(p), 0xFF);
        p[0] = 0x47;
        p[1] = static_cast<uint8_t>(pid >> 8);
        p[2] = static_cast<uint8_t>(pid);
        p[3] = static_cast<uint8_t>((withPcr ? 0x30 : 0x10) | (cc_[pid]++ & 0x0F));
        if (withPcr) {
            p[4] = 7;
            p[5] = static_cast<uint8_t>(0x10 | (discontinuity ? 0x80 : 0));
            SktsTest::WritePcrField(p, pcr);
        }
        analyser.ProcessPacket(p, 188, &arrival);
    }
    // Packets up to index `until`; bend(k, pcr, arrival, discontinuity) may alter PCR k.
    template <typename Bend>
    void Run(int64_t until, Bend bend)
    {
        for (; index_ < until; ++index_) {
            int64_t arrival = index_ * kPacketTicks + arrivalShift_;
            if (index_ % kPacketsPerPcr != 0) {
                Packet(0x1FFF, false, 0, false, arrival);
                continue;
            }
            const int64_t k = index_ / kPacketsPerPcr;
            int64_t pcr = pcrBase_ + index_ * kPcrPerPacket;
            bool discontinuity = false;
            bend(k, pcr, arrival, discontinuity);
            Packet(kPcrPid, true, pcr % kPcrModulus, discontinuity, arrival);
        }
    }
    void Run(int64_t until)
    {
        Run(until, [](int64_t, int64_t&, int64_t&, bool&) {});
    }
    static int64_t PacketsFor(double seconds) { return static_cast<int64_t>(seconds * 54e6 / kPacketTicks); }
    std::vector<std::pair<uint32_t, IndicatorRecord>> Of(ConformanceIndicator indicator) const
    {
        std::vector<std::pair<uint32_t, IndicatorRecord>> selected;
        for (const auto& r : reports) {
            if (r.first == static_cast<uint32_t>(indicator))
                selected.push_back(r);
        }
        return selected;
    }

    TsInfoImpl analyser;
    std::vector<std::pair<uint32_t, IndicatorRecord>> reports;
    std::vector<Statistics> log;
    int64_t index_ = 0;
    int64_t pcrBase_ = 0;
    int64_t arrivalShift_ = 0;

private:
    uint8_t cc_[8192] = {};
};

} // namespace

TEST_F(PcrStream, PcrsOnThePacketClockHaveNoErrorAndTheMuxRate)
{
    Client forAll{"all", &log};
    Client forPid{"pid", &log};
    Client forOther{"other", &log};
    // Registered per PID first: the all-PID clients still come first.
    analyser.AddPcrStatisticsCallback(kPcrPid, &Client::On, &forPid);
    analyser.AddPcrStatisticsCallback(0x200, &Client::On, &forOther);
    analyser.AddAllPcrStatisticsCallback(&Client::On, &forAll);
    Run(PacketsFor(3.5));

    ASSERT_EQ(log.size(), 6u) << "three analyses, two clients each";
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].client, i % 2 == 0 ? "all" : "pid");
        EXPECT_EQ(log[i].pid, kPcrPid);
    }
    const Statistics& last = log.back();
    EXPECT_LT(last.statistics.maxAccuracyNs, 1.0);
    EXPECT_LT(last.statistics.maxJitterNs, 1.0);
    EXPECT_NEAR(last.statistics.pcrBitrate, 3'000'000, 1);
    // One PCR every ten 1504-bit packets at 3 Mbit/s.
    EXPECT_NEAR(last.statistics.pcrRate, 3'000'000.0 / 1504.0 / kPacketsPerPcr, 1.0);
    EXPECT_NEAR(static_cast<double>(last.statistics.pcrCount), 3 * 199.5, 2.0) << "counted up to the analysis";
    EXPECT_EQ(analyser.pidInfo[kPcrPid]->pcrCount,
              static_cast<uint64_t>((PacketsFor(3.5) + kPacketsPerPcr - 1) / kPacketsPerPcr));
    // The samples handed over are those of the latest whole period only.
    ASSERT_FALSE(last.samples.empty());
    const int64_t boundary = 3 * 54'000'000;
    for (const PcrSampleDeviation& sample : last.samples) {
        EXPECT_GE(sample.time, boundary - 54'000'000);
        EXPECT_LT(sample.time, boundary);
    }
    EXPECT_NEAR(static_cast<double>(last.samples.size()), 199.5, 1.0);
    EXPECT_TRUE(Of(ConformanceIndicator::PcrAccuracyError).empty());
    EXPECT_TRUE(Of(ConformanceIndicator::PcrRepetitionError).empty());
    EXPECT_TRUE(Of(ConformanceIndicator::PcrDiscontinuityError).empty());
}

TEST_F(PcrStream, AccuracyAgainstThePacketClockAndJitterAgainstArrival)
{
    Client forAll{"all", &log};
    analyser.AddAllPcrStatisticsCallback(&Client::On, &forAll);
    // Arrival wobbles by +-50 us while the PCRs stay on the packet clock: jitter, no accuracy error.
    Run(PacketsFor(2.5), [](int64_t k, int64_t&, int64_t& arrival, bool&) { arrival += (k % 2 ? 2'700 : -2'700); });
    ASSERT_FALSE(log.empty());
    const PcrStatistics& wobbly = log.back().statistics;
    EXPECT_LT(wobbly.maxAccuracyNs, 1.0);
    EXPECT_NEAR(wobbly.maxJitterNs, 50'000.0, 500.0);
    EXPECT_NEAR(wobbly.rmsJitterNs, 50'000.0, 500.0);
    EXPECT_NEAR(wobbly.jitterPeakToPeakNs, 100'000.0, 1'000.0);
    EXPECT_TRUE(Of(ConformanceIndicator::PcrAccuracyError).empty());

    // One PCR 2 us off the packet clock: an accuracy error at each analysis that holds it.
    Run(PacketsFor(4.5), [](int64_t k, int64_t& pcr, int64_t&, bool&) {
        if (k == 700)
            pcr += 54; // 2000 ns of 27 MHz
    });
    const auto accuracy = Of(ConformanceIndicator::PcrAccuracyError);
    ASSERT_EQ(accuracy.size(), 1u) << "the PCR of 3.5 s is in the analyses at 4 s (and not yet at 3 s)";
    EXPECT_EQ(accuracy[0].second.message, L"PCR accuracy for pid 0x0100 is not within +-500ns.");
    EXPECT_EQ(accuracy[0].second.location, IndicatorLocation::ForPid(kPcrPid));
    EXPECT_NEAR(accuracy[0].second.value, 2000.0 / 1e6, 0.0001);
    EXPECT_NEAR(log.back().statistics.maxAccuracyNs, 2000.0, 10.0);
}

TEST_F(PcrStream, JumpsGapsWrapsAndSignalledDiscontinuities)
{
    // A PCR step of 200 ms without the discontinuity_indicator.
    const int64_t normalStep = kPacketsPerPcr * kPcrPerPacket;
    Run(PacketsFor(1.0));
    pcrBase_ += 5'400'000 - normalStep;
    Run(PacketsFor(1.0) + kPacketsPerPcr);
    auto jumps = Of(ConformanceIndicator::PcrDiscontinuityError);
    ASSERT_EQ(jumps.size(), 1u);
    EXPECT_EQ(jumps[0].second.message, L"Un-signalled PCR discontinuity on PID 256 (allowed: 100ms, actual: 200.0ms)");
    EXPECT_DOUBLE_EQ(jumps[0].second.value, 200.0);

    // The same step signalled: no discontinuity and, the history restarted, no accuracy error.
    // (The analyses up to then still hold the jump: accuracy errors.)
    Run(PacketsFor(3.0));
    Run(PacketsFor(3.0) + kPacketsPerPcr, [&](int64_t, int64_t& pcr, int64_t&, bool& discontinuity) {
        pcr += 5'400'000;
        discontinuity = true;
    });
    pcrBase_ += 5'400'000;
    Run(PacketsFor(3.2));
    EXPECT_EQ(Of(ConformanceIndicator::PcrDiscontinuityError).size(), 1u);
    reports.clear();
    Run(PacketsFor(6.0));
    EXPECT_TRUE(Of(ConformanceIndicator::PcrAccuracyError).empty());

    // Backwards by a second: a negative step, never a discontinuity (accuracy suffers).
    pcrBase_ -= 27'000'000;
    Run(PacketsFor(7.2));
    EXPECT_TRUE(Of(ConformanceIndicator::PcrDiscontinuityError).empty());
    EXPECT_FALSE(Of(ConformanceIndicator::PcrAccuracyError).empty());

    // Over the wrap of the 33-bit base: small positive steps, nothing raised.
    pcrBase_ = kPcrModulus - 27'000'000 - index_ * kPcrPerPacket; // the PCR wraps 1 s from here
    Run(index_ + kPacketsPerPcr, [](int64_t, int64_t&, int64_t&, bool& discontinuity) { discontinuity = true; });
    Run(PacketsFor(7.4));
    reports.clear();
    Run(PacketsFor(20.0));
    EXPECT_TRUE(Of(ConformanceIndicator::PcrDiscontinuityError).empty());
    EXPECT_TRUE(Of(ConformanceIndicator::PcrAccuracyError).empty());
    EXPECT_TRUE(Of(ConformanceIndicator::PcrRepetitionError).empty());

    // 150 ms between two arrivals.
    arrivalShift_ += 8'100'000 - kPacketsPerPcr * kPacketTicks;
    Run(PacketsFor(20.0) + kPacketsPerPcr);
    const auto gaps = Of(ConformanceIndicator::PcrRepetitionError);
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_EQ(gaps[0].second.message, L"Interval between PCRs on PID 256 is too long (allowed: 100.0ms, actual: 150.0ms)");
    EXPECT_DOUBLE_EQ(gaps[0].second.value, 150.0);
}

TEST_F(PcrStream, TheAnalysisPeriodFollowsTheWindowSetting)
{
    Client forAll{"all", &log};
    analyser.AddAllPcrStatisticsCallback(&Client::On, &forAll);
    analyser.SetPcrAnalysisWindow(27'000'000, 4); // 500 ms periods, 2 s window
    Run(PacketsFor(3.2));
    EXPECT_EQ(log.size(), 6u);
    ASSERT_FALSE(log.empty());
    EXPECT_NEAR(log.back().statistics.pcrRate, 3'000'000.0 / 1504.0 / kPacketsPerPcr, 1.0);
    EXPECT_NEAR(static_cast<double>(log.back().samples.size()), 99.7, 1.0);
}
