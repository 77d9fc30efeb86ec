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

/// A packet input that also tells where each packet lies in the bytes written, and that takes
/// the packets' times from its caller when the bytes come with an arrival time of their own
/// (datagrams from a network) instead of deriving them from the byte count.
class SkTsPacketInputEx : public SkTsPacketInput {
public:
    /// Consumes the bytes like Write, but stamps every packet they complete with `time` (54 MHz
    /// ticks); a later Write's byte clock goes on from `time`.
    virtual void WriteAt(const uint8_t* bytes, uint32_t count, int64_t time) = 0;
    /// Where a packet lies in the input.
    struct PacketPosition {
        uint64_t index = 0;  ///< among the packets handed to the analyser so far
        uint64_t offset = 0; ///< of its first byte, from the first byte written
    };
    /// The packet being handed to the analyser; while SetSync runs, the packet found or the
    /// packet that broke the sync (not handed on: the index it would have). Read it in the
    /// analyser's callbacks, which run within the write.
    virtual PacketPosition CurrentPacket() const = 0;
};

/// A packet input feeding `analyser` (not owned: it must outlive the input); a bitrate (bit/s) of
/// 0 or less means 10,000,000. Returns null when memory runs out; the caller owns the result and
/// deletes it through this interface.
SkTsPacketInput* CreateTsPacketInput(SkTsInfo* analyser, int32_t bitrate);
/// The same input, with the extended interface (positions and arrival times).
SkTsPacketInputEx* CreateTsPacketInputEx(SkTsInfo* analyser, int32_t bitrate);

} // namespace SklibTs
