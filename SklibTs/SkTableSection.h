#pragma once
#include <cstdint>
#include <memory>

#include "SkTsTypes.h"
#include "TableKey.h"

namespace SklibTs {

// One complete PSI/SI section and the analyser time at which it was completed.
class SkTableSection {
public:
    SkTableSection() = default;
    SkTableSection(const uint8_t* bytes, int32_t count, int64_t receiveTime);
    virtual ~SkTableSection();
    SkTableSection(const SkTableSection&) = delete;
    SkTableSection& operator=(const SkTableSection&) = delete;

    uint8_t* data = nullptr; // the section's bytes, owned through storage_
    int32_t length = 0;
    int64_t receive_time = kNoTime;

protected:
    explicit SkTableSection(int32_t capacity);

private:
    std::unique_ptr<uint8_t[]> storage_;
};

// A section under assembly from transport-packet payloads, with its header once read.
class RawTableSection : public SkTableSection {
public:
    static constexpr int32_t kCapacity = 4096;

    RawTableSection();

    // Empty again, as constructed, keeping the buffer.
    void Restart();

    // Adds payload bytes; returns how many belong to this section.
    int32_t Append(const uint8_t* bytes, int32_t count);
    bool IsComplete() const;
    // Reads the header into key and section_number; false when the section is malformed
    // for its table_id under the given SI standard.
    bool ParseHeader(uint16_t pid, TableKey& key, int32_t& section_number, SiStandard standard);

    // section_length of the header (12 bits), 0 while fewer than 3 bytes are held.
    int32_t SectionLength() const { return length >= 3 ? ((data[1] & 0x0F) << 8) | data[2] : 0; }

    bool current_next_indicator = true;
    int32_t version_number = -1;
    int32_t last_section_number = 0;
    bool segmented = false;
    int32_t segment_last_section_number = 0;
};

} // namespace SklibTs
