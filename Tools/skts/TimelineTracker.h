#pragma once
// What changes in a stream's life, as events beside the indicator reports: PCR discontinuities
// (signalled or not) and wraps per PCR PID, PTS wraps per PID, PAT and PMT changes with what
// changed, PIDs appearing and vanishing, and the sync lost and found again. Every event names
// the packet (index and byte offset) where it was found, and gives raw values with the values
// continued across wraps.
#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <vector>

#include "EventCoalescer.h"
#include "SkTsInfo.h"
#include "SkTsPacketInput.h"

namespace Skts {

class TimelineTracker {
public:
    using Sink = std::function<void(AnalyserEvent)>;

    // A PID is gone when it has been silent this long, and three times its longest gap so far.
    static constexpr int64_t kMinSilenceTicks = SklibTs::kTicksPerSecond;
    // A PCR step forward of at most this is the clock running on; longer is a jump.
    static constexpr int64_t kMaxPcrStep = 100 * SklibTs::kPcrTicksPerMillisecond;

    TimelineTracker(SklibTs::SkTsInfo& analyser, const SklibTs::SkTsPacketInputEx& input, Sink sink);
    TimelineTracker(const TimelineTracker&) = delete;
    TimelineTracker& operator=(const TimelineTracker&) = delete;

    // Nothing is thrown through the analyser: a failure is kept and rethrown after the write.
    bool Failed() const { return failure_ != nullptr; }
    void RethrowFailure() const
    {
        if (failure_)
            std::rethrow_exception(failure_);
    }

private:
    struct PcrTrack {
        bool known = false;
        int64_t raw = 0;   // 27 MHz, as in the packet
        int64_t wraps = 0; // times the clock passed its modulus
    };
    struct PtsTrack {
        bool known = false;
        int64_t unwrapped = 0; // 90 kHz, continued across wraps
        int64_t epoch = 0;     // the highest number of wraps reached
    };
    struct PidPresence {
        bool present = false;
        uint64_t packets = 0;
        int64_t lastTime = 0;
        int64_t longestGap = 0;
    };
    struct ProgramTable {
        int32_t version = -1;
        int32_t pcrPid = -1;
        std::map<uint32_t, int32_t> streams; // elementary PID -> stream_type
    };

    static void OnPacket(void* context, const uint8_t* packet, uint32_t size, const int64_t* time);
    static void OnPat(void* context, const SklibTs::TableKey* key, SklibTs::SkTable* table, uint16_t changed);
    static void OnPmt(void* context, const SklibTs::TableKey* key, SklibTs::SkTable* table, uint16_t changed);
    static void OnSyncReport(void* context, uint32_t index, const SklibTs::IndicatorRecord& record);
    static void OnSyncState(void* context, uint32_t index, const SklibTs::IndicatorRecord& record);

    void Packet(const uint8_t* packet, uint32_t size, int64_t time);
    void Pcr(uint32_t pid, int64_t pcr, bool signalled);
    void Pts(uint32_t pid, const uint8_t* payload, uint32_t size);
    void Presence(uint32_t pid, int64_t time);
    void LookForSilentPids(int64_t now);
    void Emit(const char* name, std::string message, double value, nlohmann::json details);
    void Pat(const SklibTs::SkTable& table);
    void Pmt(const SklibTs::TableKey& key, const SklibTs::SkTable& table);
    void SyncLost(const SklibTs::IndicatorRecord& record);
    void SyncState(const SklibTs::IndicatorRecord& record);
    template <typename Fn>
    void Guarded(Fn&& fn) noexcept
    {
        if (failure_)
            return;
        try {
            fn();
        } catch (...) {
            failure_ = std::current_exception();
        }
    }

    SklibTs::SkTsInfo& analyser_;
    const SklibTs::SkTsPacketInputEx& input_;
    Sink sink_;
    int64_t now_ = 0;
    int64_t nextSilenceCheck_ = SklibTs::kNoTime;
    std::vector<PcrTrack> pcr_;
    std::vector<PtsTrack> pts_;
    std::vector<PidPresence> pids_;
    bool patKnown_ = false;
    int32_t patVersion_ = -1;
    std::map<uint32_t, uint32_t> patPrograms_;     // program_number -> PMT PID
    std::map<uint32_t, ProgramTable> pmts_;        // by program_number
    bool syncLost_ = false;
    SklibTs::SkTsPacketInputEx::PacketPosition lostAt_;
    std::exception_ptr failure_;
};

} // namespace Skts
