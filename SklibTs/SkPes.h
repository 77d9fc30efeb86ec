#pragma once
#include <cstdint>
#include <memory>
#include <utility>

namespace SklibTs {

class SkTp;

/// One PES packet assembled from the payloads of consecutive transport packets of a PID, with
/// access to its header, payload, stream_id and time stamps.
class SkPes {
public:
    /// The bytes of a PES: either a growable block it owns or memory it only wraps.
    class DataBuffer {
    public:
        /// Wraps `capacity` bytes at `data` (not owned); null data gives an owned, growable block.
        DataBuffer(uint8_t* data, int32_t capacity);
        virtual ~DataBuffer();
        DataBuffer(const DataBuffer&) = delete;
        DataBuffer& operator=(const DataBuffer&) = delete;

        /// newSize on success; -1 when the buffer does not own its data.
        int32_t Resize(int32_t newSize);
        /// Empties an owned buffer as a new one is (no capacity) but keeps its block, so it
        /// grows into it again without allocating; a block over keepBytes is freed.
        void Recycle(int32_t keepBytes);
        /// Bytes of the owned block (at least capacity); 0 when it owns none.
        int32_t Reserved() const { return reserved_; }

        uint8_t* data = nullptr; ///< the bytes
        int32_t capacity = 0;    ///< bytes usable at data
        bool owned = false;      ///< the block is the buffer's own (and can grow)

    private:
        static constexpr int32_t kMaxReserve = 0x800000;
        std::unique_ptr<uint8_t[]> storage_;
        int32_t reserved_ = 0; ///< size of storage_, at least capacity
    };

    /// Where assembly stands (GetState()).
    enum State : uint32_t {
        kIdle = 0,       ///< waiting for a packet with payload_unit_start_indicator
        kAssembling = 1, ///< started, not complete
        kComplete = 2,   ///< complete: PES_packet_length reached or the next PES started
    };
    static constexpr int32_t kIdleCapacity = 32768; ///< bytes kept by an idle growable PES
    static constexpr int32_t kGrowthStep = 8192;    ///< the capacity grows in multiples of this
    static constexpr int32_t kMaxCapacity = 0x800000; ///< 8 MiB

    /// SkPes(nullptr, 0, 0) is the empty growable form; a buffer with a length wraps a PES.
    SkPes(uint8_t* data, int32_t capacity, int32_t length);
    virtual ~SkPes() = default;

    /// Adds one packet; true when the PES is complete. pending is set when the packet was not
    /// taken because it belongs to the next PES. A packet before the first payload unit start
    /// is not taken; a PES that would pass kMaxCapacity is dropped (back to kIdle).
    bool AddTp(const SkTp& tp, bool& pending);
    /// AddTp() for a caller that does not need `pending`.
    bool AddTp(const SkTp& tp);
    /// Empties the PES for the next one.
    void Reset();
    /// Empties the PES into the state of a new one: no bytes, no capacity, kIdle. Unlike
    /// Reset(), which shrinks the block to kIdleCapacity, the owned block is kept up to
    /// keepBytes, so a PES assembled next in it allocates nothing while it fits. For owners
    /// that recycle PES objects and bound what they keep idle themselves.
    void Recycle(int32_t keepBytes = kMaxCapacity);
    /// Bytes of the owned block kept for assembly (0 for a wrapping PES or none yet).
    int32_t ReservedBytes() const { return buffer_.owned ? buffer_.Reserved() : 0; }

    /// stream_id, or -1 before 4 bytes are in.
    int32_t GetStreamId() const;
    /// Whether PES packets of this stream_id carry the optional header (flags, PTS, DTS).
    static bool HasOptionalHeader(int32_t streamId);
    /// The header (start code to the end of the optional header) and its size; null (size 0)
    /// without a start code or while the header is incomplete.
    const uint8_t* GetHeader(uint32_t& size) const;
    /// The payload after the header and its size; null (size 0) when GetHeader() gives none.
    const uint8_t* GetPayload(uint32_t& size) const;
    /// (dts, pts) in 90 kHz units, INT64_MIN when absent.
    std::pair<int64_t, int64_t> GetTimeStamps() const;

    uint32_t GetState() const { return state_; }               ///< a State value
    int32_t Length() const { return length_; }                 ///< bytes assembled
    int32_t Capacity() const { return buffer_.capacity; }      ///< bytes of room
    const uint8_t* Data() const { return buffer_.data; }       ///< the bytes assembled

private:
    void Discard();

    uint32_t state_;
    DataBuffer buffer_;
    int32_t length_;
};

} // namespace SklibTs
