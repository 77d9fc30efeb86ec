#include "SkTablePmt.h"

#include "BigEndian.h"

namespace SklibTs {

void SkTablePmt::Clear()
{
    pcr_pid = -1;
    program_descriptors.clear();
    streams.clear();
}

int32_t SkTablePmt::ParseSection(const SkTableSection* section)
{
    SectionBody body;
    if (const int32_t result = OpenBody(section, 12, body))
        return result;
    const uint8_t* s = body.bytes;
    pcr_pid = Read13(s + 8);
    const int32_t programInfoEnd = 12 + Read12(s + 10);
    if (programInfoEnd > body.end)
        return PsiResult::kTooShort;
    if (const int32_t result = ParseDescriptors(s + 12, s + programInfoEnd, program_descriptors))
        return result;

    for (int32_t pos = programInfoEnd; body.end - pos >= 5;) {
        Stream& stream = streams.emplace_back();
        stream.stream_type = s[pos];
        stream.elementary_pid = Read13(s + pos + 1);
        const int32_t loopEnd = pos + 5 + Read12(s + pos + 3);
        if (loopEnd > body.end)
            return PsiResult::kTooShort;
        if (const int32_t result = ParseDescriptors(s + pos + 5, s + loopEnd, stream.descriptors))
            return result;
        pos = loopEnd;
    }
    return CrcResult(body);
}

} // namespace SklibTs
