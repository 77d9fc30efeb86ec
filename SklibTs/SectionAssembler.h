#pragma once
// Cuts the payload of a PSI/SI PID's packets into sections: pointer_field, sections spanning
// packets, several sections in one packet, stuffing. One section is under assembly per PID.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "SkTableSection.h"
#include "SkTsTypes.h"

namespace SklibTs {

class SectionAssembler {
public:
    // Receives each complete section. It may call Clear (a new transport stream resets the
    // analyser): the rest of the packet then starts afresh.
    using SectionFn = void (*)(void* context, uint32_t pid, std::unique_ptr<RawTableSection> section);

    SectionAssembler(SectionFn onSection, void* context) : onSection_(onSection), context_(context) {}

    // The payload of one packet of the PID; unitStart: payload_unit_start_indicator.
    void Collect(uint32_t pid, const uint8_t* payload, uint32_t size, bool unitStart);
    void Clear();
    // Takes back a section it handed over, to assemble a later one in its buffer: tables repeat
    // several times a second, and their sections would otherwise come and go at that rate.
    void Recycle(std::unique_ptr<RawTableSection> section);

private:
    static constexpr size_t kMaxSpares = 16;

    std::unique_ptr<RawTableSection> NewSection();
    // Appends to the PID's section and hands it over when complete; returns the bytes taken.
    uint32_t Feed(uint32_t pid, const uint8_t* bytes, uint32_t count);

    SectionFn onSection_;
    void* context_;
    std::array<std::unique_ptr<RawTableSection>, kPidCount> sections_;
    std::vector<std::unique_ptr<RawTableSection>> spares_;
};

} // namespace SklibTs
