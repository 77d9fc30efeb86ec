#pragma once
// The analyser's picture of the programs of the stream, filled from PAT, PMT, CAT, SDT and NIT.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Descriptor.h"

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

    // The PID is the program's PMT, PCR, stream or CA PID.
    bool RefersTo(uint32_t pid) const
    {
        const auto caPid = [pid](const CaEntry& e) { return e.ca_pid == pid; };
        return pmt_pid == static_cast<int32_t>(pid) || pcr_pid == static_cast<int32_t>(pid) || HasStream(pid) ||
               std::any_of(caEntries.begin(), caEntries.end(), caPid) ||
               std::any_of(streams.begin(), streams.end(), [&](const ElementaryStream& s) {
                   return std::any_of(s.caEntries.begin(), s.caEntries.end(), caPid);
               });
    }

    // Its streams' bit rates, plus those of its PMT and PCR PIDs when they carry no stream.
    template <typename RateOfPid>
    int64_t SumBitrates(RateOfPid rateOf) const
    {
        int64_t rate = 0;
        for (const ElementaryStream& stream : streams)
            rate += rateOf(static_cast<int32_t>(stream.elementary_pid));
        if (!HasStream(static_cast<uint32_t>(pmt_pid)))
            rate += rateOf(pmt_pid);
        if (pcr_pid != pmt_pid && !HasStream(static_cast<uint32_t>(pcr_pid)))
            rate += rateOf(pcr_pid);
        return rate;
    }
};

using ProgramMap = std::map<int32_t, Program>;

// Test whether a program's stream list contains a PID.
inline bool ProgramHasStream(const Program& program, uint32_t pid) { return program.HasStream(pid); }

// Delivery-system and naming facts of the network carrying this stream (NIT actual).
struct NetworkInfo {
    int32_t network_id = -1;
    std::wstring networkName;
    // Delivery system of this transport stream: 0 none, else the tag of the last descriptor
    // that gave one (0x43 satellite, 0x44 cable, 0x5A terrestrial, 0x7F extension with
    // deliveryTagExtension 0x04 T2 or 0x05 SH). The record of each kind found is filled.
    int32_t deliverySystemTag = 0;
    int32_t deliveryTagExtension = -1;
    SatelliteDeliveryInfo satellite;
    S2SatelliteDeliveryInfo s2; // completes the satellite record of DVB-S2
    CableDeliveryInfo cable;
    TerrestrialDeliveryInfo terrestrial;
    T2DeliveryInfo t2;
};

} // namespace SklibTs
