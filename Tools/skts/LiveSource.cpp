#include "LiveSource.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#if !defined(_WIN32)
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>
#endif

namespace Skts {

namespace {

constexpr size_t kMaxDatagram = 65536;

int64_t SteadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t RealtimeNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

[[maybe_unused]] int64_t SecondsToNs(double seconds) { return static_cast<int64_t>(std::llround(seconds * 1e9)); }

const char* EndName(LiveSource::End end)
{
    switch (end) {
    case LiveSource::End::Duration:
        return "duration";
    case LiveSource::End::Signal:
        return "signal";
    case LiveSource::End::Silence:
        return "timeout";
    case LiveSource::End::None:
        break;
    }
    return "running";
}

} // namespace

LiveSource::LiveSource(const LiveAddress& address, const LiveOptions& options)
    : address_(address), options_(options), rtp_(address.protocol == LiveAddress::Protocol::Udp),
      buffer_(kMaxDatagram)
{
#if defined(_WIN32)
    receiver_.Open(address_);
    error_ = receiver_.Error();
#else
    // SIGINT and SIGTERM end the run through a descriptor polled beside the socket. They stay
    // blocked until the process exits (it does soon after the run), so that a signal that comes
    // late cannot cut the report short. Threads started later inherit the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    if (::pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0 ||
        (signalFd_ = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK)) < 0) {
        error_ = "cannot receive " + address_.text + ": " + std::strerror(errno);
        return;
    }
    if (!receiver_.Open(address_)) {
        error_ = receiver_.Error();
        return;
    }
    open_ = true;
#endif
    startNs_ = SteadyNs();
    lastDataNs_ = startNs_;
}

LiveSource::~LiveSource()
{
#if !defined(_WIN32)
    if (signalFd_ >= 0)
        ::close(signalFd_);
#endif
}

double LiveSource::ElapsedSeconds() const { return static_cast<double>(SteadyNs() - startNs_) / 1e9; }

std::string LiveSource::SilenceMessage() const
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", options_.timeoutSeconds);
    return "no datagram on " + address_.text + " for " + seconds + " s: the input stopped after " +
           std::to_string(datagrams_) + " datagrams";
}

LiveSource::Wait LiveSource::WaitForDatagram()
{
#if defined(_WIN32)
    return Wait::Failed;
#else
    for (;;) {
        const int64_t now = SteadyNs();
        int64_t deadline = lastDataNs_ + SecondsToNs(options_.timeoutSeconds);
        if (options_.durationSeconds > 0)
            deadline = std::min(deadline, startNs_ + SecondsToNs(options_.durationSeconds));
        if (now >= deadline) {
            if (options_.durationSeconds > 0 && now >= startNs_ + SecondsToNs(options_.durationSeconds)) {
                end_ = End::Duration;
                return Wait::Stop;
            }
            if (datagrams_ == 0) {
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%g", options_.timeoutSeconds);
                error_ = "no datagram on " + address_.text + " within " + seconds + " s";
                return Wait::Failed;
            }
            end_ = End::Silence;
            return Wait::Stop;
        }
        pollfd fds[2] = {{receiver_.Descriptor(), POLLIN, 0}, {signalFd_, POLLIN, 0}};
        const auto waitMs = static_cast<int>(std::min<int64_t>((deadline - now + 999'999) / 1'000'000, 1000));
        const int ready = ::poll(fds, 2, waitMs);
        if (ready < 0 && errno != EINTR) {
            error_ = "cannot receive " + address_.text + ": " + std::strerror(errno);
            return Wait::Failed;
        }
        if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
            signalfd_siginfo info{};
            while (::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            }
            end_ = End::Signal;
            return Wait::Stop;
        }
        if (ready > 0 && (fds[0].revents & (POLLIN | POLLERR)) != 0)
            return Wait::Ready;
    }
#endif
}

int64_t LiveSource::TakeDatagram(const uint8_t*& data, int64_t& arrivalNs)
{
    UdpReceiver::Datagram datagram;
    const int got = receiver_.Receive(buffer_.data(), buffer_.size(), datagram);
    if (got <= 0) {
        if (got < 0)
            error_ = receiver_.Error();
        return got;
    }
    if (stopping_ && datagram.arrivalNs > stopArrivalNs_)
        return 0;
    lastDataNs_ = SteadyNs();
    ++datagrams_;
    if (datagram.truncated)
        ++truncated_;
    // Kernel stamps follow the real-time clock, which may be set back: packet times never go back.
    lastArrivalNs_ = std::max(lastArrivalNs_, datagram.arrivalNs);
    const RtpDepacketizer::Payload payload = rtp_.Take(buffer_.data(), datagram.size);
    data = buffer_.data() + payload.offset;
    arrivalNs = lastArrivalNs_;
    bytes_ += payload.size;
    // A datagram without transport-stream bytes still counts as a sign of life.
    return payload.size > 0 ? static_cast<int64_t>(payload.size) : -2;
}

int64_t LiveSource::Next(const uint8_t*& data, int64_t& arrivalNs)
{
    if (!open_)
        return -1;
    for (;;) {
        if (!stopping_) {
            const Wait wait = WaitForDatagram();
            if (wait == Wait::Failed)
                return -1;
            if (wait == Wait::Stop) {
                stopping_ = true;
                stopArrivalNs_ = RealtimeNs();
            }
        }
        const int64_t got = TakeDatagram(data, arrivalNs);
        if (got == -1)
            return -1;
        if (got == 0) {
            if (stopping_)
                return 0; // all that was queued has been read
            continue;
        }
        if (got > 0)
            return got;
    }
}

nlohmann::json LiveSource::StatsJson() const
{
    const RtpCounts& rtp = rtp_.Counts();
    return {
        {"address", address_.text},
        {"protocol", address_.protocol == LiveAddress::Protocol::Rtp ? "rtp" : "udp"},
        {"multicast", receiver_.Multicast()},
        {"rtp", rtp_.SawRtp()},
        {"datagrams", datagrams_},
        {"bytes", bytes_},
        {"truncated_datagrams", truncated_},
        {"rtp_packets", rtp.packets},
        {"rtp_sequence_gaps", rtp.gaps},
        {"rtp_packets_lost", rtp.lost},
        {"rtp_out_of_order", rtp.outOfOrder},
        {"rtp_restarts", rtp.restarts},
        {"rtp_malformed", rtp.malformed},
        {"receive_buffer_bytes", receiver_.ReceiveBufferBytes()},
        {"kernel_timestamps", receiver_.KernelTimestamps()},
        {"elapsed_s", std::round(ElapsedSeconds() * 1000.0) / 1000.0},
        {"end", EndName(end_)},
    };
}

} // namespace Skts
