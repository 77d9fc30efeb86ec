#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ConformanceTypes.h"
#include "SkTsTypes.h"

namespace SklibTs {

// The 27 indicator records with their hold times and the clients told of their changes.
// An indicator is raised only through Report and falls back once its hold time has passed
// without a further report.
class Indicators {
public:
    static constexpr int64_t kHoldTime = 5 * kTicksPerSecond; // for every indicator but the first

    Indicators();

    void AddStateCallback(uint32_t mask, IndicatorStateCallbackFn function, void* context);
    void AddReportCallback(uint32_t mask, IndicatorReportCallbackFn function, void* context);

    void Report(ConformanceIndicator indicator, std::wstring message, double value,
                const IndicatorLocation& location, int64_t now, uint32_t count = 1);
    // Clears an active indicator at once (sync regained) and tells the state clients.
    void Deactivate(ConformanceIndicator indicator);
    // Falls back every indicator whose hold time ran out before now.
    void Expire(int64_t now);
    // A new SI standard starts the counting afresh.
    void ClearLatchedAndCounts();

    const IndicatorRecord& Record(ConformanceIndicator indicator) const { return records_[Index(indicator)]; }
    const std::array<IndicatorRecord, kIndicatorCount>& Records() const { return records_; }

private:
    struct Client {
        uint32_t mask;
        IndicatorStateCallbackFn function;
        void* context;
    };
    static uint32_t Index(ConformanceIndicator indicator) { return static_cast<uint32_t>(indicator); }
    void NotifyState(uint32_t index) const;

    std::array<IndicatorRecord, kIndicatorCount> records_{};
    std::array<int64_t, kIndicatorCount> holdUntil_{};
    std::vector<Client> stateClients_;
    std::vector<Client> reportClients_;
};

// printf-style formatting of an ASCII message into the wide text of a record.
std::wstring FormatIndicatorMessage(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

} // namespace SklibTs
