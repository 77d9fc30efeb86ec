#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TsInfoImpl.h"
#include "TsTestStream.h"

using namespace SklibTs;
using SktsTest::MakePacket;

namespace {

struct Recorder {
    std::vector<std::string> packets; // "all:<pid>" / "pid:<pid>:<n>"
    std::vector<std::vector<uint8_t>> pes;
    std::vector<ConformanceIndicator> reports;
    std::vector<std::pair<ConformanceIndicator, bool>> states;
    std::wstring lastMessage;
    IndicatorLocation lastLocation;

    static void OnPacket(void* c, const uint8_t* p, uint32_t, const int64_t*)
    {
        static_cast<Recorder*>(c)->packets.push_back("all:" + std::to_string(((p[1] & 0x1F) << 8) | p[2]));
    }
    static void OnPidPacketA(void* c, const uint8_t*, uint32_t, const int64_t*)
    {
        static_cast<Recorder*>(c)->packets.push_back("pid:a");
    }
    static void OnPidPacketB(void* c, const uint8_t*, uint32_t, const int64_t*)
    {
        static_cast<Recorder*>(c)->packets.push_back("pid:b");
    }
    static void OnPes(void* c, int32_t, const uint8_t* data, uint32_t size)
    {
        static_cast<Recorder*>(c)->pes.emplace_back(data, data + size);
    }
    static void OnReport(void* c, uint32_t index, const IndicatorRecord& record)
    {
        auto* self = static_cast<Recorder*>(c);
        self->reports.push_back(static_cast<ConformanceIndicator>(index));
        self->lastMessage = record.message;
        self->lastLocation = record.location;
    }
    static void OnState(void* c, uint32_t index, const IndicatorRecord& record)
    {
        static_cast<Recorder*>(c)->states.emplace_back(static_cast<ConformanceIndicator>(index), record.active);
    }
};

class AnalyserFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        analyser.AddPacketCallback(&Recorder::OnPacket, &recorder);
        analyser.AddIndicatorReportCallback(0xFFFFFFFF, &Recorder::OnReport, &recorder);
        analyser.AddIndicatorStateCallback(0xFFFFFFFF, &Recorder::OnState, &recorder);
    }
    void Feed(const std::vector<uint8_t>& packet, uint32_t size = 188)
    {
        analyser.ProcessPacket(packet.data(), size, &time);
        time += 8121;
    }

    TsInfoImpl analyser;
    Recorder recorder;
    int64_t time = 0;
};

} // namespace

TEST(ToolkitTest, ANewAnalyserKnowsNoStreamAndCountsA54MHzClock)
{
    EXPECT_EQ(GetTickRate(), 54'000'000);
    std::unique_ptr<SkTsInfo> analyser(CreateTsInfo());
    ASSERT_NE(analyser, nullptr);
    EXPECT_EQ(analyser->transportStreamId, -1);
    EXPECT_EQ(analyser->siStandard, 0);
    EXPECT_FALSE(analyser->inSync);
}

TEST_F(AnalyserFixture, PacketErrorsAreCountedReportedAndNotPassedOn)
{
    auto bad = MakePacket(0x100, 0);
    bad[0] = 0x46;
    Feed(bad);
    EXPECT_EQ(analyser.syncByteErrors, 1u);
    ASSERT_EQ(recorder.reports, (std::vector<ConformanceIndicator>{ConformanceIndicator::SyncByteError}));
    EXPECT_EQ(recorder.lastMessage, L"Sync_byte not equal to 0x47");
    EXPECT_EQ(recorder.lastLocation, IndicatorLocation::None());

    auto errored = MakePacket(0x101, 0);
    errored[1] |= 0x80;
    Feed(errored);
    EXPECT_EQ(analyser.transportErrors, 1u);
    EXPECT_EQ(recorder.reports.back(), ConformanceIndicator::TransportError);
    EXPECT_EQ(recorder.lastMessage, L"Transport_error_indicator on PID 257 is set");
    EXPECT_EQ(recorder.lastLocation, IndicatorLocation::ForPid(257));
    // The errored packet still counts for its PID.
    ASSERT_NE(analyser.pidInfo[0x101], nullptr);
    EXPECT_EQ(analyser.pidInfo[0x101]->packetCount, 1u);

    auto scrambledPat = MakePacket(0x000, 0);
    scrambledPat[3] |= 0x80;
    Feed(scrambledPat);
    EXPECT_EQ(recorder.reports.back(), ConformanceIndicator::PatError);
    EXPECT_EQ(recorder.lastMessage, L"Scrambling_control_field is not 00 for PID 0x0000");
    EXPECT_EQ(analyser.pidInfo[0]->scramblingControl, 2u);

    EXPECT_TRUE(recorder.packets.empty());
    Feed(MakePacket(0x100, 1));
    EXPECT_EQ(recorder.packets, (std::vector<std::string>{"all:256"}));
    EXPECT_EQ(analyser.packetsProcessed, 4u);

    // Each indicator became active once; the three raised stay latched with one report each.
    EXPECT_EQ(recorder.states.size(), 3u);
    EXPECT_EQ(analyser.GetIndicators().Record(ConformanceIndicator::TransportError).count, 1u);
}

TEST_F(AnalyserFixture, PacketCallbacksRunBeforePidCallbacksInRegistrationOrder)
{
    analyser.AddPidCallback(0x200, &Recorder::OnPidPacketA, &recorder);
    analyser.AddPidCallback(0x201, &Recorder::OnPidPacketB, &recorder);
    analyser.AddPidCallback(0x200, &Recorder::OnPidPacketB, &recorder);
    Feed(MakePacket(0x200, 0));
    Feed(MakePacket(0x202, 0));
    EXPECT_EQ(recorder.packets, (std::vector<std::string>{"all:512", "pid:a", "pid:b", "all:514"}));
}

TEST_F(AnalyserFixture, SyncChangesRaiseAndClearTheSyncIndicator)
{
    analyser.SetSync(true);
    analyser.SetSync(true);
    analyser.SetSync(false);
    analyser.SetSync(false);
    EXPECT_EQ(recorder.reports, (std::vector<ConformanceIndicator>{ConformanceIndicator::TsSyncLoss}));
    EXPECT_EQ(recorder.lastMessage, L"Loss of synchronization");
    analyser.SetSync(true);
    // Regaining sync clears the indicator and tells the state clients.
    ASSERT_FALSE(recorder.states.empty());
    EXPECT_EQ(recorder.states.back(), std::make_pair(ConformanceIndicator::TsSyncLoss, false));
    EXPECT_TRUE(analyser.GetIndicators().Record(ConformanceIndicator::TsSyncLoss).latched);

    // A new SI standard clears latched flags and counts, and resets the stream.
    analyser.SetSiStandard(kSiDvb);
    EXPECT_FALSE(analyser.GetIndicators().Record(ConformanceIndicator::TsSyncLoss).latched);
    EXPECT_EQ(analyser.GetIndicators().Record(ConformanceIndicator::TsSyncLoss).count, 0u);
    EXPECT_FALSE(analyser.inSync);
    EXPECT_EQ(analyser.GetPidReferences(0x12, kRefPsiSi), 1u);
    EXPECT_EQ(analyser.GetPidReferences(0x10, kRefPsiSi), 2u); // SI range and NIT PID
    EXPECT_EQ(analyser.GetPidReferences(0x17, kRefPsiSi), 0u);
    analyser.SetSiStandard(kSiAtsc);
    EXPECT_EQ(analyser.GetPidReferences(0x12, kRefPsiSi), 0u);
    EXPECT_EQ(analyser.GetPidReferences(0x1FFB, kRefPsiSi), 1u);
    EXPECT_EQ(analyser.GetPidReferences(0, kRefPsiSi), 1u);
}

TEST_F(AnalyserFixture, CollectsTheStartOfEveryPesOfKnownStreamKinds)
{
    analyser.AddAllPesCallback(&Recorder::OnPes, &recorder);
    Feed(MakePacket(0x300, 0, true, 188, 0x11));
    analyser.pidInfo[0x300]->streamKind = 0x1B;
    // A continuation without a start in the buffer is ignored.
    Feed(MakePacket(0x300, 1, false, 188, 0x22));
    Feed(MakePacket(0x300, 2, true, 188, 0x33));
    Feed(MakePacket(0x300, 3, false, 188, 0x44));
    Feed(MakePacket(0x300, 4, true, 188, 0x55)); // flushes 0x33 0x44
    ASSERT_EQ(recorder.pes.size(), 1u);
    EXPECT_EQ(recorder.pes[0].size(), 368u);
    EXPECT_EQ(recorder.pes[0][0], 0x33);
    EXPECT_EQ(recorder.pes[0][367], 0x44);

    // A long PES is flushed as soon as 8192 bytes are held; the rest of it is ignored.
    for (uint8_t cc = 5; cc < 60; ++cc)
        Feed(MakePacket(0x300, cc, false, 188, 0x66));
    ASSERT_EQ(recorder.pes.size(), 2u);
    EXPECT_EQ(recorder.pes[1].size(), 8192u);
    Feed(MakePacket(0x300, 60, true, 188, 0x77));
    EXPECT_EQ(recorder.pes.size(), 2u);

    // Unknown kinds and adaptation-field-only packets collect nothing.
    analyser.pidInfo[0x300]->streamKind = 0x06;
    Feed(MakePacket(0x300, 61, true));
    EXPECT_EQ(recorder.pes.size(), 2u);
}

TEST_F(AnalyserFixture, ResetForgetsTheStreamButKeepsCallbacks)
{
    Feed(MakePacket(0x400, 0));
    analyser.SetSync(true);
    ASSERT_NE(analyser.pidInfo[0x400], nullptr);
    EXPECT_EQ(analyser.GetPidProgram(0x400), 0xFFFFFFFFu);
    analyser.pidInfo[0x400]->programs = {7, 3};
    EXPECT_EQ(analyser.GetPidProgram(0x400), 3u);
    EXPECT_EQ(analyser.GetPidProgram(9000), 0xFFFFFFFFu);

    analyser.Reset();
    EXPECT_EQ(analyser.pidInfo[0x400], nullptr);
    EXPECT_FALSE(analyser.inSync);
    EXPECT_EQ(analyser.packetsProcessed, 0u);
    EXPECT_EQ(analyser.GetPidProgram(0x400), 0xFFFFFFFFu);
    recorder.packets.clear();
    Feed(MakePacket(0x400, 1));
    EXPECT_EQ(recorder.packets.size(), 1u);

    // The lock is recursive: a client may hold it while calling into the analyser.
    {
        SkTsInfoLock outer(analyser);
        SkTsInfoLock inner(analyser);
        Feed(MakePacket(0x400, 2));
    }
}
