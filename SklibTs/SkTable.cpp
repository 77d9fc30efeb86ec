#include "SkTable.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace SklibTs {

SkTable::SkTable(const SkTable& other)
    : last_section_number(other.last_section_number), version_number(other.version_number)
{
    const int32_t used = other.SlotsInUse();
    for (int32_t i = 0; i < used; ++i) {
        if (const SkTableSection* s = other.sections[i].get())
            sections[i] = std::make_unique<SkTableSection>(s->data, s->length, s->receive_time);
    }
}

SkTable::~SkTable() = default;
RawTable::~RawTable() = default;

void SkTable::Clear()
{
    const int32_t used = SlotsInUse();
    for (int32_t i = 0; i < used; ++i)
        sections[i].reset();
    version_number = -1;
}

int32_t SkTable::SlotsInUse() const
{
    // Eight slots at a time from the top, without a branch per slot.
    constexpr int32_t kRun = 8;
    static_assert(kMaxSections % kRun == 0);
    for (int32_t end = kMaxSections; end > 0; end -= kRun) {
        uintptr_t any = 0;
        for (int32_t i = end - kRun; i < end; ++i)
            any |= reinterpret_cast<uintptr_t>(sections[i].get());
        if (any == 0)
            continue;
        int32_t last = end - 1;
        while (!sections[last])
            --last;
        return last + 1;
    }
    return 0;
}

bool SkTable::IsComplete() const
{
    if (!sections[0])
        return false;
    if (last_section_number < 0)
        return true;
    const int32_t last = std::min(last_section_number, kMaxSections - 1);
    const auto* first = dynamic_cast<const RawTableSection*>(sections[0].get());
    if (first == nullptr || !first->segmented) {
        for (int32_t i = 0; i <= last; ++i) {
            if (!sections[i])
                return false;
        }
        return true;
    }
    // EIT schedule: each segment of eight sections needs its first section and the sections
    // up to the segment_last_section_number that this first section names.
    for (int32_t start = 0; start <= last; start += 8) {
        const auto* head = dynamic_cast<const RawTableSection*>(sections[start].get());
        if (head == nullptr)
            return false;
        const int32_t segmentLast = std::min(head->segment_last_section_number, kMaxSections - 1);
        for (int32_t i = start + 1; i <= segmentLast; ++i) {
            if (!sections[i])
                return false;
        }
    }
    return true;
}

bool SkTable::operator==(const SkTable& other) const
{
    if (version_number != other.version_number || last_section_number != other.last_section_number)
        return false;
    const int32_t used = std::max(SlotsInUse(), other.SlotsInUse());
    for (int32_t i = 0; i < used; ++i) {
        const SkTableSection* a = sections[i].get();
        const SkTableSection* b = other.sections[i].get();
        if ((a == nullptr) != (b == nullptr))
            return false;
        if (a != nullptr &&
            (a->length != b->length || std::memcmp(a->data, b->data, static_cast<size_t>(a->length)) != 0))
            return false;
    }
    return true;
}

} // namespace SklibTs
