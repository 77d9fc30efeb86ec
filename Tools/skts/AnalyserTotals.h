#pragma once
// Counts that cover the whole input although the analyser starts afresh when the stream's
// transport_stream_id changes. The analyser forgets its counters on that reset; this follows
// the PAT sections that cause it, keeps what the finished part counted and records each
// change (packet index, time, old and new id).
#include <cstdint>
#include <functional>
#include <vector>

#include "SkTsInfo.h"

namespace SklibTs {
class RawTableSection;
class SkTable;
struct TableKey;
} // namespace SklibTs

namespace Skts {

struct TransportStreamChange {
    uint64_t packet = 0; // 0-based index in the whole input of the packet that completed the PAT
    int64_t time = 0;    // analyser time of that packet
    int32_t oldId = -1;
    int32_t newId = -1;
};

class AnalyserTotals {
public:
    using ChangeFn = std::function<void(const TransportStreamChange&)>;
    // The summary lists this many changes; more are only counted (and written as events).
    static constexpr size_t kMaxListedChanges = 1000;

    // Registers with the analyser; onChange (may be empty) hears of every reset as it happens.
    explicit AnalyserTotals(SklibTs::SkTsInfo& analyser, ChangeFn onChange = {});
    AnalyserTotals(const AnalyserTotals&) = delete;
    AnalyserTotals& operator=(const AnalyserTotals&) = delete;

    // Totals over the whole input; read with the analyser's lock held or between writes.
    uint64_t Packets() const { return finished_.packets + analyser_.packetsProcessed; }
    uint64_t SyncByteErrors() const { return finished_.syncByteErrors + analyser_.syncByteErrors; }
    uint64_t TransportErrors() const { return finished_.transportErrors + analyser_.transportErrors; }
    uint64_t TablesDropped() const { return finished_.tablesDropped + analyser_.tablesDropped; }
    // Bytes that reached the analyser as packets.
    uint64_t PacketBytes() const { return finished_.packetBytes + analyser_.packetsProcessed * analyser_.packetSize; }
    uint64_t ChangeCount() const { return changeCount_; }
    const std::vector<TransportStreamChange>& Changes() const { return changes_; }

private:
    struct Counts {
        uint64_t packets = 0;
        uint64_t syncByteErrors = 0;
        uint64_t transportErrors = 0;
        uint64_t tablesDropped = 0;
        uint64_t packetBytes = 0;
    };

    static void OnSection(void* context, uint16_t pid, uint8_t tableId, SklibTs::RawTableSection* section);
    static void OnTable(void* context, const SklibTs::TableKey* key, SklibTs::SkTable* table, uint16_t changed);
    Counts Current() const;

    SklibTs::SkTsInfo& analyser_;
    ChangeFn onChange_;
    Counts finished_;
    // Taken at every PAT section, just before the analyser may reset for it.
    Counts beforePat_;
    int32_t idBeforePat_ = -1;
    int64_t patTime_ = 0;
    uint64_t changeCount_ = 0;
    std::vector<TransportStreamChange> changes_;
};

} // namespace Skts
