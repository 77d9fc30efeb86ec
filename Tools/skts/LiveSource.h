#pragma once
// A network input read datagram by datagram: the transport-stream bytes of each, with its
// arrival time. The run ends after a duration, at SIGINT or SIGTERM (Ctrl-C, Ctrl-Break or the
// console closing on Windows; the datagrams already queued are still read, so the report covers
// all that arrived), or when no datagram comes for the silence timeout.
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "LiveAddress.h"
#include "RtpDepacketizer.h"
#include "StopRequest.h"
#include "UdpReceiver.h"

namespace Skts {

struct LiveOptions {
    double durationSeconds = 0; // 0: until a signal or the silence timeout
    double timeoutSeconds = 5;
};

class LiveSource {
public:
    enum class End { None, Duration, Signal, Silence };

    LiveSource(const LiveAddress& address, const LiveOptions& options);
    ~LiveSource();
    LiveSource(const LiveSource&) = delete;
    LiveSource& operator=(const LiveSource&) = delete;

    bool IsOpen() const { return open_; }
    const std::string& Error() const { return error_; }

    // Waits for the next datagram with transport-stream bytes: their count (data points at them
    // until the next call), 0 when the run ended, -1 on an error (Error() says why; also when
    // no datagram came at all within the timeout).
    int64_t Next(const uint8_t*& data, int64_t& arrivalNs);

    End Ended() const { return end_; }
    // The line to print when the run ended by silence after data had come.
    std::string SilenceMessage() const;
    uint64_t Datagrams() const { return datagrams_; }
    uint64_t Bytes() const { return bytes_; }
    // Seconds since the source was opened.
    double ElapsedSeconds() const;
    // "live": address, protocol, what arrived and how the run ended.
    nlohmann::json StatsJson() const;

private:
    enum class Wait { Ready, Stop, Failed };
    Wait WaitForDatagram();
    // The platform's part of the wait: up to waitMs for a datagram or a stop request.
    enum class Input { Datagram, StopRequest, Nothing, Failed };
    Input WaitForInput(int waitMs);
    int64_t TakeDatagram(const uint8_t*& data, int64_t& arrivalNs);

    LiveAddress address_;
    LiveOptions options_;
    UdpReceiver receiver_;
    RtpDepacketizer rtp_;
    StopRequest stopRequest_;
    bool open_ = false;
    bool stopping_ = false; // reading what is queued, then the end
    End end_ = End::None;
    std::string error_;
    std::vector<uint8_t> buffer_;
    int64_t startNs_ = 0;     // steady clock at open
    int64_t lastDataNs_ = 0;  // steady clock at the latest datagram
    int64_t lastArrivalNs_ = 0;
    int64_t stopArrivalNs_ = 0; // while stopping: datagrams that arrived later are not read
    // While stopping without kernel stamps: what was read since; no more than the receive
    // buffer can have held is read, so a sender that goes on cannot hold the end back.
    int64_t bytesSinceStop_ = 0;
    uint64_t datagrams_ = 0;
    uint64_t bytes_ = 0;
    uint64_t truncated_ = 0;
};

} // namespace Skts
