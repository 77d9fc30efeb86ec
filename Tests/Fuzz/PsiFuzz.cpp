// libFuzzer target for section assembly and table decoding. The first input byte picks the SI
// standard and whether completed sections get a correct CRC_32 (so that mutated tables get
// past the check); the rest is 188-byte transport packets whose payloads go to the section
// assembler. Every section has its header read, is decoded by each table class on its own, and
// is stored by key as the analyser does; each complete table is decoded by the class of its
// table_id, its descriptors by every decoder, and SDT and NIT tables name the programs and the
// network. Built by the fuzzer tree (SKTS_SANITIZE=fuzzer), not by the normal build.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Crc32.h"
#include "Descriptor.h"
#include "DvbText.h"
#include "ProgramMap.h"
#include "SectionAssembler.h"
#include "ServiceInformation.h"
#include "SkTable.h"
#include "SkTableCat.h"
#include "SkTableMgt.h"
#include "SkTableNit.h"
#include "SkTablePat.h"
#include "SkTablePmt.h"
#include "SkTableSdt.h"
#include "SkTp.h"
#include "Utf8Text.h"

namespace {

volatile uint64_t g_sink = 0;

void Touch(const std::wstring& text) { g_sink = g_sink + SklibTs::WideToUtf8(text).size(); }

void DecodeAll(const std::vector<SklibTs::Descriptor>& descriptors)
{
    for (const SklibTs::Descriptor& d : descriptors) {
        SklibTs::ComponentInfo component;
        if (SklibTs::DecodeComponent(component, d) == 0)
            Touch(component.text);
        SklibTs::DataBroadcastInfo broadcast;
        if (SklibTs::DecodeDataBroadcast(broadcast, d) == 0)
            Touch(broadcast.text);
        SklibTs::DataBroadcastIdInfo broadcastId;
        (void)SklibTs::DecodeDataBroadcastId(broadcastId, d);
        SklibTs::CaInfo ca;
        (void)SklibTs::DecodeCa(ca, d);
        SklibTs::RegistrationInfo registration;
        (void)SklibTs::DecodeRegistration(registration, d);
        std::wstring name;
        if (SklibTs::DecodeNetworkName(name, d) == 0)
            Touch(name);
        SklibTs::ServiceInfo service;
        if (SklibTs::DecodeService(service, d) == 0)
            Touch(service.service_name);
        SklibTs::MultilingualNameInfo names;
        (void)SklibTs::DecodeMultilingualNetworkName(names, d);
        (void)SklibTs::DecodeMultilingualServiceName(names, d);
        SklibTs::SatelliteDeliveryInfo satellite;
        (void)SklibTs::DecodeSatelliteDelivery(satellite, d);
        SklibTs::CableDeliveryInfo cable;
        (void)SklibTs::DecodeCableDelivery(cable, d);
        SklibTs::TerrestrialDeliveryInfo terrestrial;
        (void)SklibTs::DecodeTerrestrialDelivery(terrestrial, d);
        SklibTs::S2SatelliteDeliveryInfo s2;
        (void)SklibTs::DecodeS2SatelliteDelivery(s2, d);
        SklibTs::T2DeliveryInfo t2;
        (void)SklibTs::DecodeT2Delivery(t2, d);
        if (!d.data.empty())
            Touch(SklibTs::DvbTextToWide(d.data.data(), static_cast<int32_t>(d.data.size())));
    }
}

class TableStore {
public:
    TableStore(SklibTs::SiStandard standard, bool fixCrc) : standard_(standard), fixCrc_(fixCrc) {}

    static void OnSection(void* context, uint32_t pid, std::unique_ptr<SklibTs::RawTableSection> section)
    {
        static_cast<TableStore*>(context)->Take(pid, std::move(section));
    }

private:
    void Take(uint32_t pid, std::unique_ptr<SklibTs::RawTableSection> section)
    {
        if (fixCrc_ && section->length >= 4) {
            const uint32_t crc = SklibTs::ComputeCrc32(section->data, section->length - 4);
            uint8_t* at = section->data + section->length - 4;
            at[0] = static_cast<uint8_t>(crc >> 24);
            at[1] = static_cast<uint8_t>(crc >> 16);
            at[2] = static_cast<uint8_t>(crc >> 8);
            at[3] = static_cast<uint8_t>(crc);
        }
        g_sink = g_sink + SklibTs::CheckCrc32(section->data, section->length);
        DecodeAlone(*section);

        SklibTs::TableKey key;
        int32_t number = 0;
        if (!section->ParseHeader(static_cast<uint16_t>(pid), key, number, standard_) || number < 0 ||
            number >= SklibTs::SkTable::kMaxSections)
            return;
        if (tables_.size() > 64 && tables_.find(key) == tables_.end())
            return; // a bounded store, as the analyser's budget keeps it
        SklibTs::RawTable& table = tables_[key];
        if (table.version_number != section->version_number ||
            table.last_section_number != section->last_section_number) {
            table.Clear();
            table.version_number = section->version_number;
            table.last_section_number = section->last_section_number;
        }
        table.sections[static_cast<size_t>(number)] = std::move(section);
        if (table.IsComplete()) {
            const SklibTs::SkTable copy(table);
            DecodeTable(key, copy);
        }
    }

    // Each class reads any section: its checks, not the table_id, must keep it inside.
    void DecodeAlone(const SklibTs::SkTableSection& section)
    {
        SklibTs::SkTablePat pat;
        (void)pat.ParseSection(&section);
        SklibTs::SkTablePmt pmt;
        if (pmt.ParseSection(&section) == 0)
            DecodeAll(pmt.program_descriptors);
        SklibTs::SkTableCat cat;
        (void)cat.ParseSection(&section);
        SklibTs::SkTableSdt sdt;
        (void)sdt.ParseSection(&section);
        SklibTs::SkTableNit nit;
        (void)nit.ParseSection(&section);
        SklibTs::SkTableMgt mgt;
        (void)mgt.ParseSection(&section);
    }

    void DecodeTable(const SklibTs::TableKey& key, const SklibTs::SkTable& table)
    {
        switch (key.table_id) {
        case 0x00: {
            SklibTs::SkTablePat pat;
            if (pat.Parse(&table) == 0) {
                for (const auto& entry : pat.programs)
                    programs_[static_cast<int32_t>(entry.program_number)].pmt_pid = static_cast<int32_t>(entry.pid);
            }
            break;
        }
        case 0x01: {
            SklibTs::SkTableCat cat;
            (void)cat.Parse(&table);
            DecodeAll(cat.descriptors);
            break;
        }
        case 0x02: {
            SklibTs::SkTablePmt pmt;
            (void)pmt.Parse(&table);
            DecodeAll(pmt.program_descriptors);
            for (const auto& stream : pmt.streams)
                DecodeAll(stream.descriptors);
            break;
        }
        case 0x40:
        case 0x41: {
            SklibTs::SkTableNit nit;
            (void)nit.Parse(&table);
            DecodeAll(nit.network_descriptors);
            for (const auto& entry : nit.transport_streams)
                DecodeAll(entry.descriptors);
            const SklibTs::NetworkInfo network = SklibTs::DescribeNetwork(nit, 1, languages_);
            Touch(network.networkName);
            break;
        }
        case 0x42:
        case 0x46: {
            SklibTs::SkTableSdt sdt;
            (void)sdt.Parse(&table);
            for (const auto& service : sdt.services)
                DecodeAll(service.descriptors);
            SklibTs::ApplyServiceNames(sdt, programs_, languages_);
            break;
        }
        case 0xC7: {
            SklibTs::SkTableMgt mgt;
            (void)mgt.Parse(&table);
            break;
        }
        default:
            break;
        }
    }

    const SklibTs::SiStandard standard_;
    const bool fixCrc_;
    std::map<SklibTs::TableKey, SklibTs::RawTable> tables_;
    SklibTs::ProgramMap programs_;
    const std::vector<std::string> languages_{"deu", "eng"};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const auto standard = static_cast<SklibTs::SiStandard>(data[0] & 0x03);
    TableStore store(standard, (data[0] & 0x04) != 0);
    SklibTs::SectionAssembler assembler(&TableStore::OnSection, &store);
    for (size_t at = 1; at + 188 <= size; at += 188) {
        const SklibTs::SkTp packet(data + at, 188);
        uint32_t payloadSize = 0;
        const uint8_t* payload = packet.GetPayload(payloadSize);
        if (payload == nullptr)
            continue;
        assembler.Collect(static_cast<uint32_t>(packet.GetPid()), payload, payloadSize, packet.GetPayloadUnitStart());
    }
    return 0;
}
