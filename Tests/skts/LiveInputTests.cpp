// Network input: a sender in the test paces a sample over UDP on the loopback interface at its
// mux rate while skts receives it. No assertion depends on how long anything took.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "RunTool.h"
#include "TempDir.h"
#include "TestData.h"

using nlohmann::json;
using SktsTest::RunCommand;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kDatagram = 7 * 188;
constexpr int64_t kSampleRate = 3'000'000; // h264_aac.ts's mux rate

std::string Tool() { return SKTS_TOOL; }

// A UDP port nothing listens on now.
uint16_t FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Whether something has bound host:port (a bind of our own is refused).
bool PortTaken(const char* host, uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, host, &address.sin_addr);
    const bool taken = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno == EADDRINUSE;
    ::close(fd);
    return taken;
}

// skts in a child process, its output in files.
class ToolProcess {
public:
    ToolProcess(const std::string& arguments, const SktsTest::TempDir& dir)
        : outPath_(dir / ("out" + std::to_string(count_))), errPath_(dir / ("err" + std::to_string(count_)))
    {
        ++count_;
        const std::string command = "exec " + Tool() + " " + arguments;
        pid_ = ::fork();
        if (pid_ == 0) {
            const int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(out, 1);
            ::dup2(err, 2);
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~ToolProcess()
    {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    // Waits until the tool has bound the port (or has exited), for at most a minute.
    bool WaitForBind(const char* host, uint16_t port)
    {
        for (int i = 0; i < 6000; ++i) {
            if (PortTaken(host, port))
                return true;
            if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
                waited_ = true;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    void Signal(int signal) { ::kill(pid_, signal); }
    SktsTest::ToolResult Wait()
    {
        if (!waited_)
            ::waitpid(pid_, &status_, 0);
        waited_ = true;
        SktsTest::ToolResult result;
        result.exitCode = WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
        result.out = SktsTest::Slurp(outPath_);
        result.err = SktsTest::Slurp(errPath_);
        return result;
    }

private:
    static inline int count_ = 0;
    std::filesystem::path outPath_;
    std::filesystem::path errPath_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool waited_ = false;
};

struct SendPlan {
    bool rtp = false;
    std::set<size_t> drop;                        // datagram numbers not sent
    std::map<size_t, int> delayMs;                 // datagram number -> hold-up before it
    const char* host = "127.0.0.1";
    bool multicast = false;
};

// Sends the bytes in datagrams of seven packets at the given rate (catching up after a delay,
// as a network queue does).
void Send(const Bytes& stream, uint16_t port, const SendPlan& plan)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (plan.multicast) {
        in_addr loopback{};
        loopback.s_addr = htonl(INADDR_LOOPBACK);
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
        const unsigned char ttl = 0; // never leaves this machine
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
        const unsigned char loop = 1;
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, plan.host, &to.sin_addr);
    const auto start = std::chrono::steady_clock::now();
    auto heldUntil = start;
    uint16_t sequence = 4000;
    for (size_t offset = 0, number = 0; offset < stream.size(); offset += kDatagram, ++number, ++sequence) {
        const auto due = start + std::chrono::nanoseconds(static_cast<int64_t>(offset) * 8 * 1'000'000'000 / kSampleRate);
        if (const auto delay = plan.delayMs.find(number); delay != plan.delayMs.end())
            heldUntil = std::max(due, heldUntil) + std::chrono::milliseconds(delay->second);
        std::this_thread::sleep_until(std::max(due, heldUntil));
        if (plan.drop.count(number) != 0)
            continue;
        Bytes datagram;
        if (plan.rtp) {
            // Version 2, payload type 33 (MPEG-2 TS), with a one-word header extension.
            datagram = {0x90, 33, static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence), 0, 0, 0, 0,
                        0, 0, 0x12, 0x34, 0xAB, 0xCD, 0, 1, 1, 2, 3, 4};
        }
        const size_t size = std::min(kDatagram, stream.size() - offset);
        datagram.insert(datagram.end(), stream.begin() + static_cast<std::ptrdiff_t>(offset),
                        stream.begin() + static_cast<std::ptrdiff_t>(offset + size));
        ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    ::close(fd);
}

class LiveInput : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto found = SktsTest::FindSample("h264_aac.ts");
        ASSERT_TRUE(found);
        // The first 2.5 s of the sample.
        sample = SktsTest::ReadFile(*found);
        sample.resize(static_cast<size_t>(kSampleRate * 25 / 80) / kDatagram * kDatagram);
    }

    // Runs `analyze` on the input while the plan is sent, then stops it with SIGINT.
    json ReceiveWhileSending(const std::string& address, uint16_t port, const SendPlan& plan,
                             const std::string& options = "")
    {
        ToolProcess tool("analyze --json " + options + " " + address, dir);
        const char* bound = plan.multicast ? plan.host : "127.0.0.1";
        EXPECT_TRUE(tool.WaitForBind(bound, port)) << tool.Wait().err;
        Send(sample, port, plan);
        // Loopback delivers while sendto runs: everything sent is queued; the tool reads what
        // is queued before it stops.
        tool.Signal(SIGINT);
        const auto result = tool.Wait();
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return result.exitCode == 0 ? json::parse(result.out) : json();
    }

    json AnalyzeFile(const Bytes& bytes)
    {
        const auto path = dir / "part.ts";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        const auto result = RunCommand(Tool() + " analyze --json " + path.string());
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return json::parse(result.out);
    }

    static std::map<int, uint64_t> PacketsPerPid(const json& report)
    {
        std::map<int, uint64_t> packets;
        for (const auto& pid : report["pids"])
            packets[pid["pid"]] = pid["packets"];
        return packets;
    }
    static json Programs(const json& report)
    {
        json programs = json::array();
        for (const auto& p : report["programs"]) {
            json streams = json::array();
            for (const auto& s : p["streams"])
                streams.push_back({s["pid"], s["stream_type"]});
            programs.push_back({p["program_number"], p["pmt_pid"], p["pcr_pid"], streams});
        }
        return programs;
    }
    static double Jitter(const json& report)
    {
        for (const auto& pid : report["pids"]) {
            if (pid.contains("pcr"))
                return pid["pcr"]["jitter_max_ns"];
        }
        return -1.0;
    }

    const SktsTest::TempDir dir{"skts_live"};
    Bytes sample;
};

} // namespace

TEST_F(LiveInput, PlainUdpGivesWhatTheFileGives)
{
    const uint16_t port = FreePort();
    const json live = ReceiveWhileSending("udp://127.0.0.1:" + std::to_string(port), port, {});
    ASSERT_TRUE(live.is_object());
    const json file = AnalyzeFile(sample);
    EXPECT_EQ(Programs(live), Programs(file));
    EXPECT_EQ(PacketsPerPid(live), PacketsPerPid(file));
    EXPECT_EQ(live["packets"], sample.size() / 188);
    const json& stats = live["live"];
    EXPECT_EQ(stats["datagrams"], sample.size() / kDatagram);
    EXPECT_EQ(stats["rtp"], false);
    EXPECT_EQ(stats["end"], "signal");
    EXPECT_GE(stats["receive_buffer_bytes"].get<int64_t>(), 1 << 20) << "a few MiB asked for";
    EXPECT_EQ(live["analysis_bitrate"], 0) << "times are arrival times";
    EXPECT_EQ(live["sync_byte_errors"], 0);
}

TEST_F(LiveInput, RtpHeadersComeOffAndDroppedDatagramsAreCounted)
{
    const uint16_t port = FreePort();
    SendPlan plan;
    plan.rtp = true;
    plan.drop = {100, 101, 102, 300};
    // udp:// recognises RTP by itself; rtp:// expects it.
    for (const std::string scheme : {"udp://", "rtp://"}) {
        const json live = ReceiveWhileSending(scheme + "127.0.0.1:" + std::to_string(port), port, plan);
        ASSERT_TRUE(live.is_object());
        const json& stats = live["live"];
        EXPECT_EQ(stats["rtp"], true) << scheme;
        EXPECT_EQ(stats["rtp_sequence_gaps"], 2) << scheme;
        EXPECT_EQ(stats["rtp_packets_lost"], 4) << scheme;
        EXPECT_EQ(stats["rtp_out_of_order"], 0) << scheme;
        EXPECT_EQ(live["packets"], sample.size() / 188 - 4 * 7) << scheme;
        EXPECT_EQ(live["sync_byte_errors"], 0) << "headers and extensions removed";
        // The loss shows as continuity errors, as it would on a real network.
        const bool continuity = std::any_of(live["indicators"].begin(), live["indicators"].end(),
                                            [](const json& i) { return i["name"] == "ContinuityCountError"; });
        EXPECT_TRUE(continuity) << scheme;
    }
}

TEST_F(LiveInput, InjectedDelaysMakeThePcrJitterGrow)
{
    const uint16_t port = FreePort();
    const std::string address = "udp://127.0.0.1:" + std::to_string(port);
    const json steady = ReceiveWhileSending(address, port, {});
    SendPlan delayed;
    for (size_t number = 20; number < 500; number += 60)
        delayed.delayMs[number] = 80;
    const json held = ReceiveWhileSending(address, port, delayed);
    ASSERT_TRUE(steady.is_object() && held.is_object());
    EXPECT_EQ(PacketsPerPid(steady), PacketsPerPid(held)) << "nothing lost, only late";
    EXPECT_GT(Jitter(held), Jitter(steady));
    EXPECT_GT(Jitter(steady), -1.0);
}

TEST_F(LiveInput, MulticastOnLoopbackWithAndWithoutSource)
{
    const uint16_t port = FreePort();
    const std::string group = "239.255.17.21";
    SendPlan plan;
    plan.multicast = true;
    plan.host = "239.255.17.21";
    for (const std::string& address : {"udp://" + group + ":" + std::to_string(port) + "?interface=lo",
                                      "udp://127.0.0.1@" + group + ":" + std::to_string(port) + "?interface=lo"}) {
        ToolProcess tool("analyze --json --timeout 30 " + address, dir);
        if (!tool.WaitForBind(plan.host, port)) {
            const auto result = tool.Wait();
            if (result.err.find("cannot join group") != std::string::npos) {
                std::cout << "[ NOTE     ] multicast on the loopback interface is not allowed here: " << result.err;
                GTEST_SKIP();
            }
            FAIL() << result.err;
        }
        Send(sample, port, plan);
        tool.Signal(SIGTERM);
        const auto result = tool.Wait();
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const json live = json::parse(result.out);
        EXPECT_EQ(live["live"]["multicast"], true);
        EXPECT_EQ(live["packets"], sample.size() / 188) << address;
    }
}

TEST_F(LiveInput, DurationEndsTheRunWithTheFullReport)
{
    const uint16_t port = FreePort();
    SendPlan plan;
    std::thread sender;
    ToolProcess tool("report --quiet --duration 1 -o " + (dir / "live.html").string() + " udp://127.0.0.1:" +
                         std::to_string(port),
                     dir);
    ASSERT_TRUE(tool.WaitForBind("127.0.0.1", port));
    sender = std::thread([&] { Send(sample, port, plan); });
    const auto result = tool.Wait();
    sender.join();
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string page = SktsTest::Slurp(dir / "live.html");
    EXPECT_NE(page.find("\"end\":\"duration\""), std::string::npos);
    EXPECT_NE(page.find("\"live\":{"), std::string::npos);
}

TEST_F(LiveInput, SilenceTimesOut)
{
    const uint16_t port = FreePort();
    const auto result = RunCommand(Tool() + " analyze --timeout 0.3 udp://127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err, "skts: no datagram on udp://127.0.0.1:" + std::to_string(port) + " within 0.3 s\n");
    EXPECT_TRUE(result.out.empty());
}

// Every address the tool cannot use is one line on standard error and exit code 2.
TEST_F(LiveInput, UnusableAddressesAreOneLineErrors)
{
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string busy = std::to_string(ntohs(address.sin_port));

    const std::pair<std::string, std::string> cases[] = {
        {"udp://127.0.0.1", "bad address 'udp://127.0.0.1': "},
        {"udp://127.0.0.1:99999", "the port must be a number from 1 to 65535"},
        {"udp://300.1.1.1:5000", "'300.1.1.1' is no numeric IP address"},
        {"rtp://[::1:5000", "bad address"},
        {"udp://127.0.0.1:5000?ttl=3", "the only option is ?interface="},
        {"udp://127.0.0.1@127.0.0.1:5000", "a source (SOURCE@) needs a multicast group"},
        {"udp://127.0.0.1:" + busy, "port " + busy + " is in use"},
        {"udp://192.0.2.200:5000", "192.0.2.200 is no address of this machine"},
        {"udp://239.255.17.22:5000?interface=nosuchif0", "no interface 'nosuchif0'"},
    };
    for (const auto& [input, message] : cases) {
        for (const char* command : {"analyze", "demux", "report"}) {
            const auto result = RunCommand(Tool() + " " + command + " --timeout 1 '" + input + "'");
            EXPECT_EQ(result.exitCode, 2) << command << " " << input;
            EXPECT_NE(result.err.find(message), std::string::npos) << command << " " << input << ": " << result.err;
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
            EXPECT_EQ(result.err.rfind("skts: ", 0), 0u) << result.err;
        }
    }
    ::close(holder);
}
