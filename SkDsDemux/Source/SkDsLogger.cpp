#include "SkDsLogger.h"

#include "ComPlatform.h"

#include <atomic>
#include <cstdio>

namespace {

constinit const SkDsLogger theLogger;
constinit std::atomic<const SkDsLogger::LineSink*> lineSink{nullptr};

void WriteLine(const char* text)
{
    const SkDsLogger::LineSink* sink = lineSink.load(std::memory_order_acquire);
    if (sink != nullptr && sink->write != nullptr)
        sink->write(sink->context, text);
    else
        OutputDebugStringA(text);
}

} // namespace

SkDsLogger::~SkDsLogger() = default;

const SkDsLogger& SkDsLogger::Instance() { return theLogger; }

void SkDsLogger::SetLineSink(const LineSink* sink) { lineSink.store(sink, std::memory_order_release); }

void SkDsLogger::Log(int32_t level, const char* source, uint32_t line, const char* format, ...)
{
    if (level > theLogger.threshold_)
        return;
    va_list arguments;
    va_start(arguments, format);
    LogV(level, source, line, format, arguments);
    va_end(arguments);
}

void SkDsLogger::LogV(int32_t level, const char* source, uint32_t line, const char* format, va_list arguments)
{
    if (level > theLogger.threshold_)
        return;
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    static const LONGLONG start = now.QuadPart; // the first written line
    const double elapsedMs = double(now.QuadPart - start) * 1000.0 / double(frequency.QuadPart);

    // Room for at most kBufferSize - 2 characters, the line feed and the terminator; a long
    // message is truncated, a formatting error leaves its part empty.
    char buffer[kBufferSize];
    constexpr int kMaxText = kBufferSize - 2;
    int prefix = std::snprintf(buffer, sizeof buffer, "%s(%d): [%.1lf ms] ", source != nullptr ? source : "",
                               static_cast<int>(line), elapsedMs);
    if (prefix < 0)
        prefix = 0;
    if (prefix > kMaxText)
        prefix = kMaxText;
    int message = 0;
    if (format != nullptr) {
        message = std::vsnprintf(buffer + prefix, size_t(kBufferSize - prefix - 1), format, arguments);
        if (message < 0)
            message = 0;
        if (message > kMaxText - prefix)
            message = kMaxText - prefix;
    }
    buffer[prefix + message] = '\n';
    buffer[prefix + message + 1] = '\0';
    WriteLine(buffer);
}
