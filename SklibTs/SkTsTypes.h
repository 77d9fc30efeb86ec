#pragma once
// Units and sentinels shared by the whole toolkit.
#include <cstdint>
#include <limits>

namespace SklibTs {

// Analyser and packet times count a 54 MHz clock.
inline constexpr int64_t kTicksPerSecond = 54'000'000;
inline constexpr int64_t kTicksPerMillisecond = 54'000;
// Absent time in every 64-bit time field.
inline constexpr int64_t kNoTime = std::numeric_limits<int64_t>::min();

inline constexpr uint32_t kPidCount = 8192;
inline constexpr uint32_t kNullPid = 0x1FFF;
inline constexpr uint32_t kNoPid = 0xFFFFFFFF;

inline constexpr uint32_t kTsPacketSize = 188;
inline constexpr uint32_t kTsPacketSize204 = 204;
inline constexpr uint8_t kSyncByte = 0x47;

// PCR values are 27 MHz counts; the 33-bit base times 300 wraps at this modulus.
inline constexpr int64_t kPcrModulus = (int64_t{1} << 33) * 300;

// Which family of service-information tables the stream follows.
enum SiStandard : int32_t {
    kSiNone = 0,   // MPEG-2 systems only
    kSiAtsc = 1,
    kSiDvb = 2,
    kSiDvbDerived = 3,
};

} // namespace SklibTs
