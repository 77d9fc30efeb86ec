#pragma once
/// @file
/// Descriptor loops of PSI/SI tables and the decoded forms of the descriptors the analyser uses.
#include <cstdint>
#include <string>
#include <vector>

namespace SklibTs {

/// What a recorded descriptor is; kUnknown for every tag the toolkit does not name.
namespace DescriptorKind {
inline constexpr int32_t kUnknown = -1;             ///< a tag the toolkit does not name
inline constexpr int32_t kAc3 = 0;                  ///< 0x6A
inline constexpr int32_t kAc4 = 1;                  ///< 0x7F, tag_extension 0x15
inline constexpr int32_t kCableDelivery = 2;        ///< 0x44
inline constexpr int32_t kComponent = 3;            ///< 0x50
inline constexpr int32_t kEnhancedAc3 = 4;          ///< 0x7A
inline constexpr int32_t kDataBroadcast = 5;        ///< 0x64
inline constexpr int32_t kDataBroadcastId = 6;      ///< 0x66
inline constexpr int32_t kLinkage = 7;              ///< 0x4A
inline constexpr int32_t kLocalTimeOffset = 8;      ///< 0x58
inline constexpr int32_t kMultilingualComponent = 9; ///< 0x5E
inline constexpr int32_t kNetworkName = 10;         ///< 0x40
inline constexpr int32_t kSatelliteDelivery = 11;   ///< 0x43
inline constexpr int32_t kService = 12;             ///< 0x48
inline constexpr int32_t kServiceList = 13;         ///< 0x41
inline constexpr int32_t kSubtitling = 14;          ///< 0x59
inline constexpr int32_t kTerrestrialDelivery = 15; ///< 0x5A
inline constexpr int32_t kTeletext = 16;            ///< 0x56
inline constexpr int32_t kCa = 17;                  ///< 0x09
inline constexpr int32_t kIso639Language = 18;      ///< 0x0A
inline constexpr int32_t kPrivateDataIndicator = 19; ///< 0x0F
inline constexpr int32_t kRegistration = 20;        ///< 0x05
inline constexpr int32_t kVideoStream = 21;         ///< 0x02
inline constexpr int32_t kLogicalChannel = 22;      ///< 0x83 under the private data specifiers below
} // namespace DescriptorKind

/// Descriptor tags the toolkit itself looks at.
namespace DescriptorTag {
/// A descriptor_tag (ISO/IEC 13818-1, ETSI EN 300 468), named after its descriptor.
///@{
inline constexpr uint8_t kRegistration = 0x05;
inline constexpr uint8_t kCa = 0x09;
inline constexpr uint8_t kNetworkName = 0x40;
inline constexpr uint8_t kSatelliteDelivery = 0x43;
inline constexpr uint8_t kCableDelivery = 0x44;
inline constexpr uint8_t kService = 0x48;
inline constexpr uint8_t kComponent = 0x50;
inline constexpr uint8_t kTerrestrialDelivery = 0x5A;
inline constexpr uint8_t kMultilingualNetworkName = 0x5B;
inline constexpr uint8_t kMultilingualServiceName = 0x5D;
inline constexpr uint8_t kPrivateDataSpecifier = 0x5F;
inline constexpr uint8_t kDataBroadcast = 0x64;
inline constexpr uint8_t kDataBroadcastId = 0x66;
inline constexpr uint8_t kS2SatelliteDelivery = 0x79;
inline constexpr uint8_t kExtension = 0x7F;
inline constexpr uint8_t kLogicalChannel = 0x83;
///@}
} // namespace DescriptorTag

/// tag_extension values of the extension descriptor (tag 0x7F) the toolkit looks at.
namespace DescriptorTagExtension {
inline constexpr uint8_t kT2Delivery = 0x04; ///< T2 delivery system descriptor
inline constexpr uint8_t kShDelivery = 0x05; ///< SH delivery system descriptor
inline constexpr uint8_t kAc4 = 0x15;        ///< AC-4 descriptor
} // namespace DescriptorTagExtension

/// Result codes shared by table, descriptor-loop and descriptor decoding; callers test for zero.
namespace PsiResult {
inline constexpr int32_t kOk = 0;              ///< success
inline constexpr int32_t kNoData = 1;          ///< no table or an empty section slot
inline constexpr int32_t kTooShort = 3;        ///< fixed part missing or a loop passes the CRC_32
inline constexpr int32_t kLoopOverrun = 4;     ///< a descriptor passes its loop, or a payload is short
inline constexpr int32_t kCrcMismatch = 5;     ///< a section's CRC_32 does not match
inline constexpr int32_t kWrongTag = 6;        ///< the descriptor is not of the kind decoded
inline constexpr int32_t kShortDescriptor = 10; ///< payload shorter than its fixed part (CA, registration: 4)
} // namespace PsiResult

/// One entry of a descriptor loop with its own copy of the payload.
struct Descriptor {
    int64_t private_data_specifier = -1; ///< last private_data_specifier earlier in the loop
    std::vector<uint8_t> data;           ///< payload after tag, length (and the extension byte)
    uint32_t length = 0;                 ///< bytes in data
    uint8_t tag = 0;                     ///< descriptor_tag
    uint8_t tag_extension = 0;           ///< only for tag 0x7F with a payload
    int32_t kind = DescriptorKind::kUnknown; ///< a DescriptorKind value

    /// Every field equal.
    bool operator==(const Descriptor&) const = default;
};

/// The DescriptorKind of a tag under the private data specifier in force (-1 for none).
int32_t ClassifyDescriptor(uint8_t tag, uint8_t tagExtension, int64_t privateDataSpecifier);

/// Appends the descriptors of the loop [begin, end) to out. private_data_specifier
/// descriptors set the specifier for the rest of the loop and are not recorded. Returns 4
/// when a descriptor passes end (the descriptors before it stay in out), else 0.
int32_t ParseDescriptors(const uint8_t* begin, const uint8_t* end, std::vector<Descriptor>& out);

/// Component descriptor (tag 0x50).
struct ComponentInfo {
    /// Fields of the descriptor as ETSI EN 300 468 names them; -1 or empty when absent.
    ///@{
    int32_t stream_content = -1;
    int32_t component_type = -1;
    int32_t component_tag = -1;
    std::string language;
    std::wstring text;
    ///@}
};

/// Data broadcast descriptor (tag 0x64).
struct DataBroadcastInfo {
    /// Fields of the descriptor as ETSI EN 300 468 names them; -1 or empty when absent.
    ///@{
    int32_t data_broadcast_id = -1;
    int32_t component_tag = -1;
    std::vector<uint8_t> selector;
    std::string language;
    std::wstring text;
    ///@}
};

/// Data broadcast id descriptor (tag 0x66).
struct DataBroadcastIdInfo {
    /// Fields of the descriptor as ETSI EN 300 468 names them; -1 or empty when absent.
    ///@{
    int32_t data_broadcast_id = -1;
    std::vector<uint8_t> id_selector;
    ///@}
};

/// CA descriptor (tag 0x09, ISO/IEC 13818-1).
struct CaInfo {
    /// Fields of the descriptor as ETSI EN 300 468 names them; -1 or empty when absent.
    ///@{
    int32_t ca_system_id = -1;
    int32_t ca_pid = -1;
    std::vector<uint8_t> private_data;
    ///@}
};

/// Registration descriptor (tag 0x05, ISO/IEC 13818-1).
struct RegistrationInfo {
    /// Fields of the descriptor as ETSI EN 300 468 names them; -1 or empty when absent.
    ///@{
    uint32_t format_identifier = 0;
    std::vector<uint8_t> additional_info;
    ///@}
};

/// Service descriptor (tag 0x48).
struct ServiceInfo {
    /// Fields of the descriptor as ETSI EN 300 468 names them; -1 or empty when absent.
    ///@{
    int32_t service_type = -1;
    std::wstring provider_name;
    std::wstring service_name;
    ///@}
};

/// One language's names from a multilingual network name (provider_name stays empty) or
/// multilingual service name descriptor.
struct MultilingualName {
    std::string language;       ///< ISO 639 code
    std::wstring provider_name; ///< service names only
    std::wstring name;          ///< network or service name
};

/// Multilingual network name (tag 0x5B) or service name (tag 0x5D) descriptor.
struct MultilingualNameInfo {
    std::vector<MultilingualName> names; ///< one per language, in descriptor order
};

// Delivery systems: the codes (polarization, modulation, FEC, ...) are kept as the descriptors
// carry them.

/// Satellite delivery system descriptor (tag 0x43).
struct SatelliteDeliveryInfo {
    /// Fields of the descriptor as ETSI EN 300 468 names them; -1 or empty when absent.
    ///@{
    uint64_t frequencyHz = 0;
    int32_t orbitalPosition = -1; ///< tenths of a degree
    bool westEast = false;
    int32_t polarization = -1;
    int32_t rollOff = -1;
    int32_t modulation = -1;
    uint32_t symbolRate = 0; ///< symbols per second
    int32_t fecInner = -1;
    ///@}
};

/// Cable delivery system descriptor (tag 0x44).
struct CableDeliveryInfo {
    /// Fields of the descriptor as ETSI EN 300 468 names them; -1 or empty when absent.
    ///@{
    uint64_t frequencyHz = 0;
    int32_t modulation = -1;
    uint32_t symbolRate = 0;
    int32_t fecInner = -1;
    ///@}
};

/// Terrestrial delivery system descriptor (tag 0x5A).
struct TerrestrialDeliveryInfo {
    /// Fields of the descriptor as ETSI EN 300 468 names them; -1 or empty when absent.
    ///@{
    uint64_t frequencyHz = 0;
    uint32_t bandwidthHz = 0; ///< 0 for a reserved code
    int32_t constellation = -1;
    int32_t codeRate = -1; ///< of the high-priority stream
    ///@}
};

/// S2 satellite delivery system descriptor (tag 0x79).
struct S2SatelliteDeliveryInfo {
    /// Fields of the descriptor as ETSI EN 300 468 names them; -1 or empty when absent.
    ///@{
    int32_t scramblingSequenceIndex = -1; ///< when signalled
    int32_t inputStreamIdentifier = -1;   ///< when signalled
    ///@}
};

/// T2 delivery system descriptor (tag 0x7F, extension 0x04).
struct T2DeliveryInfo {
    /// Fields of the descriptor as ETSI EN 300 468 names them; -1 or empty when absent.
    ///@{
    int32_t plpId = -1;
    int32_t t2SystemId = -1;
    ///@}
};

/// Decodes a descriptor: resets `out`, checks the descriptor's tag (PsiResult::kWrongTag) and payload size
/// (PsiResult::kShortDescriptor), then fills `out`; PsiResult::kOk (0) on success. Names are DVB
/// text decoded to wide strings, each cut to the bytes the descriptor holds. In a delivery
/// system descriptor, a flagged field that does not fit ends the decode with what came before it
/// (result PsiResult::kShortDescriptor).
///@{
int32_t DecodeComponent(ComponentInfo& out, const Descriptor& d);
int32_t DecodeDataBroadcast(DataBroadcastInfo& out, const Descriptor& d);
int32_t DecodeDataBroadcastId(DataBroadcastIdInfo& out, const Descriptor& d);
int32_t DecodeCa(CaInfo& out, const Descriptor& d);
int32_t DecodeRegistration(RegistrationInfo& out, const Descriptor& d);
int32_t DecodeNetworkName(std::wstring& out, const Descriptor& d);
int32_t DecodeService(ServiceInfo& out, const Descriptor& d);
int32_t DecodeMultilingualNetworkName(MultilingualNameInfo& out, const Descriptor& d);
int32_t DecodeMultilingualServiceName(MultilingualNameInfo& out, const Descriptor& d);
int32_t DecodeSatelliteDelivery(SatelliteDeliveryInfo& out, const Descriptor& d);
int32_t DecodeCableDelivery(CableDeliveryInfo& out, const Descriptor& d);
int32_t DecodeTerrestrialDelivery(TerrestrialDeliveryInfo& out, const Descriptor& d);
int32_t DecodeS2SatelliteDelivery(S2SatelliteDeliveryInfo& out, const Descriptor& d);
int32_t DecodeT2Delivery(T2DeliveryInfo& out, const Descriptor& d);
///@}

} // namespace SklibTs
