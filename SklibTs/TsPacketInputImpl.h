#pragma once
#include <array>
#include <cstdint>

#include "SkTsPacketInput.h"

namespace SklibTs {

class TsPacketInputImpl final : public SkTsPacketInputEx {
public:
    static constexpr int32_t kDefaultBitrate = 10'000'000;
    // Five sync bytes at 204-byte spacing need 817 bytes after the first; a search runs once
    // 1021 bytes are at hand so that a 204-byte match can be checked at every one of 205 starts.
    static constexpr uint32_t kSearchWindow = 818;
    static constexpr uint32_t kSearchThreshold = 1021;

    TsPacketInputImpl(SkTsInfo* analyser, int32_t bitrate);

    void Write(const uint8_t* bytes, uint32_t count) override;
    int32_t SetBitrate(int32_t bitrate) override;
    void WriteAt(const uint8_t* bytes, uint32_t count, int64_t time) override;
    PacketPosition CurrentPacket() const override { return current_; }

    int64_t Now() const { return now_; }

private:
    // Returns how many bytes to drop from the front of the buffer.
    uint32_t SearchSync();
    // Delivers whole packets from bytes while in sync; returns the bytes delivered.
    uint32_t DeliverPackets(const uint8_t* bytes, uint32_t count);
    void AdvanceTime(uint32_t bytes);
    void Append(const uint8_t*& bytes, uint32_t& count, uint32_t maxBytes);
    void DropFront(uint32_t bytes);

    SkTsInfo* analyser_;
    int32_t bitrate_;
    std::array<uint8_t, 2048> buffer_{};
    uint32_t held_ = 0;
    int64_t now_ = 0;
    int64_t base_ = 0;
    int64_t bits_ = 0;
    int32_t badSyncs_ = 0;
    // Bytes that have left the input: delivered in packets or dropped by the sync search.
    uint64_t consumed_ = 0;
    uint64_t delivered_ = 0; // packets handed to the analyser
    PacketPosition current_;
    // Set for the duration of a WriteAt: the time every packet it completes gets.
    bool arrivalGiven_ = false;
    int64_t arrival_ = 0;
};

} // namespace SklibTs
