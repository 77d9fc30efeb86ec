// libFuzzer target for the whole analyser: packet input, sections and tables, program
// following, elementary-stream parsing and every conformance check. The first input byte
// picks the SI standard and the write size; the rest is the stream. Built by
// run-analyser-fuzz.sh, not by the normal build.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "SkTsInfo.h"
#include "SkTsPacketInput.h"

namespace {

void OnIndicator(void*, uint32_t, const SklibTs::IndicatorRecord& record)
{
    // Touch the record the way a client would.
    volatile size_t sink = record.message.size();
    (void)sink;
}

void OnPcr(void*, uint32_t, const SklibTs::PcrStatistics&, const SklibTs::PcrSampleDeviation* samples, uint32_t count)
{
    volatile double sink = 0.0;
    for (uint32_t i = 0; i < count; ++i)
        sink = sink + samples[i].jitterNs;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int32_t standard = data[0] & 0x03;
    static constexpr uint32_t kChunks[] = {1, 7, 188, 204, 1000, 4096, 65536, 65536};
    const uint32_t chunk = kChunks[(data[0] >> 2) & 0x07];
    // Slow bit rates stretch the input over more analyser time, so the timing checks fire.
    const int32_t bitrate = (data[0] & 0x20) ? 100'000 : 3'000'000;

    const std::unique_ptr<SklibTs::SkTsInfo> analyser(SklibTs::CreateTsInfo());
    const std::unique_ptr<SklibTs::SkTsPacketInput> input(SklibTs::CreateTsPacketInput(analyser.get(), bitrate));
    analyser->SetSiStandard(standard);
    analyser->SetPcrAnalysisWindow(5'400'000, 3); // 100 ms periods: analyses within short inputs
    analyser->AddIndicatorReportCallback(0xFFFFFFFF, &OnIndicator, nullptr);
    analyser->AddIndicatorStateCallback(0xFFFFFFFF, &OnIndicator, nullptr);
    analyser->AddAllPcrStatisticsCallback(&OnPcr, nullptr);

    const uint8_t* stream = data + 1;
    size_t left = size - 1;
    while (left > 0) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(chunk, left));
        input->Write(stream, n);
        stream += n;
        left -= n;
    }
    // A second pass after a reset exercises the state rebuilt by it.
    if (data[0] & 0x40) {
        analyser->Reset();
        input->Write(data + 1, static_cast<uint32_t>(size - 1));
    }
    return 0;
}
