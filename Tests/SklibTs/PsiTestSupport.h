#pragma once
// Tables and descriptor loops for the table decoding tests.
#include <memory>
#include <vector>

#include "Descriptor.h"
#include "SectionBuilder.h"
#include "SkTable.h"

namespace PsiTest {

using SktsTest::Bytes;

// A table holding the given sections in slots 0..n-1 (each its own exactly sized buffer,
// so a read past a section's end is caught by the address sanitizer).
inline std::unique_ptr<SklibTs::SkTable> TableOf(const std::vector<Bytes>& sections)
{
    auto table = std::make_unique<SklibTs::SkTable>();
    for (size_t i = 0; i < sections.size(); ++i)
        table->sections[i] =
            std::make_unique<SklibTs::SkTableSection>(sections[i].data(), static_cast<int32_t>(sections[i].size()), 0);
    table->last_section_number = static_cast<int32_t>(sections.size()) - 1;
    table->version_number = 0;
    return table;
}

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline std::vector<SklibTs::Descriptor> Loop(const Bytes& bytes, int32_t* result = nullptr)
{
    std::vector<SklibTs::Descriptor> out;
    const int32_t r = SklibTs::ParseDescriptors(bytes.data(), bytes.data() + bytes.size(), out);
    if (result != nullptr)
        *result = r;
    return out;
}

// The one descriptor of tag with the payload.
inline SklibTs::Descriptor One(uint8_t tag, const Bytes& payload)
{
    return Loop(SktsTest::DescriptorBytes(tag, payload)).at(0);
}

} // namespace PsiTest
