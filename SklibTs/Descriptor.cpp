#include "Descriptor.h"

#include <algorithm>
#include <cstddef>

#include "BigEndian.h"
#include "DescriptorPayload.h"
#include "DvbText.h"

namespace SklibTs {

namespace {

// Private data specifiers whose registrants define tag 0x83 as the logical_channel_descriptor;
// under any other specifier 0x83 means something else.
bool SpecifierHasLogicalChannels(int64_t specifier)
{
    return specifier == 0x28 || specifier == 0x29 || specifier == 0x37 || specifier == 0x233A ||
           (specifier >= 0x3200 && specifier <= 0x320F);
}

std::vector<uint8_t> Bytes(const Descriptor& d, uint32_t from, uint32_t to)
{
    return from < to ? std::vector<uint8_t>(d.data.begin() + from, d.data.begin() + to) : std::vector<uint8_t>{};
}

} // namespace

int32_t ClassifyDescriptor(uint8_t tag, uint8_t tagExtension, int64_t privateDataSpecifier)
{
    using namespace DescriptorKind;
    switch (tag) {
    case 0x02: return kVideoStream;
    case 0x05: return kRegistration;
    case 0x09: return kCa;
    case 0x0A: return kIso639Language;
    case 0x0F: return kPrivateDataIndicator;
    case 0x40: return kNetworkName;
    case 0x41: return kServiceList;
    case 0x43: return kSatelliteDelivery;
    case 0x44: return kCableDelivery;
    case 0x48: return kService;
    case 0x4A: return kLinkage;
    case 0x50: return kComponent;
    case 0x56: return kTeletext;
    case 0x58: return kLocalTimeOffset;
    case 0x59: return kSubtitling;
    case 0x5A: return kTerrestrialDelivery;
    case 0x5E: return kMultilingualComponent;
    case 0x64: return kDataBroadcast;
    case 0x66: return kDataBroadcastId;
    case 0x6A: return kAc3;
    case 0x7A: return kEnhancedAc3;
    case 0x7F: return tagExtension == DescriptorTagExtension::kAc4 ? kAc4 : kUnknown;
    case 0x83: return SpecifierHasLogicalChannels(privateDataSpecifier) ? kLogicalChannel : kUnknown;
    default: return kUnknown;
    }
}

int32_t ParseDescriptors(const uint8_t* begin, const uint8_t* end, std::vector<Descriptor>& out)
{
    if (begin == nullptr || end == nullptr)
        return PsiResult::kOk;
    int64_t privateDataSpecifier = -1;
    const uint8_t* p = begin;
    while (end - p >= 2) {
        const uint8_t tag = p[0];
        const uint32_t length = p[1];
        if (end - p < static_cast<std::ptrdiff_t>(2 + length))
            return PsiResult::kLoopOverrun;
        const uint8_t* payload = p + 2;
        if (tag == DescriptorTag::kPrivateDataSpecifier) {
            privateDataSpecifier = length == 4 ? int64_t{Read32(payload)} : -1;
        } else {
            Descriptor d;
            d.private_data_specifier = privateDataSpecifier;
            d.tag = tag;
            uint32_t size = length;
            if (tag == DescriptorTag::kExtension && length > 0) {
                d.tag_extension = *payload++;
                --size;
            }
            d.data.assign(payload, payload + size);
            d.length = size;
            d.kind = ClassifyDescriptor(tag, d.tag_extension, privateDataSpecifier);
            out.push_back(std::move(d));
        }
        p += 2 + length;
    }
    return PsiResult::kOk;
}

int32_t DecodeComponent(ComponentInfo& out, const Descriptor& d)
{
    out = ComponentInfo{};
    const uint32_t size = PayloadSize(d);
    if (!HasTag(d, DescriptorTag::kComponent))
        return PsiResult::kWrongTag;
    if (size < 6)
        return PsiResult::kLoopOverrun;
    const uint8_t* p = d.data.data();
    out.stream_content = p[0] & 0x0F;
    out.component_type = p[1];
    out.component_tag = p[2];
    out.language.assign(reinterpret_cast<const char*>(p + 3), 3);
    out.text = DvbTextToWide(p + 6, static_cast<int32_t>(size - 6));
    return PsiResult::kOk;
}

int32_t DecodeDataBroadcast(DataBroadcastInfo& out, const Descriptor& d)
{
    out = DataBroadcastInfo{};
    const uint32_t size = PayloadSize(d);
    if (!HasTag(d, DescriptorTag::kDataBroadcast))
        return PsiResult::kWrongTag;
    if (size < 8)
        return PsiResult::kLoopOverrun;
    const uint8_t* p = d.data.data();
    out.data_broadcast_id = static_cast<int32_t>(Read16(p));
    out.component_tag = p[2];
    const uint32_t selectorEnd = std::min(4u + p[3], size);
    out.selector = Bytes(d, 4, selectorEnd);
    if (size - selectorEnd < 4)
        return PsiResult::kLoopOverrun;
    out.language.assign(reinterpret_cast<const char*>(p + selectorEnd), 3);
    const uint32_t textStart = selectorEnd + 4;
    const uint32_t textLength = std::min<uint32_t>(p[selectorEnd + 3], size - textStart);
    out.text = DvbTextToWide(p + textStart, static_cast<int32_t>(textLength));
    return PsiResult::kOk;
}

int32_t DecodeDataBroadcastId(DataBroadcastIdInfo& out, const Descriptor& d)
{
    out = DataBroadcastIdInfo{};
    const uint32_t size = PayloadSize(d);
    if (!HasTag(d, DescriptorTag::kDataBroadcastId))
        return PsiResult::kWrongTag;
    if (size < 2)
        return PsiResult::kLoopOverrun;
    out.data_broadcast_id = static_cast<int32_t>(Read16(d.data.data()));
    out.id_selector = Bytes(d, 2, size);
    return PsiResult::kOk;
}

int32_t DecodeCa(CaInfo& out, const Descriptor& d)
{
    out = CaInfo{};
    const uint32_t size = PayloadSize(d);
    if (!HasTag(d, DescriptorTag::kCa))
        return PsiResult::kWrongTag;
    if (size < 4)
        return PsiResult::kShortDescriptor;
    const uint8_t* p = d.data.data();
    out.ca_system_id = static_cast<int32_t>(Read16(p));
    out.ca_pid = static_cast<int32_t>(Read16(p + 2) & 0x1FFF);
    out.private_data = Bytes(d, 4, size);
    return PsiResult::kOk;
}

int32_t DecodeRegistration(RegistrationInfo& out, const Descriptor& d)
{
    out = RegistrationInfo{};
    const uint32_t size = PayloadSize(d);
    if (!HasTag(d, DescriptorTag::kRegistration))
        return PsiResult::kWrongTag;
    if (size < 4)
        return PsiResult::kShortDescriptor;
    out.format_identifier = Read32(d.data.data());
    out.additional_info = Bytes(d, 4, size);
    return PsiResult::kOk;
}

} // namespace SklibTs
