#include "SkTable.h"

#include <algorithm>
#include <cstring>

namespace SklibTs {

SkTable::SkTable(const SkTable& other)
    : last_section_number(other.last_section_number), version_number(other.version_number)
{
    for (int32_t i = 0; i < kMaxSections; ++i) {
        if (const SkTableSection* s = other.sections[i].get())
            sections[i] = std::make_unique<SkTableSection>(s->data, s->length, s->receive_time);
    }
}

SkTable::~SkTable() = default;
RawTable::~RawTable() = default;

void SkTable::Clear()
{
    for (auto& section : sections)
        section.reset();
    version_number = -1;
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
    for (int32_t i = 0; i < kMaxSections; ++i) {
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
