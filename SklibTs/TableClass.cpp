#include "TableClass.h"

#include "SkTsTypes.h"

namespace SklibTs {

namespace {

int32_t ClassifyDvbTable(uint32_t tid, int32_t siStandard)
{
    using namespace TableClass;
    switch (tid) {
    case 0x40: return kNitActual;
    case 0x41: return kNitOther;
    case 0x42: return kSdtActual;
    case 0x46: return siStandard == kSiDvbDerived ? kSdtOtherDerived : kSdtOther;
    case 0x4A: return kBat;
    case 0x4E: return kEitPfActual;
    case 0x4F: return kEitPfOther;
    case 0x70: return kTdt;
    case 0x71: return kRst;
    case 0x72: return kStuffing;
    case 0x73: return kTot;
    case 0x7E: return kDit;
    case 0x7F: return kSit;
    default: break;
    }
    if (tid >= 0x50 && tid <= 0x5F)
        return kEitScheduleActual;
    if (tid >= 0x60 && tid <= 0x6F)
        return kEitScheduleOther;
    if (siStandard != kSiDvbDerived)
        return kNone;
    if (tid >= 0xA0 && tid <= 0xA6)
        return kDerivedA0 + static_cast<int32_t>(tid - 0xA0);
    switch (tid) {
    case 0xAA: return kDerivedAA;
    case 0xB0: return kDerivedB0;
    case 0xB1: return kDerivedB1;
    default: return kNone;
    }
}

int32_t ClassifyAtscTable(uint32_t tid)
{
    using namespace TableClass;
    if (tid >= 0xC7 && tid <= 0xCD)
        return kMgt + static_cast<int32_t>(tid - 0xC7);
    if (tid == 0xD3)
        return kDcct;
    if (tid == 0xD4)
        return kDccsct;
    return kNone;
}

} // namespace

int32_t ClassifyTable(const TableKey& key, int32_t siStandard)
{
    using namespace TableClass;
    const uint32_t tid = key.table_id;
    switch (tid) {
    case 0x00: return key.pid == 0 ? kPat : kNone;
    case 0x01: return key.pid == 1 ? kCat : kNone;
    case 0x02: return kPmt;
    case 0x03: return kTsdt;
    case 0x80:
    case 0x81: return kEcm;
    default: break;
    }
    if (siStandard == kSiDvb || siStandard == kSiDvbDerived)
        return ClassifyDvbTable(tid, siStandard);
    if (siStandard == kSiAtsc)
        return ClassifyAtscTable(tid);
    return kNone;
}

} // namespace SklibTs
