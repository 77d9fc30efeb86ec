#pragma once
// Takes the RTP header (and its CSRC list, extension and padding) off datagrams that carry
// transport packets in RTP, and counts the sequence numbers that never came. With detection
// on, a datagram counts as RTP only when it does not start with a sync byte and a valid
// RTP version-2 header is followed by one: plain TS datagrams pass through untouched.
#include <cstddef>
#include <cstdint>

namespace Skts {

struct RtpCounts {
    uint64_t packets = 0;      // datagrams taken as RTP
    uint64_t gaps = 0;         // places where sequence numbers were missing
    uint64_t lost = 0;         // sequence numbers missing in all
    uint64_t outOfOrder = 0;   // late or repeated sequence numbers
    uint64_t restarts = 0;     // the sender started a new sequence
    uint64_t malformed = 0;    // datagrams dropped because their RTP header did not fit
};

class RtpDepacketizer {
public:
    // detect: tell RTP from plain TS per datagram; otherwise every datagram must be RTP.
    explicit RtpDepacketizer(bool detect) : detect_(detect) {}

    // The transport-stream bytes of one datagram: [offset, offset + size) of it; size 0 for a
    // datagram that carries none (a malformed RTP datagram, dropped).
    struct Payload {
        size_t offset = 0;
        size_t size = 0;
    };
    Payload Take(const uint8_t* datagram, size_t size);

    const RtpCounts& Counts() const { return counts_; }
    bool SawRtp() const { return counts_.packets > 0; }

private:
    // The RTP payload's bounds, or false when the header does not fit or is not version 2.
    static bool ParseHeader(const uint8_t* datagram, size_t size, Payload& payload);
    void CountSequence(uint16_t sequence);

    bool detect_;
    bool haveSequence_ = false;
    uint16_t expected_ = 0;
    // A far jump is taken as a late datagram, unless the next one follows it: then the
    // sender has started a new sequence.
    bool haveStray_ = false;
    uint16_t stray_ = 0;
    RtpCounts counts_;
};

} // namespace Skts
