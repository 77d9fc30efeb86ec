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

// Stores what decode gives into field; false, and field unchanged, when it gives nothing.
template <typename Info>
bool Take(Info& field, const Descriptor& d, int32_t (*decode)(Info&, const Descriptor&))
{
    Info decoded;
    if (decode(decoded, d) != PsiResult::kOk)
        return false;
    field = std::move(decoded);
    return true;
}

void ApplyDeliveryDescriptor(const Descriptor& d, NetworkInfo& network)
{
    if (Take(network.s2, d, DecodeS2SatelliteDelivery))
        return; // completes the satellite delivery descriptor beside it
    const bool sh = d.tag == DescriptorTag::kExtension && d.tag_extension == DescriptorTagExtension::kShDelivery;
    if (Take(network.satellite, d, DecodeSatelliteDelivery) || Take(network.cable, d, DecodeCableDelivery) ||
        Take(network.terrestrial, d, DecodeTerrestrialDelivery) || Take(network.t2, d, DecodeT2Delivery) || sh) {
        network.deliverySystemTag = d.tag;
        network.deliveryTagExtension = d.tag == DescriptorTag::kExtension ? d.tag_extension : -1;
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
