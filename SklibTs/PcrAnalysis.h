#pragma once
// PCR checks per PCR (repetition, un-signalled discontinuity) and the periodic analysis of
// each PID's PCR history: least-squares accuracy against the packet index, jitter against
// the arrival time, PCR bit rate and rate, and the statistics clients.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "ConformanceTypes.h"
#include "Indicators.h"
#include "PidInfoImpl.h"

namespace SklibTs {

class PcrAnalysis {
public:
    static constexpr int64_t kDefaultPeriod = kTicksPerSecond;
    static constexpr uint32_t kDefaultWindowCount = 10;

    PcrAnalysis(Indicators& indicators, PidInfoTable& pids) : indicators_(indicators), pids_(pids) {}

    void SetWindow(int64_t period, uint32_t count);
    void AddCallback(int32_t pid, PcrStatisticsCallbackFn function, void* context);
    void AddAllCallback(PcrStatisticsCallbackFn function, void* context);

    void Start(int64_t now) { boundary_ = now; }
    // One PCR of 27 MHz `pcr` at analyser time `time`.
    void OnPcr(PidInfoImpl& info, int64_t time, int64_t pcr, uint64_t packetIndex, bool discontinuity);
    // At every tick: analyses every PID once a period has passed since the boundary.
    void Run(int64_t now);

private:
    struct Client {
        int32_t pid; // -1: every PID
        PcrStatisticsCallbackFn function;
        void* context;
    };
    void ClosePeriod(PidInfoImpl& info);
    void Analyse(PidInfoImpl& info, int64_t now);
    void Notify(const PidInfoImpl& info) const;

    Indicators& indicators_;
    PidInfoTable& pids_;
    int64_t period_ = kDefaultPeriod;
    uint32_t windowCount_ = kDefaultWindowCount;
    int64_t boundary_ = 0;
    std::vector<Client> clients_;
    std::vector<PcrSampleDeviation> latest_; // the latest period's samples, reused per PID
};

} // namespace SklibTs
