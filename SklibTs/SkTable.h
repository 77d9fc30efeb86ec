#pragma once
#include <array>
#include <cstdint>
#include <memory>

#include "SkTableSection.h"

namespace SklibTs {

// A table of up to 256 sections, indexed by section_number.
class SkTable {
public:
    static constexpr int32_t kMaxSections = 256;

    SkTable() = default;
    // A deep copy: plain sections with their own bytes; the copy's completion time is unset.
    SkTable(const SkTable& other);
    SkTable& operator=(const SkTable&) = delete;
    virtual ~SkTable();

    // Deletes every section; version_number becomes -1 (last_section_number stays).
    void Clear();
    bool IsComplete() const;
    bool operator==(const SkTable& other) const;
    // One past the highest section number held (0 for none): most tables hold one or a few
    // of their 256 slots, and what walks the sections stops there.
    int32_t SlotsInUse() const;

    std::array<std::unique_ptr<SkTableSection>, kMaxSections> sections;
    int32_t last_section_number = -1;
    int32_t version_number = -1;
    int64_t completion_time = kNoTime;
};

// The analyser's table under assembly.
class RawTable : public SkTable {
public:
    RawTable() = default;
    ~RawTable() override;
};

} // namespace SklibTs
