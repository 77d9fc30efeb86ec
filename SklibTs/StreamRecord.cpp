#include "StreamRecord.h"

#include "Descriptor.h"
#include "Utf8Text.h"

namespace SklibTs {

namespace {

constexpr uint32_t kBssd = 0x42535344; // "BSSD"

void ApplyDescriptor(const Descriptor& descriptor, ElementaryStream& stream)
{
    switch (descriptor.kind) {
    case DescriptorKind::kAc3: stream.hasAc3Descriptor = true; break;
    case DescriptorKind::kAc4: stream.hasAc4Descriptor = true; break;
    case DescriptorKind::kEnhancedAc3: stream.hasEnhancedAc3Descriptor = true; break;
    case DescriptorKind::kTeletext: stream.hasTeletextDescriptor = true; break;
    case DescriptorKind::kRegistration: {
        RegistrationInfo registration;
        if (DecodeRegistration(registration, descriptor) == PsiResult::kOk && registration.format_identifier == kBssd)
            stream.hasBssdRegistration = true;
        break;
    }
    case DescriptorKind::kComponent: {
        ComponentInfo component;
        if (DecodeComponent(component, descriptor) == PsiResult::kOk) {
            stream.component_tag = component.component_tag;
            stream.component_type = component.component_type;
        }
        break;
    }
    case DescriptorKind::kDataBroadcast: {
        DataBroadcastInfo broadcast;
        if (DecodeDataBroadcast(broadcast, descriptor) == PsiResult::kOk)
            stream.data_broadcast_id = broadcast.data_broadcast_id;
        break;
    }
    case DescriptorKind::kDataBroadcastId: {
        DataBroadcastIdInfo broadcastId;
        if (DecodeDataBroadcastId(broadcastId, descriptor) == PsiResult::kOk)
            stream.data_broadcast_id = broadcastId.data_broadcast_id;
        break;
    }
    case DescriptorKind::kIso639Language:
        if (descriptor.length >= 3)
            stream.language = Latin1CodeToUtf8(descriptor.data.data(), 3);
        break;
    default: break;
    }
}

} // namespace

ElementaryStream DescribeStream(const SkTablePmt::Stream& entry)
{
    ElementaryStream stream;
    stream.elementary_pid = static_cast<uint32_t>(entry.elementary_pid) & kNullPid;
    stream.stream_type = entry.stream_type;
    for (const Descriptor& descriptor : entry.descriptors)
        ApplyDescriptor(descriptor, stream);
    return stream;
}

} // namespace SklibTs
