#include "SkTableNit.h"

#include <algorithm>

#include "BigEndian.h"

namespace SklibTs {

void SkTableNit::Clear()
{
    network_id = -1;
    network_descriptors.clear();
    transport_streams.clear();
}

int32_t SkTableNit::ParseSection(const SkTableSection* section)
{
    constexpr int32_t kNetworkLoop = 10;
    constexpr int32_t kLoopLengthBytes = 2;
    constexpr int32_t kStreamHeader = 6;
    SectionBody body;
    if (const int32_t result = OpenBody(section, kNetworkLoop + kLoopLengthBytes, body))
        return result;
    const uint8_t* s = body.bytes;
    network_id = static_cast<int32_t>(Read16(s + 3));
    const int32_t networkEnd = kNetworkLoop + Read12(s + 8);
    if (networkEnd > body.end)
        return PsiResult::kTooShort;
    int32_t result = ParseDescriptors(s + kNetworkLoop, s + networkEnd, network_descriptors);
    if (body.end - networkEnd < kLoopLengthBytes)
        return PsiResult::kTooShort;
    const int32_t declaredEnd = networkEnd + kLoopLengthBytes + Read12(s + networkEnd);
    const int32_t streamsEnd = std::min(declaredEnd, body.end);
    if (declaredEnd > body.end)
        KeepFirstFailure(result, PsiResult::kTooShort);
    for (int32_t pos = networkEnd + kLoopLengthBytes; streamsEnd - pos >= kStreamHeader;) {
        const int32_t loopEnd = pos + kStreamHeader + Read12(s + pos + 4);
        if (loopEnd > streamsEnd)
            return PsiResult::kTooShort;
        TransportStream& stream = transport_streams.emplace_back();
        stream.transport_stream_id = static_cast<int32_t>(Read16(s + pos));
        stream.original_network_id = static_cast<int32_t>(Read16(s + pos + 2));
        KeepFirstFailure(result, ParseDescriptors(s + pos + kStreamHeader, s + loopEnd, stream.descriptors));
        pos = loopEnd;
    }
    return result != PsiResult::kOk ? result : CrcResult(body);
}

} // namespace SklibTs
