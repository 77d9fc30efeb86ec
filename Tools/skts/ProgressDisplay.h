#pragma once
// One line of progress on standard error, redrawn in place at most ten times a second: for a
// file the share read, megabytes, speed and time left; for a network input the time received,
// the current bit rate and the indicators active. Drawn only on a terminal and never with
// --quiet, so logs and pipes never see it.
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace Skts {

class ProgressDisplay {
public:
    static constexpr int64_t kRedrawIntervalNs = 100'000'000;
    using Clock = std::function<int64_t()>; // nanoseconds, steady

    // Whether standard error is a terminal a progress line may be drawn on.
    static bool StderrIsTerminal();

    // totalBytes: the input's size, or -1 when unknown (standard input).
    ProgressDisplay(std::ostream& out, bool enabled, int64_t totalBytes, Clock clock = {});
    ~ProgressDisplay() { Finish(); }
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    void File(uint64_t bytesRead);
    void Live(double elapsedSeconds, int64_t bitrate, uint32_t activeIndicators);
    // Clears the line (once something was drawn).
    void Finish();

    static std::string FileLine(uint64_t bytesRead, int64_t totalBytes, double seconds);
    static std::string LiveLine(double elapsedSeconds, int64_t bitrate, uint32_t activeIndicators);

private:
    bool Due();
    void Draw(const std::string& line);

    std::ostream& out_;
    bool enabled_;
    int64_t totalBytes_;
    Clock clock_;
    int64_t startNs_ = 0;
    int64_t lastDrawNs_ = 0;
    bool drawn_ = false;
};

} // namespace Skts
