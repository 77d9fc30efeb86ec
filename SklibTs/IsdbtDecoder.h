#pragma once
#include <cstdint>

#include "PidInfoImpl.h"
#include "SkTsInfo.h"

namespace SklibTs {

// Follows the 16-byte information trailer of 204-byte ISDB-T packets: locks onto the TSP
// counter, and reads the transmission parameters from the IIP packets once locked.
class IsdbtDecoder {
public:
    // Result of looking at one packet's trailer.
    struct Trailer {
        bool locked = false;     // the packet belongs to a locked counter sequence
        uint32_t layerSlot = 0;  // IsdbtLayerSlot of its layer_indicator
        bool isIip = false;
    };

    // Any packet: a 204-byte one's trailer marks the layer the PID was seen in at `time` and
    // passes IIPs on; a 188-byte one breaks the counter sequence.
    void Track(const uint8_t* packet, uint32_t size, SkPidInfo& info, int64_t time);
    // A 204-byte packet; returns where the packet was seen when the counter is locked.
    Trailer OnPacket(const uint8_t* packet);
    // A 188-byte packet has no trailer, so the counter sequence is broken.
    void OnPlainPacket() { Unlock(); }
    // Reads the IIP carried by a locked packet (layer_indicator 8).
    void ParseIip(const uint8_t* packet);
    void Reset();

    bool Locked() const { return locked_; }
    bool IipReceived() const { return iipReceived_; }
    // Fills mode, guard interval and layers from the last IIP; false when they are not valid.
    bool FillParameters(IsdbtInfo& info) const;
    // Fills, per PID except the null PID, the layers it was seen in during the last minute.
    static void FillPidLayers(const PidInfoTable& pids, int64_t now, IsdbtInfo& info);

private:
    void Unlock();

    bool locked_ = false;
    int32_t previousCounter_ = -1;
    bool iipReceived_ = false;
    uint32_t mode_ = 0;
    uint32_t guardInterval_ = 0;
    bool partialReception_ = false;
    struct LayerParameters {
        uint32_t modulation = 7;
        uint32_t codingRate = 7;
        uint32_t interleaving = 7;
        uint32_t segments = 15;
    };
    LayerParameters layers_[3];
};

} // namespace SklibTs
