#pragma once
// The analyser's client callbacks for packets, sections, tables, table timeouts and PES
// packets: registered in order, called in order, never removed. A null function is ignored.
#include <array>
#include <cstdint>
#include <vector>

#include "SkTsInfo.h"
#include "TableKey.h"

namespace SklibTs {

class ClientCallbacks {
public:
    void AddPacket(PacketCallbackFn function, void* context);
    void AddPid(uint16_t pid, PacketCallbackFn function, void* context);
    void AddSection(uint16_t pid, uint8_t tableId, SectionCallbackFn function, void* context);
    void AddAllSections(SectionCallbackFn function, void* context);
    void AddTable(const TableKey& filter, TableCallbackFn function, void* context);
    void AddTableTimeout(const TableKey& filter, TableTimeoutCallbackFn function, void* context);
    void AddPes(int32_t pid, PesCallbackFn function, void* context);
    void AddAllPes(PesCallbackFn function, void* context);

    // Every packet callback, then those of the PID.
    void NotifyPacket(uint32_t pid, const uint8_t* packet, uint32_t size, const int64_t* time) const;
    // The all-sections callbacks, then those of the PID and table_id.
    void NotifySection(uint32_t pid, uint8_t tableId, RawTableSection* section) const;
    void NotifyTable(const TableKey& key, SkTable* table, bool changed) const;
    void NotifyTableTimeout(const TableKey& key, int64_t deadline) const;
    // The all-PES callbacks, then those of the PID.
    void NotifyPes(uint32_t pid, const uint8_t* data, uint32_t size) const;

private:
    template <typename Fn>
    struct ForPid {
        int32_t pid;
        Callback<Fn> callback;
    };
    struct ForSection {
        uint16_t pid;
        uint8_t tableId;
        Callback<SectionCallbackFn> callback;
    };
    template <typename Fn>
    struct ForKey {
        TableKey filter;
        Callback<Fn> callback;
    };

    std::vector<Callback<PacketCallbackFn>> packet_;
    std::vector<ForPid<PacketCallbackFn>> pid_;
    std::array<bool, kPidCount> hasPidCallback_{};
    std::vector<Callback<SectionCallbackFn>> allSections_;
    std::vector<ForSection> section_;
    std::vector<ForKey<TableCallbackFn>> table_;
    std::vector<ForKey<TableTimeoutCallbackFn>> tableTimeout_;
    std::vector<Callback<PesCallbackFn>> allPes_;
    std::vector<ForPid<PesCallbackFn>> pes_;
};

} // namespace SklibTs
