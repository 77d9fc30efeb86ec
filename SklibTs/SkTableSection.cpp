#include "SkTableSection.h"

#include <algorithm>
#include <cstring>

#include "BigEndian.h"

namespace SklibTs {

SkTableSection::SkTableSection(int32_t capacity)
    : storage_(capacity > 0 ? std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(capacity)) : nullptr)
{
    data = storage_.get();
}

SkTableSection::SkTableSection(const uint8_t* bytes, int32_t count, int64_t receiveTime) : SkTableSection(count)
{
    length = count > 0 ? count : 0;
    receive_time = receiveTime;
    if (length > 0)
        std::memcpy(data, bytes, static_cast<size_t>(length));
}

SkTableSection::~SkTableSection() = default;

RawTableSection::RawTableSection() : SkTableSection(kCapacity) {}

void RawTableSection::Restart()
{
    length = 0;
    receive_time = kNoTime;
    current_next_indicator = true;
    version_number = -1;
    last_section_number = 0;
    segmented = false;
    segment_last_section_number = 0;
}

int32_t RawTableSection::Append(const uint8_t* bytes, int32_t count)
{
    if (count <= 0)
        return 0;
    int32_t taken = 0;
    if (length < 3) {
        const int32_t n = std::min(3 - length, count);
        std::memcpy(data + length, bytes, static_cast<size_t>(n));
        length += n;
        taken = n;
        if (taken == count || length < 3)
            return taken;
    }
    const int32_t total = std::min(SectionLength() + 3, kCapacity);
    const int32_t n = std::clamp(total - length, 0, count - taken);
    std::memcpy(data + length, bytes + taken, static_cast<size_t>(n));
    length += n;
    return taken + n;
}

bool RawTableSection::IsComplete() const { return length >= 3 && length >= SectionLength() + 3; }

namespace {

bool NeedsLongForm(uint32_t tableId, SiStandard standard)
{
    if (standard == kSiDvb || standard == kSiDvbDerived) {
        return tableId == 0x40 || tableId == 0x41 || tableId == 0x42 || tableId == 0x46 || tableId == 0x4A ||
               tableId == 0x4C || (tableId >= 0x4E && tableId <= 0x6F) || (tableId >= 0xA0 && tableId <= 0xA6);
    }
    if (standard == kSiAtsc)
        return (tableId >= 0xC7 && tableId <= 0xCD) || tableId == 0xD3 || tableId == 0xD4;
    return false;
}

} // namespace

bool RawTableSection::ParseHeader(uint16_t pid, TableKey& key, int32_t& section_number, SiStandard standard)
{
    if (length < 1) {
        key = TableKey{pid, TableKey::kAny, TableKey::kAny, TableKey::kAny, TableKey::kAny};
        return false;
    }
    const uint32_t tableId = data[0];
    key = TableKey{pid, tableId, TableKey::kAny, TableKey::kAny, TableKey::kAny};
    const bool longForm = tableId != 0x72 && length >= 2 && (data[1] & 0x80) != 0;
    if (longForm) {
        if (length < 12)
            return false;
        key.table_id_extension = Read16(data + 3);
        if (standard == kSiDvb || standard == kSiDvbDerived) {
            if (((tableId == 0x42 || tableId == 0x46) && pid == 0x11) || pid == 0x1C00)
                key.ext2 = Read16(data + 8);
            if (tableId >= 0x4E && tableId <= 0x6F) {
                if (length < 18)
                    return false;
                key.ext2 = Read16(data + 8);
                key.ext3 = Read16(data + 10);
                if (tableId >= 0x50) {
                    segmented = true;
                    segment_last_section_number = data[12];
                }
            }
        } else if (standard == kSiAtsc && tableId == 0xCC) {
            if (length < 14)
                return false;
            key.ext2 = (uint32_t{data[9]} << 24) | (uint32_t{data[10]} << 16) | (uint32_t{data[11]} << 8) | data[12];
        }
        current_next_indicator = (data[5] & 0x01) != 0;
        version_number = (data[5] >> 1) & 0x1F;
        section_number = data[6];
        last_section_number = data[7];
        return true;
    }
    if (NeedsLongForm(tableId, standard))
        return false;
    current_next_indicator = true;
    section_number = 0;
    last_section_number = 0;
    version_number = -1;
    return true;
}

} // namespace SklibTs
