#pragma once
// Turns raw transport-stream bytes, in any chunking, into whole packets for an analyser:
// finds the packet synchronisation and size (188 or 204), keeps a split packet across writes
// and stamps every packet with a 54 MHz arrival time derived from the byte count and a bit rate.
#include <cstdint>

namespace SklibTs {

class SkTsInfo;

class SkTsInfoInput {
public:
    virtual ~SkTsInfoInput() = default;
    // Consumes all the bytes; packets reach the analyser's ProcessPacket before it returns.
    virtual void Write(const uint8_t* bytes, uint32_t count) = 0;
};

class SkTsPacketInput : public SkTsInfoInput {
public:
    // Restarts the time base at the current time; returns the bit rate now in effect
    // (10,000,000 for a value below 1).
    virtual int32_t SetBitrate(int32_t bitrate) = 0;
};

// A packet input feeding `analyser` (not owned); bitrate <= 0 means 10,000,000 bit/s.
// The caller owns the result.
SkTsPacketInput* CreateTsPacketInput(SkTsInfo* analyser, int32_t bitrate);

} // namespace SklibTs
