#include "SectionAssembler.h"

#include <algorithm>

namespace SklibTs {

namespace {

constexpr uint8_t kStuffing = 0xFF;

} // namespace

void SectionAssembler::Collect(uint32_t pid, const uint8_t* payload, uint32_t size, bool unitStart)
{
    if (!unitStart) {
        if (sections_[pid])
            Feed(pid, payload, size);
        return;
    }
    const uint32_t pointer = payload[0];
    const uint8_t* bytes = payload + 1;
    const uint32_t count = size - 1;
    if (pointer == 0 && count > 0 && bytes[0] == kStuffing)
        return;
    if (pointer != 0 && sections_[pid])
        Feed(pid, bytes, std::min(pointer, count));
    uint32_t position = pointer;
    while (position < count && bytes[position] != kStuffing) {
        sections_[pid] = NewSection();
        const uint32_t taken = Feed(pid, bytes + position, count - position);
        if (taken == 0)
            break;
        position += taken;
    }
}

void SectionAssembler::Clear()
{
    for (auto& section : sections_)
        section.reset();
}

void SectionAssembler::Recycle(std::unique_ptr<RawTableSection> section)
{
    if (!section || spares_.size() >= kMaxSpares)
        return;
    section->Restart();
    spares_.push_back(std::move(section));
}

std::unique_ptr<RawTableSection> SectionAssembler::NewSection()
{
    if (spares_.empty())
        return std::make_unique<RawTableSection>();
    std::unique_ptr<RawTableSection> section = std::move(spares_.back());
    spares_.pop_back();
    return section;
}

uint32_t SectionAssembler::Feed(uint32_t pid, const uint8_t* bytes, uint32_t count)
{
    RawTableSection& section = *sections_[pid];
    const int32_t taken = section.Append(bytes, static_cast<int32_t>(count));
    if (section.IsComplete())
        onSection_(context_, pid, std::move(sections_[pid]));
    return taken > 0 ? static_cast<uint32_t>(taken) : 0;
}

} // namespace SklibTs
