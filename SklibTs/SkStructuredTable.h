#pragma once
// Base of the decoded tables: a table is decoded section by section into the derived fields.
#include <cstdint>

#include "SkTable.h"
#include "SkTableSection.h"

namespace SklibTs {

class SkStructuredTable {
public:
    SkStructuredTable() = default;
    SkStructuredTable(const SkStructuredTable&) = default;
    SkStructuredTable& operator=(const SkStructuredTable&) = default;
    virtual ~SkStructuredTable() = default;

    // Empties the decoded fields.
    virtual void Clear() = 0;
    // Adds the content of one section to the decoded fields; a result code of PsiResult.
    virtual int32_t ParseSection(const SkTableSection* section) = 0;
    // Clears, then decodes the sections 0..last_section_number in order, going on after a
    // failing one; returns the first non-zero result, 1 for no table, else 0.
    virtual int32_t Parse(const SkTable* table);

protected:
    // The bytes of a section and the offset of its CRC_32, where the body ends.
    struct SectionBody {
        const uint8_t* bytes = nullptr;
        int32_t length = 0;
        int32_t end = -4;
    };
    static SectionBody BodyOf(const SkTableSection& section);
    // The first step of every ParseSection: the section's body, or kNoData without a section
    // and kTooShort when the body ends before fixedPart bytes.
    static int32_t OpenBody(const SkTableSection* section, int32_t fixedPart, SectionBody& body);
    // Keeps the first failure of a section that goes on after it.
    static void KeepFirstFailure(int32_t& result, int32_t next)
    {
        if (result == 0)
            result = next;
    }
    // The closing step of every ParseSection: 0 when the CRC over the section is right, else 5.
    static int32_t CrcResult(const SectionBody& body);
};

} // namespace SklibTs
