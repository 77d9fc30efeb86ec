#pragma once
// The decoded service description table: the services of a transport stream with their
// descriptor loops, in section order.
#include <cstdint>
#include <vector>

#include "Descriptor.h"
#include "SkStructuredTable.h"

namespace SklibTs {

class SkTableSdt : public SkStructuredTable {
public:
    struct Service {
        int32_t service_id = -1;
        std::vector<Descriptor> descriptors;
    };

    void Clear() override;
    // A service entry that passes the CRC_32 ends the section (result 3); a descriptor loop
    // that overruns keeps what it read and the services after it are still read (result 4).
    int32_t ParseSection(const SkTableSection* section) override;

    int32_t transport_stream_id = -1;
    int32_t original_network_id = -1;
    std::vector<Service> services;
};

} // namespace SklibTs
