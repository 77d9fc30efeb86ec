#pragma once
// The decoded conditional access table.
#include <cstdint>
#include <vector>

#include "Descriptor.h"
#include "SkStructuredTable.h"

namespace SklibTs {

class SkTableCat : public SkStructuredTable {
public:
    void Clear() override;
    int32_t ParseSection(const SkTableSection* section) override;

    std::vector<Descriptor> descriptors;
};

} // namespace SklibTs
