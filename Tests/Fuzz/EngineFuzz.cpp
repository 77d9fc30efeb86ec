// libFuzzer target for the demultiplexer engine. The input is a script (see FuzzInput.h) that
// cuts the stream into samples of its choosing, maps and unmaps PIDs between samples, resets
// the engine as a stop does, moves the PCRs forward or back (across the 2^33 wrap too), marks
// discontinuities and advances the steady clock that drives the wall-clock bit rate. Completed
// PES packets are read the way the delivery threads read them and held a while, as queues do.
// Built by the fuzzer tree (SKTS_SANITIZE=fuzzer), not by the normal build.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "Demuxer.h"
#include "FuzzInput.h"
#include "SkTsInfo.h"

namespace {

struct Outputs {
    std::deque<std::shared_ptr<DsDemux::PesData>> held;
    uint64_t checksum = 0;
};

void OnPesComplete(uint32_t, DsDemux::PidEntry& entry, uint32_t, void* context)
{
    auto& outputs = *static_cast<Outputs*>(context);
    std::shared_ptr<DsDemux::PesData> pes = std::move(entry.pes);
    if (!pes)
        return;
    uint32_t size = 0;
    if (const uint8_t* payload = pes->pes.GetPayload(size); payload != nullptr) {
        for (uint32_t i = 0; i < size; i += 61)
            outputs.checksum += payload[i];
        if (size > 0)
            outputs.checksum += payload[size - 1];
    }
    uint32_t headerSize = 0;
    (void)pes->pes.GetHeader(headerSize);
    outputs.checksum += static_cast<uint64_t>(pes->pts ^ pes->dts ^ pes->pcrTime ^ pes->sampleOffset);
    outputs.held.push_back(std::move(pes));
    if (outputs.held.size() > 32)
        outputs.held.pop_front();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Fuzz::Script script = Fuzz::ReadScript(data, size);
    int64_t steadyNs = 1'000'000'000;
    Outputs outputs;
    DsDemux::Demuxer engine([&steadyNs] { return steadyNs; });
    if (engine.Init() != S_OK)
        __builtin_trap();

    Fuzz::StreamFeed feed(script.stream);
    int64_t pcrOffset = 0;
    bool markDiscontinuities = false;
    const auto feedSample = [&](size_t wanted) {
        size_t taken = 0;
        uint8_t* bytes = feed.Next(wanted, taken);
        if (taken == 0)
            return;
        Fuzz::ShiftPcrs(feed.Bytes(), static_cast<size_t>(bytes - feed.Bytes().data()),
                        static_cast<size_t>(bytes - feed.Bytes().data()) + taken, pcrOffset, markDiscontinuities);
        const HRESULT hr = engine.ProcessSample(bytes, static_cast<int32_t>(taken));
        if (hr != S_OK)
            __builtin_trap();
        steadyNs += 1'000'000; // a millisecond per sample unless the script says otherwise
    };

    for (const Fuzz::Command& command : script.commands) {
        switch (command.op % 8) {
        case 0: // one sample of 1 to 65536 bytes, or of 1 to 8
            feedSample((command.c & 0x80) ? command.b % 8 + 1u : command.Ab() + 1u);
            break;
        case 1:
            engine.AddPid(command.Pid(), &OnPesComplete, &outputs);
            break;
        case 2:
            engine.RemovePid(static_cast<int>(command.Pid()));
            break;
        case 3:
            engine.Reset();
            break;
        case 4: // the PCRs from here on jump
            pcrOffset += Fuzz::PcrStep(command.c, command.Ab());
            break;
        case 5:
            markDiscontinuities = (command.a & 1) != 0;
            break;
        case 6: // the steady clock moves on, up to about 16 s at once
            steadyNs += static_cast<int64_t>(command.a << 16 | command.b << 8 | command.c) * 1000;
            break;
        default:
            if (command.a % 3 == 0) {
                engine.Analyser()->SetSiStandard(command.b & 3);
            } else if (command.a % 3 == 1) {
                engine.UpdatePcrPids();
            } else if (engine.ProcessSample(nullptr, 188) != E_POINTER) {
                __builtin_trap();
            }
            break;
        }
    }
    while (!feed.AtEnd())
        feedSample(65536);
    volatile uint64_t sink = outputs.checksum;
    (void)sink;
    return 0;
}
