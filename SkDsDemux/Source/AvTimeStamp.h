#pragma once
/// @file
/// The time-stamp record of an input sample, a PES or an output sample. Shared between the
/// streaming thread, the delivery threads and the host by shared pointer.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

/// A time-stamp record: what the filter knew when it took in a sample, completed a PES or
/// delivered a piece of it. The host's provider creates them (AvTimeStampProvider) and is handed
/// them back on delivery. Times: 90 kHz for PTS, DTS and PCR time; REFERENCE_TIME (100 ns) for
/// stream times; the steady clock in nanoseconds for the ...Ns fields.
struct AvTimeStamp {
    /// What the record describes.
    enum Kind : uint32_t {
        kInputSample = 0, ///< an input sample
        kVideo = 1,       ///< a PES or output sample of a video pin
        kAudio = 2,       ///< of an audio pin
        kOther = 3,       ///< of any other pin
    };
    /// How far the record got (`state`).
    enum StateCode : uint8_t {
        kReceived = 2,     ///< the input sample was taken in
        kStamped = 5,      ///< the PES got its times
        kNoOutputPin = 20, ///< no pin delivers the PES
        kDroppedLate = 22, ///< dropped from a delivery queue at a flush or stop
    };
    /// Bits of `flags`.
    enum Flag : uint64_t {
        kFlagDiscontinuity = 0x1,        ///< the sample follows a gap
        kFlagFirstAfterNewOffset = 0x10, ///< first PES after the stream-time offset changed
        kFlagStampedWhilePaused = 0x20,  ///< stamped while the graph was paused
        kFlagDataLost = 0x80,            ///< packets of the PES were lost
        kFlagTimeBaseNotLocked = 0x100,  ///< the engine's time base was not locked
    };

    /// A record of `recordKind` created now.
    explicit AvTimeStamp(uint32_t recordKind = kInputSample)
        : AvTimeStamp(recordKind, std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      std::chrono::steady_clock::now().time_since_epoch())
                                      .count())
    {
    }
    /// A record of `recordKind` created at `createdAtNs` (steady clock).
    AvTimeStamp(uint32_t recordKind, int64_t createdAtNs) : kind(recordKind), createdNs(createdAtNs) {}

    int64_t dts = 0;       ///< of the PES, 90 kHz (the PTS when it has no DTS)
    int64_t pts = 0;       ///< of the PES, 90 kHz; INT64_MIN when it has none
    int64_t pcrTime = 0;   ///< PesData::pcrTime
    int64_t start = 0;     ///< stream time of the sample, REFERENCE_TIME
    int64_t dueNs = 0;     ///< when the PES is due for delivery, steady clock
    int64_t reserved0 = 0; ///< unused: keeps the record's layout
    uint64_t flags = 0;    ///< Flag bits
    std::array<char, 16> name{'M', 'e', 'd', 'i', 'a', 'S', 'a', 'm', 'p', 'l', 'e', 0}; ///< a label for the host's logs
    std::wstring text;     ///< free text for the host
    uint32_t kind;         ///< a Kind value
    uint32_t sequence = 0; ///< the provider's sequence number; also the media times of output samples
    int32_t reserved1 = -1; ///< unused: keeps the record's layout
    uint32_t sampleNumberCopy = 0; ///< sampleNumber of the input sample it derives from
    int32_t sampleNumber = 0;      ///< number of the sample (input) or piece (output)
    int64_t createdNs;     ///< creation, steady clock
    std::array<int64_t, 2> reserved2{}; ///< unused: keeps the record's layout
    int64_t clockToStreamOffset = 0; ///< steady clock to stream time offset when stamped, REFERENCE_TIME
    int64_t rawPcrOffset = 0;        ///< PCR offset when stamped, REFERENCE_TIME
    std::array<int64_t, 3> reserved3{}; ///< unused: keeps the record's layout
    int64_t stampedNs = 0; ///< when the times were set, steady clock
    std::array<int64_t, 7> reserved4{}; ///< unused: keeps the record's layout
    uint32_t queueLength = 0;        ///< the delivery queue's length when queued
    std::array<uint8_t, 28> reserved5{}; ///< unused: keeps the record's layout
    uint8_t state = 0;     ///< a StateCode
    uint8_t generation = 0;          ///< the filter's time-base generation when stamped
    std::array<int64_t, 5> reserved6{0, 0, 0, 1, 0}; ///< unused: keeps the record's layout
    bool stamped = false;  ///< the times are set
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
