#pragma once
// The decoded network information table: the network's descriptors and, per transport
// stream, its descriptor loop (delivery systems among others), in section order.
#include <cstdint>
#include <vector>

#include "Descriptor.h"
#include "SkStructuredTable.h"

namespace SklibTs {

class SkTableNit : public SkStructuredTable {
public:
    struct TransportStream {
        int32_t transport_stream_id = -1;
        int32_t original_network_id = -1;
        std::vector<Descriptor> descriptors;
    };

    void Clear() override;
    // A network loop that passes the CRC_32 ends the section; a transport stream loop length
    // that does is cut to it (result 3 either way); a transport stream entry that passes its
    // loop ends the section; descriptor loops that overrun keep what they read (result 4).
    int32_t ParseSection(const SkTableSection* section) override;

    int32_t network_id = -1; // of the last section read
    std::vector<Descriptor> network_descriptors;
    std::vector<TransportStream> transport_streams;
};

} // namespace SklibTs
