// libFuzzer target for the filter in the host graph. The input is a script (see FuzzInput.h)
// that hands the input pin samples of its chosen sizes (also empty ones and ones whose data
// pointer cannot be had), creates, connects and deletes output pins, maps and unmaps PIDs,
// flushes, moves the graph between Stop, Pause and Run, switches the graph clock, moves the
// steady clock and the stream's PCRs. The pins' downstream filters fail GetBuffer, GetPointer
// or Receive as the script says. After each input every COM object must be gone. Nothing
// sleeps or waits without bound: Stop ends the delivery threads, whatever they hold.
// Built by the fuzzer tree (SKTS_SANITIZE=fuzzer), not by the normal build.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "BytesSample.h"
#include "ComPtr.h"
#include "FaultyDownstream.h"
#include "FuzzInput.h"
#include "Host/FilterGraph.h"
#include "SkDsDemux.h"
#include "SkDsLogger.h"

namespace {

constexpr LPCWSTR kPinNames[] = {L"Video", L"Audio", L"Data", L"Other"};
constexpr size_t kMaxSinks = 8;

void DropLine(void*, const char*) {}
const SkDsLogger::LineSink kQuietLog{&DropLine, nullptr};

// One downstream filter with its faults; the callbacks count what arrives.
struct Downstream {
    FaultTest::AllocatorFaults faults;
    std::atomic<int> received{0};
    int failReceiveEvery = 0;
    ComPtr<FaultTest::FaultySink> sink;
};

class Harness {
public:
    Harness() : graph_(DsHost::FilterGraph::Create())
    {
        HRESULT hr = S_OK;
        filter_ = new SkDsDemux(nullptr, &hr, [this] { return steadyNs_.load(); });
        if (filter_->Init() != S_OK)
            __builtin_trap();
        filter_->NonDelegatingQueryInterface(IID_IBaseFilter, held_.PutVoid());
        graph_->AddFilter(held_.Get(), L"Demux");
        held_->FindPin(L"Ts", inputPin_.Put());
        inputPin_->QueryInterface(IID_IMemInputPin, input_.PutVoid());
    }
    ~Harness()
    {
        graph_->Stop();
        input_.Reset();
        inputPin_.Reset();
        graph_.Reset();
        downstream_.clear();
        held_.Reset();
    }
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    void Receive(uint8_t* bytes, size_t size, uint8_t mode)
    {
        const HRESULT pointerResult = mode == 1 ? E_FAIL : S_OK;
        FilterTest::BytesSample sample(bytes, mode == 2 ? 0 : static_cast<LONG>(size), pointerResult);
        if (FAILED(input_->Receive(&sample)))
            __builtin_trap(); // the engine takes every sample
        steadyNs_ += 1'000'000;
    }

    void CreatePin(const Fuzz::Command& command)
    {
        static const GUID* const kMajors[] = {&MEDIATYPE_Video, &MEDIATYPE_Audio, &MEDIATYPE_Stream};
        CMediaType type(kMajors[command.b % 3]);
        ComPtr<IPin> pin;
        if (filter_->CreateOutputPin(&type, const_cast<LPWSTR>(kPinNames[command.a % 4]), pin.Put()) != S_OK)
            return;
        if ((command.c & 1) == 0 || downstream_.size() >= kMaxSinks)
            return;
        auto entry = std::make_unique<Downstream>();
        entry->faults.failBufferEvery = (command.c >> 1) & 3;
        entry->faults.failPointerEvery = (command.c >> 3) & 3;
        entry->failReceiveEvery = (command.c >> 5) & 3;
        Downstream& d = *entry;
        DsHost::SinkCallbacks callbacks;
        callbacks.onSample = [&d](const DsHost::ReceivedSample&) {
            const int n = ++d.received;
            return d.failReceiveEvery > 0 && n % d.failReceiveEvery == 0 ? E_FAIL : S_OK;
        };
        entry->sink = ComPtr<FaultTest::FaultySink>(new FaultTest::FaultySink(entry->faults, std::move(callbacks)));
        graph_->AddFilter(entry->sink.Get(), nullptr);
        graph_->Connect(pin.Get(), entry->sink->InputPin());
        downstream_.push_back(std::move(entry));
    }

    void DeletePin(const Fuzz::Command& command)
    {
        filter_->DeleteOutputPin(const_cast<LPWSTR>(kPinNames[command.a % 4]));
    }

    void Map(const Fuzz::Command& command, bool map)
    {
        ComPtr<IPin> pin;
        if (held_->FindPin(kPinNames[command.a & 3], pin.Put()) != S_OK)
            return;
        ComPtr<IMPEG2PIDMap> pidMap;
        if (pin->QueryInterface(IID_IMPEG2PIDMap, pidMap.PutVoid()) != S_OK)
            __builtin_trap();
        ULONG pids[] = {static_cast<ULONG>((command.a >> 2) << 8 | command.b), 0x100, 0x101};
        const ULONG count = 1 + (command.c >> 6) % 3;
        if (map)
            pidMap->MapPID(count, pids, command.c < 0xF0 ? MEDIA_ELEMENTARY_STREAM : static_cast<MEDIA_SAMPLE_CONTENT>(command.c & 3));
        else
            pidMap->UnmapPID(count, pids);
    }

    void ChangeState(uint8_t which)
    {
        switch (which % 3) {
        case 0:
            graph_->Stop();
            break;
        case 1:
            graph_->Pause();
            break;
        default:
            graph_->Run();
            break;
        }
    }

    void Flush(bool begin)
    {
        if (begin)
            inputPin_->BeginFlush();
        else
            inputPin_->EndFlush();
    }

    void UseClock(uint8_t which)
    {
        if (which & 1) {
            graph_->SetSyncSource(nullptr);
            return;
        }
        ComPtr<IReferenceClock> clock;
        held_->QueryInterface(IID_IReferenceClock, clock.PutVoid());
        graph_->SetSyncSource(clock.Get());
    }

    void AdvanceSteadyClock(int64_t ns) { steadyNs_ += ns; }

private:
    std::atomic<int64_t> steadyNs_{1'000'000'000'000};
    ComPtr<DsHost::FilterGraph> graph_;
    SkDsDemux* filter_ = nullptr;
    ComPtr<IBaseFilter> held_;
    ComPtr<IPin> inputPin_;
    ComPtr<IMemInputPin> input_;
    std::vector<std::unique_ptr<Downstream>> downstream_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SkDsLogger::SetLineSink(&kQuietLog);
    Fuzz::Script script = Fuzz::ReadScript(data, size);
    {
        Harness harness;
        Fuzz::StreamFeed feed(script.stream);
        int64_t pcrOffset = 0;
        const auto receive = [&](size_t wanted, uint8_t mode) {
            size_t taken = 0;
            uint8_t* bytes = feed.Next(wanted, taken);
            if (taken == 0)
                return;
            const auto from = static_cast<size_t>(bytes - feed.Bytes().data());
            Fuzz::ShiftPcrs(feed.Bytes(), from, from + taken, pcrOffset, false);
            harness.Receive(bytes, taken, mode);
        };
        for (const Fuzz::Command& command : script.commands) {
            switch (command.op % 8) {
            case 0:
                receive((command.c & 0x80) ? command.b % 8 + 1u : command.Ab() + 1u, command.c & 3);
                break;
            case 1:
                harness.CreatePin(command);
                break;
            case 2:
                harness.DeletePin(command);
                break;
            case 3:
                harness.Map(command, true);
                break;
            case 4:
                harness.Map(command, false);
                break;
            case 5:
                harness.ChangeState(command.a);
                break;
            case 6:
                harness.Flush((command.a & 1) == 0);
                break;
            default:
                if (command.a % 3 == 0)
                    harness.UseClock(command.b);
                else if (command.a % 3 == 1)
                    harness.AdvanceSteadyClock(static_cast<int64_t>(command.b << 8 | command.c) * 1'000'000);
                else
                    pcrOffset += Fuzz::PcrStep(command.b, static_cast<uint16_t>(command.c * 257));
                break;
            }
        }
        while (!feed.AtEnd())
            receive(65536, 0);
    }
    if (CBaseObject::ObjectsActive() != 0)
        __builtin_trap(); // a COM object outlived the graph
    return 0;
}
