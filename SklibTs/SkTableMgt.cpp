#include "SkTableMgt.h"

#include "BigEndian.h"
#include "Descriptor.h"

namespace SklibTs {

void SkTableMgt::Clear() { tables.clear(); }

int32_t SkTableMgt::ParseSection(const SkTableSection* section)
{
    constexpr int32_t kProtocolVersion = 8;
    constexpr int32_t kTablesDefined = 9;
    constexpr int32_t kEntries = 11;
    constexpr int32_t kEntryHeader = 11;
    SectionBody body;
    if (const int32_t result = OpenBody(section, kEntries, body))
        return result;
    const uint8_t* s = body.bytes;
    if (s[kProtocolVersion] != 0)
        return PsiResult::kOk;
    const uint32_t tablesDefined = Read16(s + kTablesDefined);
    int32_t pos = kEntries;
    for (uint32_t i = 0; i < tablesDefined && body.end - pos >= kEntryHeader; ++i) {
        const int32_t entryEnd = pos + kEntryHeader + Read12(s + pos + 9);
        if (entryEnd > body.end)
            return PsiResult::kTooShort;
        tables.push_back({Read16(s + pos), static_cast<uint32_t>(Read13(s + pos + 2))});
        pos = entryEnd;
    }
    return CrcResult(body);
}

} // namespace SklibTs
