#include "ProgressDisplay.h"

#include <chrono>
#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace Skts {

namespace {

int64_t SteadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string ClockText(double seconds)
{
    const auto whole = static_cast<long long>(seconds);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

} // namespace

bool ProgressDisplay::StderrIsTerminal()
{
#if defined(_WIN32)
    return _isatty(2) != 0;
#else
    return ::isatty(2) != 0;
#endif
}

ProgressDisplay::ProgressDisplay(std::ostream& out, bool enabled, int64_t totalBytes, Clock clock)
    : out_(out), enabled_(enabled), totalBytes_(totalBytes), clock_(clock ? std::move(clock) : Clock(SteadyNs))
{
    startNs_ = clock_();
}

bool ProgressDisplay::Due()
{
    if (!enabled_)
        return false;
    const int64_t now = clock_();
    if (drawn_ && now - lastDrawNs_ < kRedrawIntervalNs)
        return false;
    // The first line waits one interval too: a short run shows none.
    if (!drawn_ && now - startNs_ < kRedrawIntervalNs)
        return false;
    lastDrawNs_ = now;
    return true;
}

void ProgressDisplay::Draw(const std::string& line)
{
    // Carriage return, the line, and clear to its end.
    out_ << '\r' << line << "\x1b[K" << std::flush;
    drawn_ = true;
}

std::string ProgressDisplay::FileLine(uint64_t bytesRead, int64_t totalBytes, double seconds)
{
    const double mb = static_cast<double>(bytesRead) / 1e6;
    const double speed = seconds > 0 ? mb / seconds : 0.0;
    char text[128];
    if (totalBytes > 0) {
        const double share = static_cast<double>(bytesRead) / static_cast<double>(totalBytes);
        const double left = speed > 0 ? (static_cast<double>(totalBytes) / 1e6 - mb) / speed : 0.0;
        std::snprintf(text, sizeof text, "%5.1f%%  %.1f MB  %.1f MB/s  %s left", share * 100.0, mb, speed,
                      ClockText(left > 0 ? left : 0).c_str());
    } else {
        std::snprintf(text, sizeof text, "%.1f MB  %.1f MB/s", mb, speed);
    }
    return text;
}

std::string ProgressDisplay::LiveLine(double elapsedSeconds, int64_t bitrate, uint32_t activeIndicators)
{
    char text[128];
    std::snprintf(text, sizeof text, "%s  %.3f Mbit/s  %u indicator%s active", ClockText(elapsedSeconds).c_str(),
                  static_cast<double>(bitrate) / 1e6, activeIndicators, activeIndicators == 1 ? "" : "s");
    return text;
}

void ProgressDisplay::File(uint64_t bytesRead)
{
    if (Due())
        Draw(FileLine(bytesRead, totalBytes_, static_cast<double>(lastDrawNs_ - startNs_) / 1e9));
}

void ProgressDisplay::Live(double elapsedSeconds, int64_t bitrate, uint32_t activeIndicators)
{
    if (Due())
        Draw(LiveLine(elapsedSeconds, bitrate, activeIndicators));
}

void ProgressDisplay::Finish()
{
    if (drawn_)
        out_ << "\r\x1b[K" << std::flush;
    drawn_ = false;
}

} // namespace Skts
