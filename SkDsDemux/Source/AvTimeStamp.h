#pragma once
/// @file
/// The time-stamp record of an input sample, a PES or an output sample. Shared between the
/// streaming thread, the delivery threads and the host by shared pointer.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

struct AvTimeStamp {
    enum Kind : uint32_t { kInputSample = 0, kVideo = 1, kAudio = 2, kOther = 3 };
    enum StateCode : uint8_t { kReceived = 2, kStamped = 5, kNoOutputPin = 20, kDroppedLate = 22 };
    enum Flag : uint64_t {
        kFlagDiscontinuity = 0x1,
        kFlagFirstAfterNewOffset = 0x10,
        kFlagStampedWhilePaused = 0x20,
        kFlagDataLost = 0x80,
        kFlagTimeBaseNotLocked = 0x100,
    };

    explicit AvTimeStamp(uint32_t recordKind = kInputSample)
        : AvTimeStamp(recordKind, std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      std::chrono::steady_clock::now().time_since_epoch())
                                      .count())
    {
    }
    AvTimeStamp(uint32_t recordKind, int64_t createdAtNs) : kind(recordKind), createdNs(createdAtNs) {}

    int64_t dts = 0;
    int64_t pts = 0;
    int64_t pcrTime = 0;
    int64_t start = 0;
    int64_t dueNs = 0;
    int64_t reserved0 = 0;
    uint64_t flags = 0;
    std::array<char, 16> name{'M', 'e', 'd', 'i', 'a', 'S', 'a', 'm', 'p', 'l', 'e', 0};
    std::wstring text;
    uint32_t kind;
    uint32_t sequence = 0;
    int32_t reserved1 = -1;
    uint32_t sampleNumberCopy = 0;
    int32_t sampleNumber = 0;
    int64_t createdNs;
    std::array<int64_t, 2> reserved2{};
    int64_t clockToStreamOffset = 0;
    int64_t rawPcrOffset = 0;
    std::array<int64_t, 3> reserved3{};
    int64_t stampedNs = 0;
    std::array<int64_t, 7> reserved4{};
    uint32_t queueLength = 0;
    std::array<uint8_t, 28> reserved5{};
    uint8_t state = 0;
    uint8_t generation = 0;
    std::array<int64_t, 5> reserved6{0, 0, 0, 1, 0};
    bool stamped = false;
};

/// The host's time-stamp provider, attached to filters through ISkDsAvTimeStamp. It is called from
/// the streaming thread and from every output pin's delivery thread at once, so it must be
/// thread-safe, and it must outlive every filter it is attached to.
struct AvTimeStampProvider {
    /// Fills record with a new record. parent is null for the record of an input sample and the
    /// record of the PES or sample a new one is derived from otherwise.
    virtual void CreateRecord(std::shared_ptr<AvTimeStamp>& record, const std::shared_ptr<AvTimeStamp>& parent,
                              uint32_t sequence, int32_t sampleNumber, uint32_t kind) = 0;
    /// Called for every delivered media sample with 0 for a video record and 1 otherwise.
    virtual void OnMediaSample(int32_t videoOrOther, const std::shared_ptr<AvTimeStamp>& record) = 0;

protected:
    ~AvTimeStampProvider() = default;
};
