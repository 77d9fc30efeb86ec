#include "ServiceInformation.h"

#include <algorithm>

#include "Descriptor.h"
#include "SkTableNit.h"
#include "SkTableSdt.h"

namespace SklibTs {

namespace {

// The name whose language comes first among the preferred ones, else the first; null for none.
const MultilingualName* Preferred(const MultilingualNameInfo& info, const std::vector<std::string>& preferred)
{
    for (const std::string& wanted : preferred) {
        const auto it = std::find_if(info.names.begin(), info.names.end(),
                                     [&](const MultilingualName& name) { return name.language == wanted; });
        if (it != info.names.end())
            return &*it;
    }
    return info.names.empty() ? nullptr : &info.names.front();
}

void ApplyServiceDescriptor(const Descriptor& d, Program& program, const std::vector<std::string>& preferred)
{
    if (ServiceInfo service; DecodeService(service, d) == PsiResult::kOk) {
        program.service_type = service.service_type;
        if (program.providerName.empty()) {
            program.providerName = std::move(service.provider_name);
            program.serviceName = std::move(service.service_name);
        }
    } else if (MultilingualNameInfo names; DecodeMultilingualServiceName(names, d) == PsiResult::kOk) {
        if (const MultilingualName* chosen = Preferred(names, preferred)) {
            program.providerName = chosen->provider_name;
            program.serviceName = chosen->name;
        }
    }
}

void ApplyNetworkDescriptor(const Descriptor& d, NetworkInfo& network, const std::vector<std::string>& preferred)
{
    if (std::wstring name; DecodeNetworkName(name, d) == PsiResult::kOk) {
        network.networkName = std::move(name);
    } else if (MultilingualNameInfo names; DecodeMultilingualNetworkName(names, d) == PsiResult::kOk) {
        if (const MultilingualName* chosen = Preferred(names, preferred))
            network.networkName = chosen->name;
    }
}

void ApplyDeliveryDescriptor(const Descriptor& d, NetworkInfo& network)
{
    if (SatelliteDeliveryInfo satellite; DecodeSatelliteDelivery(satellite, d) == PsiResult::kOk) {
        network.deliverySystemTag = d.tag;
        network.frequencyHz = satellite.frequencyHz;
        network.orbitalPosition = satellite.orbitalPosition;
        network.westEast = satellite.westEast;
        network.polarization = satellite.polarization;
        network.rollOff = satellite.rollOff;
        network.modulation = satellite.modulation;
        network.symbolRate = satellite.symbolRate;
        network.fecInner = satellite.fecInner;
    } else if (CableDeliveryInfo cable; DecodeCableDelivery(cable, d) == PsiResult::kOk) {
        network.deliverySystemTag = d.tag;
        network.frequencyHz = cable.frequencyHz;
        network.modulation = cable.modulation;
        network.symbolRate = cable.symbolRate;
        network.fecInner = cable.fecInner;
    } else if (TerrestrialDeliveryInfo terrestrial; DecodeTerrestrialDelivery(terrestrial, d) == PsiResult::kOk) {
        network.deliverySystemTag = d.tag;
        network.frequencyHz = terrestrial.frequencyHz;
        network.bandwidthHz = terrestrial.bandwidthHz;
        network.modulation = terrestrial.constellation;
        network.fecInner = terrestrial.codeRate;
    } else if (S2SatelliteDeliveryInfo s2; DecodeS2SatelliteDelivery(s2, d) == PsiResult::kOk) {
        // Completes the satellite delivery descriptor beside it.
        if (s2.scramblingSequenceIndex >= 0)
            network.scramblingSequenceIndex = s2.scramblingSequenceIndex;
        if (s2.inputStreamIdentifier >= 0)
            network.inputStreamIdentifier = s2.inputStreamIdentifier;
    } else if (T2DeliveryInfo t2; DecodeT2Delivery(t2, d) == PsiResult::kOk) {
        network.deliverySystemTag = d.tag;
        network.deliveryTagExtension = d.tag_extension;
        network.plpId = t2.plpId;
        network.t2SystemId = t2.t2SystemId;
    } else if (d.tag == DescriptorTag::kExtension && d.tag_extension == DescriptorTagExtension::kShDelivery) {
        network.deliverySystemTag = d.tag;
        network.deliveryTagExtension = d.tag_extension;
    }
}

} // namespace

void ApplyServiceNames(const SkTableSdt& sdt, ProgramMap& programs, const std::vector<std::string>& preferredLanguages)
{
    for (const SkTableSdt::Service& service : sdt.services) {
        const auto program = programs.find(service.service_id);
        if (program == programs.end())
            continue;
        for (const Descriptor& d : service.descriptors)
            ApplyServiceDescriptor(d, program->second, preferredLanguages);
    }
}

NetworkInfo DescribeNetwork(const SkTableNit& nit, int32_t transportStreamId,
                            const std::vector<std::string>& preferredLanguages)
{
    NetworkInfo network;
    network.network_id = nit.network_id;
    for (const Descriptor& d : nit.network_descriptors)
        ApplyNetworkDescriptor(d, network, preferredLanguages);
    for (const SkTableNit::TransportStream& stream : nit.transport_streams) {
        if (stream.transport_stream_id != transportStreamId)
            continue;
        for (const Descriptor& d : stream.descriptors)
            ApplyDeliveryDescriptor(d, network);
    }
    return network;
}

} // namespace SklibTs
