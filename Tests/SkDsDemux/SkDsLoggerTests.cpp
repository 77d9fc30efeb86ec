#include "SkDsLogger.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Collects written lines while alive.
class CapturedLines {
public:
    CapturedLines() { SkDsLogger::SetLineSink(&sink_); }
    ~CapturedLines() { SkDsLogger::SetLineSink(nullptr); }

    std::vector<std::string> Lines()
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    static void Write(void* context, const char* line)
    {
        auto* self = static_cast<CapturedLines*>(context);
        std::lock_guard lock(self->mutex_);
        self->lines_.emplace_back(line);
    }

    SkDsLogger::LineSink sink_{&CapturedLines::Write, this};
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

double ElapsedMs(const std::string& line)
{
    const size_t open = line.find("): [");
    const size_t close = line.find(" ms] ");
    EXPECT_TRUE(open != std::string::npos && close != std::string::npos && open < close) << line;
    if (open == std::string::npos || close == std::string::npos || open >= close)
        return -1.0;
    const std::string number = line.substr(open + 4, close - open - 4);
    EXPECT_EQ(number.size() - number.find('.'), 2u) << "one decimal: " << line;
    return std::stod(number);
}

// Must stay the first test: the elapsed time counts from the process's first written line.
TEST(SkDsLogger, FirstWrittenLineIsAtZeroAndLaterOnesCountFromIt)
{
    CapturedLines captured;
    SkDsLogger::Log(4, "SkDsDemux", 341, "New PcrOffset: %.1f", 1.5); // below the threshold: no start
    SkDsLogger::Log(1, "TsPin", 87, "Failed to get input data pointer (hr=0x%08X)", 0x80004005u);
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    SkDsLogger::Log(1, "EsPin", 277, "Failed to deliver output sample (hr=0x%08X)", 0x80040209u);

    const auto lines = captured.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "TsPin(87): [0.0 ms] Failed to get input data pointer (hr=0x80004005)\n");
    EXPECT_GE(ElapsedMs(lines[1]), 25.0);
    EXPECT_EQ(lines[1].substr(lines[1].find("] ")), "] Failed to deliver output sample (hr=0x80040209)\n");
}

TEST(SkDsLogger, WritesOnlyLevelsUpToTheThresholdOfOne)
{
    EXPECT_EQ(SkDsLogger::Instance().Threshold(), 1);
    CapturedLines captured;
    SkDsLogger::Log(2, "SkDsDemux", 187, "Run: Old->New (%lld->%lld => %.1fms)", 0LL, 10000LL, 1.0);
    SkDsLogger::Log(4, "SkDsDemux", 341, "New PcrOffset: %.1f", 2.0);
    SkDsLogger::Log(1, "SkDsDemux", 65, "DeliverBeginFlush failed (hr0x%08X)", 0x80040209u);
    SkDsLogger::Log(0, "SkDsDemux", 80, "level %d", 0);

    const auto lines = captured.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("SkDsDemux(65): ["), std::string::npos);
    EXPECT_NE(lines[0].find("] DeliverBeginFlush failed (hr0x80040209)\n"), std::string::npos);
    EXPECT_NE(lines[1].find("] level 0\n"), std::string::npos);
}

TEST(SkDsLogger, TruncatesLongMessagesToOneBufferKeepingTheLineFeed)
{
    CapturedLines captured;
    const std::string longText(3000, 'x');
    SkDsLogger::Log(1, "EsPin", 226, "%s", longText.c_str());
    SkDsLogger::Log(1, "EsPin", 226, "%s", "");
    SkDsLogger::Log(1, nullptr, 1, nullptr);

    const auto lines = captured.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), size_t(SkDsLogger::kBufferSize - 1)); // 1022 characters + line feed
    EXPECT_EQ(lines[0].back(), '\n');
    EXPECT_EQ(lines[0].rfind("EsPin(226): [", 0), 0u);
    EXPECT_EQ(lines[0].find_first_not_of('x', lines[0].find("] ") + 2), lines[0].size() - 1);
    EXPECT_EQ(lines[1].substr(lines[1].size() - 5), "ms] \n"); // empty message: prefix + line feed
    EXPECT_EQ(lines[2].rfind("(1): [", 0), 0u);

    // A message that exactly fills the room is not cut.
    const std::string prefix = lines[1].substr(0, lines[1].size() - 1);
    const std::string exact(size_t(SkDsLogger::kBufferSize - 2) - prefix.size(), 'y');
    CapturedLines again;
    SkDsLogger::Log(1, "EsPin", 226, "%s", exact.c_str());
    const auto exactLines = again.Lines();
    ASSERT_EQ(exactLines.size(), 1u);
    EXPECT_NE(exactLines[0].find(exact + "\n"), std::string::npos);
}

TEST(SkDsLogger, WritesToStandardErrorWithoutASink)
{
    testing::internal::CaptureStderr();
    SkDsLogger::Log(1, "TsPin", 39, "Deliver begin flush to downstream pins failed (hr=0x%08X)", 0x80040209u);
    SkDsLogger::Log(2, "TsPin", 39, "not written");
    const std::string output = testing::internal::GetCapturedStderr();
    EXPECT_NE(output.find("TsPin(39): ["), std::string::npos);
    EXPECT_NE(output.find("] Deliver begin flush to downstream pins failed (hr=0x80040209)\n"), std::string::npos);
    EXPECT_EQ(output.find("not written"), std::string::npos);
}

TEST(SkDsLogger, LinesFromManyThreadsStayWhole)
{
    CapturedLines captured;
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLinesEach; ++i)
                SkDsLogger::Log(1, "EsPin", 100 + t, "thread %d line %d", t, i);
        });
    }
    for (auto& thread : threads)
        thread.join();

    const auto lines = captured.Lines();
    ASSERT_EQ(lines.size(), size_t(kThreads * kLinesEach));
    for (const auto& line : lines) {
        int unit = -1;
        int thread = -1;
        int index = -1;
        int consumed = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "EsPin(%d): [%*f ms] thread %d line %d\n%n", &unit, &thread, &index,
                              &consumed),
                  3)
            << line;
        EXPECT_EQ(size_t(consumed), line.size()) << line; // exactly one whole line
        EXPECT_EQ(line.back(), '\n');
        EXPECT_EQ(unit - 100, thread);
        EXPECT_GE(ElapsedMs(line), 0.0);
    }
}

} // namespace
