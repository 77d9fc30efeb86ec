#pragma once
// What the SDT actual and the NIT actual tell the analyser: the names of the programs'
// services, and the network with the delivery system of this transport stream.
#include <cstdint>
#include <string>
#include <vector>

#include "ProgramMap.h"

namespace SklibTs {

class SkTableNit;
class SkTableSdt;

// Sets service type and names of the programs whose program_number a service_id of the SDT
// gives. The first service descriptor of a program names it; a multilingual service name
// descriptor renames it in the preferred language (ISO 639 codes, the first entry when none
// of them is there).
void ApplyServiceNames(const SkTableSdt& sdt, ProgramMap& programs, const std::vector<std::string>& preferredLanguages);

// The network's id and name (in the preferred language when multilingual), and the delivery
// system that the entry of transportStreamId describes.
NetworkInfo DescribeNetwork(const SkTableNit& nit, int32_t transportStreamId,
                            const std::vector<std::string>& preferredLanguages);

} // namespace SklibTs
