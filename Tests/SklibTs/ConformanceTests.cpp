#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "Crc32.h"
#include "SkTsPacketInput.h"
#include "TestData.h"
#include "TsInfoImpl.h"

using namespace SklibTs;

namespace {

struct Reports {
    std::vector<std::pair<uint32_t, IndicatorRecord>> all;
    static void On(void* context, uint32_t index, const IndicatorRecord& record)
    {
        static_cast<Reports*>(context)->all.emplace_back(index, record);
    }
    size_t Count(ConformanceIndicator indicator) const
    {
        size_t n = 0;
        for (const auto& [index, record] : all)
            n += index == static_cast<uint32_t>(indicator) ? 1 : 0;
        return n;
    }
};

// Runs a stream through a packet input at its mux rate and records every report.
Reports Analyse(const std::vector<uint8_t>& stream, int32_t bitrate = 3'000'000)
{
    TsInfoImpl analyser;
    Reports reports;
    analyser.SetSiStandard(kSiDvb);
    analyser.AddIndicatorReportCallback(0xFFFFFFFF, &Reports::On, &reports);
    const std::unique_ptr<SkTsPacketInput> input(CreateTsPacketInput(&analyser, bitrate));
    input->Write(stream.data(), static_cast<uint32_t>(stream.size()));
    return reports;
}

uint32_t PidAt(const std::vector<uint8_t>& s, size_t packet) { return ((s[packet * 188 + 1] & 0x1F) << 8) | s[packet * 188 + 2]; }

} // namespace

TEST(ConformanceTest, ACleanSampleRaisesNoPacketPcrPtsOrSectionErrors)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    const Reports reports = Analyse(SktsTest::ReadFile(path));
    for (auto indicator : {ConformanceIndicator::ContinuityCountError, ConformanceIndicator::PcrRepetitionError,
                           ConformanceIndicator::PcrDiscontinuityError, ConformanceIndicator::PtsError,
                           ConformanceIndicator::CrcError, ConformanceIndicator::PatError,
                           ConformanceIndicator::SyncByteError, ConformanceIndicator::TransportError})
        EXPECT_EQ(reports.Count(indicator), 0u) << static_cast<int>(indicator);
}

TEST(ConformanceTest, ADroppedPacketRaisesOneContinuityError)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    auto stream = SktsTest::ReadFile(path);
    size_t victim = 3000;
    while (PidAt(stream, victim) != 0x101)
        ++victim;
    const int cc = stream[victim * 188 + 3] & 0x0F;
    stream.erase(stream.begin() + static_cast<std::ptrdiff_t>(victim * 188),
                 stream.begin() + static_cast<std::ptrdiff_t>(victim * 188 + 188));
    const Reports reports = Analyse(stream);
    ASSERT_EQ(reports.Count(ConformanceIndicator::ContinuityCountError), 1u);
    for (const auto& [index, record] : reports.all) {
        if (index == 3) {
            EXPECT_EQ(record.message, FormatIndicatorMessage("Incorrect continuity-count on PID 257 (expected: %d, found: %d)",
                                                             cc, (cc + 1) % 16));
            EXPECT_EQ(record.location, IndicatorLocation::ForPid(257));
        }
    }
    // A duplicated packet is allowed once; twice in a row it is an error.
    auto duplicated = SktsTest::ReadFile(path);
    const std::vector<uint8_t> copy(duplicated.begin() + static_cast<std::ptrdiff_t>(victim * 188),
                                    duplicated.begin() + static_cast<std::ptrdiff_t>(victim * 188 + 188));
    duplicated.insert(duplicated.begin() + static_cast<std::ptrdiff_t>(victim * 188 + 188), copy.begin(), copy.end());
    EXPECT_EQ(Analyse(duplicated).Count(ConformanceIndicator::ContinuityCountError), 0u);
    duplicated.insert(duplicated.begin() + static_cast<std::ptrdiff_t>(victim * 188 + 188), copy.begin(), copy.end());
    EXPECT_EQ(Analyse(duplicated).Count(ConformanceIndicator::ContinuityCountError), 1u);
}

TEST(ConformanceTest, PcrGapsAndJumpsAndBrokenCrcs)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    const auto clean = SktsTest::ReadFile(path);
    // Jump one PCR of PID 0x100 by a second: an un-signalled discontinuity (and the jump back).
    auto jumped = clean;
    size_t pcrPacket = 4000;
    while (!(PidAt(jumped, pcrPacket) == 0x100 && (jumped[pcrPacket * 188 + 3] & 0x20) && jumped[pcrPacket * 188 + 4] > 0 &&
             (jumped[pcrPacket * 188 + 5] & 0x10)))
        ++pcrPacket;
    jumped[pcrPacket * 188 + 7] = static_cast<uint8_t>(jumped[pcrPacket * 188 + 7] + 2); // base += 2^18 (~2.9 s)
    const Reports jumpReports = Analyse(jumped);
    EXPECT_EQ(jumpReports.Count(ConformanceIndicator::PcrDiscontinuityError), 1u);

    // Removing the packets between two PCRs stretches the interval past 100 ms.
    auto gap = clean;
    size_t next = pcrPacket + 1;
    while (!(PidAt(gap, next) == 0x100 && (gap[next * 188 + 3] & 0x20) && (gap[next * 188 + 5] & 0x10)))
        ++next;
    // Replace the following PCR's packet and the ones after it with null packets for 150 ms.
    const size_t nulls = 3'000'000 / 1504 * 150 / 1000;
    for (size_t k = next; k < next + nulls && k < gap.size() / 188; ++k) {
        if (PidAt(gap, k) == 0x100 && (gap[k * 188 + 3] & 0x20) && (gap[k * 188 + 5] & 0x10)) {
            gap[k * 188 + 5] &= static_cast<uint8_t>(~0x10); // drop the PCR flag
        }
    }
    EXPECT_GE(Analyse(gap).Count(ConformanceIndicator::PcrRepetitionError), 1u);

    // A corrupted PAT section raises a CRC error.
    auto broken = clean;
    size_t patPacket = 0;
    while (PidAt(broken, patPacket) != 0)
        ++patPacket;
    broken[patPacket * 188 + 12] ^= 0x01;
    const Reports crcReports = Analyse(broken);
    ASSERT_GE(crcReports.Count(ConformanceIndicator::CrcError), 1u);
    for (const auto& [index, record] : crcReports.all) {
        if (index == 7) {
            EXPECT_EQ(record.message, L"CRC error detected. PID 0 with table_id: 0x00");
        }
    }
}
