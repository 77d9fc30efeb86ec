// Decoding of the DVB service-information descriptors the analyser follows: names of the
// network and its services, and the delivery system of a transport stream.
#include <algorithm>

#include "BigEndian.h"
#include "DescriptorPayload.h"

namespace SklibTs {

namespace {

uint32_t Bcd(uint32_t value, int digits)
{
    uint32_t result = 0;
    for (int i = digits - 1; i >= 0; --i)
        result = result * 10 + ((value >> (4 * i)) & 0xF);
    return result;
}

bool HasExtensionTag(const Descriptor& d, uint8_t tagExtension)
{
    return d.tag == DescriptorTag::kExtension && d.tag_extension == tagExtension;
}

// Entries of a multilingual name loop: a language code, then the names, each with a length.
int32_t DecodeMultilingualNames(MultilingualNameInfo& out, const Descriptor& d, uint8_t tag, bool withProvider)
{
    out = MultilingualNameInfo{};
    if (!HasTag(d, tag))
        return PsiResult::kWrongTag;
    PayloadReader in(d);
    while (in.Remaining() >= 3) {
        MultilingualName& entry = out.names.emplace_back();
        entry.language = in.Language();
        if (withProvider)
            entry.provider_name = in.LengthPrefixedText();
        entry.name = in.LengthPrefixedText();
    }
    return PsiResult::kOk;
}

} // namespace

int32_t DecodeNetworkName(std::wstring& out, const Descriptor& d)
{
    out.clear();
    if (!HasTag(d, DescriptorTag::kNetworkName))
        return PsiResult::kWrongTag;
    out = DvbTextToWide(d.data.data(), static_cast<int32_t>(PayloadSize(d)));
    return PsiResult::kOk;
}

int32_t DecodeService(ServiceInfo& out, const Descriptor& d)
{
    out = ServiceInfo{};
    if (!HasTag(d, DescriptorTag::kService))
        return PsiResult::kWrongTag;
    PayloadReader in(d);
    if (in.Remaining() < 1)
        return PsiResult::kShortDescriptor;
    out.service_type = in.Byte();
    out.provider_name = in.LengthPrefixedText();
    out.service_name = in.LengthPrefixedText();
    return PsiResult::kOk;
}

int32_t DecodeMultilingualNetworkName(MultilingualNameInfo& out, const Descriptor& d)
{
    return DecodeMultilingualNames(out, d, DescriptorTag::kMultilingualNetworkName, false);
}

int32_t DecodeMultilingualServiceName(MultilingualNameInfo& out, const Descriptor& d)
{
    return DecodeMultilingualNames(out, d, DescriptorTag::kMultilingualServiceName, true);
}

int32_t DecodeSatelliteDelivery(SatelliteDeliveryInfo& out, const Descriptor& d)
{
    out = SatelliteDeliveryInfo{};
    if (!HasTag(d, DescriptorTag::kSatelliteDelivery))
        return PsiResult::kWrongTag;
    if (PayloadSize(d) < 11)
        return PsiResult::kShortDescriptor;
    const uint8_t* q = d.data.data();
    out.frequencyHz = uint64_t{Bcd(Read32(q), 8)} * 10'000;
    out.orbitalPosition = static_cast<int32_t>(Bcd(Read16(q + 4), 4));
    out.westEast = (q[6] & 0x80) != 0;
    out.polarization = (q[6] >> 5) & 0x3;
    out.rollOff = (q[6] >> 3) & 0x3;
    out.modulation = q[6] & 0x7;
    out.symbolRate = Bcd(Read32(q + 7) >> 4, 7) * 100;
    out.fecInner = q[10] & 0x0F;
    return PsiResult::kOk;
}

int32_t DecodeCableDelivery(CableDeliveryInfo& out, const Descriptor& d)
{
    out = CableDeliveryInfo{};
    if (!HasTag(d, DescriptorTag::kCableDelivery))
        return PsiResult::kWrongTag;
    if (PayloadSize(d) < 11)
        return PsiResult::kShortDescriptor;
    const uint8_t* q = d.data.data();
    out.frequencyHz = uint64_t{Bcd(Read32(q), 8)} * 100;
    out.modulation = q[6];
    out.symbolRate = Bcd(Read32(q + 7) >> 4, 7) * 100;
    out.fecInner = q[10] & 0x0F;
    return PsiResult::kOk;
}

int32_t DecodeTerrestrialDelivery(TerrestrialDeliveryInfo& out, const Descriptor& d)
{
    static constexpr uint32_t kBandwidths[] = {8'000'000, 7'000'000, 6'000'000, 5'000'000};
    out = TerrestrialDeliveryInfo{};
    if (!HasTag(d, DescriptorTag::kTerrestrialDelivery))
        return PsiResult::kWrongTag;
    if (PayloadSize(d) < 7)
        return PsiResult::kShortDescriptor;
    const uint8_t* q = d.data.data();
    out.frequencyHz = uint64_t{Read32(q)} * 10;
    const uint32_t bandwidth = q[4] >> 5;
    out.bandwidthHz = bandwidth < std::size(kBandwidths) ? kBandwidths[bandwidth] : 0;
    out.constellation = q[5] >> 6;
    out.codeRate = q[5] & 0x7;
    return PsiResult::kOk;
}

int32_t DecodeS2SatelliteDelivery(S2SatelliteDeliveryInfo& out, const Descriptor& d)
{
    out = S2SatelliteDeliveryInfo{};
    if (!HasTag(d, DescriptorTag::kS2SatelliteDelivery))
        return PsiResult::kWrongTag;
    PayloadReader in(d);
    if (in.Remaining() < 1)
        return PsiResult::kShortDescriptor;
    const uint8_t flags = in.Byte();
    if ((flags & 0x80) != 0) { // scrambling_sequence_selector
        if (in.Remaining() < 3)
            return PsiResult::kShortDescriptor;
        const uint8_t* p = in.Here();
        out.scramblingSequenceIndex = static_cast<int32_t>(((p[0] & 0x03u) << 16) | Read16(p + 1));
        in.Skip(3);
    }
    if ((flags & 0x40) != 0) { // multiple_input_stream_flag
        if (in.Remaining() < 1)
            return PsiResult::kShortDescriptor;
        out.inputStreamIdentifier = in.Byte();
    }
    return PsiResult::kOk;
}

int32_t DecodeT2Delivery(T2DeliveryInfo& out, const Descriptor& d)
{
    out = T2DeliveryInfo{};
    if (!HasExtensionTag(d, DescriptorTagExtension::kT2Delivery))
        return PsiResult::kWrongTag;
    if (PayloadSize(d) < 3)
        return PsiResult::kShortDescriptor;
    out.plpId = d.data[0];
    out.t2SystemId = static_cast<int32_t>(Read16(d.data.data() + 1));
    return PsiResult::kOk;
}

} // namespace SklibTs
