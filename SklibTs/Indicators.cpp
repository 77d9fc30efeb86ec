#include "Indicators.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "SkTsTypes.h"

namespace SklibTs {

const char* IndicatorName(uint32_t index)
{
    static constexpr const char* kNames[kIndicatorCount] = {
        "TsSyncLoss", "SyncByteError", "PatError", "ContinuityCountError", "PmtError",
        "PidError", "TransportError", "CrcError", "PcrRepetitionError", "PcrDiscontinuityError",
        "PcrAccuracyError", "PtsError", "CatError", "NitActualError", "NitOtherError",
        "SiRepetitionError", "BufferError", "UnreferencedPid", "SdtActualError", "SdtOtherError",
        "EitActualError", "EitOtherError", "EitPfError", "RstTdtError", "TdtPidError",
        "EmptyBufferError", "DataDelayError",
    };
    return index < kIndicatorCount ? kNames[index] : "";
}

Indicators::Indicators() { holdUntil_.fill(kNoTime); }

void Indicators::AddStateCallback(uint32_t mask, IndicatorStateCallbackFn function, void* context)
{
    if (function != nullptr)
        stateClients_.push_back({mask, function, context});
}

void Indicators::AddReportCallback(uint32_t mask, IndicatorReportCallbackFn function, void* context)
{
    if (function != nullptr)
        reportClients_.push_back({mask, function, context});
}

void Indicators::NotifyState(uint32_t index) const
{
    for (const Client& client : stateClients_) {
        if (client.mask & (1u << index))
            client.function(client.context, index, records_[index]);
    }
}

void Indicators::Report(ConformanceIndicator indicator, std::wstring message, double value,
                        const IndicatorLocation& location, int64_t now, uint32_t count)
{
    const uint32_t index = Index(indicator);
    IndicatorRecord& record = records_[index];
    const bool wasActive = record.active;
    record.active = true;
    record.latched = true;
    record.count += count;
    record.time = now;
    record.message = std::move(message);
    record.value = value;
    record.location = location;
    if (!wasActive)
        NotifyState(index);
    for (const Client& client : reportClients_) {
        if (client.mask & (1u << index))
            client.function(client.context, index, record);
    }
    // Loss of sync has no hold time: it falls back at the next expiry pass or when sync returns.
    if (indicator != ConformanceIndicator::TsSyncLoss)
        holdUntil_[index] = now + kHoldTime;
}

void Indicators::Deactivate(ConformanceIndicator indicator)
{
    const uint32_t index = Index(indicator);
    records_[index].active = false;
    NotifyState(index);
}

void Indicators::Expire(int64_t now)
{
    for (uint32_t index = 0; index < kIndicatorCount; ++index) {
        if (records_[index].active && holdUntil_[index] < now) {
            records_[index].active = false;
            NotifyState(index);
        }
    }
}

void Indicators::ClearLatchedAndCounts()
{
    for (IndicatorRecord& record : records_) {
        record.latched = false;
        record.count = 0;
    }
}

std::wstring FormatIndicatorMessage(const char* format, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0)
        return {};
    const size_t used = std::min<size_t>(static_cast<size_t>(length), sizeof buffer - 1);
    return std::wstring(buffer, buffer + used);
}

} // namespace SklibTs
