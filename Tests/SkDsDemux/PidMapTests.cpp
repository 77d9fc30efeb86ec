// IMPEG2PIDMap on the output pins, the engine entries it installs and removes, and the
// IEnumPIDMap snapshots of a pin's PIDs.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ConformanceSupport.h"
#include "TestData.h"

using namespace FilterTest;

namespace {

using PidMapTest = LiveObjects;

using Pids = std::vector<ULONG>;

// Makes every record itself and keeps them, so the test can read the kind each PES got.
class KeepingProvider final : public AvTimeStampProvider {
public:
    void CreateRecord(std::shared_ptr<AvTimeStamp>& record, const std::shared_ptr<AvTimeStamp>&, uint32_t, int32_t,
                      uint32_t kind) override
    {
        record = std::make_shared<AvTimeStamp>(kind);
        std::lock_guard lock(mutex_);
        made_.push_back(record);
    }
    void OnMediaSample(int32_t, const std::shared_ptr<AvTimeStamp>&) override {}

    // How many records ended with each kind since the last call.
    std::map<uint32_t, int> TakeKinds()
    {
        std::lock_guard lock(mutex_);
        std::map<uint32_t, int> kinds;
        for (const auto& record : made_)
            ++kinds[record->kind];
        made_.clear();
        return kinds;
    }

private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<AvTimeStamp>> made_;
};

PID_MAP Unfilled() { return {0xDEADBEEF, static_cast<MEDIA_SAMPLE_CONTENT>(7)}; }

} // namespace

TEST_F(PidMapTest, MapPidInstallsEachPidOnceAndKeepsItsEntry)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    const auto stream = SktsTest::ReadFile(path);
    DemuxUnderTest demux;
    DsDemux::Demuxer& engine = demux.raw->Engine();
    ComPtr<IPin> first = demux.CreatePin(L"First");
    ComPtr<IPin> second = demux.CreatePin(L"Second");
    EXPECT_EQ(DemuxUnderTest::Map(first.Get(), {0x100, 0x101}), S_OK);
    DsDemux::PidEntry* entry = engine.Entry(0x100);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->pid, 0x100u);
    EXPECT_EQ(entry->pcrPid, 0xFFFFFFFFu);
    EXPECT_FALSE(entry->pes);
    EXPECT_NE(engine.Entry(0x101), nullptr);
    EXPECT_EQ(DemuxUnderTest::MappedPids(first.Get()), (Pids{0x100, 0x101}));

    // Mapping it again, on the same pin or another, leaves the entry and its PES under
    // assembly as they are.
    demux.Feed(stream, 0, 188 * 300);
    const std::shared_ptr<DsDemux::PesData> assembling = engine.Entry(0x100)->pes;
    ASSERT_TRUE(assembling);
    EXPECT_EQ(DemuxUnderTest::Map(first.Get(), {0x100}), S_OK);
    EXPECT_EQ(DemuxUnderTest::Map(second.Get(), {0x100}), S_OK);
    ASSERT_NE(engine.Entry(0x100), nullptr);
    EXPECT_EQ(engine.Entry(0x100)->pes, assembling);
    EXPECT_EQ(DemuxUnderTest::MappedPids(first.Get()), (Pids{0x100, 0x101}));
    EXPECT_EQ(DemuxUnderTest::MappedPids(second.Get()), (Pids{0x100}));
    EXPECT_EQ(engine.Entry(0x102), nullptr);
    // PIDs 0 and 0x1FFF are PIDs like any other.
    EXPECT_EQ(DemuxUnderTest::Map(second.Get(), {0x1FFF, 0}), S_OK);
    EXPECT_EQ(DemuxUnderTest::MappedPids(second.Get()), (Pids{0, 0x100, 0x1FFF}));
}

// The first pin of a PID decides the kind of its PES records: a second pin goes after the
// first, and mapping the first again does not move it.
TEST_F(PidMapTest, PinsOfAPidKeepTheOrderTheyWereMappedIn)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    const auto stream = SktsTest::ReadFile(path);
    KeepingProvider provider;
    DemuxUnderTest demux;
    ComPtr<ISkDsAvTimeStamp> stamps;
    ASSERT_EQ(demux.filter->QueryInterface(IID_ISkDsAvTimeStamp, stamps.PutVoid()), S_OK);
    ASSERT_EQ(stamps->SetTimeStampProvider(&provider), S_OK);
    ComPtr<IPin> audio = demux.CreatePin(L"Audio", TypeOf(MEDIATYPE_Audio));
    ComPtr<IPin> video = demux.CreatePin(L"Video", TypeOf(MEDIATYPE_Video));
    ASSERT_EQ(DemuxUnderTest::Map(audio.Get(), {0x100}), S_OK);
    ASSERT_EQ(DemuxUnderTest::Map(video.Get(), {0x100}), S_OK);
    ASSERT_EQ(DemuxUnderTest::Map(audio.Get(), {0x100}), S_OK);

    constexpr size_t kPart = 188 * 1500;
    demux.Feed(stream, 0, kPart);
    auto kinds = provider.TakeKinds();
    EXPECT_GT(kinds[AvTimeStamp::kAudio], 0);
    EXPECT_EQ(kinds[AvTimeStamp::kVideo], 0);

    // Unmapped and mapped again, the audio pin now comes second.
    ASSERT_EQ(DemuxUnderTest::Unmap(audio.Get(), {0x100}), S_OK);
    ASSERT_EQ(DemuxUnderTest::Map(audio.Get(), {0x100}), S_OK);
    demux.Feed(stream, kPart, 2 * kPart);
    kinds = provider.TakeKinds();
    EXPECT_GT(kinds[AvTimeStamp::kVideo], 0);
    EXPECT_EQ(kinds[AvTimeStamp::kAudio], 0);
    EXPECT_EQ(stamps->SetTimeStampProvider(nullptr), S_OK);
}

TEST_F(PidMapTest, MapPidRefusesBadArgumentsAndOtherContent)
{
    DemuxUnderTest demux;
    DsDemux::Demuxer& engine = demux.raw->Engine();
    ComPtr<IPin> pin = demux.CreatePin(L"Video");
    ComPtr<IMPEG2PIDMap> map = DemuxUnderTest::MapOf(pin.Get());
    ULONG pid = 0x100;
    EXPECT_EQ(map->MapPID(0, &pid, MEDIA_ELEMENTARY_STREAM), E_INVALIDARG);
    EXPECT_EQ(map->MapPID(1, nullptr, MEDIA_ELEMENTARY_STREAM), E_INVALIDARG);
    for (const MEDIA_SAMPLE_CONTENT content : {MEDIA_TRANSPORT_PACKET, MEDIA_MPEG2_PSI, MEDIA_TRANSPORT_PAYLOAD}) {
        EXPECT_EQ(map->MapPID(1, &pid, content), E_NOTIMPL);
    }
    EXPECT_EQ(engine.Entry(0x100), nullptr);
    EXPECT_EQ(DemuxUnderTest::Map(pin.Get(), {0x2000}), E_INVALIDARG);
    EXPECT_EQ(DemuxUnderTest::Map(pin.Get(), {0xFFFFFFFF}), E_INVALIDARG);
    EXPECT_TRUE(DemuxUnderTest::MappedPids(pin.Get()).empty());

    // The PIDs before a bad one stay mapped; those after it are not reached.
    EXPECT_EQ(DemuxUnderTest::Map(pin.Get(), {0x100, 0x2000, 0x101}), E_INVALIDARG);
    EXPECT_NE(engine.Entry(0x100), nullptr);
    EXPECT_EQ(engine.Entry(0x101), nullptr);
    EXPECT_EQ(DemuxUnderTest::MappedPids(pin.Get()), (Pids{0x100}));
}

TEST_F(PidMapTest, UnmapPidRemovesOnlyThisPinAndTheEntryWithTheLastPin)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    const auto stream = SktsTest::ReadFile(path);
    DemuxUnderTest demux;
    DsDemux::Demuxer& engine = demux.raw->Engine();
    ComPtr<IPin> first = demux.CreatePin(L"First");
    ComPtr<IPin> second = demux.CreatePin(L"Second");
    ASSERT_EQ(DemuxUnderTest::Map(first.Get(), {0x100, 0x101}), S_OK);
    ASSERT_EQ(DemuxUnderTest::Map(second.Get(), {0x100}), S_OK);
    demux.Feed(stream, 0, 188 * 300);
    ASSERT_NE(engine.Entry(0x100), nullptr);
    ASSERT_TRUE(engine.Entry(0x100)->pes); // a PES under assembly

    // PIDs not mapped, or not to this pin: nothing changes.
    EXPECT_EQ(DemuxUnderTest::Unmap(second.Get(), {0x101, 0x102, 0x1FFF}), S_OK);
    EXPECT_NE(engine.Entry(0x101), nullptr);

    EXPECT_EQ(DemuxUnderTest::Unmap(first.Get(), {0x100}), S_OK);
    ASSERT_NE(engine.Entry(0x100), nullptr);
    EXPECT_TRUE(engine.Entry(0x100)->pes);
    EXPECT_EQ(DemuxUnderTest::MappedPids(first.Get()), (Pids{0x101}));
    EXPECT_EQ(DemuxUnderTest::Unmap(second.Get(), {0x100}), S_OK);
    EXPECT_EQ(engine.Entry(0x100), nullptr);
    EXPECT_TRUE(DemuxUnderTest::MappedPids(second.Get()).empty());

    // Mapped again, the PID starts from a fresh entry: the PES under assembly was dropped.
    ASSERT_EQ(DemuxUnderTest::Map(second.Get(), {0x100}), S_OK);
    ASSERT_NE(engine.Entry(0x100), nullptr);
    EXPECT_FALSE(engine.Entry(0x100)->pes);
}

TEST_F(PidMapTest, UnmapPidRefusesBadArguments)
{
    DemuxUnderTest demux;
    DsDemux::Demuxer& engine = demux.raw->Engine();
    ComPtr<IPin> pin = demux.CreatePin(L"Video");
    ASSERT_EQ(DemuxUnderTest::Map(pin.Get(), {0x100, 0x101}), S_OK);
    ComPtr<IMPEG2PIDMap> map = DemuxUnderTest::MapOf(pin.Get());
    ULONG pid = 0x100;
    EXPECT_EQ(map->UnmapPID(0, &pid), E_INVALIDARG);
    EXPECT_EQ(map->UnmapPID(1, nullptr), E_INVALIDARG);
    EXPECT_EQ(DemuxUnderTest::Unmap(pin.Get(), {0xFFFFFFFF}), E_INVALIDARG);
    EXPECT_NE(engine.Entry(0x100), nullptr);

    // The PIDs before a bad one are unmapped; those after it are not reached.
    EXPECT_EQ(DemuxUnderTest::Unmap(pin.Get(), {0x100, 0x2000, 0x101}), E_INVALIDARG);
    EXPECT_EQ(engine.Entry(0x100), nullptr);
    EXPECT_NE(engine.Entry(0x101), nullptr);
    EXPECT_EQ(DemuxUnderTest::MappedPids(pin.Get()), (Pids{0x101}));
}

TEST_F(PidMapTest, DeletedPinLeavesNoTraceInTheMap)
{
    DemuxUnderTest demux;
    DsDemux::Demuxer& engine = demux.raw->Engine();
    ComPtr<IPin> first = demux.CreatePin(L"First");
    ComPtr<IPin> second = demux.CreatePin(L"Second");
    ASSERT_EQ(DemuxUnderTest::Map(first.Get(), {0x100, 0x101}), S_OK);
    ASSERT_EQ(DemuxUnderTest::Map(second.Get(), {0x101}), S_OK);
    first.Reset();
    EXPECT_EQ(demux.Delete(L"First"), S_OK);
    EXPECT_EQ(engine.Entry(0x100), nullptr);
    EXPECT_NE(engine.Entry(0x101), nullptr);
    EXPECT_EQ(DemuxUnderTest::MappedPids(second.Get()), (Pids{0x101}));
    ComPtr<IPin> again = demux.CreatePin(L"First");
    EXPECT_TRUE(DemuxUnderTest::MappedPids(again.Get()).empty());
}

TEST_F(PidMapTest, EnumeratorListsThePinsPidsAscendingWithElementaryContent)
{
    DemuxUnderTest demux;
    ComPtr<IPin> pin = demux.CreatePin(L"Video");
    ComPtr<IMPEG2PIDMap> map = DemuxUnderTest::MapOf(pin.Get());
    EXPECT_EQ(map->EnumPIDMap(nullptr), E_POINTER);
    ASSERT_EQ(DemuxUnderTest::Map(pin.Get(), {0x101}), S_OK);
    ASSERT_EQ(DemuxUnderTest::Map(pin.Get(), {0x100}), S_OK);

    ComPtr<IEnumPIDMap> pids;
    ASSERT_EQ(map->EnumPIDMap(pids.Put()), S_OK);
    PID_MAP records[5] = {Unfilled(), Unfilled(), Unfilled(), Unfilled(), Unfilled()};
    ULONG received = 99;
    EXPECT_EQ(pids->Next(1, records, &received), S_OK);
    EXPECT_EQ(received, 1u);
    EXPECT_EQ(records[0].ulPID, 0x100u);
    EXPECT_EQ(records[0].MediaSampleContent, MEDIA_ELEMENTARY_STREAM);
    EXPECT_EQ(pids->Next(1, records, &received), S_OK);
    EXPECT_EQ(received, 1u);
    EXPECT_EQ(records[0].ulPID, 0x101u);
    EXPECT_EQ(records[0].MediaSampleContent, MEDIA_ELEMENTARY_STREAM);
    EXPECT_EQ(records[1].ulPID, 0xDEADBEEFu);

    // More asked than left: what is left, with S_OK; then S_FALSE with nothing.
    ASSERT_EQ(pids->Reset(), S_OK);
    EXPECT_EQ(pids->Next(5, records, &received), S_OK);
    EXPECT_EQ(received, 2u);
    EXPECT_EQ(records[0].ulPID, 0x100u);
    EXPECT_EQ(records[1].ulPID, 0x101u);
    EXPECT_EQ(records[1].MediaSampleContent, MEDIA_ELEMENTARY_STREAM);
    EXPECT_EQ(records[2].ulPID, 0xDEADBEEFu);
    received = 99;
    EXPECT_EQ(pids->Next(5, records, &received), S_FALSE);
    EXPECT_EQ(received, 0u);

    EXPECT_EQ(pids->Next(1, nullptr, &received), E_INVALIDARG);
    EXPECT_EQ(pids->Next(1, records, nullptr), E_INVALIDARG);
    ASSERT_EQ(pids->Reset(), S_OK);
    received = 99;
    EXPECT_EQ(pids->Next(0, records, &received), S_OK);
    EXPECT_EQ(received, 0u);
}

TEST_F(PidMapTest, EnumeratorSkipsToTheEndAtMost)
{
    DemuxUnderTest demux;
    ComPtr<IPin> pin = demux.CreatePin(L"Video");
    ASSERT_EQ(DemuxUnderTest::Map(pin.Get(), {0x100, 0x101}), S_OK);
    ComPtr<IEnumPIDMap> pids;
    ASSERT_EQ(DemuxUnderTest::MapOf(pin.Get())->EnumPIDMap(pids.Put()), S_OK);
    EXPECT_EQ(pids->Skip(10), S_OK);
    EXPECT_EQ(pids->Skip(1), S_FALSE);
    PID_MAP record = Unfilled();
    ULONG received = 99;
    EXPECT_EQ(pids->Next(1, &record, &received), S_FALSE);
    EXPECT_EQ(received, 0u);

    ASSERT_EQ(pids->Reset(), S_OK);
    EXPECT_EQ(pids->Skip(1), S_OK);
    EXPECT_EQ(pids->Next(1, &record, &received), S_OK);
    EXPECT_EQ(record.ulPID, 0x101u);
    ASSERT_EQ(pids->Reset(), S_OK);
    EXPECT_EQ(pids->Skip(0xFFFFFFFF), S_OK);
    EXPECT_EQ(pids->Skip(0), S_FALSE);

    // An enumerator over no PIDs is at its end from the start.
    ComPtr<IPin> empty = demux.CreatePin(L"Empty");
    ComPtr<IEnumPIDMap> none;
    ASSERT_EQ(DemuxUnderTest::MapOf(empty.Get())->EnumPIDMap(none.Put()), S_OK);
    EXPECT_EQ(none->Skip(0), S_FALSE);
    EXPECT_EQ(none->Next(1, &record, &received), S_FALSE);
}

TEST_F(PidMapTest, CloneStartsAtTheFirstPidAndGoesItsOwnWay)
{
    DemuxUnderTest demux;
    ComPtr<IPin> pin = demux.CreatePin(L"Video");
    ASSERT_EQ(DemuxUnderTest::Map(pin.Get(), {0x101, 0x100}), S_OK);
    ComPtr<IEnumPIDMap> pids;
    ASSERT_EQ(DemuxUnderTest::MapOf(pin.Get())->EnumPIDMap(pids.Put()), S_OK);
    PID_MAP record = Unfilled();
    ULONG received = 0;
    ASSERT_EQ(pids->Next(1, &record, &received), S_OK);
    ASSERT_EQ(record.ulPID, 0x100u);

    const LONG objects = CBaseObject::ObjectsActive();
    ComPtr<IEnumPIDMap> clone;
    ASSERT_EQ(pids->Clone(clone.Put()), S_OK);
    ASSERT_TRUE(clone);
    EXPECT_NE(clone.Get(), pids.Get());
    EXPECT_EQ(CBaseObject::ObjectsActive(), objects + 1);
    EXPECT_EQ(clone->Next(1, &record, &received), S_OK);
    EXPECT_EQ(record.ulPID, 0x100u);
    EXPECT_EQ(pids->Next(1, &record, &received), S_OK);
    EXPECT_EQ(record.ulPID, 0x101u);
    EXPECT_EQ(pids->Next(1, &record, &received), S_FALSE);
    EXPECT_EQ(clone->Next(1, &record, &received), S_OK);
    EXPECT_EQ(record.ulPID, 0x101u);
    EXPECT_EQ(pids->Clone(nullptr), E_INVALIDARG);
    clone.Reset();
    EXPECT_EQ(CBaseObject::ObjectsActive(), objects);
}

// An enumerator is a snapshot: it outlives later map changes, its pin and its filter.
TEST_F(PidMapTest, EnumeratorIsASnapshotThatLivesOnItsOwn)
{
    ComPtr<IEnumPIDMap> pids;
    {
        DemuxUnderTest demux;
        ComPtr<IPin> pin = demux.CreatePin(L"Video");
        ASSERT_EQ(DemuxUnderTest::Map(pin.Get(), {0x100, 0x101}), S_OK);
        ASSERT_EQ(DemuxUnderTest::MapOf(pin.Get())->EnumPIDMap(pids.Put()), S_OK);
        ASSERT_EQ(DemuxUnderTest::Unmap(pin.Get(), {0x100}), S_OK);
        ASSERT_EQ(DemuxUnderTest::Map(pin.Get(), {0x102}), S_OK);
        EXPECT_EQ(DemuxUnderTest::MappedPids(pin.Get()), (Pids{0x101, 0x102}));
        pin.Reset();
        EXPECT_EQ(demux.Delete(L"Video"), S_OK);
    }
    EXPECT_EQ(CBaseObject::ObjectsActive(), 1);
    PID_MAP records[3] = {};
    ULONG received = 0;
    EXPECT_EQ(pids->Next(3, records, &received), S_OK);
    ASSERT_EQ(received, 2u);
    EXPECT_EQ(records[0].ulPID, 0x100u);
    EXPECT_EQ(records[1].ulPID, 0x101u);
    pids.Reset();
    EXPECT_EQ(CBaseObject::ObjectsActive(), 0);
}

// Map changes, pins coming and going, flushes and state changes on the application's thread
// while the streaming thread keeps delivering samples.
TEST_F(PidMapTest, MapChangesAreSafeWhileSamplesArrive)
{
    SKTS_REQUIRE_SAMPLE(path, "h264_aac.ts");
    const auto stream = SktsTest::ReadFile(path);
    LogCapture log; // the flushes log the unconnected pins
    DemuxUnderTest demux;
    ComPtr<IPin> video = demux.CreatePin(L"Video");
    ComPtr<IPin> audio = demux.CreatePin(L"Audio", TypeOf(MEDIATYPE_Audio));
    ComPtr<IPin> ts = demux.InputPin();
    ComPtr<IMemInputPin> input = demux.MemInput();
    std::atomic<bool> done{false};
    std::atomic<int> samples{0};
    std::thread streaming([&] {
        constexpr size_t kChunk = 188 * 7;
        for (size_t at = 0; !done; at = at + kChunk < stream.size() ? at + kChunk : 0) {
            BytesSample sample(stream.data() + at, static_cast<LONG>(std::min(kChunk, stream.size() - at)));
            if (input->Receive(&sample) != S_OK)
                ADD_FAILURE() << "Receive failed";
            ++samples;
        }
    });
    for (int round = 0; round < 100; ++round) {
        EXPECT_EQ(DemuxUnderTest::Map(video.Get(), {0x100, 0x101}), S_OK);
        EXPECT_EQ(DemuxUnderTest::Map(audio.Get(), {0x101}), S_OK);
        ComPtr<IPin> extra = demux.CreatePin(L"Extra");
        EXPECT_EQ(DemuxUnderTest::Map(extra.Get(), {0x100}), S_OK);
        EXPECT_EQ(DemuxUnderTest::MappedPids(extra.Get()), (Pids{0x100}));
        EXPECT_EQ(demux.filter->Pause(), S_OK);
        EXPECT_EQ(ts->BeginFlush(), S_OK);
        EXPECT_EQ(ts->EndFlush(), S_OK);
        EXPECT_EQ(demux.filter->Run(round), S_OK);
        extra.Reset();
        EXPECT_EQ(demux.Delete(L"Extra"), S_OK);
        EXPECT_EQ(DemuxUnderTest::Unmap(video.Get(), {0x100}), S_OK);
        EXPECT_EQ(DemuxUnderTest::Unmap(audio.Get(), {0x101}), S_OK);
        EXPECT_EQ(demux.filter->Stop(), S_OK);
        EXPECT_EQ(DemuxUnderTest::Unmap(video.Get(), {0x101}), S_OK);
        const int seen = samples.load();
        EXPECT_TRUE(PollUntil([&] { return samples.load() > seen; }));
    }
    done = true;
    streaming.join();
    EXPECT_EQ(demux.raw->Engine().Entry(0x100), nullptr);
    EXPECT_EQ(demux.raw->Engine().Entry(0x101), nullptr);
    EXPECT_EQ(demux.raw->GetPinCount(), 3);
}
