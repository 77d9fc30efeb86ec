#include "IsdbtDecoder.h"

#include "BitReader.h"
#include "SkTp.h"
#include "SkTsExceptions.h"

namespace SklibTs {

namespace {

uint32_t LayerSlotOf(uint32_t layerIndicator)
{
    switch (layerIndicator) {
    case 0: return kIsdbtLayerNull;
    case 1: return kIsdbtLayerA;
    case 2: return kIsdbtLayerB;
    case 3: return kIsdbtLayerC;
    case 8: return kIsdbtLayerIip;
    default: return kIsdbtLayerOther;
    }
}

} // namespace

void IsdbtDecoder::Reset()
{
    *this = IsdbtDecoder();
}

void IsdbtDecoder::Unlock()
{
    locked_ = false;
    previousCounter_ = -1;
    iipReceived_ = false;
}

IsdbtDecoder::Trailer IsdbtDecoder::OnPacket(const uint8_t* packet)
{
    const uint8_t* info = packet + 188;
    const uint32_t tmccIdentifier = info[0] >> 6;
    const bool frameHead = (info[0] & 0x02) != 0;
    const uint32_t layerIndicator = info[1] >> 4;
    const int32_t counter = ((info[2] & 0x1F) << 8) | info[3];

    if (!locked_) {
        if (previousCounter_ < 0) {
            if (frameHead)
                previousCounter_ = 0;
            return {};
        }
        if (counter != previousCounter_ + 1) {
            previousCounter_ = -1;
            return {};
        }
        locked_ = true;
        previousCounter_ = counter;
    } else {
        const bool broken = tmccIdentifier < 2 || (frameHead ? counter != 0 : counter != previousCounter_ + 1);
        if (broken) {
            Unlock();
            return {};
        }
        previousCounter_ = counter;
    }
    return {true, LayerSlotOf(layerIndicator), layerIndicator == 8};
}

// The IIP payload starts with IIP_packet_pointer (16 bits) and the modulation control
// configuration information of ARIB STD-B31: TMCC_synchronization_word (1),
// AC_data_effective_position (1), reserved (2), initialization_timing_indicator (4),
// current_mode (2), current_guard_interval (2), next mode and guard interval (4), then the
// current configuration: partial_reception_flag (1) and, per layer A/B/C, modulation (3),
// coding rate (3), time interleaving (3) and number of segments (4).
void IsdbtDecoder::ParseIip(const uint8_t* packet)
{
    uint32_t size = 0;
    const uint8_t* payload = SkTp(packet, 188).GetPayload(size);
    if (payload == nullptr)
        return;
    try {
        BitReader bits(payload, size);
        bits.SkipBits(16 + 1 + 1 + 2 + 4);
        const uint32_t mode = bits.ReadBits(2);
        const uint32_t guardInterval = bits.ReadBits(2);
        bits.SkipBits(4);
        const bool partialReception = bits.ReadFlag();
        LayerParameters layers[3];
        for (LayerParameters& layer : layers) {
            layer.modulation = bits.ReadBits(3);
            layer.codingRate = bits.ReadBits(3);
            layer.interleaving = bits.ReadBits(3);
            layer.segments = bits.ReadBits(4);
        }
        mode_ = mode; // coded 1..3 for modes 1..3
        guardInterval_ = guardInterval;
        partialReception_ = partialReception;
        for (int i = 0; i < 3; ++i)
            layers_[i] = layers[i];
        iipReceived_ = true;
    } catch (const InvalidBitIdxExc&) {
        // A truncated IIP leaves the previous parameters in place.
    }
}

bool IsdbtDecoder::FillParameters(IsdbtInfo& info) const
{
    if (mode_ < 1 || mode_ > 3)
        return false;
    // Data carriers per segment and useful symbol length (microseconds) by mode.
    static constexpr double kDataCarriers[] = {96.0, 192.0, 384.0};
    static constexpr double kSymbolUs[] = {252.0, 504.0, 1008.0};
    static constexpr double kGuardFraction[] = {1.0 / 32, 1.0 / 16, 1.0 / 8, 1.0 / 4};
    static constexpr double kBitsPerCarrier[] = {2.0, 2.0, 4.0, 6.0}; // DQPSK, QPSK, 16QAM, 64QAM
    static constexpr double kCodeRate[] = {1.0 / 2, 2.0 / 3, 3.0 / 4, 5.0 / 6, 7.0 / 8};

    uint32_t totalSegments = 0;
    info.mode = mode_;
    info.guardInterval = guardInterval_;
    info.partialReception = partialReception_;
    for (int i = 0; i < 3; ++i) {
        const LayerParameters& p = layers_[i];
        IsdbtLayer& layer = info.layers[i];
        layer = IsdbtLayer{};
        // Unused layers carry all-ones fields.
        if (p.segments == 15 || p.segments == 0)
            continue;
        if (p.modulation > 3 || p.codingRate > 4 || p.interleaving > 3 || p.segments > 13)
            return false;
        totalSegments += p.segments;
        layer.present = true;
        layer.segments = p.segments;
        layer.modulation = p.modulation;
        layer.codingRate = p.codingRate;
        layer.timeInterleaving = p.interleaving;
        const double symbolSeconds = kSymbolUs[mode_ - 1] * 1e-6 * (1.0 + kGuardFraction[guardInterval_]);
        const double segmentRate = kDataCarriers[mode_ - 1] * kBitsPerCarrier[p.modulation] *
                                   kCodeRate[p.codingRate] * (188.0 / 204.0) / symbolSeconds;
        layer.bitrate = static_cast<uint64_t>(segmentRate * p.segments);
    }
    return totalSegments > 0 && totalSegments <= 13;
}

void IsdbtDecoder::FillPidLayers(const PidInfoTable& pids, int64_t now, IsdbtInfo& info)
{
    constexpr int64_t kLayerWindow = 60 * kTicksPerSecond;
    const auto seenRecently = [now](int64_t lastSeen) { return lastSeen != kNoTime && now - lastSeen <= kLayerWindow; };
    info.pidLayers.fill(0);
    for (uint32_t pid = 0; pid < kPidCount; ++pid) {
        const PidInfoImpl* pidInfo = pids[pid].get();
        if (pidInfo == nullptr || pid == kNullPid)
            continue;
        uint8_t mask = 0;
        if (seenRecently(pidInfo->layerLastSeen[kIsdbtLayerA]))
            mask |= 1;
        if (seenRecently(pidInfo->layerLastSeen[kIsdbtLayerB]))
            mask |= 2;
        if (seenRecently(pidInfo->layerLastSeen[kIsdbtLayerC]))
            mask |= 4;
        info.pidLayers[pid] = mask;
    }
}

void IsdbtDecoder::Track(const uint8_t* packet, uint32_t size, SkPidInfo& info, int64_t time)
{
    if (size == kTsPacketSize) {
        OnPlainPacket();
        return;
    }
    const Trailer trailer = OnPacket(packet);
    if (!trailer.locked)
        return;
    info.layerLastSeen[trailer.layerSlot] = time;
    if (trailer.isIip)
        ParseIip(packet);
}

} // namespace SklibTs
