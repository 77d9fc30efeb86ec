#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <vector>

#include "Demuxer.h"
#include "SkTsInfo.h"
#include "PcrField.h"
#include "TestData.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using DsDemux::Demuxer;
using DsDemux::PidEntry;

namespace {

struct CompletedPes {
    uint32_t pid;
    std::vector<uint8_t> bytes;
    bool dataLost;
    bool timeBaseLocked;
    int64_t pts;
    int64_t dts;
    int64_t pcrTime;
};

// Runs a stream through the engine with the given PIDs mapped and collects every PES.
class EngineRun {
public:
    explicit EngineRun(std::vector<uint32_t> pids, DsDemux::SteadyClock clock = DsDemux::SteadyNowNs)
        : engine(std::move(clock))
    {
        EXPECT_EQ(engine.Init(), S_OK);
        for (uint32_t pid : pids)
            engine.AddPid(pid, &EngineRun::OnPes, this);
    }
    void Feed(const std::vector<uint8_t>& stream, size_t chunk = 65536)
    {
        for (size_t i = 0; i < stream.size(); i += chunk)
            engine.ProcessSample(stream.data() + i, static_cast<int32_t>(std::min(chunk, stream.size() - i)));
    }
    std::vector<CompletedPes> Of(uint32_t pid) const
    {
        std::vector<CompletedPes> out;
        for (const auto& p : completed)
            if (p.pid == pid)
                out.push_back(p);
        return out;
    }
    static void OnPes(uint32_t pid, PidEntry& entry, uint32_t, void* context)
    {
        const auto& pes = *entry.pes;
        static_cast<EngineRun*>(context)->completed.push_back(
            {pid, {pes.pes.Data(), pes.pes.Data() + pes.pes.Length()}, pes.dataLost, pes.timeBaseLocked, pes.pts,
             pes.dts, pes.pcrTime});
    }

    Demuxer engine;
    std::vector<CompletedPes> completed;
};

std::vector<uint8_t> Sample(const std::filesystem::path& path) { return SktsTest::ReadFile(path); }

uint32_t PidOf(const uint8_t* p) { return ((p[1] & 0x1F) << 8) | p[2]; }

// Indexes of the packets of a PID in a 188-byte stream.
std::vector<size_t> PacketsOf(const std::vector<uint8_t>& stream, uint32_t pid)
{
    std::vector<size_t> out;
    for (size_t i = 0; i + 188 <= stream.size(); i += 188)
        if (PidOf(&stream[i]) == pid)
            out.push_back(i / 188);
    return out;
}

// The stream without its packet at index (188-byte packets).
std::vector<uint8_t> WithoutPacket(std::vector<uint8_t> stream, size_t index)
{
    const auto at = stream.begin() + static_cast<std::ptrdiff_t>(index * 188);
    stream.erase(at, at + 188);
    return stream;
}

size_t DataLostMarks(const EngineRun& run)
{
    return static_cast<size_t>(
        std::count_if(run.completed.begin(), run.completed.end(), [](const CompletedPes& pes) { return pes.dataLost; }));
}

} // namespace

TEST(DemuxerTest, ReportsItsStateBeforeInitAndRejectsNullData)
{
    Demuxer engine;
    const uint8_t byte = 0x47;
    EXPECT_EQ(engine.ProcessSample(&byte, 1), static_cast<HRESULT>(0x8007139F));
    ASSERT_EQ(engine.Init(), S_OK);
    EXPECT_EQ(engine.ProcessSample(nullptr, 10), E_POINTER);
    EXPECT_EQ(engine.BitRate(), 10'000'000);
    // Unmapping a PID outside 0 to 8191 changes nothing.
    engine.AddPid(0x100, nullptr, nullptr);
    engine.RemovePid(-1);
    engine.RemovePid(9000);
    EXPECT_NE(engine.Entry(0x100), nullptr);
    engine.RemovePid(0x100);
    EXPECT_EQ(engine.Entry(0x100), nullptr);
}

namespace {

size_t HeapInUse()
{
#if defined(__GLIBC__)
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#else
    return 0;
#endif
}

} // namespace

// Init again replaces the analyser and its packet input instead of leaking them (under ASan
// the leak checker sees it too), and the engine goes on working with the new ones.
TEST(DemuxerTest, InitAgainReplacesTheAnalyserAndItsPacketInput)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    EngineRun run({});
    const size_t before = HeapInUse();
    {
        Demuxer probe;
        ASSERT_EQ(probe.Init(), S_OK);
        const size_t oneEngine = HeapInUse() - before;
        for (int i = 0; i < 10; ++i)
            ASSERT_EQ(probe.Init(), S_OK);
        // Under the sanitizers glibc's heap reports nothing; their leak checker sees a leak.
        if (oneEngine > 0) {
            EXPECT_LT(HeapInUse() - before, 2 * oneEngine);
        }
    }
    ASSERT_EQ(run.engine.Init(), S_OK);
    run.engine.AddPid(0x101, &EngineRun::OnPes, &run);
    run.Feed(Sample(path));
    EXPECT_EQ(run.Of(0x101).size(), 36u);
    EXPECT_EQ(run.engine.BitRate(), 3'000'000);
}

TEST(DemuxerTest, LocksOnThePcrRateAndStampsCompletedPes)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    EngineRun run({0x100, 0x101});
    run.Feed(Sample(path));
    EXPECT_EQ(run.engine.BitRate(), 3'000'000);
    EXPECT_EQ(run.engine.TimingPcrPid(), 0x100u);
    EXPECT_TRUE(run.engine.TimeBaseLocked());
    EXPECT_EQ(run.engine.PreferredPcrPid(), 0x100u);
    const auto video = run.Of(0x100);
    ASSERT_EQ(video.size(), 149u);
    EXPECT_EQ(run.Of(0x101).size(), 36u);
    EXPECT_FALSE(video.front().timeBaseLocked);
    EXPECT_TRUE(video.back().timeBaseLocked);
    EXPECT_EQ(video.front().pts, 133'200);
    for (const auto& pes : run.completed) {
        EXPECT_FALSE(pes.dataLost);
        if (pes.pts != INT64_MIN) {
            EXPECT_NE(pes.dts, INT64_MIN); // dts falls back to pts
        }
    }
    // Once the timing PCR PID is stable, every PES carries a PCR-derived time near its PTS.
    EXPECT_NE(video.back().pcrTime, INT64_MIN);
    EXPECT_LT(std::llabs(video.back().pcrTime - video.back().dts), 90'000);
}

TEST(DemuxerTest, ALostPacketDropsOnlyThePesUnderAssembly)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    const auto clean = Sample(path);
    EngineRun reference({0x100, 0x101});
    reference.Feed(clean);

    // Drop the 50th video packet that continues a PES.
    const auto videoPackets = PacketsOf(clean, 0x100);
    size_t dropped = 0;
    for (size_t n = 50; n < videoPackets.size() && dropped == 0; ++n) {
        if (!(clean[videoPackets[n] * 188 + 1] & 0x40))
            dropped = videoPackets[n];
    }
    EngineRun run({0x100, 0x101});
    run.Feed(WithoutPacket(clean, dropped));

    const auto refVideo = reference.Of(0x100);
    const auto video = run.Of(0x100);
    ASSERT_EQ(video.size() + 1, refVideo.size());
    // Find the dropped PES: everything before it and after it is byte-exact.
    size_t lostAt = 0;
    while (lostAt < video.size() && video[lostAt].bytes == refVideo[lostAt].bytes)
        ++lostAt;
    ASSERT_LT(lostAt, video.size());
    for (size_t i = lostAt; i < video.size(); ++i)
        EXPECT_EQ(video[i].bytes, refVideo[i + 1].bytes) << i;
    // The first PES completed after the loss, of any mapped PID, carries the mark; only it.
    EXPECT_EQ(DataLostMarks(run), 1u);
    const auto audio = run.Of(0x101);
    const auto refAudio = reference.Of(0x101);
    ASSERT_EQ(audio.size(), refAudio.size());
    for (size_t i = 0; i < audio.size(); ++i)
        EXPECT_EQ(audio[i].bytes, refAudio[i].bytes);
}

TEST(DemuxerTest, LosingTheStartOfALengthBoundedPesMarksTheNextPes)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    const auto clean = Sample(path);
    EngineRun reference({0x100, 0x101});
    reference.Feed(clean);

    // Drop the first packet of an audio PES in the middle: the PES before it completed on its
    // own length, so the engine holds only an empty PES when the gap shows.
    size_t starts = 0;
    size_t dropped = 0;
    for (size_t index : PacketsOf(clean, 0x101)) {
        if ((clean[index * 188 + 1] & 0x40) && ++starts == 20) {
            dropped = index;
            break;
        }
    }
    EngineRun run({0x100, 0x101});
    run.Feed(WithoutPacket(clean, dropped));
    EXPECT_EQ(run.Of(0x101).size() + 1, reference.Of(0x101).size());
    EXPECT_EQ(DataLostMarks(run), 1u);
}

namespace {

// A PES of `pid` that fills exactly two packets and says so in PES_packet_length; it starts
// with continuity counter cc.
std::vector<uint8_t> TwoPacketPes(uint16_t pid, uint8_t cc)
{
    std::vector<uint8_t> out(2 * 188, 0x77);
    for (int i = 0; i < 2; ++i) {
        uint8_t* p = &out[static_cast<size_t>(i) * 188];
        p[0] = 0x47;
        p[1] = static_cast<uint8_t>((i == 0 ? 0x40 : 0) | (pid >> 8));
        p[2] = static_cast<uint8_t>(pid);
        p[3] = static_cast<uint8_t>(0x10 | ((cc + i) & 0x0F));
    }
    const uint8_t header[] = {0, 0, 1, 0xC0, 0x01, 0x6A, 0x80, 0x00, 0x00}; // 6 + 362 bytes
    std::copy(std::begin(header), std::end(header), out.begin() + 4);
    return out;
}

std::vector<uint8_t> Concatenate(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    std::vector<uint8_t> nulls(188 * 6, 0xFF);
    for (size_t i = 0; i < nulls.size(); i += 188) {
        nulls[i] = 0x47;
        nulls[i + 1] = 0x1F;
        nulls[i + 3] = 0x10;
    }
    out.insert(out.end(), nulls.begin(), nulls.end()); // enough for the packet input's sync search
    return out;
}

} // namespace

TEST(DemuxerTest, TheFirstCounterOfANewlyMappedPidIsNoLossButALaterGapIs)
{
    // A PCR-only packet comes first; the payload packets that follow do not continue the
    // counter the entry started with, nor the PCR packet's: nothing was lost while mapped.
    std::vector<uint8_t> pcrOnly(188, 0xFF);
    pcrOnly[0] = 0x47;
    pcrOnly[1] = 0x03;
    pcrOnly[2] = 0x00;
    pcrOnly[3] = 0x27;
    pcrOnly[4] = 183;
    pcrOnly[5] = 0x10;
    const auto stream = Concatenate({pcrOnly, TwoPacketPes(0x300, 3), TwoPacketPes(0x300, 5)});
    EngineRun mapped({0x300});
    mapped.Feed(stream);
    ASSERT_EQ(mapped.completed.size(), 2u);
    EXPECT_FALSE(mapped.completed[0].dataLost);
    EXPECT_FALSE(mapped.completed[1].dataLost);
    // After a reset the counter is as unknown as after mapping.
    mapped.engine.Reset();
    mapped.Feed(stream);
    ASSERT_EQ(mapped.completed.size(), 4u);
    EXPECT_FALSE(mapped.completed[2].dataLost);

    // Once a payload packet gave the counter, a gap is a loss even though no PES had started:
    // the lost packet may have been the start.
    auto middle = TwoPacketPes(0x300, 2);
    middle.resize(188);
    middle[1] = 0x03; // no payload_unit_start_indicator: the tail of a PES begun before mapping
    EngineRun gap({0x300});
    gap.Feed(Concatenate({middle, TwoPacketPes(0x300, 5)}));
    ASSERT_EQ(gap.completed.size(), 1u);
    EXPECT_TRUE(gap.completed[0].dataLost);
}

TEST(DemuxerTest, RepeatedPacketsAndDiscontinuities)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    const auto clean = Sample(path);
    EngineRun reference({0x101});
    reference.Feed(clean);
    const auto audioPackets = PacketsOf(clean, 0x101);
    const size_t k = audioPackets[100];
    const std::vector<uint8_t> packet(clean.begin() + static_cast<std::ptrdiff_t>(k * 188),
                                      clean.begin() + static_cast<std::ptrdiff_t>(k * 188 + 188));

    // One repetition is ignored entirely.
    auto once = clean;
    once.insert(once.begin() + static_cast<std::ptrdiff_t>(k * 188 + 188), packet.begin(), packet.end());
    EngineRun repeated({0x101});
    repeated.Feed(once);
    ASSERT_EQ(repeated.Of(0x101).size(), reference.Of(0x101).size());
    for (const auto& pes : repeated.completed)
        EXPECT_FALSE(pes.dataLost);

    // A second copy counts as a loss.
    auto twice = once;
    twice.insert(twice.begin() + static_cast<std::ptrdiff_t>(k * 188 + 188), packet.begin(), packet.end());
    EngineRun lost({0x101});
    lost.Feed(twice);
    EXPECT_EQ(DataLostMarks(lost), 1u);

    // A jump of the counter announced by discontinuity_indicator is no loss. (The audio
    // packets of this sample carry a payload only, so give one an adaptation field.)
    auto announced = clean;
    uint8_t* p = &announced[audioPackets[200] * 188];
    if ((p[3] & 0x20) == 0) {
        std::vector<uint8_t> withField(188);
        std::copy(p, p + 4, withField.begin());
        withField[3] = static_cast<uint8_t>((p[3] & 0xC0) | 0x30 | ((p[3] + 5) & 0x0F));
        withField[4] = 1;
        withField[5] = 0x80;
        std::copy(p + 4, p + 186, withField.begin() + 6);
        std::copy(withField.begin(), withField.end(), p);
    } else {
        p[5] |= 0x80;
        p[3] = static_cast<uint8_t>((p[3] & 0xF0) | ((p[3] + 5) & 0x0F));
    }
    // Renumber the following audio packets from the new counter so only the jump remains.
    uint8_t cc = p[3] & 0x0F;
    for (size_t n = 201; n < audioPackets.size(); ++n) {
        uint8_t* q = &announced[audioPackets[n] * 188];
        cc = static_cast<uint8_t>((cc + 1) & 0x0F);
        q[3] = static_cast<uint8_t>((q[3] & 0xF0) | cc);
    }
    EngineRun discontinuity({0x101});
    discontinuity.Feed(announced);
    for (const auto& pes : discontinuity.completed)
        EXPECT_FALSE(pes.dataLost);
}

namespace {

// A PCR-only packet on a PID.
std::vector<uint8_t> PcrPacket(uint16_t pid, int64_t pcr, uint8_t cc)
{
    std::vector<uint8_t> p(188, 0xFF);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>(pid >> 8);
    p[2] = static_cast<uint8_t>(pid);
    p[3] = static_cast<uint8_t>(0x20 | (cc & 0x0F));
    p[4] = 183;
    p[5] = 0x10;
    SktsTest::WritePcrField(p.data(), pcr);
    return p;
}

std::vector<uint8_t> NullPacket()
{
    std::vector<uint8_t> p(188, 0xFF);
    p[0] = 0x47;
    p[1] = 0x1F;
    p[2] = 0xFF;
    p[3] = 0x10;
    return p;
}

// A stream at `rate` bit/s with a PCR on `pid` every `interval` packets, starting at pcr0.
std::vector<uint8_t> PcrStream(uint16_t pid, int64_t rate, int packets, int interval, int64_t pcr0)
{
    std::vector<uint8_t> stream;
    uint8_t cc = 0;
    for (int i = 0; i < packets; ++i) {
        const auto p = i % interval == 0
                           ? PcrPacket(pid, (pcr0 + int64_t{i} * 1504 * 27'000'000 / rate) % SklibTs::kPcrModulus, cc++)
                           : NullPacket();
        stream.insert(stream.end(), p.begin(), p.end());
    }
    return stream;
}

} // namespace

TEST(DemuxerTest, PcrRatesAcrossWrapJumpsAndRepeats)
{
    // 2 Mbit/s with a PCR every 10 packets, starting just before the 33-bit wrap.
    const int64_t nearWrap = SklibTs::kPcrModulus - 27'000'000 / 100;
    EngineRun run({});
    run.Feed(PcrStream(0x50, 2'000'000, 400, 10, nearWrap), 188 * 10);
    EXPECT_EQ(run.engine.BitRate(), 2'000'000);
    const auto& track = run.engine.PcrTracks().at(0x50);
    EXPECT_TRUE(track.stable);
    EXPECT_EQ(track.rate, 2'000'000);

    // A PCR that goes backwards only restarts the interval: no rate sample.
    EngineRun jump({});
    auto stream = PcrStream(0x50, 2'000'000, 100, 10, 27'000'000);
    const auto back = PcrStream(0x50, 2'000'000, 100, 10, 1'000'000);
    stream.insert(stream.end(), back.begin(), back.end());
    jump.Feed(stream, 188 * 10);
    EXPECT_EQ(jump.engine.PcrTracks().at(0x50).rate, 2'000'000);
    EXPECT_TRUE(jump.engine.PcrTracks().at(0x50).stable);

    // Equal PCRs give no rate sample: the track only restarts its interval at each of them.
    EngineRun same({});
    std::vector<uint8_t> repeated;
    for (uint8_t cc = 0; cc < 5; ++cc) {
        const auto p = PcrPacket(0x60, 54'000'000, cc);
        repeated.insert(repeated.end(), p.begin(), p.end());
        const auto n = NullPacket();
        for (int i = 0; i < 9; ++i)
            repeated.insert(repeated.end(), n.begin(), n.end());
    }
    same.Feed(repeated);
    EXPECT_FALSE(same.engine.PcrTracks().at(0x60).stable);
    EXPECT_EQ(same.engine.PcrTracks().at(0x60).rate, 10'000'000);
    EXPECT_EQ(same.engine.PcrTracks().at(0x60).pcrPacket, 40);
}

TEST(DemuxerTest, WallClockEstimatorWarmsUpAndKeepsItsHysteresis)
{
    int64_t now = 1'000'000'000;
    EngineRun run({}, [&now] { return now; });
    const auto nulls = [] {
        std::vector<uint8_t> s;
        const auto n = NullPacket();
        for (int i = 0; i < 100; ++i)
            s.insert(s.end(), n.begin(), n.end());
        return s;
    }();
    // 100 packets each 100 ms: 1,504,000 bit/s, far from the 10 Mbit/s default.
    const auto step = [&] {
        run.Feed(nulls);
        now += 100'000'000;
    };
    step(); // first sample only starts the measurement
    for (int i = 0; i < 3; ++i)
        step();
    EXPECT_EQ(run.engine.BitRate(), 10'000'000); // three samples taken, none yet replaced
    step();
    EXPECT_EQ(run.engine.BitRate(), 1'504'000);

    // A change of 500,000 bit/s or less is ignored; more is taken.
    EngineRun hysteresis({}, [&now] { return now; });
    std::vector<uint8_t> burst;
    const auto n = NullPacket();
    for (int i = 0; i < 6649; ++i) // 10,000,096 bits each 1 s
        burst.insert(burst.end(), n.begin(), n.end());
    for (int i = 0; i < 6; ++i) {
        hysteresis.Feed(burst);
        now += 1'000'000'000;
    }
    EXPECT_EQ(hysteresis.engine.BitRate(), 10'000'000);
}

TEST(DemuxerTest, SilentPcrTracksAgeOutAndTheWallClockTakesOver)
{
    int64_t now = 1'000'000'000;
    EngineRun run({}, [&now] { return now; });
    // PCRs on 0x50 for 0.3 s, then only nulls for a second of stream time.
    auto stream = PcrStream(0x50, 2'000'000, 400, 10, 0);
    const auto n = NullPacket();
    for (int i = 0; i < 1400; ++i)
        stream.insert(stream.end(), n.begin(), n.end());
    for (size_t i = 0; i < stream.size(); i += 188 * 100) {
        run.engine.ProcessSample(stream.data() + i, static_cast<int32_t>(std::min<size_t>(188 * 100, stream.size() - i)));
        now += 150'000'000;
    }
    EXPECT_EQ(run.engine.PcrTracks().count(0x50), 0u);
    EXPECT_EQ(run.engine.TimingPcrPid(), Demuxer::kNoPid);
    // The wall clock took over: 100 packets every 150 ms.
    EXPECT_NEAR(run.engine.BitRate(), 1'002'666, 1000);
}

TEST(DemuxerTest, APreferredPcrPidThatFallsSilentIsChosenAnewFromTheMappedPrograms)
{
    SKTS_REQUIRE_SAMPLE(path, "twoprog.ts");
    auto stream = Sample(path);
    // Tracks age once per wall-clock measurement: let 150 ms pass per sample of 50 packets.
    int64_t now = 1'000'000'000;
    EngineRun run({0x101, 0x103}, [&now] { return now; });
    const auto feed = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; i += 188 * 50) {
            run.engine.ProcessSample(stream.data() + i, static_cast<int32_t>(std::min<size_t>(188 * 50, to - i)));
            now += 150'000'000;
        }
    };
    const size_t half = stream.size() / 3 / 188 * 188;
    feed(0, half);
    EXPECT_EQ(run.engine.PreferredPcrPid(), 0x100u) << "the program of the first mapped PID";
    EXPECT_EQ(run.engine.TimingPcrPid(), 0x100u);
    EXPECT_TRUE(run.engine.TimeBaseLocked());

    // Program 1 loses its PCRs and its PID is unmapped: once the track has aged (500 ms of
    // stream time), the PCR PID of the remaining mapped program takes over and locks.
    run.engine.RemovePid(0x101);
    for (size_t i = half; i + 188 <= stream.size(); i += 188) {
        uint8_t* p = &stream[i];
        if (PidOf(p) == 0x100 && (p[3] & 0x20) && p[4] > 0)
            p[5] &= static_cast<uint8_t>(~0x10);
    }
    feed(half, stream.size());
    EXPECT_EQ(run.engine.PcrTracks().count(0x100), 0u);
    EXPECT_EQ(run.engine.PreferredPcrPid(), 0x102u);
    EXPECT_EQ(run.engine.TimingPcrPid(), 0x102u);
    EXPECT_TRUE(run.engine.TimeBaseLocked());
}

// The engine assembles each PES in a recycled one once the last is dropped: what it completes
// must be what fresh objects give, loss marks included.
TEST(DemuxerTest, RecycledPesGiveWhatNewOnesGive)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    const auto sample = Sample(path);
    const auto video = PacketsOf(sample, 0x100);
    ASSERT_GT(video.size(), 100u);
    const auto damaged = WithoutPacket(WithoutPacket(sample, video[80]), video[40]);

    struct Collector {
        bool keep = false;
        bool take = false; // takes the PES away and drops it within the callback, as a filter may
        std::vector<std::shared_ptr<DsDemux::PesData>> kept;
        std::vector<CompletedPes> completed;
        std::vector<const void*> objects;
        static void OnPes(uint32_t pid, PidEntry& entry, uint32_t, void* context)
        {
            auto& self = *static_cast<Collector*>(context);
            const auto& pes = *entry.pes;
            self.completed.push_back({pid, {pes.pes.Data(), pes.pes.Data() + pes.pes.Length()}, pes.dataLost,
                                      pes.timeBaseLocked, pes.pts, pes.dts, pes.pcrTime});
            if (std::find(self.objects.begin(), self.objects.end(), entry.pes.get()) == self.objects.end())
                self.objects.push_back(entry.pes.get());
            if (self.keep)
                self.kept.push_back(entry.pes);
            if (self.take)
                std::shared_ptr<DsDemux::PesData>(std::move(entry.pes)).reset();
        }
    };
    for (const auto* stream : {&sample, &damaged}) {
        Collector recycled;
        Collector taken;
        taken.take = true;
        Collector kept;
        kept.keep = true;
        for (Collector* collector : {&recycled, &taken, &kept}) {
            Demuxer engine;
            ASSERT_EQ(engine.Init(), S_OK);
            engine.AddPid(0x100, &Collector::OnPes, collector);
            engine.AddPid(0x101, &Collector::OnPes, collector);
            for (size_t i = 0; i < stream->size(); i += 65536)
                engine.ProcessSample(stream->data() + i, static_cast<int32_t>(std::min<size_t>(65536, stream->size() - i)));
        }
        ASSERT_EQ(recycled.completed.size(), kept.completed.size());
        ASSERT_EQ(taken.completed.size(), kept.completed.size());
        ASSERT_EQ(kept.objects.size(), kept.completed.size());
        EXPECT_LE(recycled.objects.size(), 4u) << "dropped PES are reused";
        const auto same = [](const CompletedPes& a, const CompletedPes& b) {
            return a.pid == b.pid && a.bytes == b.bytes && a.dataLost == b.dataLost &&
                   a.timeBaseLocked == b.timeBaseLocked && a.pts == b.pts && a.dts == b.dts && a.pcrTime == b.pcrTime;
        };
        for (size_t i = 0; i < kept.completed.size(); ++i) {
            EXPECT_TRUE(same(recycled.completed[i], kept.completed[i])) << "PES " << i;
            EXPECT_TRUE(same(taken.completed[i], kept.completed[i])) << "PES " << i;
        }
        if (stream == &damaged) {
            EXPECT_GT(std::count_if(kept.completed.begin(), kept.completed.end(),
                                    [](const CompletedPes& pes) { return pes.dataLost; }),
                      0);
        }
    }
}
