// Program following: the PAT, CAT, PMT, SDT actual, NIT actual and MGT handlers that turn
// complete tables into the program map, PID references, stream kinds and service names.
#include <algorithm>

#include "Descriptor.h"
#include "DvbText.h"
#include "SkTablePat.h"
#include "SkTablePmt.h"
#include "SkTableCat.h"
#include "StreamKind.h"
#include "TableClass.h"
#include "TsInfoImpl.h"

namespace SklibTs {

namespace {


constexpr uint32_t kBssd = 0x42535344; // "BSSD"

uint32_t Read16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }

// A DVB text preceded by its length byte, cut to the bytes left; advances p.
std::wstring ReadLengthPrefixedText(const uint8_t*& p, const uint8_t* end)
{
    if (p >= end)
        return {};
    const size_t declared = *p++;
    const size_t length = std::min(declared, static_cast<size_t>(end - p));
    std::wstring text = DvbTextToWide(p, static_cast<int32_t>(length));
    p += length;
    return text;
}

// The index of the entry whose language comes first among the preferred ones, else 0.
size_t ChooseLanguage(const std::vector<std::string>& languages, const std::vector<std::string>& preferred)
{
    for (const std::string& wanted : preferred) {
        const auto it = std::find(languages.begin(), languages.end(), wanted);
        if (it != languages.end())
            return static_cast<size_t>(it - languages.begin());
    }
    return 0;
}

uint32_t Bcd(uint32_t value, int digits)
{
    uint32_t result = 0;
    for (int i = digits - 1; i >= 0; --i)
        result = result * 10 + ((value >> (4 * i)) & 0xF);
    return result;
}

uint32_t Read32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }

} // namespace

void TsInfoImpl::AddReference(uint32_t pid, PidReferenceKind kind, int32_t programNumber)
{
    if (pid >= kPidCount)
        return;
    ++references_[pid][kind];
    if (programNumber >= 0)
        PidInfoFor(pid).programs.insert(programNumber);
}

void TsInfoImpl::RemoveReference(uint32_t pid, PidReferenceKind kind, int32_t programNumber)
{
    if (pid >= kPidCount)
        return;
    if (references_[pid][kind] > 0)
        --references_[pid][kind];
    if (programNumber < 0 || !pidImpl_[pid])
        return;
    // The PID stays the program's while the program still refers to it in another way.
    const auto program = programs.find(programNumber);
    if (program != programs.end()) {
        const Program& p = program->second;
        const bool stillReferenced =
            p.pmt_pid == static_cast<int32_t>(pid) || p.pcr_pid == static_cast<int32_t>(pid) || p.HasStream(pid) ||
            std::any_of(p.caEntries.begin(), p.caEntries.end(), [pid](const CaEntry& e) { return e.ca_pid == pid; }) ||
            std::any_of(p.streams.begin(), p.streams.end(), [pid](const ElementaryStream& s) {
                return std::any_of(s.caEntries.begin(), s.caEntries.end(),
                                   [pid](const CaEntry& e) { return e.ca_pid == pid; });
            });
        if (stillReferenced)
            return;
    }
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
        if (PidInfoImpl* info = pidImpl_[entry.ca_pid & 0x1FFF].get(); info && info->ecmCount > 0) {
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
    PidInfoImpl* info = pidImpl_[pid & 0x1FFF].get();
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
    tableLastSeen_[TableKey{static_cast<uint32_t>(pmtPid), 0x02, static_cast<uint32_t>(programNumber), 0xFFFFFFFF,
                            0xFFFFFFFF}] = now_;
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
    int32_t nitPid = nitPid_;
    for (const auto& entry : pat.programs) {
        if (entry.program_number == 0)
            nitPid = static_cast<int32_t>(entry.pid);
        else
            listed[static_cast<int32_t>(entry.program_number)] = static_cast<int32_t>(entry.pid);
    }
    if (nitPid != nitPid_) {
        if (nitPid_ >= 0 && references_[nitPid_][kRefPsiSi] > 0)
            --references_[nitPid_][kRefPsiSi];
        nitPid_ = nitPid;
        ++references_[nitPid_][kRefPsiSi];
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
        PidInfoImpl* info = pidImpl_[entry.ca_pid & 0x1FFF].get();
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
    program.pcr_pid = pmt.pcr_pid == 0x1FFF ? -1 : pmt.pcr_pid;
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
        ElementaryStream stream;
        stream.elementary_pid = static_cast<uint32_t>(entry.elementary_pid) & 0x1FFF;
        stream.stream_type = entry.stream_type;
        for (const Descriptor& descriptor : entry.descriptors) {
            switch (descriptor.kind) {
            case DescriptorKind::kCa: addEcm(descriptor, stream.caEntries); break;
            case DescriptorKind::kAc3: stream.hasAc3Descriptor = true; break;
            case DescriptorKind::kAc4: stream.hasAc4Descriptor = true; break;
            case DescriptorKind::kEnhancedAc3: stream.hasEnhancedAc3Descriptor = true; break;
            case DescriptorKind::kTeletext: stream.hasTeletextDescriptor = true; break;
            case DescriptorKind::kRegistration: {
                RegistrationInfo registration;
                if (DecodeRegistration(registration, descriptor) == 0 && registration.format_identifier == kBssd)
                    stream.hasBssdRegistration = true;
                break;
            }
            case DescriptorKind::kComponent: {
                ComponentInfo component;
                if (DecodeComponent(component, descriptor) == 0) {
                    stream.component_tag = component.component_tag;
                    stream.component_type = component.component_type;
                }
                break;
            }
            case DescriptorKind::kDataBroadcast: {
                DataBroadcastInfo broadcast;
                if (DecodeDataBroadcast(broadcast, descriptor) == 0)
                    stream.data_broadcast_id = broadcast.data_broadcast_id;
                break;
            }
            case DescriptorKind::kDataBroadcastId: {
                DataBroadcastIdInfo broadcastId;
                if (DecodeDataBroadcastId(broadcastId, descriptor) == 0)
                    stream.data_broadcast_id = broadcastId.data_broadcast_id;
                break;
            }
            case DescriptorKind::kIso639Language:
                if (descriptor.length >= 3)
                    stream.language.assign(reinterpret_cast<const char*>(descriptor.data.data()), 3);
                break;
            default: break;
            }
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
    for (int32_t n = 0; n <= table.last_section_number && n < 256; ++n) {
        const SkTableSection* section = table.sections[n].get();
        if (section == nullptr || section->length < 15)
            continue;
        const uint8_t* p = section->data + 11;
        const uint8_t* end = section->data + section->length - 4;
        while (end - p >= 5) {
            const int32_t serviceId = static_cast<int32_t>(Read16(p));
            const uint32_t loopLength = Read16(p + 3) & 0x0FFF;
            const uint8_t* loop = p + 5;
            if (loop + loopLength > end)
                break;
            p = loop + loopLength;
            const auto program = programs.find(serviceId);
            if (program == programs.end())
                continue;
            std::vector<Descriptor> descriptors;
            ParseDescriptors(loop, loop + loopLength, descriptors);
            for (const Descriptor& d : descriptors) {
                const uint8_t* q = d.data.data();
                const uint8_t* qEnd = q + d.length;
                if (d.tag == 0x48 && d.length >= 1) {
                    program->second.service_type = q[0];
                    ++q;
                    std::wstring provider = ReadLengthPrefixedText(q, qEnd);
                    std::wstring service = ReadLengthPrefixedText(q, qEnd);
                    if (program->second.providerName.empty()) {
                        program->second.providerName = std::move(provider);
                        program->second.serviceName = std::move(service);
                    }
                } else if (d.tag == 0x5D) {
                    std::vector<std::string> languages;
                    std::vector<std::pair<std::wstring, std::wstring>> names;
                    while (qEnd - q >= 3) {
                        languages.emplace_back(reinterpret_cast<const char*>(q), 3);
                        q += 3;
                        std::wstring provider = ReadLengthPrefixedText(q, qEnd);
                        std::wstring service = ReadLengthPrefixedText(q, qEnd);
                        names.emplace_back(std::move(provider), std::move(service));
                    }
                    if (!names.empty()) {
                        const size_t chosen = ChooseLanguage(languages, preferredLanguages);
                        program->second.providerName = names[chosen].first;
                        program->second.serviceName = names[chosen].second;
                    }
                }
            }
        }
    }
}

void TsInfoImpl::ApplyNitActual(const SkTable& table)
{
    network = NetworkInfo{};
    for (int32_t n = 0; n <= table.last_section_number && n < 256; ++n) {
        const SkTableSection* section = table.sections[n].get();
        if (section == nullptr || section->length < 16)
            continue;
        const uint8_t* data = section->data;
        const uint8_t* end = data + section->length - 4;
        network.network_id = static_cast<int32_t>(Read16(data + 3));
        const uint32_t networkLength = Read16(data + 8) & 0x0FFF;
        const uint8_t* networkLoop = data + 10;
        if (networkLoop + networkLength > end)
            continue;
        std::vector<Descriptor> descriptors;
        ParseDescriptors(networkLoop, networkLoop + networkLength, descriptors);
        for (const Descriptor& d : descriptors) {
            if (d.tag == 0x40) {
                network.networkName = DvbTextToWide(d.data.data(), static_cast<int32_t>(d.length));
            } else if (d.tag == 0x5B) {
                const uint8_t* q = d.data.data();
                const uint8_t* qEnd = q + d.length;
                std::vector<std::string> languages;
                std::vector<std::wstring> names;
                while (qEnd - q >= 3) {
                    languages.emplace_back(reinterpret_cast<const char*>(q), 3);
                    q += 3;
                    names.push_back(ReadLengthPrefixedText(q, qEnd));
                }
                if (!names.empty())
                    network.networkName = names[ChooseLanguage(languages, preferredLanguages)];
            }
        }
        const uint8_t* p = networkLoop + networkLength;
        if (end - p < 2)
            continue;
        const uint32_t streamsLength = Read16(p) & 0x0FFF;
        p += 2;
        const uint8_t* streamsEnd = std::min(p + streamsLength, end);
        while (streamsEnd - p >= 6) {
            const int32_t tsid = static_cast<int32_t>(Read16(p));
            const uint32_t length = Read16(p + 4) & 0x0FFF;
            const uint8_t* loop = p + 6;
            if (loop + length > streamsEnd)
                break;
            p = loop + length;
            if (tsid != transportStreamId)
                continue;
            std::vector<Descriptor> delivery;
            ParseDescriptors(loop, loop + length, delivery);
            for (const Descriptor& d : delivery) {
                const uint8_t* q = d.data.data();
                switch (d.tag) {
                case 0x43: // satellite
                    if (d.length < 11)
                        break;
                    network.deliverySystemTag = 0x43;
                    network.frequencyHz = uint64_t{Bcd(Read32(q), 8)} * 10'000;
                    network.orbitalPosition = static_cast<int32_t>(Bcd(Read16(q + 4), 4));
                    network.westEast = (q[6] & 0x80) != 0;
                    network.polarization = (q[6] >> 5) & 0x3;
                    network.rollOff = (q[6] >> 3) & 0x3;
                    network.modulation = q[6] & 0x7;
                    network.symbolRate = Bcd(Read32(q + 7) >> 4, 7) * 100;
                    network.fecInner = q[10] & 0x0F;
                    break;
                case 0x44: // cable
                    if (d.length < 11)
                        break;
                    network.deliverySystemTag = 0x44;
                    network.frequencyHz = uint64_t{Bcd(Read32(q), 8)} * 100;
                    network.modulation = q[6];
                    network.symbolRate = Bcd(Read32(q + 7) >> 4, 7) * 100;
                    network.fecInner = q[10] & 0x0F;
                    break;
                case 0x5A: { // terrestrial
                    if (d.length < 7)
                        break;
                    static constexpr uint32_t kBandwidths[] = {8'000'000, 7'000'000, 6'000'000, 5'000'000};
                    network.deliverySystemTag = 0x5A;
                    network.frequencyHz = uint64_t{Read32(q)} * 10;
                    const uint32_t bandwidth = q[4] >> 5;
                    network.bandwidthHz = bandwidth < 4 ? kBandwidths[bandwidth] : 0;
                    network.modulation = q[5] >> 6;
                    network.fecInner = q[5] & 0x7;
                    break;
                }
                case 0x79: { // S2 satellite
                    if (d.length < 1)
                        break;
                    const bool scrambling = (q[0] & 0x80) != 0;
                    const bool multipleStreams = (q[0] & 0x40) != 0;
                    size_t offset = 1;
                    if (scrambling && d.length >= offset + 3) {
                        network.scramblingSequenceIndex =
                            static_cast<int32_t>(((q[offset] & 0x03) << 16) | (q[offset + 1] << 8) | q[offset + 2]);
                        offset += 3;
                    }
                    if (multipleStreams && d.length >= offset + 1)
                        network.inputStreamIdentifier = q[offset];
                    break;
                }
                case 0x7F: // extension: T2 and SH delivery systems
                    if (d.tag_extension == 0x04 && d.length >= 3) {
                        network.deliverySystemTag = 0x7F;
                        network.deliveryTagExtension = 0x04;
                        network.plpId = q[0];
                        network.t2SystemId = static_cast<int32_t>(Read16(q + 1));
                    } else if (d.tag_extension == 0x05) {
                        network.deliverySystemTag = 0x7F;
                        network.deliveryTagExtension = 0x05;
                    }
                    break;
                default:
                    break;
                }
            }
        }
    }
}

void TsInfoImpl::ApplyMgt(const SkTable& table)
{
    for (int32_t n = 0; n <= table.last_section_number && n < 256; ++n) {
        const SkTableSection* section = table.sections[n].get();
        if (section == nullptr || section->length < 15 || section->data[8] != 0)
            continue;
        const uint8_t* end = section->data + section->length - 4;
        const uint32_t tablesDefined = Read16(section->data + 9);
        const uint8_t* p = section->data + 11;
        for (uint32_t i = 0; i < tablesDefined && end - p >= 11; ++i) {
            const uint32_t descriptorsLength = Read16(p + 9) & 0x0FFF;
            if (p + 11 + descriptorsLength > end)
                break;
            const uint32_t tableType = Read16(p);
            const uint32_t tablePid = Read16(p + 2) & 0x1FFF;
            PidInfoImpl& info = PidInfoFor(tablePid);
            // The PID now carries tables the MGT announces: collect its sections.
            if (info.mgtTableTypes.empty())
                ++references_[tablePid][kRefPsiSi];
            // Each type once: the MGT repeats every 150 ms and only ranges are asked for.
            if (std::find(info.mgtTableTypes.begin(), info.mgtTableTypes.end(), tableType) ==
                info.mgtTableTypes.end())
                info.mgtTableTypes.push_back(tableType);
            p += 11 + descriptorsLength;
        }
    }
}

} // namespace SklibTs
