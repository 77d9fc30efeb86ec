#include "SkTableCat.h"

namespace SklibTs {

void SkTableCat::Clear() { descriptors.clear(); }

int32_t SkTableCat::ParseSection(const SkTableSection* section)
{
    if (section == nullptr)
        return PsiResult::kNoData;
    const SectionBody body = BodyOf(*section);
    if (body.end < 8)
        return PsiResult::kTooShort;
    if (const int32_t result = ParseDescriptors(body.bytes + 8, body.bytes + body.end, descriptors))
        return result;
    return CrcResult(body);
}

} // namespace SklibTs
