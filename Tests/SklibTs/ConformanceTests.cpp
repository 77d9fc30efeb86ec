// The conformance indicators on real streams made faulty in controlled ways: each fault must
// raise exactly its indicator, with its message, value and location, and nothing else beyond
// what the clean stream raises.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "PcrField.h"
#include "SectionBuilder.h"
#include "SkTsPacketInput.h"
#include "TestData.h"
#include "TsInfoImpl.h"

using namespace SklibTs;
using enum SklibTs::ConformanceIndicator;
using SktsTest::Bytes;

namespace {

constexpr uint32_t kAny = 0xFFFFFFFF;
constexpr int32_t kMuxRate = 3'000'000;        // of h264_aac.ts
constexpr int64_t kTicksPerPacket = 27'072;    // 188 bytes at 3 Mbit/s in 54 MHz ticks
constexpr int64_t kSecond = 54'000'000;
constexpr int64_t kMs = 54'000;

using Counts = std::map<ConformanceIndicator, int>;

struct Reported {
    uint32_t index;
    IndicatorRecord record;
};

struct Reports {
    std::vector<Reported> all;

    static void On(void* context, uint32_t index, const IndicatorRecord& record)
    {
        static_cast<Reports*>(context)->all.push_back({index, record});
    }
    std::vector<Reported> Of(ConformanceIndicator indicator) const
    {
        std::vector<Reported> selected;
        for (const Reported& r : all) {
            if (r.index == static_cast<uint32_t>(indicator))
                selected.push_back(r);
        }
        return selected;
    }
    size_t Count(ConformanceIndicator indicator) const { return Of(indicator).size(); }
    Counts ByIndicator() const
    {
        std::map<ConformanceIndicator, int> counts;
        for (const Reported& r : all)
            ++counts[static_cast<ConformanceIndicator>(r.index)];
        return counts;
    }
};

// Report counts that differ between two runs, by indicator.
Counts CountDifference(const Reports& faulty, const Reports& clean)
{
    Counts difference = faulty.ByIndicator();
    for (const auto& [index, count] : clean.ByIndicator())
        difference[index] -= count;
    std::erase_if(difference, [](const auto& entry) { return entry.second == 0; });
    return difference;
}

// The packets of a sample with the edits the tests make.
class Stream {
public:
    explicit Stream(Bytes bytes) : bytes_(std::move(bytes)) {}

    size_t Packets() const { return bytes_.size() / 188; }
    uint8_t* Packet(size_t i) { return bytes_.data() + i * 188; }
    const Bytes& Bytes_() const { return bytes_; }
    uint32_t Pid(size_t i) const { return ((bytes_[i * 188 + 1] & 0x1Fu) << 8) | bytes_[i * 188 + 2]; }
    bool HasPcr(size_t i) const
    {
        const uint8_t* p = bytes_.data() + i * 188;
        return (p[3] & 0x20) != 0 && p[4] >= 7 && (p[5] & 0x10) != 0;
    }
    bool StartsPes(size_t i) const { return (bytes_[i * 188 + 1] & 0x40) != 0; }
    static int64_t TimeOf(size_t i) { return static_cast<int64_t>(i) * kTicksPerPacket; }
    static size_t PacketAt(int64_t time) { return static_cast<size_t>(time / kTicksPerPacket); }

    template <typename Predicate>
    size_t Find(size_t from, Predicate predicate) const
    {
        for (size_t i = from; i < Packets(); ++i) {
            if (predicate(i))
                return i;
        }
        ADD_FAILURE() << "no such packet after " << from;
        return Packets() - 1;
    }
    size_t FindPid(size_t from, uint32_t pid) const
    {
        return Find(from, [&](size_t i) { return Pid(i) == pid; });
    }

    // Turns the packet into a null packet, so the timing of the others stays.
    void MakeNull(size_t i)
    {
        uint8_t* p = Packet(i);
        p[1] = 0x1F;
        p[2] = 0xFF;
        p[3] = 0x10;
    }
    // Nulls the packets of `pid` in [first, last) and renumbers the later ones so the
    // removal leaves no continuity error.
    void RemovePid(uint32_t pid, size_t first, size_t last)
    {
        int removed = 0;
        for (size_t i = first; i < last; ++i) {
            if (Pid(i) == pid) {
                MakeNull(i);
                ++removed;
            }
        }
        for (size_t i = last; i < Packets(); ++i) {
            if (Pid(i) == pid) {
                uint8_t* p = Packet(i);
                p[3] = static_cast<uint8_t>((p[3] & 0xF0) | ((p[3] - removed) & 0x0F));
            }
        }
    }
    int64_t Pcr(size_t i) const
    {
        const uint8_t* p = bytes_.data() + i * 188 + 6;
        const int64_t base = (int64_t{p[0]} << 25) | (int64_t{p[1]} << 17) | (int64_t{p[2]} << 9) |
                             (int64_t{p[3]} << 1) | (p[4] >> 7);
        return base * 300 + (((p[4] & 1) << 8) | p[5]);
    }
    void SetPcr(size_t i, int64_t pcr) { SktsTest::WritePcrField(Packet(i), pcr); }
    // Puts a section into null packets from `from` on.
    void InjectSection(size_t from, uint16_t pid, const Bytes& section, uint8_t& cc)
    {
        const Bytes packets = SktsTest::SectionPackets(section, pid, cc);
        size_t at = from;
        for (size_t k = 0; k < packets.size(); k += 188) {
            at = FindPid(at, 0x1FFF);
            std::copy(packets.begin() + static_cast<std::ptrdiff_t>(k),
                      packets.begin() + static_cast<std::ptrdiff_t>(k + 188), Packet(at));
            ++at;
        }
    }

private:
    Bytes bytes_;
};

struct Analysis {
    Reports reports;
    std::map<uint32_t, PcrStatistics> pcr;
    uint32_t transportErrors = 0;
    uint32_t syncByteErrors = 0;

    static void OnPcr(void* context, uint32_t pid, const PcrStatistics& statistics, const PcrSampleDeviation*,
                      uint32_t)
    {
        static_cast<Analysis*>(context)->pcr[pid] = statistics;
    }
};

// Runs the bytes through a packet input at the mux rate, recording every report.
Analysis Analyse(const Bytes& bytes, int32_t standard = kSiDvb, int32_t bitrate = kMuxRate)
{
    TsInfoImpl analyser;
    Analysis analysis;
    analyser.SetSiStandard(standard);
    analyser.AddIndicatorReportCallback(0xFFFFFFFF, &Reports::On, &analysis.reports);
    analyser.AddAllPcrStatisticsCallback(&Analysis::OnPcr, &analysis);
    const std::unique_ptr<SkTsPacketInput> input(CreateTsPacketInput(&analyser, bitrate));
    input->Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
    analysis.transportErrors = analyser.transportErrors;
    analysis.syncByteErrors = analyser.syncByteErrors;
    return analysis;
}

IndicatorLocation Location(uint32_t pid, uint32_t tableId = kAny, uint32_t extension = kAny)
{
    return {pid, tableId, extension, kAny, kAny};
}

double Seconds(int64_t ticks) { return static_cast<double>(ticks) / static_cast<double>(kSecond); }

class ConformanceOnSample : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto path = SktsTest::FindSample("h264_aac.ts");
        if (!path)
            GTEST_SKIP() << "h264_aac.ts not found";
        clean_ = SktsTest::ReadFile(*path);
        cleanAnalysis_ = Analyse(clean_);
    }
    Stream Copy() const { return Stream(clean_); }
    // Analyses the edited stream and returns its reports beyond those of the clean one.
    Counts Extra(const Stream& stream, Analysis* analysis = nullptr) const
    {
        Analysis result = Analyse(stream.Bytes_());
        const auto difference = CountDifference(result.reports, cleanAnalysis_.reports);
        if (analysis)
            *analysis = std::move(result);
        return difference;
    }

    Bytes clean_;
    Analysis cleanAnalysis_;
};

} // namespace

TEST_F(ConformanceOnSample, TheCleanSampleRaisesOnlyWhatIsTrueOfIt)
{
    // With DVB rules: the sample has no EIT (2 s rule, indicators 15 and 20), and one PAT/PMT
    // pair follows the previous one after 19 packets (9.5 ms, under the 25 ms minimum).
    const Counts counts = cleanAnalysis_.reports.ByIndicator();
    EXPECT_EQ(counts, (Counts{{SiRepetitionError, 5}, {EitActualError, 3}}));
    const auto eit = cleanAnalysis_.reports.Of(EitActualError);
    ASSERT_EQ(eit.size(), 3u);
    for (size_t k = 0; k < eit.size(); ++k) {
        EXPECT_EQ(eit[k].record.message,
                  L"EIT Actual: Sections with table_id 0x4e on PID 18 do not occur at least every 2000ms");
        EXPECT_EQ(eit[k].record.location, Location(0x12, 0x4E));
        // Armed at the first packet (time 0); each report re-arms for 2 s.
        EXPECT_NEAR(Seconds(eit[k].record.time), 2.0 * static_cast<double>(k + 1), 0.11);
        EXPECT_NEAR(eit[k].record.value, Seconds(eit[k].record.time), 1e-9);
    }
    std::vector<std::wstring> tooFrequent;
    for (const Reported& r : cleanAnalysis_.reports.Of(SiRepetitionError)) {
        if (r.record.message.find(L"do occur more then") != std::wstring::npos)
            tooFrequent.push_back(r.record.message);
    }
    EXPECT_EQ(tooFrequent, (std::vector<std::wstring>{L"PAT: Sections with table_id 0x0 do occur more then 25ms",
                                                      L"PMT: Sections with table_id 0x2 do occur more then 25ms"}));

    // The PCRs sit exactly on the packet clock: accuracy far inside 500 ns.
    ASSERT_EQ(cleanAnalysis_.pcr.count(0x100), 1u);
    const PcrStatistics& pcr = cleanAnalysis_.pcr.at(0x100);
    EXPECT_LT(pcr.maxAccuracyNs, 500.0);
    EXPECT_LT(pcr.maxJitterNs, 500.0);
    EXPECT_NEAR(pcr.pcrBitrate, kMuxRate, 2);
    EXPECT_NEAR(pcr.pcrRate, 25.0, 0.5);

    // Without SI rules nothing is raised at all (the NIT check needs 10 s to say anything).
    EXPECT_TRUE(Analyse(clean_, kSiNone).reports.all.empty());
}

TEST_F(ConformanceOnSample, DroppedDuplicatedAndReorderedPacketsBreakTheContinuity)
{
    const Stream clean = Copy();
    const size_t victim = clean.FindPid(3000, 0x101);
    const int cc = clean_[victim * 188 + 3] & 0x0F;

    // Dropped: one error expecting the lost counter.
    Bytes dropped = clean_;
    dropped.erase(dropped.begin() + static_cast<std::ptrdiff_t>(victim * 188),
                  dropped.begin() + static_cast<std::ptrdiff_t>(victim * 188 + 188));
    Analysis analysis = Analyse(dropped);
    const auto errors = analysis.reports.Of(ContinuityCountError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].record.message,
              FormatIndicatorMessage("Incorrect continuity-count on PID 257 (expected: %d, found: %d)", cc, (cc + 1) % 16));
    EXPECT_EQ(errors[0].record.location, Location(257));

    // Duplicated once: allowed; twice in a row: an error.
    Bytes duplicated = clean_;
    const Bytes copy(clean_.begin() + static_cast<std::ptrdiff_t>(victim * 188),
                     clean_.begin() + static_cast<std::ptrdiff_t>(victim * 188 + 188));
    duplicated.insert(duplicated.begin() + static_cast<std::ptrdiff_t>(victim * 188 + 188), copy.begin(), copy.end());
    EXPECT_EQ(Analyse(duplicated).reports.Count(ContinuityCountError), 0u);
    duplicated.insert(duplicated.begin() + static_cast<std::ptrdiff_t>(victim * 188 + 188), copy.begin(), copy.end());
    const auto twice = Analyse(duplicated).reports.Of(ContinuityCountError);
    ASSERT_EQ(twice.size(), 1u);
    EXPECT_EQ(twice[0].record.message,
              FormatIndicatorMessage("Incorrect continuity-count on PID 257 (expected: %d, found: %d)", (cc + 1) % 16, cc));

    // Two packets of the PID swapped: k+1, k, k+2 after k-1 gives three errors.
    Stream swapped = Copy();
    const size_t next = swapped.FindPid(victim + 1, 0x101);
    std::swap_ranges(swapped.Packet(victim), swapped.Packet(victim) + 188, swapped.Packet(next));
    const auto reordered = Analyse(swapped.Bytes_()).reports.Of(ContinuityCountError);
    ASSERT_EQ(reordered.size(), 3u);
    EXPECT_EQ(reordered[0].record.message,
              FormatIndicatorMessage("Incorrect continuity-count on PID 257 (expected: %d, found: %d)", cc, (cc + 1) % 16));
    EXPECT_EQ(reordered[1].record.message,
              FormatIndicatorMessage("Incorrect continuity-count on PID 257 (expected: %d, found: %d)", (cc + 2) % 16, cc));
    EXPECT_EQ(Extra(swapped), (Counts{{ContinuityCountError, 3}}));
}

TEST_F(ConformanceOnSample, TransportErrorAndBrokenSyncBytes)
{
    Stream flagged = Copy();
    const size_t video = flagged.FindPid(2000, 0x100);
    flagged.Packet(video)[1] |= 0x80;
    Analysis analysis;
    EXPECT_EQ(Extra(flagged, &analysis), (Counts{{TransportError, 1}}));
    const auto tei = analysis.reports.Of(TransportError);
    EXPECT_EQ(tei[0].record.message, L"Transport_error_indicator on PID 256 is set");
    EXPECT_EQ(tei[0].record.location, Location(256));
    EXPECT_EQ(tei[0].record.time, Stream::TimeOf(video));
    EXPECT_EQ(analysis.transportErrors, 1u);

    // One broken sync byte in a null packet: the packet input keeps sync and delivers it.
    Stream broken = Copy();
    const size_t null = broken.FindPid(2000, 0x1FFF);
    broken.Packet(null)[0] = 0x46;
    EXPECT_EQ(Extra(broken, &analysis), (Counts{{SyncByteError, 1}}));
    const auto sync = analysis.reports.Of(SyncByteError);
    EXPECT_EQ(sync[0].record.message, L"Sync_byte not equal to 0x47");
    EXPECT_EQ(sync[0].record.location, IndicatorLocation::None());
    EXPECT_EQ(analysis.syncByteErrors, 1u);

    // Three in a row: the packet input loses sync, searches again and finds it at once.
    Stream lost = Copy();
    const size_t run = lost.Find(2000, [&](size_t i) {
        return lost.Pid(i) == 0x1FFF && lost.Pid(i + 1) == 0x1FFF && lost.Pid(i + 2) == 0x1FFF;
    });
    for (size_t i = run; i < run + 3; ++i)
        lost.Packet(i)[0] = 0x00;
    const Counts extra = Extra(lost, &analysis);
    EXPECT_EQ(extra.at(TsSyncLoss), 1);
    const auto loss = analysis.reports.Of(TsSyncLoss);
    EXPECT_EQ(loss[0].record.message, L"Loss of synchronization");
    EXPECT_EQ(loss[0].record.location, IndicatorLocation::None());
    EXPECT_EQ(extra.at(SyncByteError), 2) << "the first two bad packets still reach the analyser";
    // The bad third packet is skipped by the sync search: the packet count behind the PCR
    // accuracy loses a packet (500 us at this rate) until the outlier leaves the window.
    EXPECT_GE(extra.at(PcrAccuracyError), 1);
    EXPECT_EQ(extra.size(), 3u);
}

TEST_F(ConformanceOnSample, APatGapOfOverOneSecondIsReportedEveryHalfSecond)
{
    Stream stream = Copy();
    const size_t first = Stream::PacketAt(2 * kSecond);
    const size_t last = Stream::PacketAt(2 * kSecond + 1200 * kMs);
    const size_t lastPat = [&] {
        size_t found = 0;
        for (size_t i = 0; i < first; ++i)
            found = stream.Pid(i) == 0 ? i : found;
        return found;
    }();
    stream.RemovePid(0x0000, first, last);
    Analysis analysis;
    const Counts extra = Extra(stream, &analysis);
    const auto pat = analysis.reports.Of(PatError);
    ASSERT_EQ(pat.size(), 2u);
    const int64_t lastPatTime = Stream::TimeOf(lastPat);
    for (const Reported& r : pat) {
        EXPECT_EQ(r.record.message, L"Sections with table_id 0x00 do not occur at least every 0,5s on PID 0x0000");
        EXPECT_EQ(r.record.location, Location(0, 0));
        EXPECT_NEAR(r.record.value, Seconds(r.record.time - lastPatTime), 1e-9);
    }
    // The periodic pass runs every 100 ms: the first report within 100 ms after the deadline.
    EXPECT_GT(pat[0].record.value, 0.5);
    EXPECT_LE(pat[0].record.value, 0.6);
    EXPECT_GT(pat[1].record.time - pat[0].record.time, 500 * kMs);
    EXPECT_LE(pat[1].record.time - pat[0].record.time, 600 * kMs);
    // The generic PAT rule says the same through indicator 15; nothing else changes.
    EXPECT_EQ(extra, (Counts{{PatError, 2}, {SiRepetitionError, 2}}));
    const auto rule = analysis.reports.Of(SiRepetitionError);
    EXPECT_TRUE(std::any_of(rule.begin(), rule.end(), [](const Reported& r) {
        return r.record.message == L"PAT: Sections with table_id 0x0 on PID 0 do not occur at least every 500ms" &&
               r.record.location == Location(0, 0);
    }));
}

TEST_F(ConformanceOnSample, PcrGapJumpAndAccuracy)
{
    const Stream clean = Copy();
    std::vector<size_t> pcrs;
    for (size_t i = 0; i < clean.Packets(); ++i) {
        if (clean.Pid(i) == 0x100 && clean.HasPcr(i))
            pcrs.push_back(i);
    }
    ASSERT_GT(pcrs.size(), 100u);

    // Three PCRs without their flag: one interval of four PCR periods.
    Stream gap = Copy();
    for (size_t k = 50; k < 53; ++k)
        gap.Packet(pcrs[k])[5] &= static_cast<uint8_t>(~0x10);
    Analysis analysis;
    // The PCR itself moves 160 ms as well: beyond 100 ms, that is a discontinuity too.
    EXPECT_EQ(Extra(gap, &analysis), (Counts{{PcrRepetitionError, 1}, {PcrDiscontinuityError, 1}}));
    const auto interval = analysis.reports.Of(PcrRepetitionError);
    const double ms = Seconds(Stream::TimeOf(pcrs[53]) - Stream::TimeOf(pcrs[49])) * 1000.0;
    EXPECT_GT(ms, 100.0);
    EXPECT_EQ(interval[0].record.message,
              FormatIndicatorMessage("Interval between PCRs on PID 256 is too long (allowed: 100.0ms, actual: %.1fms)", ms));
    EXPECT_DOUBLE_EQ(interval[0].record.value, ms);
    EXPECT_EQ(interval[0].record.location, Location(256));

    // One PCR half a second ahead: an un-signalled discontinuity forward (not back), and an
    // accuracy error at every analysis while it stays in the window.
    Stream jumped = Copy();
    const size_t k = 60;
    const int64_t jump = 13'500'000;
    jumped.SetPcr(pcrs[k], clean.Pcr(pcrs[k]) + jump);
    EXPECT_EQ(jumped.Pcr(pcrs[k]), clean.Pcr(pcrs[k]) + jump);
    const Counts extra = Extra(jumped, &analysis);
    EXPECT_EQ(extra.at(PcrDiscontinuityError), 1);
    EXPECT_GE(extra.at(PcrAccuracyError), 3);
    EXPECT_EQ(extra.size(), 2u);
    const auto discontinuity = analysis.reports.Of(PcrDiscontinuityError);
    const double deltaMs = static_cast<double>(clean.Pcr(pcrs[k]) + jump - clean.Pcr(pcrs[k - 1])) / 27000.0;
    EXPECT_EQ(discontinuity[0].record.message,
              FormatIndicatorMessage("Un-signalled PCR discontinuity on PID 256 (allowed: 100ms, actual: %.1fms)", deltaMs));
    EXPECT_DOUBLE_EQ(discontinuity[0].record.value, deltaMs);
    const auto accuracy = analysis.reports.Of(PcrAccuracyError);
    EXPECT_EQ(accuracy[0].record.message, L"PCR accuracy for pid 0x0100 is not within +-500ns.");
    EXPECT_EQ(accuracy[0].record.location, Location(256));
    EXPECT_GT(accuracy[0].record.value, 0.1); // ms: the outlier is hundreds of milliseconds off the line

    // Signalled by the discontinuity_indicator, the jump forward is no error, and the step
    // back that follows is negative: never a discontinuity.
    Stream signalled = jumped;
    signalled.Packet(pcrs[k])[5] |= 0x80;
    EXPECT_EQ(Extra(signalled, &analysis).count(PcrDiscontinuityError), 0u);
}

TEST_F(ConformanceOnSample, PtsStoppedForEightHundredMilliseconds)
{
    Stream stream = Copy();
    const size_t first = Stream::PacketAt(2 * kSecond);
    const size_t last = Stream::PacketAt(2 * kSecond + 800 * kMs);
    // A PES is collected when the next one starts: that packet's time is its PTS time.
    int64_t lastPtsTime = 0;
    bool previousHadPts = false;
    for (size_t i = 0; i < last; ++i) {
        if (stream.Pid(i) != 0x101 || !stream.StartsPes(i))
            continue;
        if (previousHadPts)
            lastPtsTime = Stream::TimeOf(i);
        uint8_t* packet = stream.Packet(i);
        uint8_t* header = packet + ((packet[3] & 0x20) ? 5 + packet[4] : 4);
        ASSERT_EQ(header[0] | header[1], 0);
        previousHadPts = i < first;
        if (i >= first)
            header[7] &= 0x3F; // PTS_DTS_flags 00: the five PTS bytes become stuffing
    }
    Analysis analysis;
    EXPECT_EQ(Extra(stream, &analysis), (Counts{{PtsError, 1}}));
    const auto pts = analysis.reports.Of(PtsError);
    EXPECT_EQ(pts[0].record.message, L"PTS repetition interval is too large for PID 257");
    EXPECT_EQ(pts[0].record.location, Location(257));
    EXPECT_NEAR(pts[0].record.value, Seconds(pts[0].record.time - lastPtsTime), 1e-9);
    EXPECT_GT(pts[0].record.value, 0.7);
}

TEST_F(ConformanceOnSample, AScrambledPacketWithoutCatRaisesTheCatErrorOnce)
{
    Stream stream = Copy();
    const size_t audio = stream.Find(3000, [&](size_t i) { return stream.Pid(i) == 0x101 && !stream.StartsPes(i); });
    stream.Packet(audio)[3] |= 0x80;
    Analysis analysis;
    EXPECT_EQ(Extra(stream, &analysis), (Counts{{CatError, 1}}));
    const auto cat = analysis.reports.Of(CatError);
    EXPECT_EQ(cat[0].record.message, L"Sections with table_id 0x01 do not occur at least every 0,5s on PID 0x0001");
    EXPECT_EQ(cat[0].record.location, Location(1, 1));
    EXPECT_GT(cat[0].record.value, 0.5);
    EXPECT_LE(cat[0].record.value, 0.6);
    EXPECT_NEAR(cat[0].record.value, Seconds(cat[0].record.time - Stream::TimeOf(audio)), 1e-9);
}

TEST_F(ConformanceOnSample, AnUnreferencedPidIsReportedAfterOneSecondThenEverySecond)
{
    Stream stream = Copy();
    uint8_t cc = 0;
    size_t firstPacket = 0;
    for (size_t i = Stream::PacketAt(kSecond); i < stream.Packets(); ++i) {
        if (stream.Pid(i) != 0x1FFF)
            continue;
        uint8_t* p = stream.Packet(i);
        p[1] = 0x12;
        p[2] = 0x34;
        p[3] = static_cast<uint8_t>(0x10 | (cc++ & 0x0F));
        firstPacket = firstPacket == 0 ? i : firstPacket;
    }
    Analysis analysis;
    const Counts extra = Extra(stream, &analysis);
    const auto reports = analysis.reports.Of(UnreferencedPid);
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(extra, (Counts{{UnreferencedPid, static_cast<int>(reports.size())}}));
    int64_t previous = Stream::TimeOf(firstPacket);
    for (const Reported& r : reports) {
        EXPECT_EQ(r.record.message, L"PID 4660 not referenced at least every 500ms");
        EXPECT_EQ(r.record.location, Location(0x1234));
        EXPECT_GT(r.record.time - previous, kSecond);
        EXPECT_LE(r.record.time - previous, kSecond + 100 * kMs);
        EXPECT_GT(r.record.value, 500.0); // ms past the reference time
        previous = r.record.time;
    }
}

TEST_F(ConformanceOnSample, BrokenCrcAndWrongTableIdsOnTheSiPids)
{
    Stream crc = Copy();
    const size_t pat = crc.FindPid(1000, 0);
    const size_t sectionLength = ((crc.Packet(pat)[6] & 0x0F) << 8) | crc.Packet(pat)[7];
    crc.Packet(pat)[5 + 3 + sectionLength - 1] ^= 0x01; // last CRC byte
    Analysis analysis;
    EXPECT_EQ(Extra(crc, &analysis), (Counts{{CrcError, 1}}));
    const auto crcReports = analysis.reports.Of(CrcError);
    EXPECT_EQ(crcReports[0].record.message, L"CRC error detected. PID 0 with table_id: 0x00");
    EXPECT_EQ(crcReports[0].record.location.pid, 0u);
    EXPECT_EQ(crcReports[0].record.location.table_id, 0u);
    EXPECT_EQ(crcReports[0].record.location.table_id_extension, 1u); // transport_stream_id

    struct Case {
        uint16_t pid;
        uint8_t tableId;
        ConformanceIndicator indicator;
        const wchar_t* message;
    };
    const Case cases[] = {
        {0x0000, 0x03, PatError, L"Section with table_id other than 0x00 found on PID 0x0000"},
        {0x0001, 0x03, CatError, L"Section with table_id other than 0x01 found on PID 0x0001"},
        {0x0010, 0x43, NitActualError,
         L"Section with table_id other then 0x40, 0x41 or 0x72 found on PID 0x0010"},
        {0x0011, 0x4B, SdtActualError,
         L"Section with table_id other then 0x42, 0x46, 0x4A or 0x72 found on PID 0x0011"},
        {0x0012, 0x40, EitActualError,
         L"Section with table_id other then 0x4E-0x6F or 0x72 found on PID 0x0012"},
        {0x0013, 0x40, SdtActualError,
         L"Section with table_id other then 0x71 or 0x72 found on PID 0x0013"},
        {0x0014, 0x71, TdtPidError,
         L"Section with table_id other then 0x70, 0x72 or 0x73 found on PID 0x0014"},
    };
    for (const Case& c : cases) {
        Stream stream = Copy();
        uint8_t cc = 0;
        // Continue the PID's own counter where the sample carries the PID.
        for (size_t i = 0; i < Stream::PacketAt(3 * kSecond); ++i) {
            if (stream.Pid(i) == c.pid)
                cc = static_cast<uint8_t>((stream.Packet(i)[3] + 1) & 0x0F);
        }
        const size_t at = Stream::PacketAt(3 * kSecond);
        if (c.pid == 0 || c.pid == 0x10 || c.pid == 0x11) {
            // Between two sections of the PID, so its counter runs on.
            stream.InjectSection(at, c.pid, SktsTest::LongSection({c.tableId, 0x0101}, {}), cc);
            for (size_t i = at; i < stream.Packets(); ++i) {
                if (stream.Pid(i) == c.pid && i > stream.FindPid(at, c.pid))
                    stream.Packet(i)[3] = static_cast<uint8_t>((stream.Packet(i)[3] & 0xF0) | (cc++ & 0x0F));
            }
        } else {
            stream.InjectSection(at, c.pid, SktsTest::LongSection({c.tableId, 0x0101}, {}), cc);
        }
        EXPECT_EQ(Extra(stream, &analysis), (Counts{{c.indicator, 1}})) << c.pid;
        const auto reports = analysis.reports.Of(c.indicator);
        const auto found = std::find_if(reports.begin(), reports.end(), [&](const Reported& r) {
            return r.record.location.pid == c.pid && r.record.location.table_id == c.tableId;
        });
        ASSERT_NE(found, reports.end()) << c.pid;
        EXPECT_EQ(found->record.message, c.message);
    }
}

TEST_F(ConformanceOnSample, SdtAbsenceAndNitTooFrequentWithDvbRules)
{
    Stream noSdt = Copy();
    noSdt.RemovePid(0x11, Stream::PacketAt(kSecond), Stream::PacketAt(4 * kSecond));
    Analysis analysis;
    EXPECT_EQ(Extra(noSdt, &analysis), (Counts{{SiRepetitionError, 1}, {SdtActualError, 1}}));
    const auto sdt = analysis.reports.Of(SdtActualError);
    EXPECT_EQ(sdt[0].record.message,
              L"SDT Actual: Sections with table_id 0x42 on PID 17 do not occur at least every 2000ms");
    EXPECT_EQ(sdt[0].record.location, Location(0x11, 0x42));
    EXPECT_GT(sdt[0].record.value, 2.0);
    EXPECT_LE(sdt[0].record.value, 2.1);

    // A NIT packet repeated at once: its section comes twice within 25 ms.
    Stream twice = Copy();
    const size_t nit = twice.FindPid(2000, 0x10);
    const size_t null = twice.FindPid(nit, 0x1FFF);
    ASSERT_LT(null - nit, 40u);
    ASSERT_GT(twice.FindPid(nit + 1, 0x10), null) << "the duplicate must follow its original on the PID";
    std::copy(twice.Packet(nit), twice.Packet(nit) + 188, twice.Packet(null));
    EXPECT_EQ(Extra(twice, &analysis), (Counts{{NitActualError, 1}, {SiRepetitionError, 1}}));
    const auto nitReports = analysis.reports.Of(NitActualError);
    EXPECT_EQ(nitReports[0].record.message, L"Section with table_id 0x40 do occur more then 25ms on PID 0x0010");
    EXPECT_EQ(nitReports[0].record.location.pid, 0x10u);
    EXPECT_EQ(nitReports[0].record.location.table_id, 0x40u);
    const auto rule = analysis.reports.Of(SiRepetitionError);
    EXPECT_TRUE(std::any_of(rule.begin(), rule.end(), [](const Reported& r) {
        return r.record.message == L"NIT Actual: Sections with table_id 0x40 do occur more then 25ms";
    }));
}

namespace {

// An analyser fed with hand-made packets at exact times, for the timing rules.
class ConformanceTiming : public ::testing::Test {
protected:
    void SetUp() override
    {
        analyser.AddIndicatorReportCallback(0xFFFFFFFF, &Reports::On, &reports);
    }
    void Send(uint16_t pid, const Bytes& section)
    {
        const Bytes packets = SktsTest::SectionPackets(section, pid, cc[pid]);
        for (size_t i = 0; i < packets.size(); i += 188)
            analyser.ProcessPacket(packets.data() + i, 188, &time);
    }
    void Packet(uint16_t pid, uint8_t flags = 0)
    {
        Bytes p(188, 0xFF);
        p[0] = 0x47;
        p[1] = static_cast<uint8_t>(flags | (pid >> 8));
        p[2] = static_cast<uint8_t>(pid);
        p[3] = static_cast<uint8_t>(0x10 | (cc[pid]++ & 0x0F));
        analyser.ProcessPacket(p.data(), 188, &time);
    }
    // Null packets every 10 ms until `until`.
    void IdleUntil(int64_t until)
    {
        while (time < until) {
            Packet(0x1FFF);
            time += 10 * kMs;
        }
    }

    TsInfoImpl analyser;
    Reports reports;
    int64_t time = 0;
    uint8_t cc[8192] = {};
};

struct StateLog {
    std::vector<std::pair<ConformanceIndicator, bool>> changes;
    static void On(void* context, uint32_t index, const IndicatorRecord& record)
    {
        static_cast<StateLog*>(context)->changes.emplace_back(static_cast<ConformanceIndicator>(index), record.active);
    }
};

} // namespace

TEST_F(ConformanceTiming, WithoutPatTheErrorComesHalfASecondAfterTheFirstTickThenEveryHalfSecond)
{
    time = 1000 * kSecond;
    const int64_t start = time;
    IdleUntil(start + 2 * kSecond + 50 * kMs);
    const auto pat = reports.Of(PatError);
    ASSERT_EQ(pat.size(), 3u);
    EXPECT_GT(pat[0].record.time - start, 500 * kMs);
    EXPECT_LE(pat[0].record.time - start, 600 * kMs);
    for (size_t k = 1; k < pat.size(); ++k) {
        EXPECT_GT(pat[k].record.time - pat[k - 1].record.time, 500 * kMs);
        EXPECT_LE(pat[k].record.time - pat[k - 1].record.time, 600 * kMs);
        EXPECT_NEAR(pat[k].record.value, Seconds(pat[k].record.time - start), 1e-9) << "since the start: no PAT seen";
    }
    EXPECT_EQ(reports.all.size(), pat.size()) << "standard 0: no rules, nothing else";
}

TEST_F(ConformanceTiming, NitActualAndOtherAbsenceUnderDvb)
{
    analyser.SetSiStandard(kSiDvb);
    const int64_t start = time;
    IdleUntil(kSecond);
    Send(0x10, SktsTest::LongSection({0x41, 0x0002, 0, true, 0, 0}, {0xF0, 0x00, 0xF0, 0x00}));
    const int64_t otherTime = time;
    IdleUntil(21 * kSecond);

    const auto actual = reports.Of(NitActualError);
    ASSERT_EQ(actual.size(), 2u);
    for (const Reported& r : actual) {
        EXPECT_EQ(r.record.message, L"Section with table_id 0x40 do not occur at least every 10s on PID 0x0010");
        EXPECT_EQ(r.record.value, -1.0) << "no NIT actual was ever seen";
        EXPECT_EQ(r.record.location, Location(0x10, 0x40));
    }
    EXPECT_GT(actual[0].record.time - start, 10 * kSecond);
    EXPECT_LE(actual[0].record.time - start, 10 * kSecond + 100 * kMs);

    const auto other = reports.Of(NitOtherError);
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].record.message,
              L"Section with table_id 0x41 and section number 0 do not occur at least 10s on PID 0x0010");
    EXPECT_EQ(other[0].record.location, Location(0x10, 0x41));
    EXPECT_NEAR(other[0].record.value, Seconds(other[0].record.time - otherTime), 1e-9);
    EXPECT_GT(other[0].record.value, 10.0);
}

TEST_F(ConformanceTiming, CallbacksHoldTimesAndTheResetOfASiStandardChange)
{
    StateLog state;
    Reports transportOnly;
    Reports continuityOnly;
    analyser.AddIndicatorStateCallback(IndicatorBit(TransportError), &StateLog::On, &state);
    analyser.AddIndicatorReportCallback(IndicatorBit(TransportError), &Reports::On, &transportOnly);
    analyser.AddIndicatorReportCallback(IndicatorBit(ContinuityCountError), &Reports::On, &continuityOnly);

    IdleUntil(kSecond);
    for (int k = 0; k < 3; ++k) {
        Packet(0x1FFF, 0x80); // transport_error_indicator
        IdleUntil(time + kSecond);
    }
    const int64_t lastReport = reports.Of(TransportError).back().record.time;
    EXPECT_EQ(transportOnly.all.size(), 3u);
    EXPECT_TRUE(continuityOnly.all.empty());
    EXPECT_EQ(state.changes, (std::vector<std::pair<ConformanceIndicator, bool>>{{TransportError, true}}));
    EXPECT_EQ(analyser.GetIndicators().Record(TransportError).count, 3u);

    // Falls back in the first periodic pass more than 5 s after the last report.
    IdleUntil(lastReport + 5 * kSecond);
    EXPECT_TRUE(analyser.GetIndicators().Record(TransportError).active);
    IdleUntil(lastReport + 5 * kSecond + 150 * kMs);
    EXPECT_EQ(state.changes,
              (std::vector<std::pair<ConformanceIndicator, bool>>{{TransportError, true}, {TransportError, false}}));
    const IndicatorRecord& record = analyser.GetIndicators().Record(TransportError);
    EXPECT_FALSE(record.active);
    EXPECT_TRUE(record.latched);

    // A new SI standard clears latched flags and counts but keeps the last report.
    analyser.SetSiStandard(kSiAtsc);
    EXPECT_FALSE(record.latched);
    EXPECT_EQ(record.count, 0u);
    EXPECT_EQ(record.message, L"Transport_error_indicator on PID 8191 is set");

    // Loss of sync is raised and cleared by the packet input's sync state.
    analyser.SetSync(true);
    analyser.SetSync(false);
    EXPECT_TRUE(analyser.GetIndicators().Record(TsSyncLoss).active);
    EXPECT_EQ(analyser.GetIndicators().Record(TsSyncLoss).message, L"Loss of synchronization");
    analyser.SetSync(true);
    EXPECT_FALSE(analyser.GetIndicators().Record(TsSyncLoss).active);
}

TEST_F(ConformanceTiming, PmtOfAProgramMustComeEveryHalfSecond)
{
    const Bytes pat = SktsTest::LongSection({0x00, 1}, SktsTest::PatBody({{1, 0x100}}));
    const Bytes pmt = SktsTest::LongSection({0x02, 1}, SktsTest::PmtBody(0x1FFF, {}, {{0x1B, 0x200, {}}}));
    IdleUntil(10 * kMs);
    for (int k = 0; k < 30; ++k) {
        Send(0, pat);
        if (k < 5 || k >= 20)
            Send(0x100, pmt);
        IdleUntil(time + 100 * kMs);
    }
    const auto pmtErrors = reports.Of(PmtError);
    ASSERT_GE(pmtErrors.size(), 2u);
    for (const Reported& r : pmtErrors) {
        EXPECT_EQ(r.record.message, L"Sections with table_id 0x02 do not occur at least every 0,5s on PID 0x0100");
        EXPECT_EQ(r.record.location, Location(0x100, 0x02, 1));
        EXPECT_GT(r.record.value, 0.5);
    }
}

// The PAT that lists a program starts the clock of its PMT: a PMT 350 ms later is in time,
// also for a program that was dropped from the PAT and listed again.
TEST_F(ConformanceTiming, APatStartsTheHalfSecondOfItsProgramsPmt)
{
    const Bytes withProgram = SktsTest::LongSection({0x00, 1, 0}, SktsTest::PatBody({{1, 0x100}}));
    const Bytes withoutProgram = SktsTest::LongSection({0x00, 1, 1}, SktsTest::PatBody({}));
    const Bytes pmt = SktsTest::LongSection({0x02, 1}, SktsTest::PmtBody(0x1FFF, {}, {{0x1B, 0x200, {}}}));
    const auto patEvery100ms = [&](const Bytes& pat, int64_t duration, int64_t pmtFrom) {
        const int64_t start = time;
        while (time < start + duration) {
            Send(0, pat);
            if (pmtFrom >= 0 && time >= start + pmtFrom)
                Send(0x100, pmt);
            IdleUntil(time + 100 * kMs);
        }
    };
    IdleUntil(10 * kMs);
    patEvery100ms(withProgram, kSecond, 350 * kMs);
    EXPECT_EQ(reports.Count(PmtError), 0u);

    patEvery100ms(withoutProgram, 2 * kSecond, -1);
    patEvery100ms(withProgram, kSecond, 350 * kMs);
    EXPECT_EQ(reports.Count(PmtError), 0u);
}

// A private-data PID (stream_type 6) is exempt from the unreferenced check only while a PMT
// lists it.
TEST_F(ConformanceTiming, APidDroppedFromItsPmtIsUnreferencedWhateverItsStreamTypeWas)
{
    const Bytes pat = SktsTest::LongSection({0x00, 1}, SktsTest::PatBody({{1, 0x100}}));
    const Bytes listed = SktsTest::LongSection({0x02, 1, 0}, SktsTest::PmtBody(0x1FFF, {}, {{0x06, 0x200, {}}}));
    const Bytes dropped = SktsTest::LongSection({0x02, 1, 1}, SktsTest::PmtBody(0x1FFF, {}, {}));
    const auto run = [&](const Bytes& pmt, int64_t duration) {
        const int64_t end = time + duration;
        while (time < end) {
            Send(0, pat);
            Send(0x100, pmt);
            Packet(0x200);
            IdleUntil(time + 100 * kMs);
        }
    };
    IdleUntil(10 * kMs);
    run(listed, 2 * kSecond);
    EXPECT_EQ(reports.Count(UnreferencedPid), 0u);
    run(dropped, 2 * kSecond);
    const auto unreferenced = reports.Of(UnreferencedPid);
    ASSERT_FALSE(unreferenced.empty());
    EXPECT_EQ(unreferenced[0].record.location, Location(0x200));
}

TEST(ConformanceOnSamples, EveryCleanSampleAtItsMuxRateRaisesOnlyTheMissingEit)
{
    const std::pair<const char*, int32_t> samples[] = {
        {"h264_aac.ts", 3'000'000}, {"hevc_eac3.ts", 2'000'000}, {"mpeg2_mp2_ac3.ts", 6'000'000}, {"twoprog.ts", 4'000'000}};
    for (const auto& [name, rate] : samples) {
        const auto path = SktsTest::FindSample(name);
        if (!path)
            continue;
        const Analysis analysis = Analyse(SktsTest::ReadFile(*path), kSiDvb, rate);
        for (const auto& [indicator, count] : analysis.reports.ByIndicator())
            EXPECT_TRUE(indicator == SiRepetitionError || indicator == EitActualError)
                << name << " raised " << IndicatorName(IndicatorIndex(indicator));
        EXPECT_EQ(analysis.reports.Count(EitActualError), 2u + (rate == 3'000'000 ? 1u : 0u))
            << name;
        ASSERT_FALSE(analysis.pcr.empty()) << name;
        for (const auto& [pid, statistics] : analysis.pcr) {
            EXPECT_LT(statistics.maxAccuracyNs, 500.0) << name << " PID " << pid;
            EXPECT_NEAR(statistics.pcrBitrate, rate, 2) << name << " PID " << pid;
        }
    }
}

TEST(ConformanceChecksTest, SectionsAndReferencesBeforeTheFirstTickRaiseNothing)
{
    // A new transport_stream_id resets the analyser in the middle of a packet: the sections
    // after it in that packet reach the checks before any tick has started them.
    Indicators indicators;
    ProgramMap programs;
    PidInfoTable pids;
    std::map<TableKey, int64_t> tableLastSeen;
    ConformanceChecks checks(indicators, programs, pids, tableLastSeen);
    checks.Reset(kSiDvb);
    const Bytes pat = SktsTest::LongSection({0x00, 1}, SktsTest::PatBody({{1, 0x100}}));
    const Bytes nit = SktsTest::LongSection({0x40, 1}, {0xF0, 0x00, 0xF0, 0x00});
    checks.CheckSection({0, 0, 1, kAny, kAny}, 0, pat.data(), static_cast<int32_t>(pat.size()), 100 * kSecond);
    checks.CheckSection({0x10, 0x40, 1, kAny, kAny}, 0, nit.data(), static_cast<int32_t>(nit.size()), 100 * kSecond);
    checks.OnTableReference(0x200, 100 * kSecond, 100 * kSecond);
    checks.CheckTable({0, 0, 1, kAny, kAny}, 100 * kSecond);
    for (const IndicatorRecord& record : indicators.Records())
        EXPECT_EQ(record.count, 0u) << std::string(record.message.begin(), record.message.end());
}
