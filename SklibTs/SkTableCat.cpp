#include "SkTableCat.h"

namespace SklibTs {

void SkTableCat::Clear() { descriptors.clear(); }

int32_t SkTableCat::ParseSection(const SkTableSection* section)
{
    SectionBody body;
    if (const int32_t result = OpenBody(section, 8, body))
        return result;
    if (const int32_t result = ParseDescriptors(body.bytes + 8, body.bytes + body.end, descriptors))
        return result;
    return CrcResult(body);
}

} // namespace SklibTs
