#pragma once
// Stream kinds: the PMT stream_type of an elementary PID, or one of the analyser's own codes
// (256 and up) for a stream whose coding a descriptor tells. Every fact the toolkit uses about
// a kind (video or audio, PES collected for the parsers, its name) lives here.
#include <cstdint>

namespace SklibTs {

struct ElementaryStream;

namespace StreamKind {
inline constexpr int32_t kUnknown = -1;

// stream_type values (ISO/IEC 13818-1 and registrations).
inline constexpr int32_t kMpeg1Video = 0x01;
inline constexpr int32_t kMpeg2Video = 0x02;
inline constexpr int32_t kMpeg1Audio = 0x03;
inline constexpr int32_t kMpeg2Audio = 0x04;
inline constexpr int32_t kPrivateSections = 0x05;
inline constexpr int32_t kPrivatePes = 0x06;
inline constexpr int32_t kDsmCc = 0x0D;
inline constexpr int32_t kAacAdts = 0x0F;
inline constexpr int32_t kMpeg4Video = 0x10;
inline constexpr int32_t kAacLatm = 0x11;
inline constexpr int32_t kMetadata = 0x15;
inline constexpr int32_t kH264 = 0x1B;
inline constexpr int32_t kJpeg2000 = 0x21;
inline constexpr int32_t kHevc = 0x24;
inline constexpr int32_t kJpegXs = 0x32;
inline constexpr int32_t kUserPrivateFirst = 0x80;
inline constexpr int32_t kAc3 = 0x81;
inline constexpr int32_t kScte35 = 0x86;
inline constexpr int32_t kEac3 = 0x87;
inline constexpr int32_t kPrivateAudioE6 = 0xE6; // a user-private audio stream_type counted as audio
inline constexpr int32_t kVc1 = 0xEA;

// The analyser's codes for streams a descriptor identifies.
inline constexpr int32_t kAc3Descriptor = 256;     // stream_type 6 with an AC-3 descriptor
inline constexpr int32_t kEac3Descriptor = 257;    // stream_type 6 with an enhanced AC-3 descriptor
inline constexpr int32_t kTeletext = 258;          // stream_type 6 with a teletext descriptor
inline constexpr int32_t kMultiprotocolData = 259; // user-private stream_type, data_broadcast_id 5
inline constexpr int32_t kDataCarousel = 260;      // data_broadcast_id 6
inline constexpr int32_t kIpMacNotification = 261; // stream_type 5 or 0x0D, data_broadcast_id 11
inline constexpr int32_t kBssdAudio = 262;         // stream_type 6 registered as "BSSD"
inline constexpr int32_t kAc4Descriptor = 263;     // stream_type 6 with an AC-4 descriptor
} // namespace StreamKind

// Kinds that make a program a video program.
bool IsVideoKind(int32_t kind);
// Kinds that make a program without video an audio program.
bool IsAudioKind(int32_t kind);
// Kinds whose PES packets the analyser collects for the elementary-stream parsers.
bool IsCollectedKind(int32_t kind);
// The kind of a PMT entry: its stream_type unless one of its descriptors says more.
int32_t DeriveStreamKind(const ElementaryStream& stream);
// Plain words for a kind, "other" for one without a name, "" for kUnknown.
const char* StreamKindName(int32_t kind);

} // namespace SklibTs
