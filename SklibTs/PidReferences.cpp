#include "PidReferences.h"

namespace SklibTs {

namespace {

constexpr uint32_t kPatPid = 0x00;
constexpr uint32_t kCatPid = 0x01;
constexpr uint32_t kNitPid = 0x10;
constexpr uint32_t kDvbSiPidsLast = 0x16;
constexpr uint32_t kDvbLinkPidsFirst = 0x1C;
constexpr uint32_t kDvbLinkPidsLast = 0x1F;
constexpr uint32_t kAtscBasePid = 0x1FFB;

} // namespace

void PidReferences::Reset(int32_t siStandard)
{
    for (auto& counts : counts_)
        counts.fill(0);
    counts_[kPatPid][kRefPsiSi] = 1;
    counts_[kCatPid][kRefPsiSi] = 1;
    nitPid_ = -1;
    if (siStandard == kSiDvb || siStandard == kSiDvbDerived) {
        for (uint32_t pid = kNitPid; pid <= kDvbSiPidsLast; ++pid)
            ++counts_[pid][kRefPsiSi];
        for (uint32_t pid = kDvbLinkPidsFirst; pid <= kDvbLinkPidsLast; ++pid)
            ++counts_[pid][kRefPsiSi];
        nitPid_ = kNitPid;
        ++counts_[kNitPid][kRefPsiSi];
    } else if (siStandard == kSiAtsc) {
        ++counts_[kAtscBasePid][kRefPsiSi];
    }
}

void PidReferences::Add(uint32_t pid, PidReferenceKind kind)
{
    if (pid < kPidCount)
        ++counts_[pid][kind];
}

void PidReferences::Remove(uint32_t pid, PidReferenceKind kind)
{
    if (pid < kPidCount && counts_[pid][kind] > 0)
        --counts_[pid][kind];
}

void PidReferences::MoveNitPid(int32_t pid)
{
    if (pid == nitPid_)
        return;
    if (nitPid_ >= 0)
        Remove(static_cast<uint32_t>(nitPid_), kRefPsiSi);
    nitPid_ = pid;
    Add(static_cast<uint32_t>(pid), kRefPsiSi);
}

} // namespace SklibTs
