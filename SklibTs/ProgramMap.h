#pragma once
/// @file
/// The analyser's picture of the programs of the stream, filled from PAT, PMT, CAT, SDT and NIT.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Descriptor.h"

namespace SklibTs {

/// A conditional-access entry (CA descriptor) of a PMT or the CAT.
struct CaEntry {
    uint32_t ca_system_id = 0; ///< CA_system_ID
    uint32_t ca_pid = 0;       ///< the PID of its ECMs (PMT) or EMMs (CAT)
    /// Every field equal.
    bool operator==(const CaEntry&) const = default;
};

/// One elementary stream of a program, as its PMT entry describes it.
struct ElementaryStream {
    uint32_t elementary_pid = 0;        ///< the PID that carries it
    int32_t stream_type = -1;           ///< of the PMT entry
    int32_t component_tag = -1;         ///< component descriptor of the entry; -1 without one
    int32_t component_type = -1;        ///< component descriptor of the entry; -1 without one
    int32_t data_broadcast_id = -1;     ///< data broadcast (id) descriptor of the entry; -1 without one
    bool hasAc3Descriptor = false;      ///< AC-3 descriptor (DVB)
    bool hasAc4Descriptor = false;      ///< AC-4 descriptor (DVB extension)
    bool hasEnhancedAc3Descriptor = false; ///< enhanced AC-3 descriptor (DVB)
    bool hasTeletextDescriptor = false; ///< teletext descriptor
    bool hasBssdRegistration = false;   ///< registration descriptor "BSSD" (SMPTE 302M audio)
    std::vector<CaEntry> caEntries;     ///< CA descriptors of the entry
    std::string language; ///< ISO 639 code as UTF-8 (U+FFFD for control bytes), empty when none given
};

/// Program kinds derived from the stream kinds of a program.
enum ProgramKind : int32_t {
    kProgramOther = 0, ///< neither of the others
    kProgramVideo = 1, ///< has a video stream
    kProgramAudio = 2, ///< has audio streams and no video
};

/// One program of the stream: its PAT entry, its PMT and its SDT service.
struct Program {
    int32_t program_number = 0;           ///< from the PAT
    int32_t pmt_pid = -1;                 ///< from the PAT
    int32_t pcr_pid = -1;                 ///< -1: none signalled or no PMT yet
    std::vector<ElementaryStream> streams; ///< PMT entries, in PMT order
    std::vector<CaEntry> caEntries;       ///< CA descriptors of the PMT's program loop
    int32_t programKind = kProgramOther;  ///< a ProgramKind
    int64_t bitrate = 0;                  ///< bit/s, see SumBitrates()
    int32_t service_type = -1;            ///< from the SDT actual; -1 without one
    std::wstring providerName;            ///< from the SDT actual
    std::wstring serviceName;             ///< from the SDT actual

    /// An elementary stream of the program is on `pid`.
    bool HasStream(uint32_t pid) const
    {
        return std::any_of(streams.begin(), streams.end(),
                           [pid](const ElementaryStream& s) { return s.elementary_pid == pid; });
    }

    /// The PID is the program's PMT, PCR, stream or CA PID.
    bool RefersTo(uint32_t pid) const
    {
        const auto caPid = [pid](const CaEntry& e) { return e.ca_pid == pid; };
        return pmt_pid == static_cast<int32_t>(pid) || pcr_pid == static_cast<int32_t>(pid) || HasStream(pid) ||
               std::any_of(caEntries.begin(), caEntries.end(), caPid) ||
               std::any_of(streams.begin(), streams.end(), [&](const ElementaryStream& s) {
                   return std::any_of(s.caEntries.begin(), s.caEntries.end(), caPid);
               });
    }

    /// Its streams' bit rates, plus those of its PMT and PCR PIDs when they carry no stream.
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

/// Programs by program number.
using ProgramMap = std::map<int32_t, Program>;

/// Test whether a program's stream list contains a PID.
inline bool ProgramHasStream(const Program& program, uint32_t pid) { return program.HasStream(pid); }

/// Delivery-system and naming facts of the network carrying this stream (NIT actual).
struct NetworkInfo {
    int32_t network_id = -1;   ///< -1 until a NIT actual is parsed
    std::wstring networkName;  ///< network name descriptor (or the preferred language's multilingual name)
    /// Delivery system of this transport stream: 0 none, else the tag of the last descriptor
    /// that gave one (0x43 satellite, 0x44 cable, 0x5A terrestrial, 0x7F extension with
    /// deliveryTagExtension 0x04 T2 or 0x05 SH). The record of each kind found is filled.
    int32_t deliverySystemTag = 0;
    int32_t deliveryTagExtension = -1; ///< tag_extension with tag 0x7F, else -1
    SatelliteDeliveryInfo satellite;   ///< tag 0x43
    S2SatelliteDeliveryInfo s2; ///< completes the satellite record of DVB-S2
    CableDeliveryInfo cable;           ///< tag 0x44
    TerrestrialDeliveryInfo terrestrial; ///< tag 0x5A
    T2DeliveryInfo t2;                 ///< tag 0x7F, extension 0x04
};

} // namespace SklibTs
