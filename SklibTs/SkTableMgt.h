#pragma once
// The decoded ATSC master guide table: the table types it announces and the PIDs that
// carry them, in section order.
#include <cstdint>
#include <vector>

#include "SkStructuredTable.h"

namespace SklibTs {

class SkTableMgt : public SkStructuredTable {
public:
    struct Entry {
        uint32_t table_type = 0;
        uint32_t table_type_pid = 0;
    };

    void Clear() override;
    // Sections of a protocol_version other than 0 hold a syntax this decoder does not know and
    // add nothing; an entry that passes the CRC_32 ends the section (result 3).
    int32_t ParseSection(const SkTableSection* section) override;

    std::vector<Entry> tables;
};

} // namespace SklibTs
