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
        DataBuffer(uint8_t* data, int32_t capacity);
        virtual ~DataBuffer();
        DataBuffer(const DataBuffer&) = delete;
        DataBuffer& operator=(const DataBuffer&) = delete;

        /// newSize on success; -1 when the buffer does not own its data.
        int32_t Resize(int32_t newSize);

        uint8_t* data = nullptr;
        int32_t capacity = 0;
        bool owned = false;

    private:
        static constexpr int32_t kMaxReserve = 0x800000;
        std::unique_ptr<uint8_t[]> storage_;
        int32_t reserved_ = 0; ///< size of storage_, at least capacity
    };

    enum State : uint32_t { kIdle = 0, kAssembling = 1, kComplete = 2 };
    static constexpr int32_t kIdleCapacity = 32768;
    static constexpr int32_t kGrowthStep = 8192;
    static constexpr int32_t kMaxCapacity = 0x800000; ///< 8 MiB

    /// SkPes(nullptr, 0, 0) is the empty growable form; a buffer with a length wraps a PES.
    SkPes(uint8_t* data, int32_t capacity, int32_t length);
    virtual ~SkPes() = default;

    /// Adds one packet; true when the PES is complete. pending is set when the packet was not
    /// taken because it belongs to the next PES.
    bool AddTp(const SkTp& tp, bool& pending);
    bool AddTp(const SkTp& tp);
    void Reset();

    int32_t GetStreamId() const;
    static bool HasOptionalHeader(int32_t streamId);
    const uint8_t* GetHeader(uint32_t& size) const;
    const uint8_t* GetPayload(uint32_t& size) const;
    /// (dts, pts) in 90 kHz units, INT64_MIN when absent.
    std::pair<int64_t, int64_t> GetTimeStamps() const;

    uint32_t GetState() const { return state_; }
    int32_t Length() const { return length_; }
    int32_t Capacity() const { return buffer_.capacity; }
    const uint8_t* Data() const { return buffer_.data; }

private:
    void Discard();

    uint32_t state_;
    DataBuffer buffer_;
    int32_t length_;
};

} // namespace SklibTs
