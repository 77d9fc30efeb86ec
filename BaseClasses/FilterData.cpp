#include "FilterData.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr DWORD kVersion = 2;
constexpr size_t kHeaderSize = 16;
constexpr size_t kPinSize = 24;
constexpr size_t kTypeSize = 16;
constexpr size_t kGuidSize = 16;

class Writer {
public:
    void Dword(DWORD value)
    {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
    }
    void Tag(char first, const char* rest)
    {
        bytes.push_back(static_cast<BYTE>(first));
        bytes.insert(bytes.end(), rest, rest + 3);
    }
    void Guid(const GUID& guid)
    {
        Dword(guid.Data1);
        bytes.push_back(static_cast<BYTE>(guid.Data2));
        bytes.push_back(static_cast<BYTE>(guid.Data2 >> 8));
        bytes.push_back(static_cast<BYTE>(guid.Data3));
        bytes.push_back(static_cast<BYTE>(guid.Data3 >> 8));
        bytes.insert(bytes.end(), guid.Data4, guid.Data4 + 8);
    }

    std::vector<BYTE> bytes;
};

// The GUIDs and mediums after the pin records, each stored once and found by offset.
class SharedData {
public:
    explicit SharedData(size_t base) : base_(base) {}

    DWORD Add(const std::vector<BYTE>& item)
    {
        for (size_t offset = 0; offset + item.size() <= store_.bytes.size(); ++offset) {
            if (std::equal(item.begin(), item.end(), store_.bytes.begin() + static_cast<ptrdiff_t>(offset)))
                return static_cast<DWORD>(base_ + offset);
        }
        const size_t offset = store_.bytes.size();
        store_.bytes.insert(store_.bytes.end(), item.begin(), item.end());
        return static_cast<DWORD>(base_ + offset);
    }
    DWORD AddGuid(const GUID& guid)
    {
        Writer item;
        item.Guid(guid);
        return Add(item.bytes);
    }
    DWORD AddMedium(const REGPINMEDIUM& medium)
    {
        Writer item;
        item.Guid(medium.clsMedium);
        item.Dword(medium.dw1);
        item.Dword(medium.dw2);
        return Add(item.bytes);
    }
    const std::vector<BYTE>& Bytes() const { return store_.bytes; }

private:
    size_t base_;
    Writer store_;
};

class Reader {
public:
    Reader(const BYTE* data, size_t size) : data_(data), size_(size) {}

    bool Dword(size_t offset, DWORD& value) const
    {
        if (offset > size_ || size_ - offset < 4)
            return false;
        value = 0;
        for (int i = 3; i >= 0; --i)
            value = (value << 8) | data_[offset + static_cast<size_t>(i)];
        return true;
    }
    bool Tag(size_t offset, const char* rest) const
    {
        return offset <= size_ && size_ - offset >= 4 && std::memcmp(data_ + offset + 1, rest, 3) == 0;
    }
    bool Guid(size_t offset, GUID& guid) const
    {
        DWORD first = 0;
        if (offset > size_ || size_ - offset < kGuidSize || !Dword(offset, first))
            return false;
        guid.Data1 = first;
        guid.Data2 = static_cast<uint16_t>(data_[offset + 4] | (data_[offset + 5] << 8));
        guid.Data3 = static_cast<uint16_t>(data_[offset + 6] | (data_[offset + 7] << 8));
        std::memcpy(guid.Data4, data_ + offset + 8, 8);
        return true;
    }
    bool GuidAt(size_t& cursor, GUID& guid) const
    {
        DWORD offset = 0;
        if (!Dword(cursor, offset))
            return false;
        cursor += 4;
        return Guid(offset, guid);
    }
    size_t Size() const { return size_; }

private:
    const BYTE* data_;
    size_t size_;
};

} // namespace

bool DescribeFilter(const REGFILTER2& filter, FilterDescription& description)
{
    description = {};
    description.merit = filter.dwMerit;
    if (filter.dwVersion == 1) {
        if (filter.cPins != 0 && filter.rgPins == nullptr)
            return false;
        for (ULONG i = 0; i < filter.cPins; ++i) {
            const REGFILTERPINS& source = filter.rgPins[i];
            RegisteredPin pin;
            pin.flags = (source.bRendered ? REG_PINFLAG_B_RENDERER : 0) | (source.bOutput ? REG_PINFLAG_B_OUTPUT : 0) |
                        (source.bZero ? REG_PINFLAG_B_ZERO : 0) | (source.bMany ? REG_PINFLAG_B_MANY : 0);
            pin.instances = 1;
            for (UINT j = 0; j < source.nMediaTypes && source.lpMediaType != nullptr; ++j) {
                const REGPINTYPES& type = source.lpMediaType[j];
                pin.mediaTypes.push_back({type.clsMajorType != nullptr ? *type.clsMajorType : GUID_NULL,
                                          type.clsMinorType != nullptr ? *type.clsMinorType : GUID_NULL});
            }
            description.pins.push_back(std::move(pin));
        }
        return true;
    }
    if (filter.dwVersion != 2 || (filter.cPins2 != 0 && filter.rgPins2 == nullptr))
        return false;
    for (ULONG i = 0; i < filter.cPins2; ++i) {
        const REGFILTERPINS2& source = filter.rgPins2[i];
        RegisteredPin pin;
        pin.flags = source.dwFlags;
        pin.instances = source.cInstances;
        for (UINT j = 0; j < source.nMediaTypes && source.lpMediaType != nullptr; ++j) {
            const REGPINTYPES& type = source.lpMediaType[j];
            pin.mediaTypes.push_back({type.clsMajorType != nullptr ? *type.clsMajorType : GUID_NULL,
                                      type.clsMinorType != nullptr ? *type.clsMinorType : GUID_NULL});
        }
        for (UINT j = 0; j < source.nMediums && source.lpMedium != nullptr; ++j)
            pin.mediums.push_back(source.lpMedium[j]);
        pin.hasCategory = source.clsPinCategory != nullptr;
        pin.category = pin.hasCategory ? *source.clsPinCategory : GUID_NULL;
        description.pins.push_back(std::move(pin));
    }
    return true;
}

std::vector<BYTE> EncodeFilterData(const FilterDescription& description)
{
    size_t recordsSize = kHeaderSize;
    for (const RegisteredPin& pin : description.pins)
        recordsSize += kPinSize + (pin.hasCategory ? 4 : 0) + pin.mediaTypes.size() * kTypeSize + pin.mediums.size() * 4;

    Writer records;
    SharedData shared(recordsSize);
    records.Dword(kVersion);
    records.Dword(description.merit);
    records.Dword(static_cast<DWORD>(description.pins.size()));
    records.Dword(0);
    for (size_t i = 0; i < description.pins.size(); ++i) {
        const RegisteredPin& pin = description.pins[i];
        records.Tag(static_cast<char>('0' + i), "pi3");
        records.Dword(pin.flags);
        records.Dword(pin.instances);
        records.Dword(static_cast<DWORD>(pin.mediaTypes.size()));
        records.Dword(static_cast<DWORD>(pin.mediums.size()));
        records.Dword(pin.hasCategory ? 1 : 0);
        if (pin.hasCategory)
            records.Dword(shared.AddGuid(pin.category));
        for (size_t j = 0; j < pin.mediaTypes.size(); ++j) {
            records.Tag(static_cast<char>('0' + j), "ty3");
            records.Dword(0);
            records.Dword(shared.AddGuid(pin.mediaTypes[j].major));
            records.Dword(shared.AddGuid(pin.mediaTypes[j].minor));
        }
        for (const REGPINMEDIUM& medium : pin.mediums)
            records.Dword(shared.AddMedium(medium));
    }
    records.bytes.insert(records.bytes.end(), shared.Bytes().begin(), shared.Bytes().end());
    return std::move(records.bytes);
}

bool DecodeFilterData(const BYTE* data, size_t size, FilterDescription& description)
{
    if (data == nullptr || size < kHeaderSize)
        return false;
    const Reader reader(data, size);
    DWORD version = 0;
    DWORD pinCount = 0;
    FilterDescription parsed;
    if (!reader.Dword(0, version) || version != kVersion || !reader.Dword(4, parsed.merit) ||
        !reader.Dword(8, pinCount) || pinCount > (size - kHeaderSize) / kPinSize)
        return false;
    size_t cursor = kHeaderSize;
    for (DWORD i = 0; i < pinCount; ++i) {
        RegisteredPin pin;
        DWORD typeCount = 0;
        DWORD mediumCount = 0;
        DWORD hasCategory = 0;
        if (!reader.Tag(cursor, "pi3") || !reader.Dword(cursor + 4, pin.flags) ||
            !reader.Dword(cursor + 8, pin.instances) || !reader.Dword(cursor + 12, typeCount) ||
            !reader.Dword(cursor + 16, mediumCount) || !reader.Dword(cursor + 20, hasCategory))
            return false;
        cursor += kPinSize;
        pin.hasCategory = hasCategory != 0;
        if (pin.hasCategory && !reader.GuidAt(cursor, pin.category))
            return false;
        if (typeCount > (size - std::min(size, cursor)) / kTypeSize)
            return false;
        for (DWORD j = 0; j < typeCount; ++j) {
            RegisteredMediaType type;
            if (!reader.Tag(cursor, "ty3"))
                return false;
            cursor += 8;
            if (!reader.GuidAt(cursor, type.major) || !reader.GuidAt(cursor, type.minor))
                return false;
            pin.mediaTypes.push_back(type);
        }
        if (mediumCount > (size - std::min(size, cursor)) / 4)
            return false;
        for (DWORD j = 0; j < mediumCount; ++j) {
            DWORD offset = 0;
            REGPINMEDIUM medium{};
            if (!reader.Dword(cursor, offset) || !reader.Guid(offset, medium.clsMedium) ||
                !reader.Dword(size_t{offset} + kGuidSize, medium.dw1) ||
                !reader.Dword(size_t{offset} + kGuidSize + 4, medium.dw2))
                return false;
            cursor += 4;
            pin.mediums.push_back(medium);
        }
        parsed.pins.push_back(std::move(pin));
    }
    description = std::move(parsed);
    return true;
}
