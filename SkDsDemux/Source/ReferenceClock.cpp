#include "ReferenceClock.h"

ReferenceClock::ReferenceClock(LPUNKNOWN outer) : CBaseReferenceClock(NAME("Demultiplexer clock"), outer, nullptr)
{
    CAutoLock lock(this);
    timeOffset_ = AdvancePrivateTime(timeGetTime()) + kStartOffset;
}

ReferenceClock::~ReferenceClock() { StopAdviseThread(); }

REFERENCE_TIME ReferenceClock::GetPrivateTime()
{
    CAutoLock lock(this);
    return AdvancePrivateTime(timeGetTime()) - timeOffset_;
}
