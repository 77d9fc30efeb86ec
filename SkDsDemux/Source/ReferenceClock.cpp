#include "ReferenceClock.h"

ReferenceClock::ReferenceClock(LPUNKNOWN outer) : ReferenceClock(outer, [] { return timeGetTime(); }) {}

ReferenceClock::ReferenceClock(LPUNKNOWN outer, MillisecondTimer timer)
    : CBaseReferenceClock(NAME("Demultiplexer clock"), outer, nullptr, nullptr, std::move(timer))
{
    CAutoLock lock(this);
    timeOffset_ = AdvancePrivateTime(ReadTimer()) + kStartOffset;
}

ReferenceClock::~ReferenceClock() { StopAdviseThread(); }

REFERENCE_TIME ReferenceClock::GetPrivateTime()
{
    CAutoLock lock(this);
    return AdvancePrivateTime(ReadTimer()) - timeOffset_;
}
