#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "FilterTestSupport.h"
#include "MemAllocator.h"
#include "PesPackets.h"
#include "SkTp.h"

using namespace FilterTest;
using DsDemux::PesData;

namespace {

using DeliveryTest = LiveObjects;

constexpr int64_t kSecondNs = 1'000'000'000;

// A graph clock whose time the test sets.
class ManualClock final : public CUnknown, public IReferenceClock {
public:
    ManualClock() : CUnknown(NAME("Manual clock"), nullptr) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IReferenceClock)
            return GetInterface(static_cast<IReferenceClock*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    void Set(REFERENCE_TIME time) { time_ = time; }
    HRESULT GetTime(REFERENCE_TIME* pTime) override
    {
        *pTime = time_;
        return S_OK;
    }
    HRESULT AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR*) override { return E_NOTIMPL; }
    HRESULT AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override { return E_NOTIMPL; }
    HRESULT Unadvise(DWORD_PTR) override { return E_NOTIMPL; }

private:
    std::atomic<REFERENCE_TIME> time_{0};
};

// Holds the delivery thread inside the sink until the test lets it go.
class Gate {
public:
    void Close()
    {
        std::lock_guard lock(mutex_);
        open_ = false;
    }
    void Open()
    {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    HRESULT Pass()
    {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
        --waiting_;
        return S_OK;
    }
    void WaitForArrival()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return waiting_ > 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    int waiting_ = 0;
};

// A completed PES of `size` payload bytes, stamped as the filter would stamp it.
std::shared_ptr<PesData> MakePes(size_t size, int64_t dueTimeNs, REFERENCE_TIME start, uint64_t flags = 0,
                                 uint8_t seed = 0)
{
    auto pes = std::make_shared<PesData>();
    uint8_t cc = 0;
    const auto packets = SktsTest::PesTsPackets(SktsTest::PesPacket(0xE0, SktsTest::Pattern(size, seed)), 0x100, cc);
    for (size_t at = 0; at < packets.size(); at += 188)
        pes->pes.AddTp(SklibTs::SkTp(&packets[at], 188));
    EXPECT_EQ(pes->pes.GetState(), SklibTs::SkPes::kComplete);
    pes->dueTimeNs = dueTimeNs;
    pes->timeStamp = std::make_shared<AvTimeStamp>(AvTimeStamp::kVideo);
    pes->timeStamp->start = start;
    pes->timeStamp->flags = flags;
    return pes;
}

template <typename Predicate>
bool Eventually(Predicate done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The filter with output pins connected to sinks, driven by a steady clock the test moves.
class DeliveryRig {
public:
    explicit DeliveryRig(size_t pins = 1) : graph_(DsHost::FilterGraph::Create())
    {
        filterHeld_ = MakeFilter(&filter_, [this] { return steadyNow.load(); });
        EXPECT_EQ(graph_->AddFilter(filterHeld_.Get(), L"Demux"), S_OK);
        for (size_t i = 0; i < pins; ++i)
            AddPin(i == 0 ? MEDIATYPE_Video : MEDIATYPE_Audio);
    }
    ~DeliveryRig()
    {
        gate.Open();
        graph_->Stop();
        sinks_.clear();
        graph_.Reset();
    }

    void UseClock()
    {
        clock_ = ComPtr<ManualClock>(new ManualClock());
        EXPECT_EQ(graph_->SetSyncSource(clock_.Get()), S_OK);
    }
    void SetStreamTime(REFERENCE_TIME time) { clock_->Set(time); }

    // Stream time 10 s, the filter paused, and the sink held inside Receive with a first PES, so
    // whatever is queued next stays queued.
    void HoldTheSinkAt10Seconds()
    {
        UseClock();
        SetStreamTime(10 * 10'000'000LL);
        ASSERT_EQ(graph_->Pause(), S_OK);
        gate.Close();
        auto blocked = MakePes(10, 0, 1);
        ASSERT_EQ(Pin().DeliverThread().Queue(blocked), S_OK);
        gate.WaitForArrival();
    }

    EsPin& Pin(size_t i = 0) { return *static_cast<EsPin*>(filter_->GetPin(static_cast<int>(i) + 1)); }
    SinkRecord& Sink(size_t i = 0) { return sinks_[i]->record; }
    SkDsDemux& Filter() { return *filter_; }
    DsHost::FilterGraph& Graph() { return *graph_.Get(); }

    std::atomic<int64_t> steadyNow{1000 * kSecondNs};
    Gate gate;

private:
    void AddPin(const GUID& major)
    {
        const size_t index = sinks_.size();
        CMediaType type = TypeOf(major);
        const std::wstring name = L"Out" + std::to_wstring(index);
        ComPtr<IPin> pin;
        EXPECT_EQ(filter_->CreateOutputPin(&type, const_cast<LPWSTR>(name.c_str()), pin.Put()), S_OK);
        auto sink = std::make_unique<SinkEntry>();
        sink->record.onReceive = [this] { return gate.Pass(); };
        sink->filter = ComPtr<DsHost::SampleSink>(new DsHost::SampleSink(sink->record.Callbacks()));
        EXPECT_EQ(graph_->AddFilter(sink->filter.Get(), (L"Sink" + name).c_str()), S_OK);
        EXPECT_EQ(graph_->Connect(pin.Get(), sink->filter->InputPin()), S_OK);
        sinks_.push_back(std::move(sink));
    }

    struct SinkEntry {
        SinkRecord record;
        ComPtr<DsHost::SampleSink> filter;
    };
    ComPtr<DsHost::FilterGraph> graph_;
    SkDsDemux* filter_ = nullptr;
    ComPtr<IBaseFilter> filterHeld_;
    ComPtr<ManualClock> clock_;
    std::vector<std::unique_ptr<SinkEntry>> sinks_;
};

} // namespace

// A PES due 3 s ahead waits for its time; one due 6 s ahead, or with no due time, goes at once.
TEST_F(DeliveryTest, HoldsAPesUntilItIsDueUnlessItIsFarAhead)
{
    DeliveryRig rig;
    ASSERT_EQ(rig.Graph().Pause(), S_OK);
    auto now = rig.steadyNow.load();
    auto noTime = MakePes(100, 0, 0);
    auto farAhead = MakePes(100, now + 6 * kSecondNs, 0);
    auto ahead = MakePes(100, now + 3 * kSecondNs, 0);
    ASSERT_EQ(rig.Pin().DeliverThread().Queue(noTime), S_OK);
    EXPECT_FALSE(noTime) << "the queue took the pointer";
    ASSERT_EQ(rig.Pin().DeliverThread().Queue(farAhead), S_OK);
    ASSERT_TRUE(Eventually([&] { return rig.Sink().SampleCount() == 2; }));

    ASSERT_EQ(rig.Pin().DeliverThread().Queue(ahead), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // 30 polls of the worker
    EXPECT_EQ(rig.Sink().SampleCount(), 2u);
    EXPECT_EQ(rig.Pin().DeliverThread().QueueLength(), 1u);
    rig.steadyNow += 3 * kSecondNs;
    EXPECT_TRUE(Eventually([&] { return rig.Sink().SampleCount() == 3; }));
}

// 20,000 bytes in buffers of 8192: three samples with the PES's times; only the first marked.
TEST_F(DeliveryTest, SplitsALargePesIntoBufferSizedSamples)
{
    DeliveryRig rig;
    ASSERT_EQ(rig.Graph().Pause(), S_OK);
    auto pes = MakePes(20'000, 0, 1234, AvTimeStamp::kFlagDiscontinuity);
    ASSERT_EQ(rig.Pin().DeliverThread().Queue(pes), S_OK);
    auto plain = MakePes(10, 0, 0, AvTimeStamp::kFlagDiscontinuity);
    ASSERT_EQ(rig.Pin().DeliverThread().Queue(plain), S_OK);
    ASSERT_TRUE(Eventually([&] { return rig.Sink().SampleCount() == 4; }));

    std::lock_guard lock(rig.Sink().mutex);
    const auto& samples = rig.Sink().samples;
    EXPECT_EQ(samples[0].length, 8192);
    EXPECT_EQ(samples[1].length, 8192);
    EXPECT_EQ(samples[2].length, 3616);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(samples[i].timeResult, S_OK);
        EXPECT_EQ(samples[i].start, 1234);
        EXPECT_EQ(samples[i].stop, 1235);
        EXPECT_EQ(samples[i].syncPoint, i == 0);
        EXPECT_EQ(samples[i].discontinuity, i == 0);
        EXPECT_FALSE(samples[i].preroll);
        EXPECT_EQ(samples[i].mediaTimeResult, VFW_E_MEDIA_TIME_NOT_SET);
    }
    EXPECT_EQ(std::vector<BYTE>(rig.Sink().bytes.begin(), rig.Sink().bytes.begin() + 20'000),
              SktsTest::Pattern(20'000));
    // A PES without a start time carries neither mark, whatever its flags.
    EXPECT_EQ(samples[3].length, 10);
    EXPECT_EQ(samples[3].start, 0);
    EXPECT_EQ(samples[3].stop, 1);
    EXPECT_FALSE(samples[3].syncPoint);
    EXPECT_FALSE(samples[3].discontinuity);
}

// A downstream that does not take its samples never stalls the input side: the queue grows,
// a run of more than 20 late items at the front of more than 120 is dropped, and the next item
// says so.
TEST_F(DeliveryTest, TrimsALateBacklogAndMarksWhatFollows)
{
    DeliveryRig rig;
    rig.HoldTheSinkAt10Seconds();

    std::vector<std::weak_ptr<AvTimeStamp>> records;
    for (int i = 0; i < 121; ++i) {
        auto late = MakePes(10, 0, 1 + i);
        records.push_back(late->timeStamp);
        ASSERT_EQ(rig.Pin().DeliverThread().Queue(late), S_OK);
    }
    EXPECT_EQ(rig.Pin().DeliverThread().QueueLength(), 121u) << "a queue of 121 is no backlog yet";
    auto lateToo = MakePes(10, 0, 500);
    auto onTime = MakePes(10, 0, 20 * 10'000'000LL, 0, 7); // starts after the stream time
    const std::shared_ptr<AvTimeStamp> lateRecord = lateToo->timeStamp;
    ASSERT_EQ(rig.Pin().DeliverThread().Queue(lateToo), S_OK);
    EXPECT_EQ(rig.Pin().DeliverThread().QueueLength(), 1u) << "all 121 late items went";
    EXPECT_NE(lateRecord->flags & AvTimeStamp::kFlagDiscontinuity, 0u);
    for (const auto& record : records)
        EXPECT_TRUE(record.expired());
    ASSERT_EQ(rig.Pin().DeliverThread().Queue(onTime), S_OK);
    EXPECT_EQ(rig.Sink().SampleCount(), 1u) << "the sink is still held";

    rig.gate.Open();
    ASSERT_TRUE(Eventually([&] { return rig.Sink().SampleCount() == 3; }));
    std::lock_guard lock(rig.Sink().mutex);
    EXPECT_FALSE(rig.Sink().samples[0].discontinuity);
    EXPECT_EQ(rig.Sink().samples[1].start, 500);
    EXPECT_TRUE(rig.Sink().samples[1].discontinuity);
    EXPECT_FALSE(rig.Sink().samples[2].discontinuity);
}

TEST_F(DeliveryTest, TrimmingDropsOnlyTheLateRunAtTheFront)
{
    DeliveryRig rig;
    rig.HoldTheSinkAt10Seconds();
    std::vector<std::shared_ptr<AvTimeStamp>> records;
    for (int i = 0; i < 121; ++i) {
        // 30 late items, then items that start after the stream time.
        auto pes = MakePes(10, 0, i < 30 ? 1 : 20 * 10'000'000LL + i);
        records.push_back(pes->timeStamp);
        ASSERT_EQ(rig.Pin().DeliverThread().Queue(pes), S_OK);
    }
    auto next = MakePes(10, 0, 30 * 10'000'000LL);
    ASSERT_EQ(rig.Pin().DeliverThread().Queue(next), S_OK);
    EXPECT_EQ(rig.Pin().DeliverThread().QueueLength(), 92u);
    EXPECT_EQ(records[29]->state, AvTimeStamp::kDroppedLate);
    EXPECT_EQ(records[30]->state, 0);
    EXPECT_NE(records[30]->flags & AvTimeStamp::kFlagDiscontinuity, 0u);
    EXPECT_EQ(records[120]->queueLength, 120u);
}

// Stop returns while the worker waits for a PES due in 3 s (the test's clock never gets there)
// and drops what was queued.
TEST_F(DeliveryTest, StopDoesNotWaitForDueTimesAndDropsTheQueue)
{
    DeliveryRig rig;
    ASSERT_EQ(rig.Graph().Pause(), S_OK);
    std::vector<std::weak_ptr<PesData>> queued;
    for (int i = 0; i < 5; ++i) {
        auto pes = MakePes(100, rig.steadyNow + 3 * kSecondNs, 0);
        queued.push_back(pes);
        ASSERT_EQ(rig.Pin().DeliverThread().Queue(pes), S_OK);
    }
    ASSERT_EQ(rig.Graph().Stop(), S_OK);
    EXPECT_FALSE(rig.Pin().DeliverThread().IsRunning());
    EXPECT_EQ(rig.Pin().DeliverThread().QueueLength(), 0u);
    for (const auto& pes : queued)
        EXPECT_TRUE(pes.expired());
    EXPECT_EQ(rig.Sink().SampleCount(), 0u);

    // An inactive pin refuses PES and leaves them with the caller.
    auto refused = MakePes(100, 0, 0);
    EXPECT_EQ(rig.Pin().DeliverThread().Queue(refused), S_FALSE);
    EXPECT_TRUE(refused);
}

// The filter's delivery routine: a PES of an unmapped PID is dropped with state 20; a PID on two
// pins is delivered by both, its kind set by the first pin.
TEST_F(DeliveryTest, DeliversThroughThePidMap)
{
    DeliveryRig rig(2);
    ASSERT_EQ(rig.Graph().Pause(), S_OK);
    DsDemux::PidEntry entry;
    entry.pes = MakePes(3000, 0, 0);
    const std::shared_ptr<AvTimeStamp> unmapped = [&] {
        auto pes = entry.pes;
        SkDsDemux::DeliverPes(0x100, entry, 0xFFFFFFFF, &rig.Filter());
        return pes->timeStamp;
    }();
    EXPECT_EQ(unmapped->state, AvTimeStamp::kNoOutputPin);
    EXPECT_FALSE(entry.pes);

    ULONG pid = 0x100;
    ASSERT_EQ(rig.Pin(1).MapPID(1, &pid, MEDIA_ELEMENTARY_STREAM), S_OK); // audio pin first
    ASSERT_EQ(rig.Pin(0).MapPID(1, &pid, MEDIA_ELEMENTARY_STREAM), S_OK);
    entry.pes = MakePes(3000, 0, 0);
    const std::weak_ptr<PesData> shared = entry.pes;
    SkDsDemux::DeliverPes(0x100, entry, 0xFFFFFFFF, &rig.Filter());
    ASSERT_TRUE(Eventually([&] { return rig.Sink(0).SampleCount() == 1 && rig.Sink(1).SampleCount() == 1; }));
    EXPECT_TRUE(Eventually([&] { return shared.expired(); }));
    std::scoped_lock lock(rig.Sink(0).mutex, rig.Sink(1).mutex);
    EXPECT_EQ(rig.Sink(0).bytes, rig.Sink(1).bytes);
    EXPECT_EQ(rig.Sink(0).bytes, SktsTest::Pattern(3000));
}

// An entry that completes without a PES is reported for each pin of its PID, with the line of
// the one-pin or the several-pins road.
TEST_F(DeliveryTest, AMissingPesIsLoggedPerPin)
{
    LogCapture log;
    DeliveryRig rig(2);
    ULONG pid = 0x100;
    ASSERT_EQ(rig.Pin(0).MapPID(1, &pid, MEDIA_ELEMENTARY_STREAM), S_OK);
    DsDemux::PidEntry entry;
    SkDsDemux::DeliverPes(0x100, entry, 0xFFFFFFFF, &rig.Filter());
    ASSERT_EQ(rig.Pin(1).MapPID(1, &pid, MEDIA_ELEMENTARY_STREAM), S_OK);
    SkDsDemux::DeliverPes(0x100, entry, 0xFFFFFFFF, &rig.Filter());
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{
                                  "SkDsDemux(527): Failed to deliver PES to pin (hr=0x80004003)\n",
                                  "SkDsDemux(535): Failed to deliver PES to pin (hr=0x80004003)\n",
                                  "SkDsDemux(535): Failed to deliver PES to pin (hr=0x80004003)\n",
                              }));
}

// A failing downstream Receive is logged and the remaining pieces still go out.
TEST_F(DeliveryTest, DownstreamFailuresAreLoggedAndDeliveryGoesOn)
{
    LogCapture log;
    DeliveryRig rig;
    rig.Sink().onReceive = [] { return E_FAIL; };
    ASSERT_EQ(rig.Graph().Pause(), S_OK);
    auto pes = MakePes(20'000, 0, 0);
    ASSERT_EQ(rig.Pin().DeliverThread().Queue(pes), S_OK);
    ASSERT_TRUE(Eventually([&] { return rig.Sink().SampleCount() == 3; }));
    ASSERT_TRUE(Eventually([&] { return log.Lines().size() == 3; }));
    for (const std::string& line : log.Messages())
        EXPECT_EQ(line, "EsPin(277): Failed to deliver output sample (hr=0x80004005)\n");
}

namespace {

// The host's provider as a test sees it: every record it made and every notification.
class RecordingProvider final : public AvTimeStampProvider {
public:
    struct Made {
        std::shared_ptr<AvTimeStamp> parent;
        uint32_t sequence;
        int32_t sampleNumber;
        uint32_t kind;
    };
    void CreateRecord(std::shared_ptr<AvTimeStamp>& record, const std::shared_ptr<AvTimeStamp>& parent,
                      uint32_t sequence, int32_t sampleNumber, uint32_t kind) override
    {
        std::lock_guard lock(mutex_);
        record = std::make_shared<AvTimeStamp>(kind);
        record->sequence = parent ? sequence + 1 : nextSequence_++ * 100;
        made_.push_back({parent, sequence, sampleNumber, kind});
    }
    void OnMediaSample(int32_t videoOrOther, const std::shared_ptr<AvTimeStamp>& record) override
    {
        std::lock_guard lock(mutex_);
        notified_.emplace_back(videoOrOther, record);
    }
    std::vector<Made> MadeRecords()
    {
        std::lock_guard lock(mutex_);
        return made_;
    }
    std::vector<std::pair<int32_t, std::shared_ptr<AvTimeStamp>>> Notified()
    {
        std::lock_guard lock(mutex_);
        return notified_;
    }

private:
    std::mutex mutex_;
    uint32_t nextSequence_ = 1;
    std::vector<Made> made_;
    std::vector<std::pair<int32_t, std::shared_ptr<AvTimeStamp>>> notified_;
};

} // namespace

// With a provider attached the records come from it, every media sample is announced with its
// own record, and samples carry media times instead of sync-point marks; detached, the plain
// path returns.
TEST_F(DeliveryTest, TimeStampProviderMakesRecordsAndHearsOfEverySample)
{
    DeliveryRig rig(2);
    RecordingProvider provider;
    ComPtr<ISkDsAvTimeStamp> stamps;
    ASSERT_EQ(rig.Filter().QueryInterface(IID_ISkDsAvTimeStamp, stamps.PutVoid()), S_OK);
    ASSERT_EQ(stamps->SetTimeStampProvider(&provider), S_OK);
    ASSERT_EQ(rig.Graph().Pause(), S_OK);
    ULONG video = 0x100;
    ULONG audio = 0x101;
    ASSERT_EQ(rig.Pin(0).MapPID(1, &video, MEDIA_ELEMENTARY_STREAM), S_OK);
    ASSERT_EQ(rig.Pin(1).MapPID(1, &audio, MEDIA_ELEMENTARY_STREAM), S_OK);

    // One input sample completing a 20,000-byte video PES and a small audio PES.
    const auto input = rig.Filter().Time().StampInputSample();
    ASSERT_EQ(provider.MadeRecords().size(), 1u);
    DsDemux::PidEntry entry;
    entry.pes = MakePes(20'000, 0, 0);
    entry.pes->timeStamp.reset();
    SkDsDemux::DeliverPes(0x100, entry, 0xFFFFFFFF, &rig.Filter());
    entry.pes = MakePes(100, 0, 0);
    entry.pes->timeStamp.reset();
    SkDsDemux::DeliverPes(0x101, entry, 0xFFFFFFFF, &rig.Filter());
    ASSERT_TRUE(Eventually([&] { return provider.Notified().size() == 4; }));

    // The input sample's record, the audio PES's (the second PES of the sample, derived from the
    // sample with its number) and the video PES's second and third pieces (derived from the
    // PES, which shares the sample's record, numbered one further).
    const auto made = provider.MadeRecords();
    ASSERT_EQ(made.size(), 4u);
    EXPECT_EQ(made[0].parent, nullptr);
    EXPECT_EQ(made[0].kind, AvTimeStamp::kInputSample);
    int secondPes = 0;
    int pieces = 0;
    for (size_t i = 1; i < made.size(); ++i) {
        EXPECT_EQ(made[i].parent, input);
        if (made[i].sampleNumber == 1) {
            ++secondPes;
            EXPECT_EQ(made[i].sequence, 100u);
        } else {
            ++pieces;
            EXPECT_EQ(made[i].sampleNumber, 2);
            EXPECT_EQ(made[i].kind, AvTimeStamp::kVideo);
        }
    }
    EXPECT_EQ(secondPes, 1);
    EXPECT_EQ(pieces, 2);

    int videoNotes = 0;
    for (const auto& [videoOrOther, record] : provider.Notified()) {
        EXPECT_EQ(videoOrOther, record->kind == AvTimeStamp::kVideo ? 0 : 1);
        videoNotes += videoOrOther == 0;
    }
    EXPECT_EQ(videoNotes, 3);
    {
        std::lock_guard lock(rig.Sink(0).mutex);
        ASSERT_EQ(rig.Sink(0).samples.size(), 3u);
        EXPECT_EQ(rig.Sink(0).samples[0].mediaStart, 100) << "the first piece carries the PES's own record";
        EXPECT_EQ(rig.Sink(0).samples[0].mediaStop, 101);
        EXPECT_EQ(rig.Sink(0).samples[1].mediaStart, 101);
        EXPECT_EQ(rig.Sink(0).samples[2].mediaStart, 102);
        for (const auto& sample : rig.Sink(0).samples) {
            EXPECT_FALSE(sample.syncPoint);
            EXPECT_FALSE(sample.discontinuity);
        }
    }

    ASSERT_EQ(stamps->SetTimeStampProvider(nullptr), S_OK);
    rig.Filter().Time().StampInputSample();
    entry.pes = MakePes(100, 0, 0);
    SkDsDemux::DeliverPes(0x101, entry, 0xFFFFFFFF, &rig.Filter());
    ASSERT_TRUE(Eventually([&] { return rig.Sink(1).SampleCount() == 2; }));
    EXPECT_EQ(provider.MadeRecords().size(), 4u);
    std::lock_guard lock(rig.Sink(1).mutex);
    EXPECT_EQ(rig.Sink(1).samples[1].mediaTimeResult, VFW_E_MEDIA_TIME_NOT_SET);
}
