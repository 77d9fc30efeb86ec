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
    if (section == nullptr)
        return PsiResult::kNoData;
    const SectionBody body = BodyOf(*section);
    const uint8_t* s = body.bytes;
    if (body.end < kNetworkLoop + kLoopLengthBytes)
        return PsiResult::kTooShort;
    network_id = static_cast<int32_t>(Read16(s + 3));
    const int32_t networkEnd = kNetworkLoop + Read12(s + 8);
    if (networkEnd > body.end)
        return PsiResult::kTooShort;
    int32_t result = ParseDescriptors(s + kNetworkLoop, s + networkEnd, network_descriptors);
    if (body.end - networkEnd < kLoopLengthBytes)
        return PsiResult::kTooShort;
    const int32_t declaredEnd = networkEnd + kLoopLengthBytes + Read12(s + networkEnd);
    const int32_t streamsEnd = std::min(declaredEnd, body.end);
    if (declaredEnd > body.end && result == PsiResult::kOk)
        result = PsiResult::kTooShort;
    for (int32_t pos = networkEnd + kLoopLengthBytes; streamsEnd - pos >= kStreamHeader;) {
        const int32_t loopEnd = pos + kStreamHeader + Read12(s + pos + 4);
        if (loopEnd > streamsEnd)
            return PsiResult::kTooShort;
        TransportStream& stream = transport_streams.emplace_back();
        stream.transport_stream_id = static_cast<int32_t>(Read16(s + pos));
        stream.original_network_id = static_cast<int32_t>(Read16(s + pos + 2));
        const int32_t loopResult = ParseDescriptors(s + pos + kStreamHeader, s + loopEnd, stream.descriptors);
        if (result == PsiResult::kOk)
            result = loopResult;
        pos = loopEnd;
    }
    return result != PsiResult::kOk ? result : CrcResult(body);
}

} // namespace SklibTs
