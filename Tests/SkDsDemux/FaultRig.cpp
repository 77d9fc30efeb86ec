#include "FaultRig.h"

#include <algorithm>

#include "Demuxer.h"
#include "TestData.h"

namespace FaultTest {

namespace {

struct Collected {
    std::vector<Bytes> payloads;
};

void CollectPayload(uint32_t, DsDemux::PidEntry& entry, uint32_t, void* context)
{
    const std::shared_ptr<DsDemux::PesData> pes = std::move(entry.pes);
    uint32_t size = 0;
    const uint8_t* payload = pes->pes.GetPayload(size);
    // The filter drops PES without payload, so the reference leaves them out too.
    if (payload != nullptr && size > 0)
        static_cast<Collected*>(context)->payloads.emplace_back(payload, payload + size);
}

} // namespace

std::vector<Bytes> ReferencePayloads(const Bytes& stream, uint32_t pid)
{
    Collected collected;
    DsDemux::Demuxer engine;
    EXPECT_EQ(engine.Init(), S_OK);
    engine.AddPid(pid, &CollectPayload, &collected);
    for (size_t at = 0; at < stream.size(); at += 65536)
        engine.ProcessSample(stream.data() + at, static_cast<int32_t>(std::min<size_t>(65536, stream.size() - at)));
    return collected.payloads;
}

bool IsPesSubsequence(const Bytes& delivered, const std::vector<Bytes>& reference, size_t& skipped)
{
    skipped = 0;
    size_t at = 0;
    for (const Bytes& pes : reference) {
        if (delivered.size() - at >= pes.size() && std::equal(pes.begin(), pes.end(), delivered.begin() + static_cast<std::ptrdiff_t>(at)))
            at += pes.size();
        else
            ++skipped;
    }
    return at == delivered.size();
}

AbandonedPieces ExpectedWithAllocatorFaults(const std::vector<Bytes>& payloads, size_t bufferSize, int failBufferEvery,
                                            int failPointerEvery)
{
    AbandonedPieces expected;
    int call = 0;
    for (const Bytes& pes : payloads) {
        for (size_t at = 0; at < pes.size(); at += bufferSize) {
            ++call;
            if (failBufferEvery > 0 && call % failBufferEvery == 0) {
                ++expected.bufferFailures;
                break;
            }
            if (failPointerEvery > 0 && call % failPointerEvery == 0) {
                ++expected.pointerFailures;
                break;
            }
            const size_t piece = std::min(bufferSize, pes.size() - at);
            expected.delivered.insert(expected.delivered.end(), pes.begin() + static_cast<std::ptrdiff_t>(at),
                                      pes.begin() + static_cast<std::ptrdiff_t>(at + piece));
        }
    }
    return expected;
}

void Gate::Close()
{
    std::lock_guard lock(mutex_);
    open_ = false;
}

void Gate::Open()
{
    {
        std::lock_guard lock(mutex_);
        open_ = true;
    }
    changed_.notify_all();
}

void Gate::Pass()
{
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
    --waiting_;
}

bool Gate::WaitForArrival()
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [this] { return waiting_ > 0; });
}

bool Gate::HasWaiter()
{
    std::lock_guard lock(mutex_);
    return waiting_ > 0;
}

Bytes SampleStream(const char* name)
{
    const auto path = SktsTest::FindSample(name);
    EXPECT_TRUE(path.has_value()) << name;
    return path ? SktsTest::ReadFile(*path) : Bytes{};
}

FaultRig::FaultRig(DsDemux::SteadyClock steadyClock) : graph_(DsHost::FilterGraph::Create())
{
    held_ = FilterTest::MakeFilter(&filter_, std::move(steadyClock));
    EXPECT_EQ(graph_->AddFilter(held_.Get(), L"Demux"), S_OK);
    EXPECT_EQ(held_->FindPin(L"Ts", inputPin_.Put()), S_OK);
    EXPECT_EQ(inputPin_->QueryInterface(IID_IMemInputPin, input_.PutVoid()), S_OK);
}

FaultRig::~FaultRig()
{
    graph_->Stop();
    input_.Reset();
    inputPin_.Reset();
    graph_.Reset();
    downstream_.clear();
    held_.Reset();
}

Downstream& FaultRig::AddPin(const std::wstring& name, const GUID& major, const std::vector<ULONG>& pids,
                             bool faultyAllocator, int failBufferEvery, int failPointerEvery)
{
    CMediaType type = FilterTest::TypeOf(major);
    ComPtr<IPin> pin;
    EXPECT_EQ(filter_->CreateOutputPin(&type, const_cast<LPWSTR>(name.c_str()), pin.Put()), S_OK);
    ComPtr<IMPEG2PIDMap> map;
    EXPECT_EQ(pin->QueryInterface(IID_IMPEG2PIDMap, map.PutVoid()), S_OK);
    std::vector<ULONG> list = pids;
    EXPECT_EQ(map->MapPID(static_cast<ULONG>(list.size()), list.data(), MEDIA_ELEMENTARY_STREAM), S_OK);

    auto entry = std::make_unique<Downstream>();
    Downstream& d = *entry;
    d.faults.failBufferEvery = failBufferEvery;
    d.faults.failPointerEvery = failPointerEvery;
    DsHost::SinkCallbacks callbacks = d.record.Callbacks();
    callbacks.onBeginFlush = [&d] { ++d.beginFlushes; };
    callbacks.onEndFlush = [&d] { ++d.endFlushes; };
    if (faultyAllocator) {
        auto* sink = new FaultySink(d.faults, std::move(callbacks));
        d.filter = ComPtr<IBaseFilter>(sink);
        d.input = sink->InputPin();
    } else {
        auto* sink = new DsHost::SampleSink(std::move(callbacks));
        d.filter = ComPtr<IBaseFilter>(sink);
        d.input = sink->InputPin();
    }
    EXPECT_EQ(graph_->AddFilter(d.filter.Get(), (L"Sink " + name).c_str()), S_OK);
    EXPECT_EQ(graph_->Connect(pin.Get(), d.input), S_OK);
    downstream_.push_back(std::move(entry));
    return d;
}

HRESULT FaultRig::ReceiveOne(const uint8_t* data, LONG length, HRESULT pointerResult)
{
    FilterTest::BytesSample sample(data, length, pointerResult);
    return input_->Receive(&sample);
}

void FaultRig::Feed(const Bytes& bytes, size_t begin, size_t end, size_t chunk)
{
    for (size_t at = begin; at < end; at += chunk)
        ASSERT_EQ(ReceiveOne(bytes.data() + at, static_cast<LONG>(std::min(chunk, end - at))), S_OK);
}

bool FaultRig::Drain()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int pin = 1; pin < filter_->GetPinCount(); ++pin) {
        auto* es = static_cast<EsPin*>(filter_->GetPin(pin));
        while (!es->DeliverThread().IsIdle()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return true;
}

void FaultRig::UseFilterClock()
{
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(held_->QueryInterface(IID_IReferenceClock, clock.PutVoid()), S_OK);
    ASSERT_EQ(graph_->SetSyncSource(clock.Get()), S_OK);
}

} // namespace FaultTest
