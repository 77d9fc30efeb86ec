#include "RtpDepacketizer.h"

namespace Skts {

namespace {
constexpr size_t kFixedHeader = 12;
constexpr uint8_t kSyncByte = 0x47;
// A jump forward by less than this is loss; a larger one is a late or repeated datagram.
constexpr uint16_t kMaxForwardJump = 0x8000;
} // namespace

bool RtpDepacketizer::ParseHeader(const uint8_t* datagram, size_t size, Payload& payload)
{
    if (size < kFixedHeader || (datagram[0] >> 6) != 2)
        return false;
    size_t header = kFixedHeader + size_t{4} * (datagram[0] & 0x0F);
    if ((datagram[0] & 0x10) != 0) { // extension: 16-bit profile data, 16-bit length in words
        if (size < header + 4)
            return false;
        header += 4 + size_t{4} * ((size_t{datagram[header + 2]} << 8) | datagram[header + 3]);
    }
    size_t padding = 0;
    if ((datagram[0] & 0x20) != 0 && size > header)
        padding = datagram[size - 1];
    if (header > size || padding > size - header)
        return false;
    payload = {header, size - header - padding};
    return true;
}

void RtpDepacketizer::CountSequence(uint16_t sequence)
{
    if (haveSequence_) {
        const auto jump = static_cast<uint16_t>(sequence - expected_);
        if (jump >= kMaxForwardJump) {
            if (haveStray_ && sequence == static_cast<uint16_t>(stray_ + 1)) {
                haveStray_ = false;
                --counts_.outOfOrder; // the stray began the new sequence
                ++counts_.restarts;
                expected_ = static_cast<uint16_t>(sequence + 1);
                return;
            }
            haveStray_ = true;
            stray_ = sequence;
            ++counts_.outOfOrder;
            return;
        }
        haveStray_ = false;
        if (jump > 0) {
            ++counts_.gaps;
            counts_.lost += jump;
        }
    }
    haveSequence_ = true;
    expected_ = static_cast<uint16_t>(sequence + 1);
}

RtpDepacketizer::Payload RtpDepacketizer::Take(const uint8_t* datagram, size_t size)
{
    if (detect_ && (size == 0 || datagram[0] == kSyncByte))
        return {0, size};
    Payload payload;
    const bool rtp = ParseHeader(datagram, size, payload);
    if (detect_ && (!rtp || payload.size == 0 || datagram[payload.offset] != kSyncByte))
        return {0, size}; // not RTP after all: the packet input judges the bytes
    if (!rtp) {
        ++counts_.malformed;
        return {};
    }
    ++counts_.packets;
    CountSequence(static_cast<uint16_t>((datagram[2] << 8) | datagram[3]));
    return payload;
}

} // namespace Skts
