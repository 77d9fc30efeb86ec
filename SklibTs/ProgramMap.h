#pragma once
// The analyser's picture of the programs of the stream, filled from PAT, PMT, CAT, SDT and NIT.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace SklibTs {

struct CaEntry {
    uint32_t ca_system_id = 0;
    uint32_t ca_pid = 0;
    bool operator==(const CaEntry&) const = default;
};

// One elementary stream of a program, as its PMT entry describes it.
struct ElementaryStream {
    uint32_t elementary_pid = 0;
    int32_t stream_type = -1;
    int32_t component_tag = -1;
    int32_t component_type = -1;
    int32_t data_broadcast_id = -1;
    bool hasAc3Descriptor = false;
    bool hasAc4Descriptor = false;
    bool hasEnhancedAc3Descriptor = false;
    bool hasTeletextDescriptor = false;
    bool hasBssdRegistration = false;
    std::vector<CaEntry> caEntries;
    std::string language; // ISO 639 code as UTF-8 (U+FFFD for control bytes), empty when none given
};

// Program kinds derived from the stream kinds of a program.
enum ProgramKind : int32_t { kProgramOther = 0, kProgramVideo = 1, kProgramAudio = 2 };

struct Program {
    int32_t program_number = 0;
    int32_t pmt_pid = -1;
    int32_t pcr_pid = -1; // -1: none signalled or no PMT yet
    std::vector<ElementaryStream> streams;
    std::vector<CaEntry> caEntries;
    int32_t programKind = kProgramOther;
    int64_t bitrate = 0;
    // From the SDT actual.
    int32_t service_type = -1;
    std::wstring providerName;
    std::wstring serviceName;

    bool HasStream(uint32_t pid) const
    {
        return std::any_of(streams.begin(), streams.end(),
                           [pid](const ElementaryStream& s) { return s.elementary_pid == pid; });
    }
};

using ProgramMap = std::map<int32_t, Program>;

// Test whether a program's stream list contains a PID.
inline bool ProgramHasStream(const Program& program, uint32_t pid) { return program.HasStream(pid); }

// Delivery-system and naming facts of the network carrying this stream (NIT actual).
struct NetworkInfo {
    int32_t network_id = -1;
    std::wstring networkName;
    // Delivery system of this transport stream: 0 none, else the descriptor tag that gave it
    // (0x43 satellite, 0x44 cable, 0x5A terrestrial, 0x79 S2 satellite, 0x7F extension).
    int32_t deliverySystemTag = 0;
    int32_t deliveryTagExtension = -1; // 0x04 T2, 0x05 SH for tag 0x7F
    uint64_t frequencyHz = 0;
    uint32_t symbolRate = 0;          // symbols per second (satellite, cable)
    uint32_t bandwidthHz = 0;         // terrestrial
    int32_t modulation = -1;          // the descriptor's own modulation / constellation code
    int32_t fecInner = -1;
    int32_t polarization = -1;        // satellite
    int32_t orbitalPosition = -1;     // satellite, tenths of a degree
    bool westEast = false;
    int32_t rollOff = -1;
    int32_t scramblingSequenceIndex = -1; // S2, when signalled
    int32_t inputStreamIdentifier = -1;   // S2, when signalled
    int32_t plpId = -1;                   // T2
    int32_t t2SystemId = -1;              // T2
};

} // namespace SklibTs
