#pragma once
// The filter's one diagnostic logger. Lines carry the source unit, its line number and the
// milliseconds since the first written line, and go to the debugger output channel.
#include <cstdarg>
#include <cstdint>

#if defined(__GNUC__)
#define SKDS_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define SKDS_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

class SkDsLogger {
public:
    // Where written lines go instead of the debugger channel (tests capture them this way).
    struct LineSink {
        void (*write)(void* context, const char* line);
        void* context;
    };

    static constexpr int32_t kThreshold = 1;
    static constexpr int kBufferSize = 1024;

    constexpr SkDsLogger() = default;
    virtual ~SkDsLogger();

    // Writes one line when level <= the threshold; otherwise costs one comparison.
    static void Log(int32_t level, const char* source, uint32_t line, const char* format, ...)
        SKDS_PRINTF_FORMAT(4, 5);
    static void LogV(int32_t level, const char* source, uint32_t line, const char* format, va_list arguments);

    // The single instance, constant-initialised.
    static const SkDsLogger& Instance();
    int32_t Threshold() const { return threshold_; }

    // Redirects written lines to sink (which must outlive its use); null restores the channel.
    static void SetLineSink(const LineSink* sink);

private:
    int32_t threshold_ = kThreshold;
};
