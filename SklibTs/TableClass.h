#pragma once
// Table classes: what the analyser takes a complete table for, by its key and the SI
// standard. A PID's table-class mask has bit n set while a table of class n is stored on it.
#include <cstdint>

#include "TableKey.h"

namespace SklibTs {

namespace TableClass {
inline constexpr int32_t kNone = 0;
inline constexpr int32_t kPat = 1;               // table_id 0x00 on PID 0
inline constexpr int32_t kCat = 2;               // table_id 0x01 on PID 1
inline constexpr int32_t kPmt = 3;               // table_id 0x02
inline constexpr int32_t kTsdt = 4;              // table_id 0x03
inline constexpr int32_t kEmm = 5;               // no table_id: marks the EMM PIDs the CAT names
inline constexpr int32_t kEcm = 6;               // table_id 0x80, 0x81; also marks the PMTs' ECM PIDs
// DVB and the DVB-based set.
inline constexpr int32_t kNitActual = 7;         // 0x40
inline constexpr int32_t kNitOther = 8;          // 0x41
inline constexpr int32_t kSdtActual = 9;         // 0x42
inline constexpr int32_t kSdtOther = 10;         // 0x46 (DVB)
inline constexpr int32_t kBat = 11;              // 0x4A
inline constexpr int32_t kEitPfActual = 12;      // 0x4E
inline constexpr int32_t kEitScheduleActual = 13; // 0x50-0x5F
inline constexpr int32_t kEitPfOther = 14;       // 0x4F
inline constexpr int32_t kEitScheduleOther = 15; // 0x60-0x6F
inline constexpr int32_t kTdt = 16;              // 0x70
inline constexpr int32_t kRst = 17;              // 0x71
inline constexpr int32_t kStuffing = 18;         // 0x72
inline constexpr int32_t kTot = 19;              // 0x73
inline constexpr int32_t kDit = 20;              // 0x7E
inline constexpr int32_t kSit = 21;              // 0x7F
// The DVB-based set only.
inline constexpr int32_t kSdtOtherDerived = 24;  // 0x46
inline constexpr int32_t kDerivedA0 = 25;        // 0xA0-0xA6 are 25-31
inline constexpr int32_t kDerivedAA = 32;        // 0xAA
inline constexpr int32_t kDerivedB0 = 33;        // 0xB0
inline constexpr int32_t kDerivedB1 = 34;        // 0xB1
// ATSC.
inline constexpr int32_t kMgt = 35;              // 0xC7; 0xC8-0xCD are 36-41
inline constexpr int32_t kTvct = 36;             // 0xC8
inline constexpr int32_t kCvct = 37;             // 0xC9
inline constexpr int32_t kDcct = 42;             // 0xD3
inline constexpr int32_t kDccsct = 43;           // 0xD4
} // namespace TableClass

// The class of a complete table with this key under the SI standard; TableClass::kNone for a
// table the analyser does not classify.
int32_t ClassifyTable(const TableKey& key, int32_t siStandard);

inline constexpr uint64_t TableClassBit(int32_t tableClass) { return uint64_t{1} << tableClass; }

} // namespace SklibTs
