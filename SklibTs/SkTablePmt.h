#pragma once
// The decoded program map table of one program (its program_number is the key's
// table_id_extension).
#include <cstdint>
#include <vector>

#include "Descriptor.h"
#include "SkStructuredTable.h"

namespace SklibTs {

class SkTablePmt : public SkStructuredTable {
public:
    struct Stream {
        int32_t stream_type = -1;
        int32_t elementary_pid = -1;
        std::vector<Descriptor> descriptors;
    };

    void Clear() override;
    int32_t ParseSection(const SkTableSection* section) override;

    int32_t pcr_pid = -1;
    std::vector<Descriptor> program_descriptors; // the program_info loop
    std::vector<Stream> streams;
};

} // namespace SklibTs
