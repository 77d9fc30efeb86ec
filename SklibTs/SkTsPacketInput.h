#pragma once
/// @file
/// Turns raw transport-stream bytes, in any chunking, into whole packets for an analyser:
/// finds the packet synchronisation and size (188 or 204), keeps a split packet across writes
/// and stamps every packet with a 54 MHz arrival time derived from the byte count and a bit rate.
#include <cstdint>

namespace SklibTs {

class SkTsInfo;

/// Bytes in, packets out to an analyser.
class SkTsInfoInput {
public:
    virtual ~SkTsInfoInput() = default;
    /// Consumes all `count` bytes under the analyser's lock; the whole packets among them reach
    /// the analyser's ProcessPacket before it returns, and a packet cut at the end is completed
    /// by the next write. Bytes outside packets are skipped while synchronisation is looked for.
    virtual void Write(const uint8_t* bytes, uint32_t count) = 0;
};

/// The packet input of a stream without an arrival clock (a file, a pipe): packet times follow
/// from the byte count at a given bit rate.
class SkTsPacketInput : public SkTsInfoInput {
public:
    /// Restarts the time base at the current time; returns the bit rate now in effect
    /// (10,000,000 for a value below 1).
    virtual int32_t SetBitrate(int32_t bitrate) = 0;
};

/// A packet input feeding `analyser` (not owned: it must outlive the input); a bitrate (bit/s) of
/// 0 or less means 10,000,000. Returns null when memory runs out; the caller owns the result and
/// deletes it through this interface.
SkTsPacketInput* CreateTsPacketInput(SkTsInfo* analyser, int32_t bitrate);

} // namespace SklibTs
