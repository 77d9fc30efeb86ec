// Table bookkeeping of the analyser: section collection per PID, tables under assembly and
// stored by key, table deadlines, classification and the dispatch to the table handlers.
#include <algorithm>

#include "TableClass.h"
#include "TsInfoImpl.h"

namespace SklibTs {

void TsInfoImpl::ResetTables()
{
    sections_.Clear();
    rawTables_.clear();
    tables.clear();
    deadlines_.Clear();
    tableLastSeen_.clear();
    tableBudget_.Clear();
}

void TsInfoImpl::KeepTableBudget(const TableKey& key)
{
    const auto raw = rawTables_.find(key);
    const auto stored = tables.find(key);
    tableBudget_.Touch(key, TableBudget::SectionBytes(raw != rawTables_.end() ? raw->second.get() : nullptr) +
                                TableBudget::SectionBytes(stored != tables.end() ? stored->second.get() : nullptr));
    while (const auto victim = tableBudget_.Victim(key))
        DropTable(*victim);
}

void TsInfoImpl::DropTable(const TableKey& key)
{
    ExpireTable(key);
    rawTables_.erase(key);
    deadlines_.Remove(key);
    tableLastSeen_.erase(key);
    tableBudget_.Forget(key);
    ++tablesDropped;
}

void TsInfoImpl::OnSection(void* context, uint32_t pid, std::unique_ptr<RawTableSection> section)
{
    auto* self = static_cast<TsInfoImpl*>(context);
    section->receive_time = self->now_;
    self->callbacks_.NotifySection(pid, section->data[0], section.get());
    self->StoreSection(pid, std::move(section));
}

void TsInfoImpl::StoreSection(uint32_t pid, std::unique_ptr<RawTableSection> section)
{
    const int64_t time = now_;
    TableKey key;
    int32_t sectionNumber = 0;
    if (!section->ParseHeader(static_cast<uint16_t>(pid), key, sectionNumber, static_cast<SiStandard>(siStandard))) {
        sections_.Recycle(std::move(section));
        return;
    }
    checks_.CheckSection(key, sectionNumber, section->data, section->length, now_);
    tableLastSeen_[key] = time;
    if (!section->current_next_indicator) {
        sections_.Recycle(std::move(section));
        KeepTableBudget(key);
        return;
    }

    RawTable& raw = RawTableFor(key);
    const bool restart = raw.version_number != section->version_number ||
                         sectionNumber > raw.last_section_number ||
                         raw.last_section_number != section->last_section_number;
    if (restart) {
        RecycleSections(raw);
        raw.version_number = section->version_number;
        raw.last_section_number = section->last_section_number;
    }
    raw.sections[sectionNumber].reset(section.release());
    if (!raw.IsComplete()) {
        KeepTableBudget(key);
        return;
    }

    auto completed = rawTables_.extract(key);
    CompleteTable(key, *completed.mapped(), time);
    RecycleSections(*completed.mapped());
    completed.mapped()->last_section_number = -1; // as a new table: Clear keeps it
    spareRawTable_ = std::move(completed);
    KeepTableBudget(key);
}

RawTable& TsInfoImpl::RawTableFor(const TableKey& key)
{
    const auto found = rawTables_.lower_bound(key);
    if (found != rawTables_.end() && !(key < found->first))
        return *found->second;
    if (spareRawTable_) {
        spareRawTable_.key() = key;
        return *rawTables_.insert(found, std::move(spareRawTable_))->second;
    }
    return *rawTables_.emplace_hint(found, key, std::make_unique<RawTable>())->second;
}

void TsInfoImpl::RecycleSections(RawTable& raw)
{
    const int32_t used = raw.SlotsInUse();
    for (int32_t i = 0; i < used; ++i) {
        std::unique_ptr<SkTableSection>& slot = raw.sections[i];
        if (dynamic_cast<RawTableSection*>(slot.get()) != nullptr)
            sections_.Recycle(std::unique_ptr<RawTableSection>(static_cast<RawTableSection*>(slot.release())));
    }
    raw.Clear();
}

void TsInfoImpl::CompleteTable(const TableKey& key, const RawTable& raw, int64_t time)
{
    const auto previous = tables.find(key);
    const bool existed = previous != tables.end();
    const bool changed = existed && !(*previous->second == raw);
    deadlines_.Set(key, time);

    // Most tables repeat unchanged several times a second: the stored copy stays and takes the
    // new times. A new or changed table is copied.
    std::unique_ptr<SkTable> copy;
    if (existed && !changed)
        TakeTimes(*previous->second, raw, time);
    else
        copy = CopyOf(raw, time);
    const int32_t tableClass = ClassifyTable(key, siStandard);
    ApplyTable(tableClass, key, copy ? *copy : *previous->second);
    if (tableClass != TableClass::kNone)
        PidInfoFor(key.pid).tableClassMask |= TableClassBit(tableClass);

    // Applying a table can reset the analyser, which empties the store.
    std::unique_ptr<SkTable>& stored = tables[key];
    if (copy)
        stored = std::move(copy);
    else if (!stored)
        stored = CopyOf(raw, time);
    checks_.CheckTable(key, now_);
    callbacks_.NotifyTable(key, stored.get(), changed);
}

std::unique_ptr<SkTable> TsInfoImpl::CopyOf(const RawTable& raw, int64_t time)
{
    auto copy = std::make_unique<SkTable>(raw);
    copy->completion_time = time;
    return copy;
}

void TsInfoImpl::TakeTimes(SkTable& stored, const RawTable& raw, int64_t time)
{
    stored.completion_time = time;
    const int32_t used = raw.SlotsInUse();
    for (int32_t i = 0; i < used; ++i) {
        if (raw.sections[i] && stored.sections[i])
            stored.sections[i]->receive_time = raw.sections[i]->receive_time;
    }
}

void TsInfoImpl::ApplyTable(int32_t tableClass, const TableKey& key, const SkTable& table)
{
    switch (tableClass) {
    case TableClass::kPat: ApplyPat(table); break;
    case TableClass::kCat: ApplyCat(table); break;
    case TableClass::kPmt: ApplyPmt(key, table); break;
    case TableClass::kNitActual: ApplyNitActual(table); break;
    case TableClass::kSdtActual: ApplySdtActual(table); break;
    case TableClass::kMgt: ApplyMgt(table); break;
    default: break; // virtual channel tables carry nothing the analyser keeps
    }
}

bool TsInfoImpl::HasStoredTableOfClass(uint32_t pid, int32_t tableClass, const TableKey& except) const
{
    for (const auto& [key, table] : tables) {
        if (key.pid == pid && !(key == except) && ClassifyTable(key, siStandard) == tableClass)
            return true;
    }
    return false;
}

void TsInfoImpl::ExpireTable(const TableKey& key)
{
    const auto stored = tables.find(key);
    if (stored == tables.end())
        return;
    const int32_t tableClass = ClassifyTable(key, siStandard);
    switch (tableClass) {
    case TableClass::kPat:
        while (!programs.empty())
            RemoveProgram(programs.begin()->first);
        break;
    case TableClass::kCat:
        DropEmmList();
        break;
    case TableClass::kPmt: {
        const auto program = programs.find(static_cast<int32_t>(key.table_id_extension));
        if (program != programs.end() && program->second.pmt_pid == static_cast<int32_t>(key.pid))
            DropProgramStreams(program->second);
        break;
    }
    case TableClass::kNitActual:
        network = NetworkInfo{};
        break;
    case TableClass::kSdtActual:
        ClearServiceInformation();
        break;
    default:
        break;
    }
    tables.erase(stored);
    const auto raw = rawTables_.find(key);
    tableBudget_.Resize(key, TableBudget::SectionBytes(raw != rawTables_.end() ? raw->second.get() : nullptr));
    if (tableClass != TableClass::kNone && key.pid < kPidCount && pidImpl_[key.pid] &&
        !HasStoredTableOfClass(key.pid, tableClass, key))
        pidImpl_[key.pid]->tableClassMask &= ~(TableClassBit(tableClass));
}

} // namespace SklibTs
