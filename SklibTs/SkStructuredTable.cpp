#include "SkStructuredTable.h"

#include <algorithm>

#include "Crc32.h"
#include "Descriptor.h"

namespace SklibTs {

int32_t SkStructuredTable::Parse(const SkTable* table)
{
    Clear();
    if (table == nullptr)
        return PsiResult::kNoData;
    int32_t firstFailure = PsiResult::kOk;
    const int32_t last = std::min(table->last_section_number, SkTable::kMaxSections - 1);
    for (int32_t i = 0; i <= last; ++i) {
        const int32_t result = ParseSection(table->sections[i].get());
        if (firstFailure == PsiResult::kOk)
            firstFailure = result;
    }
    return firstFailure;
}

SkStructuredTable::SectionBody SkStructuredTable::BodyOf(const SkTableSection& section)
{
    SectionBody body;
    if (section.data != nullptr && section.length > 0) {
        body.bytes = section.data;
        body.length = section.length;
        body.end = section.length - 4;
    }
    return body;
}

int32_t SkStructuredTable::OpenBody(const SkTableSection* section, int32_t fixedPart, SectionBody& body)
{
    if (section == nullptr)
        return PsiResult::kNoData;
    body = BodyOf(*section);
    return body.end < fixedPart ? PsiResult::kTooShort : PsiResult::kOk;
}

int32_t SkStructuredTable::CrcResult(const SectionBody& body)
{
    return CheckCrc32(body.bytes, body.length) ? PsiResult::kOk : PsiResult::kCrcMismatch;
}

} // namespace SklibTs
