// The tool's helpers: folding repeated events, output files under a descriptor limit, text
// for the terminal.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "EventCoalescer.h"
#include "OutputFiles.h"
#include "TempDir.h"
#include "TerminalText.h"

using Skts::AnalyserEvent;
using Skts::EventCoalescer;

namespace {

AnalyserEvent Report(uint64_t packet, int32_t index, const std::string& message)
{
    AnalyserEvent event;
    event.packet = packet;
    event.timeMs = static_cast<double>(packet);
    event.index = index;
    event.message = message;
    return event;
}

// The descriptor number the next open would get: a limit at it leaves no descriptor free.
rlim_t LowestFreeDescriptor()
{
    const int fd = dup(0);
    close(fd);
    return static_cast<rlim_t>(fd);
}

// Lowers the soft descriptor limit (the first number not allowed) for the scope of one test.
class DescriptorLimit {
public:
    explicit DescriptorLimit(rlim_t limit)
    {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~DescriptorLimit() { setrlimit(RLIMIT_NOFILE, &saved_); }

private:
    rlimit saved_{};
};

} // namespace

// Reports repeated in consecutive packets fold into one event with a count; runs are handed on
// in the order they started, as soon as they end.
TEST(SktsEventCoalescer, RepeatsInConsecutivePacketsFoldIntoOneEvent)
{
    std::vector<AnalyserEvent> out;
    EventCoalescer events([&out](const AnalyserEvent& e) { out.push_back(e); });
    for (uint64_t packet = 10; packet < 1010; ++packet) {
        events.Add(Report(packet, 17, "PID 0x100 not referenced")); // every packet
        events.Add(Report(packet, 17, "PID 0x101 not referenced"));
        if (packet % 100 == 0)
            events.Add(Report(packet, 1, "continuity")); // every 100th packet: no run
    }
    events.Add(Report(5000, 2, "later"));
    events.Flush();
    ASSERT_EQ(out.size(), 13u);
    EXPECT_EQ(out[0].message, "PID 0x100 not referenced");
    EXPECT_EQ(out[0].count, 1000u);
    EXPECT_EQ(out[0].packet, 10u);
    EXPECT_EQ(out[0].lastPacket, 1009u);
    EXPECT_EQ(out[1].count, 1000u);
    for (size_t i = 2; i < 12; ++i)
        EXPECT_EQ(out[i].count, 1u) << i;
    EXPECT_EQ(out[11].message, "continuity") << "ended long ago, it waited behind the open runs";
    EXPECT_EQ(out[12].message, "later");
}

TEST(SktsEventCoalescer, OpenRunsAreBounded)
{
    size_t handed = 0;
    EventCoalescer events([&handed](const AnalyserEvent&) { ++handed; }, 100);
    for (uint64_t packet = 0; packet < 10; ++packet) {
        for (int pid = 0; pid < 1000; ++pid)
            events.Add(Report(packet, 17, "PID " + std::to_string(pid)));
        EXPECT_LE(events.OpenRuns(), 101u);
    }
    events.Flush();
    EXPECT_EQ(handed, 10'000u) << "too many distinct runs at once: no folding, nothing lost";
}

// Output files under a descriptor limit: the least recently written is closed and reopened for
// appending; with no descriptor at all the reason is named, and a failed run leaves nothing.
TEST(SktsOutputFiles, WorkWithinTheDescriptorLimitAndNameWhatFails)
{
    const SktsTest::TempDir dir("skts_files");
    {
        const DescriptorLimit limit(LowestFreeDescriptor() + 3);
        Skts::OutputFiles files(dir.Path());
        for (uint32_t pid = 0; pid < 40; ++pid)
            ASSERT_TRUE(files.Create(pid)) << files.Error();
        for (int round = 0; round < 3; ++round) {
            for (uint32_t pid = 0; pid < 40; ++pid) {
                const uint8_t byte = static_cast<uint8_t>(pid);
                ASSERT_TRUE(files.Write(pid, &byte, 1)) << files.Error();
            }
        }
        EXPECT_LE(files.OpenCount(), 3u);
        ASSERT_TRUE(files.Commit()) << files.Error();
    }
    EXPECT_EQ(std::filesystem::file_size(dir / "0x0027.es"), 3u);

    const SktsTest::TempDir starved("skts_starved");
    {
        const DescriptorLimit limit(LowestFreeDescriptor());
        Skts::OutputFiles files(starved.Path());
        EXPECT_FALSE(files.Create(0x100));
        EXPECT_EQ(files.Error(), "cannot write " + (starved / "0x0100.es").string() + ": Too many open files");
    }
    Skts::OutputFiles unfinished(starved.Path());
    ASSERT_TRUE(unfinished.Create(0x101));
    EXPECT_TRUE(std::filesystem::exists(starved / "0x0101.es"));
}

TEST(SktsTerminalText, ControlsAndOverridesAreShownEscaped)
{
    EXPECT_EQ(Skts::ForTerminal("plain \xC3\xA9"), "plain \xC3\xA9");
    EXPECT_EQ(Skts::ForTerminal("a\x1B[2Jb\x07\x7F"), "a\\x1b[2Jb\\x07\\x7f");
    EXPECT_EQ(Skts::ForTerminal("\xC2\x9B" "31m"), "\\u009b31m") << "C1 control sequence introducer";
    EXPECT_EQ(Skts::ForTerminal("x\xE2\x80\xAEy"), "x\\u202ey") << "right-to-left override";
    EXPECT_EQ(Skts::ForTerminal("back\\slash"), "back\\\\slash");
    EXPECT_EQ(Skts::ForTerminal("\xFF"), "\xEF\xBF\xBD");
}
