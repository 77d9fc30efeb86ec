#include "SkTablePat.h"

#include "Descriptor.h"

namespace SklibTs {

void SkTablePat::Clear()
{
    transport_stream_id = -1;
    programs.clear();
}

int32_t SkTablePat::ParseSection(const SkTableSection* section)
{
    SectionBody body;
    if (const int32_t result = OpenBody(section, 8, body))
        return result;
    const uint8_t* s = body.bytes;
    transport_stream_id = (s[3] << 8) | s[4];
    for (int32_t pos = 8; body.end - pos >= 4; pos += 4) {
        programs.push_back({static_cast<uint32_t>((s[pos] << 8) | s[pos + 1]),
                            static_cast<uint32_t>(((s[pos + 2] & 0x1F) << 8) | s[pos + 3])});
    }
    return CrcResult(body);
}

} // namespace SklibTs
