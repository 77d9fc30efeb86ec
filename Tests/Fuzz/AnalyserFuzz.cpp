// libFuzzer target for the whole analyser: packet input, sections and tables, program
// following, elementary-stream parsing and every conformance check. Three header bytes pick
// the SI standard, the bit rate, a second pass after a reset, and how the stream is cut into
// writes: sizes drawn from a generator the input seeds, from 1-8 bytes (packets split
// everywhere) up to 64 KiB. The rest is the stream. Built by the fuzzer tree
// (SKTS_SANITIZE=fuzzer), not by the normal build.
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

// Write sizes: a xorshift generator seeded by the input, within the range its mode gives.
class WriteSizes {
public:
    WriteSizes(uint8_t mode, uint16_t seed) : mode_(mode & 0x03), fixed_(kFixed[seed % 8]), state_(seed | 0x10000u) {}

    uint32_t Next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        switch (mode_) {
        case 0:
            return fixed_;
        case 1:
            return 1 + state_ % 8;
        case 2:
            return 1 + state_ % 400;
        default:
            return 1 + state_ % 65536;
        }
    }

private:
    static constexpr uint32_t kFixed[] = {1, 7, 188, 204, 1000, 4096, 65536, 65536};
    uint8_t mode_;
    uint32_t fixed_;
    uint32_t state_;
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const int32_t standard = data[0] & 0x03;
    // Slow bit rates stretch the input over more analyser time, so the timing checks fire.
    const int32_t bitrate = (data[0] & 0x20) ? 100'000 : 3'000'000;
    WriteSizes sizes(static_cast<uint8_t>(data[0] >> 2), static_cast<uint16_t>(data[1] << 8 | data[2]));

    const std::unique_ptr<SklibTs::SkTsInfo> analyser(SklibTs::CreateTsInfo());
    const std::unique_ptr<SklibTs::SkTsPacketInput> input(SklibTs::CreateTsPacketInput(analyser.get(), bitrate));
    analyser->SetSiStandard(standard);
    analyser->SetPcrAnalysisWindow(5'400'000, 3); // 100 ms periods: analyses within short inputs
    analyser->AddIndicatorReportCallback(0xFFFFFFFF, &OnIndicator, nullptr);
    analyser->AddIndicatorStateCallback(0xFFFFFFFF, &OnIndicator, nullptr);
    analyser->AddAllPcrStatisticsCallback(&OnPcr, nullptr);

    const uint8_t* stream = data + 3;
    size_t left = size - 3;
    while (left > 0) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(sizes.Next(), left));
        input->Write(stream, n);
        stream += n;
        left -= n;
    }
    // A second pass after a reset exercises the state rebuilt by it.
    if (data[0] & 0x40) {
        analyser->Reset();
        input->Write(data + 3, static_cast<uint32_t>(size - 3));
    }
    return 0;
}
