#include "ClientCallbacks.h"

namespace SklibTs {

void ClientCallbacks::AddPacket(PacketCallbackFn function, void* context)
{
    if (function != nullptr)
        packet_.push_back({function, context});
}

void ClientCallbacks::AddPid(uint16_t pid, PacketCallbackFn function, void* context)
{
    if (function == nullptr || pid >= kPidCount)
        return;
    pid_.push_back({pid, {function, context}});
    hasPidCallback_[pid] = true;
}

void ClientCallbacks::AddSection(uint16_t pid, uint8_t tableId, SectionCallbackFn function, void* context)
{
    if (function != nullptr)
        section_.push_back({pid, tableId, {function, context}});
}

void ClientCallbacks::AddAllSections(SectionCallbackFn function, void* context)
{
    if (function != nullptr)
        allSections_.push_back({function, context});
}

void ClientCallbacks::AddTable(const TableKey& filter, TableCallbackFn function, void* context)
{
    if (function != nullptr)
        table_.push_back({filter, {function, context}});
}

void ClientCallbacks::AddTableTimeout(const TableKey& filter, TableTimeoutCallbackFn function, void* context)
{
    if (function != nullptr)
        tableTimeout_.push_back({filter, {function, context}});
}

void ClientCallbacks::AddPes(int32_t pid, PesCallbackFn function, void* context)
{
    if (function != nullptr)
        pes_.push_back({pid, {function, context}});
}

void ClientCallbacks::AddAllPes(PesCallbackFn function, void* context)
{
    if (function != nullptr)
        allPes_.push_back({function, context});
}

void ClientCallbacks::NotifyPacket(uint32_t pid, const uint8_t* packet, uint32_t size, const int64_t* time) const
{
    for (const auto& callback : packet_)
        callback.function(callback.context, packet, size, time);
    if (!hasPidCallback_[pid])
        return;
    for (const auto& entry : pid_) {
        if (entry.pid == static_cast<int32_t>(pid))
            entry.callback.function(entry.callback.context, packet, size, time);
    }
}

void ClientCallbacks::NotifySection(uint32_t pid, uint8_t tableId, RawTableSection* section) const
{
    for (const auto& callback : allSections_)
        callback.function(callback.context, static_cast<uint16_t>(pid), tableId, section);
    for (const auto& entry : section_) {
        if (entry.pid == pid && entry.tableId == tableId)
            entry.callback.function(entry.callback.context, static_cast<uint16_t>(pid), tableId, section);
    }
}

void ClientCallbacks::NotifyTable(const TableKey& key, SkTable* table, bool changed) const
{
    for (const auto& entry : table_) {
        if (MatchKey(entry.filter, key))
            entry.callback.function(entry.callback.context, &key, table, changed ? 1 : 0);
    }
}

void ClientCallbacks::NotifyTableTimeout(const TableKey& key, int64_t deadline) const
{
    for (const auto& entry : tableTimeout_) {
        if (MatchKey(entry.filter, key))
            entry.callback.function(entry.callback.context, &key, deadline);
    }
}

void ClientCallbacks::NotifyPes(uint32_t pid, const uint8_t* data, uint32_t size) const
{
    for (const auto& callback : allPes_)
        callback.function(callback.context, static_cast<int32_t>(pid), data, size);
    for (const auto& entry : pes_) {
        if (entry.pid == static_cast<int32_t>(pid))
            entry.callback.function(entry.callback.context, static_cast<int32_t>(pid), data, size);
    }
}

} // namespace SklibTs
