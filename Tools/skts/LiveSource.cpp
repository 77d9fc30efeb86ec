#include "LiveSource.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <poll.h>

#include <cerrno>
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

int64_t SecondsToNs(double seconds) { return static_cast<int64_t>(std::llround(seconds * 1e9)); }

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
    if (!stopRequest_.Error().empty()) {
        error_ = "cannot receive " + address_.text + ": " + stopRequest_.Error();
        return;
    }
    if (!receiver_.Open(address_)) {
        error_ = receiver_.Error();
        return;
    }
    open_ = true;
    startNs_ = SteadyNs();
    lastDataNs_ = startNs_;
}

LiveSource::~LiveSource() = default;

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
        const auto waitMs = static_cast<int>(std::min<int64_t>((deadline - now + 999'999) / 1'000'000, 1000));
        switch (WaitForInput(waitMs)) {
        case Input::Datagram:
            return Wait::Ready;
        case Input::StopRequest:
            end_ = End::Signal;
            return Wait::Stop;
        case Input::Failed:
            return Wait::Failed;
        case Input::Nothing:
            break;
        }
    }
}

#if defined(_WIN32)

LiveSource::Input LiveSource::WaitForInput(int waitMs)
{
    // The console's stop request cannot wake WSAPoll: it is looked at between short waits.
    constexpr int kStopCheckMs = 100;
    for (int left = waitMs; left > 0; left -= kStopCheckMs) {
        if (stopRequest_.Requested())
            return Input::StopRequest;
        WSAPOLLFD socket{};
        socket.fd = receiver_.Descriptor();
        socket.events = POLLRDNORM;
        const int ready = ::WSAPoll(&socket, 1, std::min(left, kStopCheckMs));
        if (ready < 0) {
            error_ = "cannot receive " + address_.text + ": WSAPoll failed (" + std::to_string(::WSAGetLastError()) + ")";
            return Input::Failed;
        }
        if (ready > 0 && (socket.revents & (POLLRDNORM | POLLERR)) != 0)
            return Input::Datagram;
    }
    return stopRequest_.Requested() ? Input::StopRequest : Input::Nothing;
}

#else

LiveSource::Input LiveSource::WaitForInput(int waitMs)
{
    pollfd fds[2] = {{receiver_.Descriptor(), POLLIN, 0}, {stopRequest_.Descriptor(), POLLIN, 0}};
    const int ready = ::poll(fds, 2, waitMs);
    if (ready < 0 && errno != EINTR) {
        error_ = "cannot receive " + address_.text + ": " + std::strerror(errno);
        return Input::Failed;
    }
    if (ready > 0 && (fds[1].revents & POLLIN) != 0 && stopRequest_.Requested())
        return Input::StopRequest;
    if (ready > 0 && (fds[0].revents & (POLLIN | POLLERR)) != 0)
        return Input::Datagram;
    return Input::Nothing;
}

#endif

int64_t LiveSource::TakeDatagram(const uint8_t*& data, int64_t& arrivalNs)
{
    UdpReceiver::Datagram datagram;
    const int got = receiver_.Receive(buffer_.data(), buffer_.size(), datagram);
    if (got <= 0) {
        if (got < 0)
            error_ = receiver_.Error();
        return got;
    }
    if (stopping_) {
        // With kernel stamps, what came after the stop is known; without, what the receive
        // buffer can have held at the stop is read.
        bytesSinceStop_ += static_cast<int64_t>(datagram.size);
        if (receiver_.KernelTimestamps() ? datagram.arrivalNs > stopArrivalNs_
                                         : bytesSinceStop_ > receiver_.ReceiveBufferBytes())
            return 0;
    }
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
