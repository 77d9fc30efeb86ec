// Program following: the PAT, CAT, PMT, SDT actual, NIT actual and MGT handlers that turn
// complete tables into the program map, PID references, stream kinds and service names.
#include <algorithm>

#include "Descriptor.h"
#include "ServiceInformation.h"
#include "SkTableCat.h"
#include "SkTableMgt.h"
#include "SkTableNit.h"
#include "SkTablePat.h"
#include "SkTablePmt.h"
#include "SkTableSdt.h"
#include "StreamKind.h"
#include "StreamRecord.h"
#include "TableClass.h"
#include "TsInfoImpl.h"
#include "Utf8Text.h"

namespace SklibTs {

void TsInfoImpl::AddReference(uint32_t pid, PidReferenceKind kind, int32_t programNumber)
{
    if (pid >= kPidCount)
        return;
    references_.Add(pid, kind);
    if (programNumber >= 0)
        PidInfoFor(pid).programs.insert(programNumber);
}

void TsInfoImpl::RemoveReference(uint32_t pid, PidReferenceKind kind, int32_t programNumber)
{
    if (pid >= kPidCount)
        return;
    references_.Remove(pid, kind);
    if (programNumber < 0 || !pidImpl_[pid])
        return;
    // The PID stays the program's while the program still refers to it in another way.
    const auto program = programs.find(programNumber);
    if (program == programs.end() || !program->second.RefersTo(pid))
        pidImpl_[pid]->programs.erase(programNumber);
}

void TsInfoImpl::DropProgramStreams(Program& program)
{
    const int32_t number = program.program_number;
    const int32_t pcrPid = program.pcr_pid;
    const std::vector<CaEntry> caEntries = std::move(program.caEntries);
    const std::vector<ElementaryStream> streams = std::move(program.streams);
    program.pcr_pid = -1;
    program.caEntries.clear();
    program.streams.clear();
    program.programKind = kProgramOther;
    if (pcrPid >= 0)
        RemoveReference(static_cast<uint32_t>(pcrPid), kRefPcr, number);
    const auto dropEcm = [&](const CaEntry& entry) {
        RemoveReference(entry.ca_pid, kRefCa, number);
        if (PidInfoImpl* info = pidImpl_[entry.ca_pid & kNullPid].get(); info && info->ecmCount > 0) {
            if (--info->ecmCount == 0)
                info->tableClassMask &= ~(TableClassBit(TableClass::kEcm));
        }
    };
    for (const CaEntry& entry : caEntries)
        dropEcm(entry);
    for (const ElementaryStream& stream : streams) {
        RemoveReference(stream.elementary_pid, kRefElementaryStream, number);
        for (const CaEntry& entry : stream.caEntries)
            dropEcm(entry);
        ForgetPmtStreamType(stream.elementary_pid);
    }
}

void TsInfoImpl::ForgetPmtStreamType(uint32_t pid)
{
    PidInfoImpl* info = pidImpl_[pid & kNullPid].get();
    if (info == nullptr)
        return;
    info->checks.pmtStreamType = -1;
    for (const auto& [number, program] : programs) {
        for (const ElementaryStream& stream : program.streams) {
            if (stream.elementary_pid == pid)
                info->checks.pmtStreamType = stream.stream_type;
        }
    }
}

void TsInfoImpl::AddProgram(int32_t programNumber, int32_t pmtPid)
{
    Program program;
    program.program_number = programNumber;
    program.pmt_pid = pmtPid;
    programs[programNumber] = std::move(program);
    AddReference(static_cast<uint32_t>(pmtPid), kRefPmt, programNumber);
    checks_.ForgetUnreferencedPid(static_cast<uint32_t>(pmtPid));
    // The program's PMT is expected from now on.
    const TableKey pmtKey{static_cast<uint32_t>(pmtPid), 0x02, static_cast<uint32_t>(programNumber), TableKey::kAny,
                          TableKey::kAny};
    tableLastSeen_[pmtKey] = now_;
}

void TsInfoImpl::RemoveProgram(int32_t programNumber)
{
    const auto it = programs.find(programNumber);
    if (it == programs.end())
        return;
    DropProgramStreams(it->second);
    const uint32_t pmtPid = static_cast<uint32_t>(it->second.pmt_pid);
    programs.erase(it);
    RemoveReference(pmtPid, kRefPmt, programNumber);
}

void TsInfoImpl::ReapplyProgramTables()
{
    for (const auto& [key, table] : tables) {
        const int32_t tableClass = ClassifyTable(key, siStandard);
        if (tableClass == TableClass::kPmt || tableClass == TableClass::kSdtActual || tableClass == TableClass::kTvct ||
            tableClass == TableClass::kCvct)
            ApplyTable(tableClass, key, *table);
    }
}

void TsInfoImpl::ApplyPat(const SkTable& table)
{
    SkTablePat pat;
    pat.Parse(&table);
    if (pat.transport_stream_id != transportStreamId) {
        // A different transport stream: forget everything learnt from the previous one.
        if (transportStreamId != -1)
            Reset();
        transportStreamId = pat.transport_stream_id;
    }

    std::map<int32_t, int32_t> listed;
    for (const auto& entry : pat.programs) {
        if (entry.program_number == 0)
            references_.MoveNitPid(static_cast<int32_t>(entry.pid));
        else
            listed[static_cast<int32_t>(entry.program_number)] = static_cast<int32_t>(entry.pid);
    }

    bool changed = false;
    for (auto it = programs.begin(); it != programs.end();) {
        const int32_t number = it->first;
        ++it;
        if (!listed.count(number)) {
            RemoveProgram(number);
            changed = true;
        }
    }
    for (const auto& [number, pmtPid] : listed) {
        const auto existing = programs.find(number);
        if (existing != programs.end() && existing->second.pmt_pid == pmtPid)
            continue;
        if (existing != programs.end())
            RemoveProgram(number);
        AddProgram(number, pmtPid);
        changed = true;
    }
    if (changed)
        ReapplyProgramTables();
}

void TsInfoImpl::DropEmmList()
{
    for (const CaEntry& entry : emms) {
        PidInfoImpl* info = pidImpl_[entry.ca_pid & kNullPid].get();
        if (info && info->emmCount > 0 && --info->emmCount == 0)
            info->tableClassMask &= ~(TableClassBit(TableClass::kEmm));
    }
    emms.clear();
}

void TsInfoImpl::ApplyCat(const SkTable& table)
{
    DropEmmList();
    SkTableCat cat;
    cat.Parse(&table);
    for (const Descriptor& descriptor : cat.descriptors) {
        CaInfo ca;
        if (descriptor.kind != DescriptorKind::kCa || DecodeCa(ca, descriptor) != 0)
            continue;
        const uint32_t caPid = static_cast<uint32_t>(ca.ca_pid);
        checks_.OnTableReference(caPid, table.completion_time, now_);
        emms.push_back({static_cast<uint32_t>(ca.ca_system_id), caPid});
        PidInfoImpl& info = PidInfoFor(caPid);
        ++info.emmCount;
        info.tableClassMask |= TableClassBit(TableClass::kEmm);
    }
}

void TsInfoImpl::ApplyPmt(const TableKey& key, const SkTable& table)
{
    const int32_t number = static_cast<int32_t>(key.table_id_extension);
    const auto found = programs.find(number);
    if (found == programs.end() || found->second.pmt_pid != static_cast<int32_t>(key.pid))
        return;
    Program& program = found->second;
    DropProgramStreams(program);

    SkTablePmt pmt;
    pmt.Parse(&table);
    program.pcr_pid = pmt.pcr_pid == static_cast<int32_t>(kNullPid) ? -1 : pmt.pcr_pid;
    if (program.pcr_pid >= 0)
        AddReference(static_cast<uint32_t>(program.pcr_pid), kRefPcr, number);

    const auto addEcm = [&](const Descriptor& descriptor, std::vector<CaEntry>& entries) {
        CaInfo ca;
        if (DecodeCa(ca, descriptor) != 0)
            return;
        const uint32_t caPid = static_cast<uint32_t>(ca.ca_pid);
        entries.push_back({static_cast<uint32_t>(ca.ca_system_id), caPid});
        checks_.OnTableReference(caPid, table.completion_time, now_);
        PidInfoImpl& info = PidInfoFor(caPid);
        ++info.ecmCount;
        info.tableClassMask |= TableClassBit(TableClass::kEcm);
        AddReference(caPid, kRefCa, number);
    };
    for (const Descriptor& descriptor : pmt.program_descriptors) {
        if (descriptor.kind == DescriptorKind::kCa)
            addEcm(descriptor, program.caEntries);
    }

    for (const auto& entry : pmt.streams) {
        ElementaryStream stream = DescribeStream(entry);
        for (const Descriptor& descriptor : entry.descriptors) {
            if (descriptor.kind == DescriptorKind::kCa)
                addEcm(descriptor, stream.caEntries);
        }
        AddReference(stream.elementary_pid, kRefElementaryStream, number);
        PidInfoImpl& info = PidInfoFor(stream.elementary_pid);
        const int32_t kind = DeriveStreamKind(stream);
        if (info.streamKind != kind) {
            info.streamKind = kind;
            info.es.Clear();
        }
        info.checks.pmtStreamType = static_cast<int32_t>(stream.stream_type);
        if (stream.stream_type == StreamKind::kPrivatePes)
            checks_.ForgetUnreferencedPid(stream.elementary_pid);
        else
            checks_.OnTableReference(stream.elementary_pid, table.completion_time, now_);
        program.streams.push_back(std::move(stream));
    }

    const auto kindOf = [this](const ElementaryStream& s) { return pidImpl_[s.elementary_pid]->streamKind; };
    if (std::any_of(program.streams.begin(), program.streams.end(), [&](const auto& s) { return IsVideoKind(kindOf(s)); }))
        program.programKind = kProgramVideo;
    else if (std::any_of(program.streams.begin(), program.streams.end(),
                         [&](const auto& s) { return IsAudioKind(kindOf(s)); }))
        program.programKind = kProgramAudio;
}

void TsInfoImpl::ClearServiceInformation()
{
    for (auto& [number, program] : programs) {
        program.service_type = -1;
        program.providerName.clear();
        program.serviceName.clear();
    }
}

void TsInfoImpl::ApplySdtActual(const SkTable& table)
{
    ClearServiceInformation();
    SkTableSdt sdt;
    sdt.Parse(&table);
    ApplyServiceNames(sdt, programs, preferredLanguages);
}

void TsInfoImpl::ApplyNitActual(const SkTable& table)
{
    SkTableNit nit;
    nit.Parse(&table);
    network = DescribeNetwork(nit, transportStreamId, preferredLanguages);
}

void TsInfoImpl::ApplyMgt(const SkTable& table)
{
    SkTableMgt mgt;
    mgt.Parse(&table);
    for (const SkTableMgt::Entry& entry : mgt.tables) {
        PidInfoImpl& info = PidInfoFor(entry.table_type_pid);
        std::vector<uint32_t>& types = info.mgtTableTypes;
        // The PID now carries tables the MGT announces: collect its sections.
        if (types.empty())
            references_.Add(entry.table_type_pid, kRefPsiSi);
        // Each type once: the MGT repeats every 150 ms and only ranges are asked for.
        if (std::find(types.begin(), types.end(), entry.table_type) == types.end())
            types.push_back(entry.table_type);
    }
}

} // namespace SklibTs
