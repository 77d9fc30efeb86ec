#include "SkTableSdt.h"

#include "BigEndian.h"

namespace SklibTs {

void SkTableSdt::Clear()
{
    transport_stream_id = -1;
    original_network_id = -1;
    services.clear();
}

int32_t SkTableSdt::ParseSection(const SkTableSection* section)
{
    constexpr int32_t kServiceLoop = 11;
    constexpr int32_t kServiceHeader = 5;
    SectionBody body;
    if (const int32_t result = OpenBody(section, kServiceLoop, body))
        return result;
    const uint8_t* s = body.bytes;
    transport_stream_id = static_cast<int32_t>(Read16(s + 3));
    original_network_id = static_cast<int32_t>(Read16(s + 8));
    int32_t result = PsiResult::kOk;
    for (int32_t pos = kServiceLoop; body.end - pos >= kServiceHeader;) {
        const int32_t loopEnd = pos + kServiceHeader + Read12(s + pos + 3);
        if (loopEnd > body.end)
            return PsiResult::kTooShort;
        Service& service = services.emplace_back();
        service.service_id = static_cast<int32_t>(Read16(s + pos));
        KeepFirstFailure(result, ParseDescriptors(s + pos + kServiceHeader, s + loopEnd, service.descriptors));
        pos = loopEnd;
    }
    return result != PsiResult::kOk ? result : CrcResult(body);
}

} // namespace SklibTs
