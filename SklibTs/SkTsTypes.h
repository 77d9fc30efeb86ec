#pragma once
/// @file
/// Units and sentinels shared by the whole toolkit.
#include <cstdint>
#include <limits>

/// The transport-stream toolkit: packets, PES, PSI tables, the packet input and the analyser.
namespace SklibTs {

/// The four clocks, in counts per second. Analyser and packet times ("ticks") count 54 MHz;
/// PCR values count 27 MHz (the 33-bit base counts 90 kHz, like PTS and DTS); stream and
/// media-sample times (REFERENCE_TIME) count 100 ns.
inline constexpr int64_t kTicksPerSecond = 54'000'000;  ///< analyser and packet times
inline constexpr int64_t kPcrClockHz = 27'000'000;      ///< PCR values
inline constexpr int64_t kPtsClockHz = 90'000;          ///< PTS, DTS and the PCR base
inline constexpr int64_t kReferenceTimeHz = 10'000'000; ///< REFERENCE_TIME, 100 ns
inline constexpr int64_t kTicksPerMillisecond = kTicksPerSecond / 1000;   ///< 54,000
inline constexpr int64_t kPcrTicksPerMillisecond = kPcrClockHz / 1000;    ///< 27,000
/// PCR = base * 300 + extension.
inline constexpr int64_t kPcrTicksPerPcrBase = kPcrClockHz / kPtsClockHz;
/// Absent time in every 64-bit time field.
inline constexpr int64_t kNoTime = std::numeric_limits<int64_t>::min();

inline constexpr uint32_t kPidCount = 8192;      ///< PIDs are 13-bit: 0 to 8191; tables by PID have this many entries
inline constexpr uint32_t kNullPid = 0x1FFF;     ///< the PID of null packets
inline constexpr uint32_t kNoPid = 0xFFFFFFFF;   ///< "no PID" in 32-bit PID fields

inline constexpr uint32_t kTsPacketSize = 188;    ///< bytes of a transport packet
inline constexpr uint32_t kTsPacketSize204 = 204; ///< with 16 parity bytes
inline constexpr uint8_t kSyncByte = 0x47;        ///< first byte of every packet
inline constexpr int64_t kTsPacketBits = int64_t{kTsPacketSize} * 8; ///< bits of a 188-byte packet

/// The 33-bit PCR base times 300 wraps at this modulus.
inline constexpr int64_t kPcrModulus = (int64_t{1} << 33) * kPcrTicksPerPcrBase;

/// Which family of service-information tables the stream follows.
enum SiStandard : int32_t {
    kSiNone = 0,   ///< MPEG-2 systems only
    kSiAtsc = 1,
    kSiDvb = 2,
    kSiDvbDerived = 3,
};

} // namespace SklibTs
