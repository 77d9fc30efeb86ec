#pragma once
// The decoded program association table.
#include <cstdint>
#include <vector>

#include "SkStructuredTable.h"

namespace SklibTs {

class SkTablePat : public SkStructuredTable {
public:
    struct Program {
        uint32_t program_number = 0; // 0 names the network PID
        uint32_t pid = 0;

        bool operator==(const Program&) const = default;
    };

    void Clear() override;
    int32_t ParseSection(const SkTableSection* section) override;

    int32_t transport_stream_id = -1;
    std::vector<Program> programs; // section order, then loop order
};

} // namespace SklibTs
